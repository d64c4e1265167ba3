#include "infrastructure/InMemoryUserDefaults.h"
#include "infrastructure/QSettingsUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace quillbarrow;

namespace {

// Keys as the device browser builds them from device names, with the characters QSettings
// would otherwise read as group separators or escapes.
const QStringList trickyKeys{
    QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.model:Acme:A/B:Phone/One"),
    QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.model:Acme:A\\B:Phone"),
    QStringLiteral("a%2Fb"),
    QStringLiteral("/leading and trailing/"),
    QStringLiteral("mixed/\\%5C//"),
    QStringLiteral("serial:caf\u00e9 \u4e2d"),
};

struct StoreMaker {
    const char* name;
    std::function<std::unique_ptr<UserDefaults>(const QString& folder)> make;
};

class UserDefaultsContract : public ::testing::TestWithParam<StoreMaker> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        m_store = GetParam().make(m_folder.path());
    }
    UserDefaults& store() { return *m_store; }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<UserDefaults> m_store;
};

} // namespace

TEST_P(UserDefaultsContract, EachKindReadsBackAndNoKindPassesForAnother)
{
    store().setData(QStringLiteral("data"), QByteArray("{\"storageID\":\"s1\",\"components\":[]}"));
    store().setString(QStringLiteral("text"), QStringLiteral("/home/me"));
    store().setStringList(QStringLiteral("list"), {QStringLiteral("/a"), QStringLiteral("/b, c")});
    store().setBool(QStringLiteral("flag"), true);

    EXPECT_EQ(store().data(QStringLiteral("data")), QByteArray("{\"storageID\":\"s1\",\"components\":[]}"));
    EXPECT_EQ(store().string(QStringLiteral("text")), QStringLiteral("/home/me"));
    EXPECT_EQ(store().stringList(QStringLiteral("list")), (QStringList{"/a", "/b, c"}));
    EXPECT_TRUE(store().boolValue(QStringLiteral("flag")));

    // A text is not data, and data is not a text.
    EXPECT_EQ(store().data(QStringLiteral("text")), std::nullopt);
    EXPECT_EQ(store().string(QStringLiteral("data")), std::nullopt);
    EXPECT_EQ(store().data(QStringLiteral("missing")), std::nullopt);
    EXPECT_EQ(store().string(QStringLiteral("missing")), std::nullopt);
    EXPECT_EQ(store().stringList(QStringLiteral("missing")), std::nullopt);
    EXPECT_FALSE(store().boolValue(QStringLiteral("missing")));
}

TEST_P(UserDefaultsContract, EmptyValuesAreValuesAndRemoveForgetsThem)
{
    store().setData(QStringLiteral("emptyData"), QByteArray());
    store().setStringList(QStringLiteral("emptyList"), {});
    store().setBool(QStringLiteral("off"), false);
    EXPECT_EQ(store().data(QStringLiteral("emptyData")), QByteArray());
    EXPECT_EQ(store().stringList(QStringLiteral("emptyList")), QStringList());
    EXPECT_FALSE(store().boolValue(QStringLiteral("off")));

    store().remove(QStringLiteral("emptyData"));
    EXPECT_EQ(store().data(QStringLiteral("emptyData")), std::nullopt);
    EXPECT_FALSE(store().allKeys().contains(QStringLiteral("emptyData")));
    EXPECT_TRUE(store().allKeys().contains(QStringLiteral("emptyList")));
}

