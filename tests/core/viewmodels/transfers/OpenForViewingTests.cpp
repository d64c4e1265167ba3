#include "DeviceTransferFixture.h"
#include "viewmodels/transfers/LocalFolder.h"
#include "viewmodels/transfers/LocalNameSanitizer.h"
#include "viewmodels/transfers/OpenedFilesCache.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <sys/time.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;
using Operation = ScriptedDeviceSession::Operation;

namespace {

constexpr qint64 limit = TransferCoordinator::maximumOpenFileBytes;

class RecordingOpener : public DefaultApplicationOpener {
public:
    QCoro::Task<bool> open(const QString& path) override
    {
        opened.append(path);
        co_return succeeds;
    }

    QStringList opened;
    bool succeeds = true;
};

class OpenForViewingTest : public DeviceTransferTest {
protected:
    QString cache() const { return coordinator->openedFilesCacheDirectory(); }

    std::optional<QString> open(const RemoteItem& item)
    {
        const std::optional<QUrl> url = runTask(coordinator->downloadFileForOpening(item, session));
        return url ? std::optional<QString>(url->toLocalFile()) : std::nullopt;
    }

    // The UUID folders in the cache.
    QStringList openFolders() const
    {
        return QDir(cache()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).filter(uuidFolder);
    }

    const QRegularExpression uuidFolder{"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"};
};

void setModified(const QString& path, const QDateTime& when)
{
    const qint64 seconds = when.toSecsSinceEpoch();
    const struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(path).constData(), times), 0) << path.toStdString();
}

} // namespace

TEST_F(OpenForViewingTest, AFileOfExactlyTheLimitOpensAndOneByteMoreIsRefusedBeforeAnyJob)
{
    const RemoteItem exact = deviceFile("exact", "movie.mp4", limit);
    const RemoteItem over = deviceFile("over", "movie.mp4", limit + 1);
    const RemoteItem unknownSize = deviceFile("nosize", "stream.ts", std::nullopt);
    useDevice({exact, over, unknownSize});
    coordinator->reportError(QuillbarrowError::insufficientSpace());

    const std::optional<QString> opened = open(exact);
    ASSERT_TRUE(opened.has_value());
    const QStringList folders = openFolders();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(*opened, cache() + "/" + folders.front() + "/movie.mp4");
    EXPECT_TRUE(readFile(*opened).startsWith("Mock download of movie.mp4"));
    EXPECT_FALSE(coordinator->lastError().has_value()) << "an open clears the last error when it starts";
    ASSERT_EQ(coordinator->transferJobs().size(), 1);
    EXPECT_EQ(coordinator->transferJobs().front().purpose, TransferPurpose::openForViewing);
    EXPECT_EQ(coordinator->transferJobs().front().state.kind(), Kind::completed);
    EXPECT_TRUE(coordinator->openingRemoteFileIDs().isEmpty());

    EXPECT_FALSE(open(over).has_value());
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileTooLargeToOpen("movie.mp4", limit + 1, limit));
    EXPECT_FALSE(open(unknownSize).has_value());
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileSizeUnavailableToOpen("stream.ts", limit));
    EXPECT_EQ(coordinator->transferJobs().size(), 1) << "refused before any job";
    EXPECT_EQ(openFolders().size(), 1) << "and before any folder";
    EXPECT_EQ(session->calls(), QStringList{"download exact"});
    EXPECT_FALSE(open(deviceFolder("dir", "DCIM")).has_value());
}

TEST_F(OpenForViewingTest, DotNamesBecomeAndroidFileInFoldersOfTheirOwn)
{
    useDevice({deviceFile("d", ".", 3), deviceFile("dd", "..", 3), deviceFile("up", "../../x", 3)});
    const std::optional<QString> first = open(deviceFile("d", ".", 3));
    const std::optional<QString> second = open(deviceFile("dd", "..", 3));
    const std::optional<QString> third = open(deviceFile("up", "../../x", 3));
    ASSERT_TRUE(first && second && third);
    EXPECT_TRUE(first->endsWith("/Android file"));
    EXPECT_TRUE(second->endsWith("/Android file"));
    EXPECT_NE(*first, *second) << "each open has its own folder";
    EXPECT_EQ(QFileInfo(*third).fileName(), "x");
    EXPECT_EQ(QFileInfo(*third).path().section('/', 0, -2), cache());
    EXPECT_EQ(openFolders().size(), 3);
}

