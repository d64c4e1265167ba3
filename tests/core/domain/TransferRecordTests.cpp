#include "domain/JsonDecodingError.h"
#include "domain/TransferDirection.h"
#include "domain/TransferID.h"
#include "domain/TransferJob.h"
#include "domain/TransferProgress.h"
#include "domain/TransferPurpose.h"
#include "domain/TransferState.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>
#include <unordered_set>

namespace quillbarrow {
namespace {

const QDateTime start(QDate(2024, 3, 1), QTime(10, 0), QTimeZone::utc());

TransferProgress progress(qint64 done, std::optional<qint64> total, qint64 elapsedMs = 1000)
{
    return TransferProgress(done, total, start, start.addMSecs(elapsedMs));
}

TEST(TransferIDTest, PrintsTheStandardUpperCaseForm)
{
    const QUuid uuid(QStringLiteral("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));
    const TransferID id(uuid);
    EXPECT_EQ(id.description(), QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    EXPECT_EQ(id, TransferID(uuid));
    EXPECT_EQ(qHash(id), qHash(TransferID(uuid)));

    const TransferID fresh = TransferID::create();
    EXPECT_NE(fresh, TransferID::create());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                    .match(fresh.description())
                    .hasMatch());
    std::unordered_set<TransferID> ids{fresh, id, TransferID(uuid)};
    EXPECT_EQ(ids.size(), 2u);
}

TEST(TransferIDTest, CodingIsKeyedByRawValue)
{
    const TransferID id = TransferID::create();
    const QJsonValue json = id.toJson();
    ASSERT_TRUE(json.isObject());
    EXPECT_EQ(json.toObject().keys(), QStringList{QStringLiteral("rawValue")});
    EXPECT_EQ(json.toObject().value(QStringLiteral("rawValue")).toString(), id.description());
    EXPECT_EQ(TransferID::fromJson(json), id);

    // Lower-case UUID text from elsewhere decodes too.
    const QJsonObject lower{{QStringLiteral("rawValue"), QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff")}};
    EXPECT_EQ(TransferID::fromJson(lower).description(), QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
}

TEST(TransferIDTest, DecodingFailsClearlyOnAnyOtherShape)
{
    const QString text = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    const QJsonValue bad[] = {
        QJsonValue(text), // a bare string is the other identifiers' form, not this one's
        QJsonObject{},
        QJsonObject{{QStringLiteral("raw"), text}},
        QJsonObject{{QStringLiteral("rawValue"), 5}},
        QJsonObject{{QStringLiteral("rawValue"), QStringLiteral("not-a-uuid")}},
        QJsonObject{{QStringLiteral("rawValue"), QStringLiteral("{") + text + QStringLiteral("}")}},
        QJsonObject{{QStringLiteral("rawValue"), text.left(35) + QStringLiteral("G")}},
        QJsonObject{{QStringLiteral("rawValue"), QString(text).replace(8, 1, QStringLiteral("_"))}},
        QJsonArray{text},
    };
    for (const QJsonValue& json : bad) {
        EXPECT_THROW(TransferID::fromJson(json), JsonDecodingError) << json.toVariant().toString().toStdString();
    }
    try {
        TransferID::fromJson(QJsonObject{});
        FAIL() << "an empty object decoded";
    } catch (const JsonDecodingError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("TransferID has no \"rawValue\" key."));
    }
}

TEST(TransferEnumsTest, TextFormsAreExact)
{
    EXPECT_EQ(toText(TransferDirection::macToAndroid), QStringLiteral("macToAndroid"));
    EXPECT_EQ(toText(TransferDirection::androidToMac), QStringLiteral("androidToMac"));
    EXPECT_EQ(fromText<TransferDirection>(QStringLiteral("androidToMac")), TransferDirection::androidToMac);
    EXPECT_EQ(fromText<TransferDirection>(QStringLiteral("androidtomac")), std::nullopt);
    EXPECT_EQ(toText(TransferPurpose::openForViewing), QStringLiteral("openForViewing"));
    EXPECT_EQ(fromText<TransferPurpose>(QStringLiteral("fileTransfer")), TransferPurpose::fileTransfer);
    EXPECT_EQ(fromText<TransferPurpose>(QString()), std::nullopt);
    EXPECT_EQ(enumFromJson<TransferPurpose>(toJson(TransferPurpose::openForViewing)), TransferPurpose::openForViewing);
}

TEST(TransferProgressTest, FractionIsAbsentWithoutAUsableTotalAndClamped)
{
    EXPECT_EQ(progress(5, std::nullopt).fractionCompleted(), std::nullopt);
    EXPECT_EQ(progress(5, 0).fractionCompleted(), std::nullopt);
    EXPECT_EQ(progress(5, -10).fractionCompleted(), std::nullopt);
    EXPECT_EQ(progress(5, 1).fractionCompleted(), 1.0);
    EXPECT_EQ(progress(-3, 10).fractionCompleted(), 0.0);
    EXPECT_EQ(progress(0, 10).fractionCompleted(), 0.0);
    EXPECT_DOUBLE_EQ(*progress(1, 4).fractionCompleted(), 0.25);
    const qint64 huge = std::numeric_limits<qint64>::max();
    EXPECT_DOUBLE_EQ(*progress(huge / 2, huge).fractionCompleted(), 0.5);
}

TEST(TransferProgressTest, RateUsesAtLeastOneMillisecond)
{
    EXPECT_EQ(progress(0, 10, 0).bytesPerSecond(), 0.0);
    EXPECT_DOUBLE_EQ(progress(1, 10, 0).bytesPerSecond(), 1000.0);
    EXPECT_DOUBLE_EQ(progress(1, 10, -5000).bytesPerSecond(), 1000.0); // updated before it started
    EXPECT_DOUBLE_EQ(progress(4'000'000, 10, 2000).bytesPerSecond(), 2'000'000.0);
    EXPECT_DOUBLE_EQ(progress(3, 10, 1).bytesPerSecond(), 3000.0);
}

TEST(TransferStateTest, TerminalCasesAndPayloads)
{
    const TransferProgress p = progress(10, 100);
    const QuillbarrowError error = QuillbarrowError::transferInterrupted();
    EXPECT_FALSE(TransferState::queued().isTerminal());
    EXPECT_FALSE(TransferState::awaitingConfirmation().isTerminal());
    EXPECT_FALSE(TransferState::running(p).isTerminal());
    EXPECT_FALSE(TransferState::cancelling(p).isTerminal());
    EXPECT_TRUE(TransferState::completed().isTerminal());
    EXPECT_TRUE(TransferState::failed(error).isTerminal());
    EXPECT_TRUE(TransferState::cancelled().isTerminal());

    EXPECT_EQ(TransferState::cancelling(p).progress(), p);
    EXPECT_EQ(TransferState::failed(error).error(), error);
    EXPECT_EQ(TransferState::failed(error).progress(), std::nullopt);
    EXPECT_EQ(TransferState::queued().error(), std::nullopt);
}

TEST(TransferStateTest, EqualityIsCaseAndPayload)
{
    const TransferProgress p = progress(10, 100);
    EXPECT_EQ(TransferState::running(p), TransferState::running(p));
    EXPECT_NE(TransferState::running(p), TransferState::cancelling(p));
    EXPECT_NE(TransferState::running(p), TransferState::running(progress(11, 100)));
    EXPECT_NE(TransferState::running(p), TransferState::running(progress(10, std::nullopt)));
    EXPECT_NE(TransferState::failed(QuillbarrowError::unknown("a")), TransferState::failed(QuillbarrowError::unknown("b")));
    EXPECT_NE(TransferState::completed(), TransferState::cancelled());
}

TEST(TransferJobTest, StateAndSequenceChangeOnACopy)
{
    TransferJob job(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                    QStringLiteral("IMG_0001.jpg"), 2048, TransferState::queued(), 0);
    const TransferJob queued = job;
    job.state = TransferState::running(progress(0, 2048));
    job.sequence = 3;
    EXPECT_NE(job, queued);
    EXPECT_EQ(queued.state, TransferState::queued());
    EXPECT_EQ(job.totalBytes, 2048);
}

} // namespace
} // namespace quillbarrow