TEST_P(UserDefaultsContract, KeysWithSlashesAndBackslashesStayFlatAndApart)
{
    for (qsizetype i = 0; i < trickyKeys.size(); ++i) {
        store().setData(trickyKeys[i], QByteArray::number(i));
    }
    // The same text with the separators removed, or turned into each other, is another key.
    store().setData(QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.model:Acme:AB:PhoneOne"), "other");
    for (qsizetype i = 0; i < trickyKeys.size(); ++i) {
        EXPECT_EQ(store().data(trickyKeys[i]), QByteArray::number(i)) << qPrintable(trickyKeys[i]);
    }
    QStringList keys = store().allKeys();
    keys.sort();
    QStringList expected = trickyKeys;
    expected.append(QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.model:Acme:AB:PhoneOne"));
    expected.sort();
    EXPECT_EQ(keys, expected);
    store().remove(trickyKeys[0]);
    EXPECT_EQ(store().data(trickyKeys[0]), std::nullopt);
    EXPECT_EQ(store().data(trickyKeys[1]), QByteArray::number(1));
}

INSTANTIATE_TEST_SUITE_P(
    Stores, UserDefaultsContract,
    ::testing::Values(StoreMaker{"InMemory", [](const QString&) { return std::make_unique<InMemoryUserDefaults>(); }},
                      StoreMaker{"QSettings",
                                 [](const QString& folder) {
                                     return std::make_unique<QSettingsUserDefaults>(folder +
                                                                                    QStringLiteral("/settings.ini"));
                                 }}),
    [](const ::testing::TestParamInfo<StoreMaker>& info) { return std::string(info.param.name); });

TEST(QSettingsUserDefaults, TrickyKeysRoundTripThroughTheApplicationsStoreInATemporarySettingsFolder)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    {
        QSettingsUserDefaults store;
        EXPECT_TRUE(store.fileName().startsWith(folder.path())) << qPrintable(store.fileName());
        for (const QString& key : trickyKeys) {
            store.setData(key, key.toUtf8());
        }
        store.sync();
    }
    QSettingsUserDefaults reopened;
    for (const QString& key : trickyKeys) {
        EXPECT_EQ(reopened.data(key), key.toUtf8()) << qPrintable(key);
    }
    // The file holds flat keys only: no group was made of a "/" or "\".
    QFile file(reopened.fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList sections;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith('[')) {
            sections.append(QString::fromUtf8(line));
        }
    }
    EXPECT_EQ(sections, QStringList{"[General]"});
}

TEST(QSettingsUserDefaults, ValuesReadBackAsWrittenFromAFileOfAnEarlierRun)
{
    // How QSettings writes each kind to disk; read back after a restart, lists of one text and
    // truth values come back as plain texts.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("earlier.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\n"
               "doc=@ByteArray({\\\"storageID\\\":\\\"s1\\\"})\n"
               "one=/home/me\n"
               "two=/a, /b\n"
               "none=@Invalid()\n"
               "flag=true\n"
               "off=false\n"
               "a%252Fb=@ByteArray(slash)\n");
    file.close();
    QSettingsUserDefaults store(path);
    EXPECT_EQ(store.data(QStringLiteral("doc")), QByteArray("{\"storageID\":\"s1\"}"));
    EXPECT_EQ(store.data(QStringLiteral("one")), std::nullopt);
    EXPECT_EQ(store.stringList(QStringLiteral("one")), QStringList{"/home/me"});
    EXPECT_EQ(store.stringList(QStringLiteral("two")), (QStringList{"/a", "/b"}));
    EXPECT_EQ(store.stringList(QStringLiteral("none")), QStringList());
    EXPECT_TRUE(store.boolValue(QStringLiteral("flag")));
    EXPECT_FALSE(store.boolValue(QStringLiteral("off")));
    EXPECT_FALSE(store.boolValue(QStringLiteral("one")));
    EXPECT_EQ(store.data(QStringLiteral("a/b")), QByteArray("slash"));
}

TEST(QSettingsUserDefaults, WritingWhatIsStoredAlreadyLeavesTheFileAsItIs)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.ini"));
    const QStringList favourites(1000, QStringLiteral("/home/me/folder"));
    QSettingsUserDefaults(path).setStringList(QStringLiteral("favorites"), favourites);
    // Rewriting the file replaces it: the same file before and after means it was not written.
    const auto identity = [&] {
        struct stat info {};
        ::stat(QFile::encodeName(path).constData(), &info);
        return std::pair(info.st_ino, info.st_mtim.tv_nsec);
    };
    const std::pair<std::function<void(UserDefaults&)>, bool> steps[] = {
        {[](UserDefaults& store) { store.setBool(QStringLiteral("NSQuitAlwaysKeepsWindows"), false); }, true},
        {[](UserDefaults& store) { store.setBool(QStringLiteral("NSQuitAlwaysKeepsWindows"), false); }, false},
        {[&](UserDefaults& store) { store.setStringList(QStringLiteral("favorites"), favourites); }, false},
    };
    for (const auto& [write, rewrites] : steps) {
        const auto was = identity();
        QSettingsUserDefaults store(path);
        write(store);
        store.sync();
        EXPECT_EQ(identity() != was, rewrites);
    }
}