TEST_F(OpenForViewingTest, MoreBytesThanTheLimitFailTheOpenAndLeaveNothingBehind)
{
    useDevice({deviceFile("a", "a.bin", 100), deviceFile("b", "b.bin", 100), deviceFile("c", "c.bin", 100)});
    // One device reports the extra bytes as progress; another sends them without a word.
    session->script({.operation = Operation::downloadFile,
                     .subject = "a",
                     .partialBytes = "start",
                     .reportBytes = limit + 1});
    session->script({.operation = Operation::downloadFile, .subject = "b", .deliverBytes = limit + 1});
    // A third keeps sending while its session reports no more than the 100 bytes it listed: the
    // bytes written count, and the transfer stops as soon as they pass the limit.
    session->script({.operation = Operation::downloadFile,
                     .subject = "c",
                     .growSizes = {limit / 2, limit, limit + 1, limit * 3 / 2},
                     .reportAtMost = 100});

    EXPECT_FALSE(open(deviceFile("a", "a.bin", 100)).has_value());
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileTooLargeToOpen("a.bin", limit + 1, limit));
    EXPECT_FALSE(open(deviceFile("b", "b.bin", 100)).has_value());
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileTooLargeToOpen("b.bin", limit + 1, limit));
    EXPECT_FALSE(open(deviceFile("c", "c.bin", 100)).has_value());
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileTooLargeToOpen("c.bin", limit + 1, limit));
    EXPECT_EQ(session->grownSizes(), (QList<qint64>{limit / 2, limit, limit + 1})) << "stopped at the first byte over";

    EXPECT_EQ(shownJobs(), (QStringList{"a.bin: failed", "b.bin: failed", "c.bin: failed"}));
    EXPECT_TRUE(openFolders().isEmpty()) << "the open's folder goes with the failed download";
    EXPECT_TRUE(entriesOf(cache()).isEmpty());
}

// A file that grew on the device since it was listed stops at the limit; the message gives the
// size the device lists for it now, not the bytes seen when the transfer stopped.
TEST_F(OpenForViewingTest, TheLimitsMessageGivesTheSizeTheDeviceLists)
{
    useDevice({deviceFile("g", "grown.mp4", limit * 3)});
    session->script({.operation = Operation::downloadFile, .subject = "g", .partialBytes = "s", .reportBytes = limit + 1});

    EXPECT_FALSE(open(deviceFile("g", "grown.mp4", 100)).has_value());
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileTooLargeToOpen("grown.mp4", limit * 3, limit));
}

TEST_F(OpenForViewingTest, OnlyTheCachesOwnOldFoldersArePrunedAndNoLinkIsFollowed)
{
    const QString oldOwn = "0C6B0D4E-57A1-4B5C-9A43-2E1D0F6A7B01";
    const QString recentOwn = "1D7C1E5F-68B2-4C6D-8B54-3F2E1A7B8C02";
    const QString linkedOwn = "2E8D2F60-79C3-4D7E-9C65-403F2B8C9D03";
    QDir().mkpath(cache() + "/" + oldOwn);
    QDir().mkpath(cache() + "/" + recentOwn);
    QDir().mkpath(cache() + "/old");
    QDir().mkpath(cache() + "/.hidden-old");
    QDir().mkpath(path("project/src"));
    writeFile(cache() + "/" + oldOwn + "/file", "x");
    writeFile(cache() + "/old-file.txt", "plain");
    writeFile(path("project/src/main.c"), "work of a week");
    ASSERT_TRUE(QFile::link(path("project"), cache() + "/" + linkedOwn));
    // Whole seconds, as the file times are set.
    const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    for (const QString& old : {cache() + "/" + oldOwn, cache() + "/old", cache() + "/.hidden-old", path("project")}) {
        setModified(old, now.addSecs(-25 * 3600));
    }
    setModified(cache() + "/" + recentOwn, now.addSecs(-23 * 3600));
    setModified(cache() + "/old-file.txt", now.addSecs(-90 * 24 * 3600));
    useDevice({deviceFile("a", "a.txt", 1)});

    const std::optional<QString> opened = open(deviceFile("a", "a.txt", 1));
    ASSERT_TRUE(opened.has_value());

    QStringList left = entriesOf(cache());
    left.removeAll(QFileInfo(*opened).dir().dirName());
    EXPECT_EQ(left, (QStringList{".hidden-old", recentOwn, linkedOwn, "old", "old-file.txt"}));
    EXPECT_EQ(readFile(path("project/src/main.c")), "work of a week");

    // The cut-off is exclusive: a folder exactly a day old stays.
    QDir().mkpath(cache() + "/" + oldOwn);
    setModified(cache() + "/" + oldOwn, now.addSecs(-OpenedFilesCache::maximumAgeSeconds));
    OpenedFilesCache(cache()).prune(now);
    EXPECT_TRUE(QFileInfo::exists(cache() + "/" + oldOwn));
    OpenedFilesCache(cache()).prune(now.addSecs(1));
    EXPECT_FALSE(QFileInfo::exists(cache() + "/" + oldOwn));
}

