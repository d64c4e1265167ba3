#include "domain/DeviceID.h"
#include "domain/JsonDecodingError.h"
#include "domain/RemoteObjectID.h"
#include "domain/StorageID.h"
#include "TestTexts.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <gtest/gtest.h>

#include <type_traits>
#include <unordered_map>
#include <unordered_set>

namespace quillbarrow {
namespace {

using testing::decomposedCafe;
using testing::precomposedCafe;

static_assert(!std::is_convertible_v<DeviceID, StorageID>, "identifier types never convert into one another");
static_assert(!std::is_convertible_v<QString, DeviceID>, "an identifier is made explicitly");

TEST(StringIdentifierTest, KeepsTheTextExactlyAndPrintsIt)
{
    const QString padded = QStringLiteral("  SD card  ");
    const StorageID id(padded);
    EXPECT_EQ(id.rawValue(), padded);
    EXPECT_EQ(id.description(), padded);

    const DeviceID empty{QString()};
    EXPECT_TRUE(empty.rawValue().isEmpty());
    EXPECT_EQ(empty, DeviceID(QStringLiteral("")));

    // The raw text is kept as given even when it is not in normalised form.
    EXPECT_EQ(RemoteObjectID(decomposedCafe()).rawValue(), decomposedCafe());
}

TEST(StringIdentifierTest, CanonicallyEquivalentTextsAreEqualAndHashAlike)
{
    const DeviceID precomposed(precomposedCafe());
    const DeviceID decomposed(decomposedCafe());
    ASSERT_NE(precomposedCafe(), decomposedCafe()); // the two spellings really differ as code units
    EXPECT_EQ(precomposed, decomposed);
    EXPECT_EQ(qHash(precomposed), qHash(decomposed));
    EXPECT_EQ(qHash(precomposed, 42), qHash(decomposed, 42));
    EXPECT_EQ(std::hash<DeviceID>{}(precomposed), std::hash<DeviceID>{}(decomposed));
    // Plain ASCII text and text equivalent to it: "K" and the Kelvin sign.
    EXPECT_EQ(RemoteObjectID(QStringLiteral("K")), RemoteObjectID(QStringLiteral("\u212A")));
    EXPECT_EQ(qHash(RemoteObjectID(QStringLiteral("K"))), qHash(RemoteObjectID(QStringLiteral("\u212A"))));
    EXPECT_NE(RemoteObjectID(QStringLiteral("K1")), RemoteObjectID(QStringLiteral("K2")));

    // Letter case still matters.
    EXPECT_NE(DeviceID(QStringLiteral("abc")), DeviceID(QStringLiteral("ABC")));
}

TEST(StringIdentifierTest, WorksAsKeyOfQtAndStandardContainers)
{
    QHash<StorageID, int> qtMap;
    qtMap.insert(StorageID(precomposedCafe()), 1);
    qtMap.insert(StorageID(decomposedCafe()), 2);
    qtMap.insert(StorageID(QStringLiteral("65537")), 3);
    EXPECT_EQ(qtMap.size(), 2);
    EXPECT_EQ(qtMap.value(StorageID(precomposedCafe())), 2);

    std::unordered_map<RemoteObjectID, int> standardMap;
    standardMap[RemoteObjectID(decomposedCafe())] = 1;
    standardMap[RemoteObjectID(precomposedCafe())] += 1;
    standardMap[RemoteObjectID(QStringLiteral("7"))] = 5;
    EXPECT_EQ(standardMap.size(), 2u);
    EXPECT_EQ(standardMap.at(RemoteObjectID(precomposedCafe())), 2);

    const QSet<DeviceID> set{DeviceID(QStringLiteral("a")), DeviceID(QStringLiteral("b")), DeviceID(QStringLiteral("a"))};
    EXPECT_EQ(set.size(), 2);
}

TEST(StringIdentifierTest, EncodesAsABareJsonString)
{
    const DeviceID id(QStringLiteral("mock-pixel-8"));
    const QJsonValue json = id.toJson();
    ASSERT_TRUE(json.isString());
    // As a document: the quoted string alone, no object and no key.
    EXPECT_EQ(QJsonDocument(QJsonArray{json}).toJson(QJsonDocument::Compact), QByteArray(R"(["mock-pixel-8"])"));
    EXPECT_EQ(DeviceID::fromJson(json), id);

    EXPECT_EQ(StorageID(QString()).toJson(), QJsonValue(QStringLiteral("")));
    EXPECT_EQ(StorageID::fromJson(QJsonValue(QStringLiteral(""))).rawValue(), QString());

    // The raw spelling survives a round trip, not the normalised key.
    EXPECT_EQ(RemoteObjectID::fromJson(RemoteObjectID(decomposedCafe()).toJson()).rawValue(), decomposedCafe());
}

TEST(StringIdentifierTest, DecodingAnyOtherJsonTypeFailsNamingTheType)
{
    const QJsonValue notStrings[] = {QJsonValue(42), QJsonValue(true), QJsonValue(QJsonValue::Null),
                                     QJsonValue(QJsonObject{{QStringLiteral("rawValue"), QStringLiteral("x")}}),
                                     QJsonValue(QJsonArray{QStringLiteral("x")}), QJsonValue(QJsonValue::Undefined)};
    for (const QJsonValue& json : notStrings) {
        EXPECT_THROW(DeviceID::fromJson(json), JsonDecodingError) << json.type();
    }
    try {
        StorageID::fromJson(QJsonValue(3));
        FAIL() << "a number decoded as a StorageID";
    } catch (const JsonDecodingError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Expected a JSON string for StorageID, found a number."));
    }
}

} // namespace
} // namespace quillbarrow
