#include "DeviceTransferFixture.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/DownloadStaging.h"
#include "viewmodels/transfers/LocalFileOperations.h"
#include "viewmodels/transfers/StagingLock.h"

#include <QFile>
#include <QRegularExpression>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;
using Resolution = ConflictResolution;
using Operation = ScriptedDeviceSession::Operation;

namespace {

class DownloadTest : public DeviceTransferTest {
protected:
    void SetUp() override { QDir().mkpath(dest()); }

    QString dest(const QString& relative = QString()) const
    {
        return relative.isEmpty() ? path("dest") : path("dest/" + relative);
    }

    // An empty destination and a panel without rows or error, for the next row of a table.
    void startAfresh()
    {
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
        QDir(dest()).removeRecursively();
        QDir().mkpath(dest());
    }
};

QStringList namesOnly(QStringList tree)
{
    // The round trip keeps names, not contents: compare the shape of the tree.
    tree.sort();
    return tree;
}

} // namespace

TEST_F(DownloadTest, ALocalTreePastedToTheMockDeviceAndBackKeepsItsNames)
{
    MockMTPBackend backend(MockMTPBackend::defaultDevices());
    const AndroidDevice device = MockMTPBackend::defaultDevices().front();
    const std::shared_ptr<DeviceSession> mock = runTask(backend.openSession(device.id));
    const StorageID storage = MockMTPBackend::storageIDFor(device.id);
    writeFile(path("tree/a.txt"), "alpha");
    writeFile(path("tree/Photos/1.jpg"), "1");
    writeFile(path("tree/Photos/2023/3.jpg"), "3");
    writeFile(path("tree/Docs/notes/readme.md"), "r");
    writeFile(path("tree/Docs/b c.txt"), "spaces");

    clipboard.copyLocal({QUrl::fromLocalFile(path("tree"))});
    runTask(coordinator->pasteIntoDevice(RemoteObjectID(QStringLiteral("downloads")), storage, mock));
    const DirectoryPage downloads = runTask(mock->listDirectory(RemoteObjectID(QStringLiteral("downloads")),
                                                                RemotePath(storage, {QStringLiteral("Download")})));
    std::optional<RemoteItem> uploaded;
    for (const RemoteItem& item : downloads.items) {
        if (item.name == "tree") {
            uploaded = item;
        }
    }
    ASSERT_TRUE(uploaded.has_value());

    clipboard.copyDevice({*uploaded}, storage);
    runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(dest()), mock));

    EXPECT_EQ(namesOnly(localTreeOf(dest("tree"))), namesOnly(localTreeOf(path("tree"))));
    EXPECT_EQ(readFile(dest("tree/a.txt")), "alpha") << "the mock gives back the bytes it was sent";
    EXPECT_EQ(readFile(dest("tree/Docs/b c.txt")), "spaces");
    for (const TransferJob& job : coordinator->transferJobs()) {
        EXPECT_EQ(job.state.kind(), Kind::completed) << job.displayName.toStdString();
    }
    EXPECT_EQ(coordinator->transferJobs().size(), 10) << "five uploads and five downloads; the folder's row went";
    EXPECT_FALSE(coordinator->lastError().has_value());
}