// The cache removes only the folders it made: one of the user's put at such a folder's name stays,
// with its files: put there while a failed open's file was coming, or as an old folder is about to
// be cleaned up.
TEST_F(OpenForViewingTest, AFolderPutWhereTheCachesOwnOneWasIsNeverRemoved)
{
    const QString oldOwn = "0C6B0D4E-57A1-4B5C-9A43-2E1D0F6A7B01";
    const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    const RemoteItem broken = deviceFile("broken", "broken.txt", 10);
    useDevice({broken});
    QString swapped;
    const auto swap = [&](const QString& entry) {
        swapped = entry;
        QDir(cache()).rename(entry, "moved away");
        QDir().mkpath(cache() + "/" + entry);
        writeFile(cache() + "/" + entry + "/mine.txt", "the user's");
    };
    LocalFolder::setRemovalHookForTesting([&](const QString& entry) {
        if (swapped.isEmpty() && entry == oldOwn) {
            swap(entry);
        }
    });
    const auto unhooked = qScopeGuard([] { LocalFolder::setRemovalHookForTesting({}); });
    for (const bool old : {false, true}) {
        SCOPED_TRACE(old ? "an old folder, swapped as it is cleaned up"
                         : "a failed open's folder, swapped while its file comes");
        QDir(cache()).removeRecursively();
        QDir().mkpath(cache());
        swapped.clear();
        if (old) {
            QDir().mkpath(cache() + "/" + oldOwn);
            setModified(cache() + "/" + oldOwn, now.addSecs(-25 * 3600));
            OpenedFilesCache(cache()).prune(now);
        } else {
            session->script({.operation = Operation::downloadFile,
                             .onCall = [&] { swap(openFolders().value(0)); },
                             .error = QuillbarrowError::transferInterrupted()});
            EXPECT_FALSE(open(broken).has_value());
        }
        ASSERT_FALSE(swapped.isEmpty()) << "nothing was swapped";
        EXPECT_EQ(readFile(cache() + "/" + swapped + "/mine.txt"), "the user's");
    }
}

TEST_F(OpenForViewingTest, ALinkedCacheFolderIsRefusedByNameAndNothingIsWrittenOrDeletedThroughIt)
{
    struct Case {
        const char* name;
        QString cacheFolder;
        QString link;
    };
    const Case cases[] = {
        {"the cache folder is a link", path("linked/Opened Files"), path("linked/Opened Files")},
        {"the folder above it is a link", path("above/Quillbarrow/Opened Files"), path("above/Quillbarrow")},
    };
    const QString old = "0C6B0D4E-57A1-4B5C-9A43-2E1D0F6A7B01";
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        QDir(path("victim")).removeRecursively();
        QDir().mkpath(path("victim/" + old));
        writeFile(path("victim/" + old + "/keep.txt"), "mine");
        setModified(path("victim/" + old), QDateTime::currentDateTimeUtc().addSecs(-30 * 24 * 3600));
        QDir().mkpath(QFileInfo(row.link).path());
        ASSERT_TRUE(QFile::link(path("victim"), row.link));
        auto linked = std::make_unique<CoordinatorHarness>(&clipboard, queue, row.cacheFolder);
        useDevice({deviceFile("a", "a.txt", 1)});

        EXPECT_FALSE(runTask(linked->downloadFileForOpening(deviceFile("a", "a.txt", 1), session)).has_value());
        EXPECT_EQ(linked->lastError(),
                  QuillbarrowError::fileOpenFailed(
                      "a.txt", "Quillbarrow could not prepare its temporary cache. The cache folder " + row.link +
                                   " is a link, and nothing is written through it."));
        OpenedFilesCache(row.cacheFolder).prune(QDateTime::currentDateTimeUtc());
        EXPECT_EQ(readFile(path("victim/" + old + "/keep.txt")), "mine");
        EXPECT_EQ(entriesOf(path("victim")), QStringList{old});
    }
}