TEST(QSettingsUserDefaults, EscapingIsReversible)
{
    for (const QString& key : trickyKeys) {
        const QString escaped = QSettingsUserDefaults::escapedKey(key);
        EXPECT_FALSE(escaped.contains(u'/'));
        EXPECT_FALSE(escaped.contains(u'\\'));
        EXPECT_EQ(QSettingsUserDefaults::unescapedKey(escaped), key);
    }
}

// A write the disk refuses is told with the settings file and the system's reason. The value
// still reads back in this run, the file keeps what it held, and the next write that can be made
// stores both. Root writes into read-only places: those rows bind in the unprivileged run.
TEST(QSettingsUserDefaults, AWriteTheDiskRefusesIsToldAndLosesNothing)
{
    const auto readOnly = [](const char* below, mode_t mode) {
        return [=](const QString& folder, bool block) {
            ASSERT_EQ(::chmod(QFile::encodeName(folder + QLatin1StringView(below)).constData(), block ? mode : 0755), 0);
        };
    };
    // What blocks the write (and, given false, lifts the block), whether it binds for root, the reason.
    const std::tuple<const char*, bool, std::function<void(const QString& folder, bool block)>, QString> cases[] = {
        {"a read-only settings folder", false, readOnly("", 0555), "Permission denied"},
        {"a read-only settings file", false, readOnly("/Quillbarrow.conf", 0444), "Permission denied"},
        {"a file where the settings folder should be", true, [](const QString& folder, bool block) {
             ASSERT_TRUE(block ? QDir().rename(folder, folder + ".away") && QFile(folder).open(QIODevice::WriteOnly)
                               : QFile::remove(folder) && QDir().rename(folder + ".away", folder));
         }, "Not a directory"},
    };
    for (const auto& [name, bindsForRoot, block, reason] : cases) {
        if (!bindsForRoot && ::geteuid() == 0) {
            continue;
        }
        SCOPED_TRACE(name);
        QTemporaryDir settings;
        const QString file = settings.filePath(QStringLiteral("Quillbarrow.conf"));
        const auto onDisk = [&file] {
            QFile stored(file);
            return stored.open(QIODevice::ReadOnly) ? stored.readAll() : QByteArray();
        };
        QSettingsUserDefaults store(file);
        ASSERT_EQ(store.setString(QStringLiteral("kept"), QStringLiteral("before")), std::nullopt);
        block(settings.path(), true);

        EXPECT_EQ(store.setString(QStringLiteral("favourite"), QStringLiteral("/home/me")),
                  QStringLiteral("Could not save settings in %1: %2").arg(file, reason));
        EXPECT_EQ(store.string(QStringLiteral("favourite")), QStringLiteral("/home/me")) << "kept for this run";
        EXPECT_EQ(store.setString(QStringLiteral("favourite"), QStringLiteral("/home/me")), std::nullopt);
        EXPECT_TRUE(store.hasUnsavedValues()) << "after a write with nothing to write";
        block(settings.path(), false);
        EXPECT_EQ(onDisk(), "[General]\nkept=before\n") << "the file keeps what it held";

        EXPECT_EQ(store.setString(QStringLiteral("next"), QStringLiteral("x")), std::nullopt);
        EXPECT_FALSE(store.hasUnsavedValues());
        EXPECT_EQ(onDisk(), "[General]\nfavourite=/home/me\nkept=before\nnext=x\n");
    }
}