TEST_F(DownloadTest, PlanningFailuresNameTheDeviceItem)
{
    const RemoteItem dcim = deviceFolder("dcim", "DCIM");
    const RemoteItem top = deviceFile("top", "top.txt", 1);
    useDevice({dcim, deviceFolder("camera", "Camera", "dcim"), deviceFile("a", "a.jpg", 1, "camera"),
               deviceFile("b", "b.jpg", 1, "dcim"), top});
    // As the phone pane lists it: with its path on the device.
    RemoteItem listedDCIM = dcim;
    listedDCIM.path = RemotePath(testStorage(), {"DCIM"});
    struct Row {
        const char* what;
        ScriptedDeviceSession::Step failure;
        RemoteItem chosen;
        QStringList jobs;
        QStringList tree;
        QString error;
    };
    const QList<Row> rows{
        {"a folder below the chosen one that went away",
         {.operation = Operation::listDirectory, .subject = "camera", .error = QuillbarrowError::pathNotFound()},
         dcim,
         {"top.txt: completed", "b.jpg: completed"},
         {"DCIM/", "DCIM/b.jpg", "top.txt"},
         "Could not download DCIM/Camera: it is no longer there."},
        {"the chosen folder, refused by the device",
         {.operation = Operation::listDirectory, .subject = "dcim", .error = QuillbarrowError::permissionDenied()},
         dcim,
         {"DCIM: failed", "top.txt: completed"},
         {"top.txt"},
         "Could not download DCIM: the device denied access to this file or folder."},
        {"the chosen folder, on a locked device",
         {.operation = Operation::listDirectory,
          .subject = "dcim",
          .error = QuillbarrowError::deviceLockedOrUnavailable()},
         dcim,
         {"DCIM: failed", "top.txt: completed"},
         {"top.txt"},
         "Could not download DCIM: the device is locked or has not granted file access."},
        {"the device's own words, under the path the phone pane listed",
         {.operation = Operation::listDirectory,
          .subject = "camera",
          .error = QuillbarrowError::transferFailed("The device reported that it is busy (PTP code 0x2019).")},
         listedDCIM,
         {"top.txt: completed", "b.jpg: completed"},
         {"DCIM/", "DCIM/b.jpg", "top.txt"},
         "Could not download /DCIM/Camera: The device reported that it is busy (PTP code 0x2019)."},
        {"a file that went away before its turn",
         {.operation = Operation::downloadFile, .subject = "b", .error = QuillbarrowError::pathNotFound()},
         dcim,
         {"top.txt: completed", "a.jpg: completed", "b.jpg: failed"},
         {"DCIM/", "DCIM/Camera/", "DCIM/Camera/a.jpg", "top.txt"},
         "Could not download DCIM/b.jpg: it is no longer there."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        startAfresh();
        session->script(row.failure);

        pasteToLocal({row.chosen, top}, dest());

        EXPECT_EQ(shownJobs(), row.jobs);
        EXPECT_EQ(localTreeOf(dest()), row.tree);
        const QuillbarrowError expected = QuillbarrowError::transferFailed(row.error);
        EXPECT_EQ(coordinator->lastError(), expected);
        // The window shows the user message: it must name the item.
        EXPECT_TRUE(coordinator->lastError()->userMessage().contains(row.error));
        for (const TransferJob& job : coordinator->transferJobs()) {
            if (job.state.kind() == Kind::failed) {
                EXPECT_EQ(job.state.error(), expected) << job.displayName.toStdString();
            }
        }
    }
}

TEST_F(DownloadTest, CancellingARunningDownloadLeavesNoFileBehind)
{
    useDevice({deviceFile("clip", "clip.mp4", 4096)});
    OneShot<bool> release;
    session->script({.operation = Operation::downloadFile,
                     .subject = "clip",
                     .partialBytes = QByteArray(1000, 'p'),
                     .hold = release,
                     .reportBytes = 2048});
    clipboard.copyDevice({deviceFile("clip", "clip.mp4", 4096)}, testStorage());
    LogCapture log;

    auto paste = coordinator->pasteIntoLocal(QUrl::fromLocalFile(dest()), session);
    ASSERT_TRUE(processEventsUntil([&] { return session->calls().contains("download clip"); }));
    EXPECT_FALSE(QFile::exists(dest("clip.mp4"))) << "a partial download is not visible under its final name";
    EXPECT_EQ(entriesOf(dest()).size(), 1);
    coordinator->cancelTransfer(jobNamed("clip.mp4"));
    release.fulfil(true);
    runTask(std::move(paste));

    EXPECT_EQ(shownJobs(), QStringList{"clip.mp4: cancelled"});
    EXPECT_TRUE(entriesOf(dest()).isEmpty()) << entriesOf(dest()).join(", ").toStdString();
    EXPECT_TRUE(log.lines().contains("cancelled download clip.mp4"));
    EXPECT_FALSE(coordinator->lastError().has_value());
}

// A folder's row cancelled while the folder is still being planned (its listing, or a folder
// inside it, under way) stays cancelled, and nothing of it reaches the disk: neither the files
// planned before the cancel nor those after. Cancel All does the same.
TEST_F(DownloadTest, AFolderCancelledWhileItIsPlannedDownloadsNothing)
{
    struct Row {
        const char* what;
        const char* listedWhenCancelled;
        bool cancelAll;
        QStringList jobs;
    };
    const QList<Row> rows{
        {"the row, while the folder is listed", "f", false, {"F: cancelled"}},
        {"the row, while a folder inside it is listed", "sub", false, {"F: cancelled", "y.txt: cancelled"}},
        {"every row, while the folder is listed", "f", true, {"F: cancelled"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        startAfresh();
        const RemoteItem folder = deviceFolder("f", "F");
        useDevice({folder, deviceFile("x", "x.txt", 3, "f"), deviceFolder("sub", "sub", "f"),
                   deviceFile("y", "y.txt", 3, "sub")});
        session->script({.operation = Operation::listDirectory, .subject = row.listedWhenCancelled, .onCall = [&] {
                             if (row.cancelAll) {
                                 coordinator->cancelAllTransfers();
                             } else {
                                 coordinator->cancelTransfer(jobNamed("F"));
                             }
                         }});

        pasteToLocal({folder}, dest());

        EXPECT_EQ(shownJobs(), row.jobs);
        EXPECT_TRUE(session->calls().filter("download").isEmpty()) << session->calls().join(", ").toStdString();
        EXPECT_TRUE(localTreeOf(dest()).isEmpty()) << localTreeOf(dest()).join(", ").toStdString();
    }
}

TEST_F(DownloadTest, StagingFilesLeftByKilledDownloadsGoWithTheNextDownloadAndHeldOnesStay)
{
    const QString stale = ".quillbarrow-0b1c2d3e-4f50-4a6b-8c7d-9e0f1a2b3c4d.partial";
    const QString held = ".quillbarrow-1c2d3e4f-5061-4b7c-9d8e-0f1a2b3c4d5e.partial";
    const std::shared_ptr<StagingRecord> record = coordinator->stagingRecord();
    ASSERT_TRUE(inKilledProgram([&] {
        DownloadStaging::Hold killed = StagingLock::file(LocalFolder::open(dest()), stale, record);
        killedNow(::write(killed.descriptor(), "a download killed", 17) == 17);
    }));
    writeFile(dest(".quillbarrow-notes.partial"), "the user's own file");
    QDir().mkpath(dest(".quillbarrow-2d3e4f50-6172-4c8d-8e9f-1a2b3c4d5e6f.partial"));
    // Another process's running download holds its file.
    const DownloadStaging::Hold running = StagingLock::file(LocalFolder::open(dest()), held, record);
    ASSERT_TRUE(running.isHeld());
    useDevice({deviceFile("a", "a.txt", 7)});
    OneShot<bool> release;
    session->script({.operation = Operation::downloadFile, .subject = "a", .hold = release});
    clipboard.copyDevice({deviceFile("a", "a.txt", 7)}, testStorage());

    auto paste = coordinator->pasteIntoLocal(QUrl::fromLocalFile(dest()), session);
    ASSERT_TRUE(processEventsUntil([&] { return session->calls().contains("download a"); }));
    const QStringList whileRunning = entriesOf(dest());
    // Another sweep while this download runs (another batch's) must leave its file too.
    DownloadStaging::removeStale(dest(), *coordinator->stagingRecord());
    EXPECT_EQ(entriesOf(dest()), whileRunning);
    // The file being written is noted as it is, for the sweep after a kill; the note goes once it is placed.
    const auto noted = [&] {
        QStringList names;
        for (const StagingRecord::Note& note : record->known()) {
            const auto there = StagingRecord::identityAt(LocalFolder::open(dest()).descriptor(), note.name);
            names.append(QString::fromUtf8(note.name) + (there == note.item ? "" : " (another item)"));
        }
        names.sort();
        return names;
    };
    // The held file and this download's, whose name is new each time: either may come first.
    QStringList bothNoted = whileRunning.filter(QRegularExpression("^\\.quillbarrow-(?!0b1c|2d3e|notes)"));
    bothNoted.sort();
    ASSERT_EQ(bothNoted.size(), 2);
    EXPECT_EQ(noted(), bothNoted);
    release.fulfil(true);
    runTask(std::move(paste));

    EXPECT_EQ(noted(), QStringList{held});
    EXPECT_EQ(shownJobs(), QStringList{"a.txt: completed"});
    EXPECT_FALSE(whileRunning.contains(stale)) << "removed before the download began";
    QStringList left = entriesOf(dest());
    left.sort();
    EXPECT_EQ(left, (QStringList{".quillbarrow-1c2d3e4f-5061-4b7c-9d8e-0f1a2b3c4d5e.partial",
                                 ".quillbarrow-2d3e4f50-6172-4c8d-8e9f-1a2b3c4d5e6f.partial",
                                 ".quillbarrow-notes.partial", "a.txt"}));
}

// The cause of a write that failed here is the one the session met, in the system's words; a
// failure of the device stays the device's, however little room the disk has.
TEST_F(DownloadTest, AFaultOfTheLocalDiskIsNamedWithItsCauseAndTheItemNotBlamedOnTheDevice)
{
    const QString lead = "Could not save a.bin in " + path("dest") + ": ";
    const QuillbarrowError deviceError =
        QuillbarrowError::transferFailed("The device reported an incomplete transfer (PTP code 0x2007).");
    // What the session throws, given the staged file it was writing.
    using Failure = std::function<std::exception_ptr(const QString& staged)>;
    const auto writeFailed = [](int fault, const QString& words = "Could not write %1: %2") {
        return Failure([fault, words](const QString& staged) {
            return std::make_exception_ptr(
                QuillbarrowError::localFileFailed(words.arg(staged, qt_error_string(fault)), fault));
        });
    };
    struct Case {
        const char* name;
        Failure failure;
        QuillbarrowError expected;
    };
    const Case cases[] = {
        {"the disk is full", writeFailed(ENOSPC),
         QuillbarrowError::localFileFailed(lead + "No space left on device")},
        {"the quota is used up", writeFailed(EDQUOT),
         QuillbarrowError::localFileFailed(lead + "Disk quota exceeded")},
        {"the disk is full, told in other words", writeFailed(ENOSPC, "Writing %1 stopped (%2)"),
         QuillbarrowError::localFileFailed(lead + "No space left on device")},
        {"the system's error passed on as it is",
         [](const QString& staged) {
             return std::make_exception_ptr(
                 std::filesystem::filesystem_error("Cannot write the downloaded file", staged.toStdString(),
                                                   std::make_error_code(std::errc::no_space_on_device)));
         },
         QuillbarrowError::localFileFailed(lead + "No space left on device")},
        {"the device fails while the disk has no room left",
         [&](const QString&) { return std::make_exception_ptr(deviceError); }, deviceError},
    };
    LocalFileOperations::setAvailableBytesHookForTesting([](const QString&) { return qint64(0); });
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        useDevice({deviceFile("a", "a.bin", 4096)});
        session->script({.operation = Operation::downloadFile, .subject = "a", .onCall = [&] {
                             const QString staged = dest(entriesOf(dest()).filter(".partial").value(0));
                             writeFile(staged, QByteArray(1000, 'p'));
                             std::rethrow_exception(row.failure(staged));
                         }});
        pasteToLocal({deviceFile("a", "a.bin", 4096)}, dest());
        EXPECT_EQ(queue->job(jobNamed("a.bin"))->state.error(), row.expected);
        EXPECT_EQ(coordinator->lastError(), row.expected);
        EXPECT_TRUE(entriesOf(dest()).isEmpty());
        queue->remove(jobNamed("a.bin"));
    }
    LocalFileOperations::setAvailableBytesHookForTesting({});
}

// A device that hands out a new folder at every level cannot make planning nest for ever: the
// folder past the limit fails, named, and nothing below it is downloaded.
TEST_F(DownloadTest, AFolderTooDeepBelowTheChosenOneFailsAndNothingBelowItIsDownloaded)
{
    constexpr int limit = 256;
    QList<RemoteItem> tree;
    for (int level = 0; level <= limit + 1; ++level) {
        tree.append(deviceFolder(QString("f%1").arg(level), "d",
                                 level > 0 ? std::optional(QString("f%1").arg(level - 1)) : std::nullopt));
    }
    const QString deepest = QStringList(limit + 1, "d").join('/'); // the last folder within the limit
    tree.append(deviceFile("in", "in.txt", 1, QString("f%1").arg(limit)));
    tree.append(deviceFile("out", "out.txt", 1, QString("f%1").arg(limit + 1)));
    useDevice(tree);

    pasteToLocal({tree.front()}, dest());

    EXPECT_EQ(coordinator->lastError(),
              QuillbarrowError::transferFailed("Could not download " + deepest +
                                               "/d: it lies more than 256 levels deep."));
    EXPECT_EQ(shownJobs(), QStringList{"in.txt: completed"});
    EXPECT_FALSE(session->calls().contains(QString("list f%1").arg(limit + 1)));
    EXPECT_EQ(entriesOf(dest(deepest)), QStringList{"in.txt"});
}

TEST_F(DownloadTest, AFolderThatTakesNoFileFailsTheDownloadNamingItBeforeTheDeviceIsAsked)
{
    ASSERT_EQ(::chmod(QFile::encodeName(dest()).constData(), 0555), 0);
    if (::access(QFile::encodeName(dest()).constData(), W_OK) == 0) {
        ::chmod(QFile::encodeName(dest()).constData(), 0755);
        GTEST_SKIP() << "this user writes anywhere (root): run the suite as an unprivileged user for this case";
    }
    useDevice({deviceFile("a", "a.txt", 3)});
    pasteToLocal({deviceFile("a", "a.txt", 3)}, dest());
    ::chmod(QFile::encodeName(dest()).constData(), 0755);

    const QuillbarrowError expected =
        QuillbarrowError::localFileFailed("Could not save a.txt in " + dest() + ": Permission denied");
    EXPECT_EQ(coordinator->lastError(), expected);
    EXPECT_EQ(coordinator->lastError()->userMessage(), "Could not save a.txt in " + dest() + ": Permission denied");
    EXPECT_FALSE(session->calls().contains("download a"));
}

TEST_F(DownloadTest, ReplaceKeepsTheOldItemUntilTheNewFileIsCompleteAndAFailureLeavesNoPartialFile)
{
    useDevice({deviceFile("a", "a.txt", 7), deviceFile("b", "b.txt", 7)});
    writeFile(dest("a.txt"), "old a");
    writeFile(dest("b.txt/inside.txt"), "a folder in the way");
    const QuillbarrowError interrupted = QuillbarrowError::transferInterrupted();
    session->script({.operation = Operation::downloadFile,
                     .subject = "a",
                     .partialBytes = "half of the new",
                     .error = interrupted});

    pasteToLocal({deviceFile("a", "a.txt", 7)}, dest(), {answer(Resolution::replace)});
    EXPECT_EQ(shownJobs(), QStringList{"a.txt: failed"});
    EXPECT_EQ(coordinator->lastError(), interrupted);
    EXPECT_EQ(readFile(dest("a.txt")), "old a") << "the old file stays when the new one fails";
    EXPECT_EQ(entriesOf(dest()), (QStringList{"a.txt", "b.txt"})) << "no partial file is left";

    pasteToLocal({deviceFile("a", "a.txt", 7), deviceFile("b", "b.txt", 7)}, dest(),
                 {answer(Resolution::replace), answer(Resolution::replace)});
    EXPECT_TRUE(readFile(dest("a.txt")).startsWith("Mock download of a.txt"));
    EXPECT_TRUE(QFileInfo(dest("b.txt")).isFile()) << "a folder answered with Replace is replaced as well";
    EXPECT_EQ(entriesOf(dest()), (QStringList{"a.txt", "b.txt"}));
}

TEST_F(DownloadTest, APlainFileWhereAFolderIsNeededFailsThatFileWithTheFolderInTheError)
{
    useDevice({deviceFolder("d", "Docs"), deviceFile("f", "f.txt", 1, "d")});
    writeFile(dest("Docs"), "a plain file");
    pasteToLocal({deviceFolder("d", "Docs")}, dest());
    EXPECT_EQ(shownJobs(), QStringList{"f.txt: failed"});
    ASSERT_TRUE(coordinator->lastError().has_value());
    EXPECT_EQ(coordinator->lastError()->kind(), QuillbarrowError::Kind::localFileFailed);
    EXPECT_TRUE(coordinator->lastError()->technicalDetails().startsWith("Could not create " + dest("Docs") + ": "))
        << coordinator->lastError()->technicalDetails().toStdString();
    EXPECT_EQ(readFile(dest("Docs")), "a plain file");
}

TEST_F(DownloadTest, NamesTakenOnDiskOrEarlierInTheBatchAreAskedAbout)
{
    useDevice({deviceFolder("f", "Folder"), deviceFile("x1", "x.txt", 1, "f"), deviceFile("x2", "x.txt", 2, "f"),
               deviceFile("y", "y.txt", 3, "f"), deviceFile("z", "z.txt", 4, "f")});
    writeFile(dest("Folder/z.txt"), "mine");

    const auto asked =
        pasteToLocal({deviceFolder("f", "Folder")}, dest(), {answer(Resolution::keepBoth), answer(Resolution::skip)});

    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].fileName, "x.txt");
    EXPECT_EQ(asked[0].destinationName, "Folder");
    EXPECT_FALSE(asked[0].transferID.has_value()) << "a nested file has no job before it is planned";
    EXPECT_EQ(shownJobs(), (QStringList{"x.txt: completed", "x 2.txt: completed", "y.txt: completed"}))
        << "the folder's row is gone and the skipped file left none";
    EXPECT_EQ(localTreeOf(dest("Folder")), (QStringList{"x 2.txt", "x.txt", "y.txt", "z.txt"}));
    EXPECT_EQ(readFile(dest("Folder/z.txt")), "mine");
}