TEST_F(OpenForViewingTest, ASecondOpenOfTheSameFileIsSilentAndACancelledWaitingOpenLeavesNoFolder)
{
    useDevice({deviceFile("a", "a.txt", 10), deviceFile("b", "b.txt", 10)});
    OneShot<bool> release;
    session->script({.operation = Operation::downloadFile, .subject = "a", .hold = release});

    auto first = coordinator->downloadFileForOpening(deviceFile("a", "a.txt", 10), session);
    ASSERT_TRUE(processEventsUntil([&] { return session->calls().contains("download a"); }));
    EXPECT_FALSE(runTask(coordinator->downloadFileForOpening(deviceFile("a", "a.txt", 10), session)).has_value());
    auto waiting = coordinator->downloadFileForOpening(deviceFile("b", "b.txt", 10), session);
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: running", "b.txt: queued"})) << "the second open made no job";
    coordinator->cancelTransfer(jobNamed("b.txt"));
    release.fulfil(true);

    const std::optional<QUrl> opened = runTask(std::move(first));
    EXPECT_FALSE(runTask(std::move(waiting)).has_value());
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(openFolders(), QStringList{QFileInfo(opened->toLocalFile()).dir().dirName()});
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "b.txt: cancelled"}));
    EXPECT_FALSE(coordinator->lastError().has_value());
}

TEST_F(OpenForViewingTest, OpeningHandsTheFileToTheOpenerAndReportsWhatCannotBeOpened)
{
    useDevice({deviceFile("a", "a.txt", 1)});
    auto opener = std::make_shared<RecordingOpener>();
    coordinator->setDefaultApplicationOpener(opener);

    runTask(coordinator->openDeviceFile(deviceFile("a", "a.txt", 1), session));
    ASSERT_EQ(opener->opened.size(), 1);
    EXPECT_TRUE(opener->opened.front().endsWith("/a.txt"));
    EXPECT_FALSE(coordinator->lastError().has_value());

    opener->succeeds = false;
    runTask(coordinator->openDeviceFile(deviceFile("a", "a.txt", 1), session));
    EXPECT_EQ(coordinator->lastError(),
              QuillbarrowError::fileOpenFailed("a.txt", "No compatible Mac application is available."));

    runTask(coordinator->openDeviceFile(deviceFile("a", "a.txt", 1), nullptr));
    EXPECT_EQ(coordinator->lastError(),
              QuillbarrowError::fileOpenFailed("a.txt", "The Android device is not connected."));
    EXPECT_EQ(opener->opened.size(), 2);
}

TEST_F(OpenForViewingTest, ACacheThatCannotBePreparedIsReported)
{
    writeFile(path("cache"), "a plain file where the cache folder should be");
    useDevice({deviceFile("a", "a.txt", 1)});
    EXPECT_FALSE(open(deviceFile("a", "a.txt", 1)).has_value());
    ASSERT_TRUE(coordinator->lastError().has_value());
    EXPECT_EQ(coordinator->lastError()->kind(), QuillbarrowError::Kind::fileOpenFailed);
    EXPECT_TRUE(coordinator->lastError()->reason().startsWith("Quillbarrow could not prepare its temporary cache. "));
    EXPECT_TRUE(coordinator->transferJobs().isEmpty());
    EXPECT_TRUE(coordinator->openingRemoteFileIDs().isEmpty()) << "a later open may try again";
}

TEST(LocalNameSanitizer, MakesEveryDeviceNameASingleSafeLocalName)
{
    EXPECT_EQ(LocalNameSanitizer::localName(""), "Android file");
    EXPECT_EQ(LocalNameSanitizer::localName("."), "Android file");
    EXPECT_EQ(LocalNameSanitizer::localName(".."), "Android file");
    EXPECT_EQ(LocalNameSanitizer::localName("/"), "Android file");
    EXPECT_EQ(LocalNameSanitizer::localName(QString::fromUtf8(".\0.", 3)), "Android file");
    EXPECT_EQ(LocalNameSanitizer::localName("../x"), "x");
    EXPECT_EQ(LocalNameSanitizer::localName("a/b/"), "b");
    EXPECT_EQ(LocalNameSanitizer::localName(QString::fromUtf8("n\0ul.txt", 8)), "nul.txt");
    EXPECT_EQ(LocalNameSanitizer::localName(".hidden"), ".hidden");
    EXPECT_EQ(LocalNameSanitizer::localName("IMG 0001.JPG"), "IMG 0001.JPG");

    const QString fits = QString(255, 'a');
    EXPECT_EQ(LocalNameSanitizer::localName(fits), fits);
    const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7"); // four bytes, two UTF-16 units
    const QString shortened = LocalNameSanitizer::localName(emoji.repeated(80) + ".jpeg");
    EXPECT_EQ(QFile::encodeName(shortened).size(), LocalNameSanitizer::shortenedNameBytes - 3);
    EXPECT_TRUE(shortened.endsWith(emoji + ".jpeg")) << "no character is cut in half";
    EXPECT_EQ(QFile::encodeName(LocalNameSanitizer::localName(QString(300, 'b'))).size(),
              LocalNameSanitizer::shortenedNameBytes);

    EXPECT_TRUE(LocalNameSanitizer::liesInside("/d/x", "/d"));
    EXPECT_FALSE(LocalNameSanitizer::liesInside("/d/../x", "/d"));
    EXPECT_FALSE(LocalNameSanitizer::liesInside("/d", "/d"));
    EXPECT_FALSE(LocalNameSanitizer::liesInside("/dx/y", "/d"));
}

