#include "infrastructure/InMemoryUserDefaults.h"
#include "infrastructure/QSettingsUserDefaults.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quillbarrow {
namespace {

struct Store {
    const char* name;
    std::function<std::unique_ptr<UserDefaults>(const QString& folder)> make;
};

const Store stores[] = {
    {"in memory", [](const QString&) { return std::make_unique<InMemoryUserDefaults>(); }},
    {"QSettings",
     [](const QString& folder) { return std::make_unique<QSettingsUserDefaults>(folder + QStringLiteral("/defaults.ini")); }},
};

TEST(UserDefaultsTest, EachTypeComesBackAsStoredAndOnlyAsItsType)
{
    for (const Store& store : stores) {
        SCOPED_TRACE(store.name);
        QTemporaryDir folder;
        const std::unique_ptr<UserDefaults> defaults = store.make(folder.path());
        defaults->setString(QStringLiteral("text"), QStringLiteral("/home/me/Downloads"));
        defaults->setStringList(QStringLiteral("one"), {QStringLiteral("/only")});
        defaults->setStringList(QStringLiteral("two"), {QStringLiteral("/a"), QStringLiteral("/b, c")});
        defaults->setStringList(QStringLiteral("none"), {});
        defaults->setBoolean(QStringLiteral("flag"), false);
        defaults->setData(QStringLiteral("json"), QByteArray("{\"a\":[1,2]}"));

        EXPECT_EQ(defaults->string(QStringLiteral("text")), QStringLiteral("/home/me/Downloads"));
        EXPECT_EQ(defaults->stringList(QStringLiteral("one")), QStringList{QStringLiteral("/only")});
        EXPECT_EQ(defaults->stringList(QStringLiteral("two")), (QStringList{QStringLiteral("/a"), QStringLiteral("/b, c")}));
        EXPECT_EQ(defaults->stringList(QStringLiteral("none")), QStringList{});
        EXPECT_EQ(defaults->boolean(QStringLiteral("flag")), false);
        EXPECT_EQ(defaults->data(QStringLiteral("json")), QByteArray("{\"a\":[1,2]}"));
        EXPECT_EQ(defaults->string(QStringLiteral("missing")), std::nullopt);
        EXPECT_EQ(defaults->stringList(QStringLiteral("missing")), std::nullopt);
        EXPECT_EQ(defaults->data(QStringLiteral("text")), std::nullopt);
        EXPECT_EQ(defaults->boolean(QStringLiteral("json")), std::nullopt);

        defaults->setBoolean(QStringLiteral("text"), true);
        EXPECT_EQ(defaults->boolean(QStringLiteral("text")), true);
        defaults->remove(QStringLiteral("text"));
        EXPECT_EQ(defaults->boolean(QStringLiteral("text")), std::nullopt);
        EXPECT_FALSE(defaults->allKeys().contains(QStringLiteral("text")));
    }
}

TEST(UserDefaultsTest, SlashesAndBackslashesInKeysAreKeptAndNeverMakeGroups)
{
    const QStringList keys{QStringLiteral("Quillbarrow.Device/Pixel 8\\one"), QStringLiteral("100%/2F"),
                           QStringLiteral("%5C"), QStringLiteral("plain")};
    for (const Store& store : stores) {
        SCOPED_TRACE(store.name);
        QTemporaryDir folder;
        {
            const std::unique_ptr<UserDefaults> defaults = store.make(folder.path());
            for (const QString& key : keys) {
                defaults->setString(key, key);
            }
            QStringList stored = defaults->allKeys();
            stored.sort();
            QStringList expected = keys;
            expected.sort();
            EXPECT_EQ(stored, expected);
        }
        const std::unique_ptr<UserDefaults> reopened = store.make(folder.path());
        if (QString(QLatin1StringView(store.name)) == QLatin1StringView("QSettings")) {
            for (const QString& key : keys) {
                EXPECT_EQ(reopened->string(key), key);
            }
            QFile file(folder.path() + QStringLiteral("/defaults.ini"));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            for (const QByteArray& line : text.split('\n')) {
                // One section, and no key written with a separator in it.
                EXPECT_TRUE(!line.startsWith('[') || line == "[General]") << text.toStdString();
                EXPECT_FALSE(line.left(line.indexOf('=')).contains('/')) << line.toStdString();
            }
        }
    }
}

} // namespace
} // namespace quillbarrow