TEST_F(DownloadTest, ReplaceNeverRemovesWhatThisPasteWrote)
{
    const QString refusal = "Could not replace %1: items copied by this same paste would be lost.";
    const RemoteItem photos = deviceFolder("photos", "Photos");
    const RemoteItem photosFile = deviceFile("pf", "Photos", 9, "backup");
    const RemoteItem notes = deviceFile("n1", "notes.txt", 1, "backup");
    const RemoteItem otherNotes = deviceFile("n2", "notes.txt", 2, "backup2");
    useDevice({photos, deviceFile("new", "new.jpg", 3, "photos"), deviceFolder("backup", "Backup"), photosFile,
               notes, deviceFolder("backup2", "Backup2"), otherNotes});
    struct Case {
        const char* name;
        bool userPhotosFolder;
        QList<RemoteItem> clipboard;
        QList<ConflictAnswerer::Answer> answers;
        QStringList jobs;
        QStringList tree;
        std::optional<QString> error;
        bool appears = false; // the file's name is taken while it downloads
    };
    const QList<Case> cases{
        {"a file answered Replace for the folder the paste merged into",
         true,
         {photos, photosFile},
         {answer(Resolution::replace)},
         {"Photos: failed", "new.jpg: completed"},
         {"Photos/", "Photos/new.jpg", "Photos/old.jpg"},
         refusal.arg("Photos")},
        {"a file answered Replace for the folder the paste creates",
         false,
         {photos, photosFile},
         {answer(Resolution::replace)},
         {"Photos: failed", "new.jpg: completed"},
         {"Photos/", "Photos/new.jpg"},
         refusal.arg("Photos")},
        {"Keep Both beside the folder the paste creates",
         false,
         {photos, photosFile},
         {answer(Resolution::keepBoth)},
         {"Photos 2: completed", "new.jpg: completed"},
         {"Photos 2", "Photos/", "Photos/new.jpg"},
         std::nullopt},
        {"Keep Both for a name taken while the file downloads", false, {notes}, {answer(Resolution::keepBoth)},
         {"notes 2.txt: completed"}, {"notes 2.txt", "notes.txt"}, std::nullopt, true},
        {"a file answered Replace for all where an earlier file of the paste goes",
         false,
         {notes, otherNotes},
         {answer(Resolution::replace, true)},
         {"notes.txt: completed", "notes.txt: failed"},
         {"notes.txt"},
         refusal.arg("notes.txt")},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        startAfresh();
        if (test.userPhotosFolder) {
            writeFile(dest("Photos/old.jpg"), "the user's photo");
        }
        if (test.appears) {
            session->script({.operation = Operation::downloadFile, .subject = "n1",
                             .onCall = [this] { writeFile(dest("notes.txt"), "appeared"); }});
        }

        const auto asked = pasteToLocal(test.clipboard, dest(), test.answers);
        EXPECT_EQ(asked.size(), 1);
        EXPECT_EQ(shownJobs(), test.jobs);
        EXPECT_EQ(localTreeOf(dest()), test.tree);
        EXPECT_EQ(coordinator->lastError(),
                  test.error ? std::optional(QuillbarrowError::localFileFailed(*test.error)) : std::nullopt);
    }
    EXPECT_EQ(readFile(dest("notes.txt")), MockDeviceSession::downloadText(notes)) << "the first one's file stays";
}