TEST_F(OpenForViewingTest, AnOpenThatFailsFreesTheFileForTheNextOpen)
{
    const RemoteItem other = deviceFile("other", "other.txt", 10);
    struct Case {
        const char* how;
        RemoteItem item;
        bool reportsAnError;
        // Makes one open of the item fail; gives that open's result.
        std::function<std::optional<QString>(const RemoteItem&)> failOnce;
    };
    const QList<Case> cases = {
        {"the device fails the download", deviceFile("broken", "broken.txt", 10), true,
         [&](const RemoteItem& item) {
             session->script({.operation = Operation::downloadFile,
                              .subject = item.id.rawValue(),
                              .error = QuillbarrowError::transferInterrupted()});
             return open(item);
         }},
        {"the device sends more than the limit", deviceFile("big", "big.txt", 10), true,
         [&](const RemoteItem& item) {
             session->script({.operation = Operation::downloadFile, .subject = item.id.rawValue(), .reportBytes = limit + 1});
             return open(item);
         }},
        {"its job is cancelled while it runs", deviceFile("stopped", "stopped.txt", 10), false,
         [&](const RemoteItem& item) {
             session->script({.operation = Operation::downloadFile,
                              .subject = item.id.rawValue(),
                              .onCall = [&] { coordinator->cancelTransfer(jobNamed(item.name)); },
                              .reportBytes = 1});
             return open(item);
         }},
        {"its job is cancelled while it waits for its turn", deviceFile("waiting", "waiting.txt", 10), false,
         [&](const RemoteItem& item) -> std::optional<QString> {
             OneShot<bool> release;
             session->script({.operation = Operation::downloadFile, .subject = other.id.rawValue(), .hold = release});
             auto first = coordinator->downloadFileForOpening(other, session);
             auto waiting = coordinator->downloadFileForOpening(item, session);
             coordinator->cancelTransfer(jobNamed(item.name));
             release.fulfil(true);
             EXPECT_TRUE(runTask(std::move(first)).has_value());
             const std::optional<QUrl> url = runTask(std::move(waiting));
             return url ? std::optional<QString>(url->toLocalFile()) : std::nullopt;
         }},
        {"its cache folder cannot be made", deviceFile("nocache", "nocache.txt", 10), true,
         [&](const RemoteItem& item) {
             QDir(path("cache")).removeRecursively();
             writeFile(path("cache"), "a plain file where the cache folder should be");
             const std::optional<QString> result = open(item);
             QFile::remove(path("cache"));
             return result;
         }},
    };
    QList<RemoteItem> items{other};
    for (const Case& test : cases) {
        items.append(test.item);
    }
    useDevice(items);

    for (const Case& test : cases) {
        SCOPED_TRACE(test.how);
        EXPECT_FALSE(test.failOnce(test.item).has_value());
        EXPECT_EQ(coordinator->lastError().has_value(), test.reportsAnError);
        EXPECT_TRUE(coordinator->openingRemoteFileIDs().isEmpty());

        const std::optional<QString> again = open(test.item);
        ASSERT_TRUE(again.has_value()) << "the next open of the same file goes ahead";
        EXPECT_TRUE(readFile(*again).startsWith("Mock download of " + test.item.name.toUtf8()));
        EXPECT_FALSE(coordinator->lastError().has_value());
    }
}