TEST_F(DownloadTest, EachBatchAsksAfreshAndCancelStopsEveryJobOfItsBatch)
{
    const RemoteItem a = deviceFile("a", "a.txt", 1);
    const RemoteItem top = deviceFile("top", "top.txt", 1);
    const RemoteItem folder = deviceFolder("f", "F");
    useDevice({a, top, folder, deviceFile("x", "x.txt", 1, "f"), deviceFile("y", "y.txt", 1, "f")});
    writeFile(dest("a.txt"), "mine");
    writeFile(dest("F/y.txt"), "mine too");
    struct Step {
        const char* name;
        QList<RemoteItem> clipboard;
        QList<ConflictAnswerer::Answer> answers;
        qsizetype questions;
        QStringList jobs;
    };
    const QList<Step> steps{
        {"Replace for all", {a}, {answer(Resolution::replace, true)}, 1, {"a.txt: completed"}},
        {"the next batch asks again", {a}, {answer(Resolution::skip)}, 1, {}},
        {"Cancel at a question inside a folder, after one of its files was planned",
         {folder, top},
         {cancelAnswer()},
         1,
         {"F: cancelled", "top.txt: cancelled", "x.txt: cancelled"}},
        {"the gate is free again", {top}, {}, 0, {"top.txt: completed"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        coordinator->clearCompletedTransfers();
        EXPECT_EQ(pasteToLocal(step.clipboard, dest(), step.answers).size(), step.questions);
        EXPECT_EQ(shownJobs(), step.jobs);
    }
    EXPECT_EQ(localTreeOf(dest()), (QStringList{"F/", "F/y.txt", "a.txt", "top.txt"}));
    EXPECT_EQ(readFile(dest("F/y.txt")), "mine too");
    EXPECT_EQ(session->calls().filter("download"), (QStringList{"download a", "download top"}));
}

TEST_F(DownloadTest, HostileDeviceNamesNeverReachOutsideTheDestination)
{
    const QString longName = QString(150, QChar(0x00e9)) + ".txt"; // 304 bytes in UTF-8
    const QList<RemoteItem> files{deviceFile("e", "", 1),          deviceFile("d", ".", 1),
                                  deviceFile("dd", "..", 1),       deviceFile("up", "../x", 1),
                                  deviceFile("ab", "a/b", 1),      deviceFile("nul", QString::fromUtf8("n\0ul.txt", 8), 1),
                                  deviceFile("long", longName, 1), deviceFile("abs", "/etc/passwd-copy", 1)};
    QList<RemoteItem> tree = files;
    tree += {deviceFolder("fdd", ".."), deviceFile("esc", "../../escape", 1, "fdd"), deviceFolder("fd", ".", "fdd"),
             deviceFile("in", "inner", 1, "fd")};
    useDevice(tree);
    writeFile(path("x"), "sentinel x");
    writeFile(path("b"), "sentinel b");
    writeFile(path("Android file"), "sentinel beside the destination");
    QDir().mkpath(path("second"));
    // Beside them only the program's own note of the items it stages may appear.
    const QRegularExpression outside("^(?!dest/|second/|cache/$|cache/staging-items$)");
    const QStringList outsideBefore = localTreeOf(m_temp.path()).filter(outside);

    pasteToLocal(files, dest(), {answer(Resolution::replace, true)});
    pasteToLocal({deviceFolder("fdd", "..")}, path("second"));

    EXPECT_EQ(localTreeOf(m_temp.path()).filter(outside), outsideBefore);
    EXPECT_EQ(readFile(path("x")), "sentinel x");
    EXPECT_EQ(readFile(path("Android file")), "sentinel beside the destination");
    QStringList inside = entriesOf(dest());
    const QString shortened = inside.filter(".txt").filter(QChar(0x00e9)).value(0);
    EXPECT_LE(QFile::encodeName(shortened).size(), 255);
    EXPECT_TRUE(shortened.endsWith(".txt"));
    inside.removeAll(shortened);
    EXPECT_EQ(inside, (QStringList{"Android file", "b", "nul.txt", "passwd-copy", "x"}));
    EXPECT_EQ(localTreeOf(path("second")),
              (QStringList{"Android file/", "Android file/Android file/", "Android file/Android file/inner",
                           "Android file/escape"}));
    // "", "." and ".." all become "Android file": Replace never lets the later ones replace the
    // first one's download.
    EXPECT_EQ(coordinator->lastError(),
              QuillbarrowError::localFileFailed("Could not replace Android file: items copied by this same paste "
                                                "would be lost."));
}

TEST_F(DownloadTest, WithoutASessionOrAUsableDestinationNothingIsQueued)
{
    clipboard.copyDevice({deviceFile("a", "a.txt", 1)}, testStorage());
    runTask(coordinator->pasteIntoLocal(QUrl::fromLocalFile(dest()), nullptr));
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::sessionFailed("No Android device session is open."));
    runTask(coordinator->pasteIntoLocal(QUrl(QStringLiteral("relative/folder")), session));
    EXPECT_EQ(coordinator->lastError(), QuillbarrowError::pathNotFound());
    EXPECT_TRUE(queue->allJobs().isEmpty());
    EXPECT_TRUE(session->calls().isEmpty());
}

TEST(DownloadStaging, AnItemThatAppearedMeanwhileIsNeverOverwrittenWithoutReplace)
{
    QTemporaryDir temp;
    const QString target = temp.filePath("a.txt");
    const QString staging = DownloadStaging::stagingPath(target);
    EXPECT_TRUE(QFileInfo(staging).fileName().startsWith('.')) << "the local browser does not list it";
    EXPECT_EQ(QFileInfo(staging).path(), temp.path()) << "beside the destination, so the move is a rename";
    writeFile(staging, "downloaded");
    writeFile(target, "the user's own file");

    const std::optional<QString> failure = DownloadStaging::place(staging, target, false);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->startsWith("Could not save a.txt in " + temp.path() + ": ")) << failure->toStdString();
    EXPECT_EQ(readFile(target), "the user's own file");
    EXPECT_EQ(entriesOf(temp.path()), QStringList{"a.txt"}) << "the staged file is removed";
}