// A phone file the desktop would run, by its name or by its contents, fails to open and leaves no
// copy; one refused by its name is not even downloaded.
TEST_F(OpenForViewingTest, AProgramScriptOrLauncherFromThePhoneIsNeverHandedToTheDesktop)
{
    QByteArray elf("\x7F" "ELF\x02\x01\x01", 7);
    elf.append(9, '\0').append("\x02\x00\x3E\x00", 4).append(44, '\0');
    const QByteArray launcher = "[Desktop Entry]\nType=Application\nName=Photo\nExec=sh -c 'rm -rf ~'\n";
    const QByteArray deb = "!<arch>\ndebian-binary   1700000000  0     0     100644  4         `\n2.0\n";
    const QByteArray flatpakReference = "[Flatpak Ref]\nName=org.example.App\nUrl=https://example.org/repo\n";
    const QByteArray flatpakBundle("flatpak\x00\x01\x00\x89\xE5\x00\x00", 12), rpm = "\xED\xAB\xEE\xDB\x03";
    const QByteArray flatpakSource = "[Flatpak Repo]\nTitle=Example\nUrl=https://example.org/repo/\n";
    const QByteArray registry =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n";
    const QByteArray shortcut("L\x00\x00\x00\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46",
                              20);
    // Contents, the names files with them have on the phone, and whether they open.
    const std::tuple<QByteArray, QStringList, bool> cases[] = {
        {launcher, {"photo\u202Egpj.desktop", "holiday.jpg"}, false},
        {"echo hello\n", {"run.sh"}, false},
        {"#!/opt/tools/bin/interpreter\nhello\n", {"notes"}, false},
        {elf, {"tool", "Game.AppImage"}, false},
        {"MZ\x90", {"setup.exe", "holiday.scr"}, false},
        {"PK\x03\x04", {"app.jar", "sample.apk"}, false},
        {"@echo off\r\ndel /q *\r\n", {"install.bat", "SETUP.CMD"}, false},
        {deb, {"tool.deb", "tool.bin"}, false},
        {rpm, {"tool.rpm", "tool.data"}, false},
        {flatpakReference, {"App.flatpakref", "App.txt"}, false},
        {flatpakBundle, {"App.flatpak", "App.pak"}, false},
        {"hsqs", {"app.snap"}, false},
        {flatpakSource, {"Add source.flatpakrepo", "source.ini"}, false},
        {registry, {"tweak.reg", "tweak.cfg"}, false},
        {"rm -rf ~\n", {"profile.bash", "prompt.zsh", "env.ksh", "config.fish"}, false},
        {"#!/bin/sh\nrm -rf ~\n", {"driver.run"}, false},
        {"import shutil\n", {"tool.pyw"}, false},
        {"Remove-Item -Recurse ~\r\n", {"Update.PS1"}, false},
        {shortcut, {"Photos.lnk"}, false},
        {"\xB4\x4C\xCD\x21", {"edit.com"}, false},
        {"\xFF\xD8\xFF\xE0\x00\x10JFIF", {"Photo.JPG"}, true},
        {"{\"a\": 1}\n", {"data.json"}, true},
        {"plain words\n", {"notes.txt"}, true},
    };
    // The others not opened go by their names.
    const QStringList byContents{"holiday.jpg", "notes",   "tool",       "tool.bin", "tool.data",
                                 "App.txt",     "App.pak", "source.ini", "tweak.cfg"};
    auto opener = std::make_shared<RecordingOpener>();
    coordinator->setDefaultApplicationOpener(opener);
    for (const auto& [contents, names, opens] : cases) {
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            opener->opened.clear();
            writeFile(path("phone/" + name), contents);
            const RemoteItem item =
                runTask(session->uploadFile(path("phone/" + name), name, std::nullopt, testStorage()));
            const QStringList before = openFolders();
            const qsizetype downloads = session->calls().filter("download ").size();

            runTask(coordinator->openDeviceFile(item, session));

            EXPECT_EQ(opener->opened.size(), opens ? 1 : 0);
            EXPECT_EQ(session->calls().filter("download ").size() - downloads,
                      opens || byContents.contains(name));
            if (opens) {
                EXPECT_EQ(readFile(opener->opened.value(0)), contents);
                EXPECT_EQ(coordinator->lastError(), std::nullopt);
            } else {
                const QString reason =
                    "It is a program, and programs from the Android device are not opened.";
                EXPECT_EQ(coordinator->lastError(), QuillbarrowError::fileOpenFailed(name, reason));
                EXPECT_EQ(openFolders(), before) << "no copy of it stays";
            }
        }
    }
}
