#include "DeviceTransferFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Uploads never lose the user's data on the device nor hang on what they are given: a Replace
// keeps the old object until the new file is safely there, what the batch writes into is never
// replaced by it, and items that are not regular files, or that vanish, fail on their own.

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;
using ErrorKind = QuillbarrowError::Kind;
using Resolution = ConflictResolution;
using Operation = ScriptedDeviceSession::Operation;

namespace {

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

// A socket file that stays after its socket is closed.
bool makeSocketFile(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Bound by its name from inside its folder: a socket address holds at most 107 bytes, which a
    // temporary folder of a long test name under another temporary folder can pass.
    const QFileInfo where(path);
    const QByteArray encoded = QFile::encodeName(where.fileName());
    if (fd < 0 || encoded.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
        return false;
    }
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    const QString previous = QDir::currentPath();
    const bool entered = QDir::setCurrent(where.absolutePath());
    const bool bound = entered && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    QDir::setCurrent(previous);
    ::close(fd);
    return bound;
}

class UploadSafetyTest : public DeviceTransferTest {
protected:
    // The one job shown with this name, as "state" or "failed: <technical details>".
    QString outcomeOf(const QString& name) const
    {
        const std::optional<TransferJob> job = queue->job(jobNamed(name));
        if (!job) {
            return QStringLiteral("gone");
        }
        if (job->state.kind() == Kind::failed) {
            return QStringLiteral("failed: ") + job->state.error()->technicalDetails();
        }
        return stateName(job->state.kind());
    }

    // The device's root names, any temporary name shown as "<temporary>".
    QStringList rootNamesSeen()
    {
        QStringList names = deviceNames();
        for (QString& name : names) {
            if (name.startsWith("quillbarrow-upload-")) {
                name = QStringLiteral("<temporary>");
            }
        }
        names.sort();
        return names;
    }

    QList<qint64> sizesNamed(const QString& name)
    {
        QList<qint64> sizes;
        for (const RemoteItem& item : session->children(std::nullopt, testStorage())) {
            if (item.name == name) {
                sizes.append(item.size.value_or(-1));
            }
        }
        std::sort(sizes.begin(), sizes.end());
        return sizes;
    }

    // Scripts a step for the upload that follows first.txt's (the replacing one, whatever name it
    // is sent under).
    void scriptReplacingUpload(ScriptedDeviceSession::Step step)
    {
        session->script({.operation = Operation::uploadFile, .subject = "first.txt"});
        step.operation = Operation::uploadFile;
        session->script(std::move(step));
    }
};

// ---- Replace ------------------------------------------------------------------------------------

TEST_F(UploadSafetyTest, ReplaceKeepsTheOldObjectUntilTheNewOneIsSafelyInItsPlace)
{
    struct Row {
        const char* what;
        // The storage's free space; the old a.txt has 3 bytes, the new one 7.
        qint64 freeSpace = 32'000'000'000LL;
        std::function<void()> script = {};
        QString outcome = {};
        bool outcomeIsPrefix = false;
        QStringList rootNames = {};
        QList<qint64> sizesOfA = {};
        // How many times the new file goes up under a temporary name.
        qsizetype temporaryUploads = 0;
    };
    const QuillbarrowError noRename = QuillbarrowError::transferFailed("could not get property description");
    const auto refuseRename = [this, noRename] {
        session->script({.operation = Operation::rename, .error = noRename});
    };
    const auto cancelA = [this] { coordinator->cancelTransfer(jobNamed("a.txt")); };
    // The batch's own read of the free space and the Replace's both fail: the listing made while
    // planning is the last word.
    const auto unreadable = [this] {
        for (int read = 0; read < 2; ++read) {
            session->script(
                {.operation = Operation::storages, .error = QuillbarrowError::transferInterrupted()});
        }
    };
    const auto afterFirstUpload = [this](std::function<void()> change) {
        return [this, change] {
            session->script({.operation = Operation::uploadFile, .subject = "first.txt", .onCall = change});
        };
    };
    const QList<Row> rows{
        {.what = "a device that renames",
         .outcome = "completed",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {7},
         .temporaryUploads = 1},
        {.what = "the new file's sending fails",
         .script = [this] { scriptReplacingUpload({.error = QuillbarrowError::transferInterrupted()}); },
         .outcome = "failed: " + QuillbarrowError::transferInterrupted().technicalDetails(),
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 1},
        {.what = "a cancel while the new file is sent",
         .script = [this, cancelA] { scriptReplacingUpload({.onCall = cancelA}); },
         .outcome = "cancelled",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 1},
        {.what = "a device that cannot rename",
         .script = refuseRename,
         .outcome = "completed",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {7},
         .temporaryUploads = 1},
        {.what = "a cancel while the session is asked whether it renames",
         .script =
             [this, noRename, cancelA] {
                 session->script({.operation = Operation::rename, .onCall = cancelA, .error = noRename});
             },
         .outcome = "cancelled",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 1},
        {.what = "a device that cannot rename, nor delete the old one",
         .script =
             [this, refuseRename] {
                 refuseRename();
                 session->script({.operation = Operation::deleteItem,
                                    .subject = "old",
                                    .error = QuillbarrowError::backendProtocolError("Object is write-protected")});
             },
         .outcome = "completed",
         .rootNames = {"a.txt", "a.txt", "first.txt"},
         .sizesOfA = {3, 7},
         .temporaryUploads = 1},
        {.what = "the source vanished after planning",
         .script = afterFirstUpload([this] { QFile::remove(path("src/a.txt")); }),
         .outcome = "failed: Could not send " + path("src/a.txt") + ": it is no longer there.",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 0},
        {.what = "the source became a named pipe after planning",
         .script = afterFirstUpload([this] {
             QFile::remove(path("src/a.txt"));
             EXPECT_TRUE(makeFifo(path("src/a.txt")));
         }),
         .outcome =
             "failed: Could not send " + path("src/a.txt") + ": it is a named pipe, not a regular file.",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 0},
        {.what = "no room for the new file, even in the old one's place",
         .freeSpace = 3,
         .outcome = "failed: " + QuillbarrowError::insufficientSpace().technicalDetails(),
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 0},
        {.what = "no room by the last listing, and the device cannot be asked again",
         .freeSpace = 3,
         .script = unreadable,
         .outcome = "failed: " + QuillbarrowError::insufficientSpace().technicalDetails(),
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {3},
         .temporaryUploads = 0},
        {.what = "room by the last listing, and the device cannot be asked again",
         .script = unreadable,
         .outcome = "completed",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {7},
         .temporaryUploads = 1},
        {.what = "room for the new file only in the old one's place",
         .freeSpace = 5,
         .outcome = "completed",
         .rootNames = {"a.txt", "first.txt"},
         .sizesOfA = {7},
         .temporaryUploads = 0},
        {.what = "the final rename fails after the old one is gone",
         .script =
             [this, noRename] {
                 session->script({.operation = Operation::rename});
                 session->script({.operation = Operation::rename, .error = noRename});
             },
         .outcome = "failed: Could not rename quillbarrow-upload-",
         .outcomeIsPrefix = true,
         .rootNames = {"<temporary>", "first.txt"},
         .sizesOfA = {},
         .temporaryUploads = 1},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        coordinator->clearCompletedTransfers();
        QDir(path("src")).removeRecursively();
        writeFile(path("src/first.txt"), "1");
        writeFile(path("src/a.txt"), "new one");
        session = std::make_shared<ScriptedDeviceSession>(
            MockTree({StorageRoot(testStorage(), "Internal shared storage", 64'000'000'000LL, row.freeSpace)},
                     {deviceFile("old", "a.txt", 3)}));
        if (row.script) {
            row.script();
        }

        const auto asked = pasteToDevice({"src/first.txt", "src/a.txt"}, std::nullopt, {answer(Resolution::replace)});

        EXPECT_EQ(asked.size(), 1);
        EXPECT_EQ(outcomeOf("first.txt"), "completed");
        // A text that names a temporary name is compared up to it.
        EXPECT_EQ(outcomeOf("a.txt").left(row.outcomeIsPrefix ? row.outcome.size() : -1), row.outcome);
        EXPECT_EQ(rootNamesSeen(), row.rootNames) << session->calls().join(" | ").toStdString();
        EXPECT_EQ(sizesNamed("a.txt"), row.sizesOfA);
        EXPECT_EQ(session->calls().filter(QRegularExpression("^upload quillbarrow-upload-")).size(), row.temporaryUploads);
    }
}

TEST_F(UploadSafetyTest, ASessionIsAskedOnceWhetherItRenamesAndTheAnswerHoldsForItsLaterReplaces)
{
    struct Row {
        const char* what;
        bool renames;
        QStringList secondCalls;
    };
    const QList<Row> rows{
        {"it renames", true, {"upload <temporary>", "delete old-b", "rename <new> b.txt"}},
        {"it cannot rename", false, {"download old-b", "delete old-b", "upload b.txt"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        coordinator->clearCompletedTransfers();
        writeFile(path("src/a.txt"), "new a");
        writeFile(path("src/b.txt"), "new b");
        useDevice({deviceFile("old-a", "a.txt", 1), deviceFile("old-b", "b.txt", 1)});
        if (!row.renames) {
            session->script({.operation = Operation::rename, .error = QuillbarrowError::transferFailed("refused")});
        }

        pasteToDevice({"src/a.txt"}, std::nullopt, {answer(Resolution::replace)});
        const qsizetype firstCalls = session->calls().size();
        pasteToDevice({"src/b.txt"}, std::nullopt, {answer(Resolution::replace)});

        QStringList second =
            session->calls().mid(firstCalls).filter(QRegularExpression("^(upload|delete|rename|download)"));
        second.replaceInStrings(QRegularExpression("quillbarrow-upload-\\S+"), "<temporary>");
        second.replaceInStrings(QRegularExpression("^rename \\S+ "), "rename <new> ");
        EXPECT_EQ(second, row.secondCalls);
        EXPECT_EQ(shownJobs(), (QStringList{"a.txt: completed", "b.txt: completed"}));
        EXPECT_EQ(deviceNames(), (QStringList{"a.txt", "b.txt"}));
        EXPECT_EQ(deviceChild(std::nullopt, "b.txt")->size, 5);
    }
}

// On a device that cannot rename, the old object is copied here before it is deleted, and the copy
// goes back in its place whenever the new file does not arrive whole; without a whole copy nothing
// is deleted.
TEST_F(UploadSafetyTest, ReplaceOnADeviceThatCannotRenameSendsTheOldFileBackWhenTheNewOneDoesNotArrive)
{
    struct Row {
        const char* what;
        std::function<void()> script = {};
        QString outcome = {};
        // The sizes of the objects named a.txt afterwards: the old one has 3 bytes, the new 7.
        QList<qint64> sizesOfA = {};
        bool oldDeleted = true;
        // The copies left in the kept copies' folder.
        qsizetype keptCopies = 0;
    };
    const auto failUpload = [this](const QuillbarrowError& error) {
        session->script({.operation = Operation::uploadFile, .subject = "a.txt", .error = error});
    };
    const QuillbarrowError interrupted = QuillbarrowError::transferInterrupted();
    const QString noCopy = "failed: Could not keep a copy of a.txt on this computer before replacing it: ";
    const QList<Row> rows{
        {.what = "the new file arrives", .outcome = "completed", .sizesOfA = {7}},
        {.what = "the new file's sending fails",
         .script = [&] { failUpload(interrupted); },
         .outcome = "failed: " + interrupted.technicalDetails(),
         .sizesOfA = {3}},
        {.what = "a cancel while the new file is sent",
         .script =
             [this] {
                 session->script({.operation = Operation::uploadFile, .subject = "a.txt", .onCall = [this] {
                                      coordinator->cancelTransfer(jobNamed("a.txt"));
                                  }, .reportBytes = 3});
             },
         .outcome = "cancelled",
         .sizesOfA = {3}},
        {.what = "the old file cannot be sent back either",
         .script =
             [&] {
                 failUpload(interrupted);
                 failUpload(QuillbarrowError::deviceNotFound());
             },
         .outcome = "failed: " + interrupted.technicalDetails(),
         .sizesOfA = {},
         .keptCopies = 1},
        {.what = "the copy cannot be made",
         .script =
             [this] {
                 session->script({.operation = Operation::downloadFile,
                                  .subject = "old",
                                  .partialBytes = "ol",
                                  .error = QuillbarrowError::transferFailed("PTP Layer error 02ff")});
             },
         .outcome = noCopy + "PTP Layer error 02ff. Nothing was deleted.",
         .sizesOfA = {3},
         .oldDeleted = false},
        {.what = "the copy comes short",
         .script =
             [this] {
                 session->script({.operation = Operation::downloadFile, .subject = "old", .deliverBytes = 2});
             },
         .outcome = noCopy + "the copy has 2 bytes where the device listed 3. Nothing was deleted.",
         .sizesOfA = {3},
         .oldDeleted = false},
    };
    const QString keptFolder = path("cache/Replaced Files");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        coordinator->clearCompletedTransfers();
        QDir(keptFolder).removeRecursively();
        writeFile(path("src/a.txt"), "new one");
        useDevice({deviceFile("old", "a.txt", 3)});
        // The session is asked first whether it renames; it does not.
        session->script({.operation = Operation::rename, .error = QuillbarrowError::transferFailed("refused")});
        if (row.script) {
            row.script();
        }
        session->script({.operation = Operation::downloadFile, .subject = "old", .deliverBytes = 3});

        pasteToDevice({"src/a.txt"}, std::nullopt, {answer(Resolution::replace)});

        EXPECT_EQ(outcomeOf("a.txt"), row.outcome);
        EXPECT_EQ(sizesNamed("a.txt"), row.sizesOfA) << session->calls().join(" | ").toStdString();
        EXPECT_EQ(session->calls().contains("delete old"), row.oldDeleted);
        if (row.oldDeleted) {
            EXPECT_LT(session->calls().indexOf("download old"), session->calls().indexOf("delete old"))
                << "copied before it is deleted";
        }
        const QStringList kept = QDir(keptFolder).entryList(QDir::Files);
        ASSERT_EQ(kept.size(), row.keptCopies);
        if (!kept.isEmpty()) {
            EXPECT_EQ(QFileInfo(keptFolder + "/" + kept.first()).size(), 3) << "the whole old file is kept";
        }
    }
}

TEST_F(UploadSafetyTest, AFolderThePasteWritesIntoIsNeverTheTargetOfItsOwnReplace)
{
    // A local folder "Photos" is merged into the device's "Photos"; a local file "Photos" in the
    // same paste clashes with that folder and is answered Replace, before or after the folder.
    const QList<QStringList> orders{{"src/Photos", "file/Photos"}, {"file/Photos", "src/Photos"}};
    for (const QStringList& order : orders) {
        SCOPED_TRACE(order.join(", ").toStdString());
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
        useDevice({deviceFolder("photos", "Photos"), deviceFile("old", "old.jpg", 5, "photos")});
        writeFile(path("src/Photos/new.jpg"), "new");
        writeFile(path("file/Photos"), "a file called Photos");

        const auto asked = pasteToDevice(order, std::nullopt, {answer(Resolution::replace)});

        ASSERT_EQ(asked.size(), 1);
        EXPECT_EQ(asked[0].fileName, "Photos");
        EXPECT_FALSE(session->calls().contains("delete photos"));
        EXPECT_EQ(deviceNames(), QStringList{"Photos"});
        EXPECT_EQ(deviceNames("photos"), (QStringList{"new.jpg", "old.jpg"})) << "nothing in it is lost";
        EXPECT_EQ(outcomeOf("new.jpg"), "completed");
        const QString refusal = "Could not replace Photos: items copied by this same paste would be lost.";
        EXPECT_EQ(outcomeOf("Photos"), "failed: " + refusal);
        ASSERT_TRUE(coordinator->lastError().has_value());
        EXPECT_EQ(coordinator->lastError()->technicalDetails(), refusal);
        // The panel shows the user message: it must carry the reason.
        EXPECT_TRUE(coordinator->lastError()->userMessage().contains(refusal));
    }
}

TEST_F(UploadSafetyTest, AnAnswerForAllEndsWithItsPaste)
{
    for (const Resolution resolution : {Resolution::replace, Resolution::skip, Resolution::keepBoth}) {
        SCOPED_TRACE(static_cast<int>(resolution));
        coordinator->clearCompletedTransfers();
        useDevice({deviceFile("a", "a.txt", 1), deviceFile("b", "b.txt", 1), deviceFile("c", "c.txt", 1)});
        writeFile(path("src/a.txt"), "a");
        writeFile(path("src/b.txt"), "b");
        writeFile(path("src/c.txt"), "c");

        EXPECT_EQ(pasteToDevice({"src/a.txt", "src/b.txt"}, std::nullopt, {answer(resolution, true)}).size(), 1)
            << "the answer for all answers the rest of its own paste";
        const auto asked = pasteToDevice({"src/c.txt"}, std::nullopt, {answer(Resolution::skip)});
        EXPECT_EQ(asked.size(), 1) << "the next paste asks again";
        EXPECT_EQ(deviceChild(std::nullopt, "c.txt")->size, 1) << "and is not silently replaced";
    }
}

// ---- Items that are not regular files, and files that vanish -------------------------------------

TEST_F(UploadSafetyTest, ItemsThatAreNotRegularFilesFailTheirOwnJobsNamingThemAndTheRestIsSent)
{
    struct Row {
        const char* name;
        std::function<bool(const QString&)> make;
        // The failed job's technical details, after the item's path.
        QString why;
    };
    const QList<Row> rows{
        {"pipe", makeFifo, ": it is a named pipe, not a regular file."},
        {"socket", makeSocketFile, ": it is a socket, not a regular file."},
        {"null", [](const QString& at) { return QFile::link("/dev/null", at); },
         ": it is a character device, not a regular file."},
        {"self", [](const QString& at) { return QFile::link(at, at); }, ": its symbolic links form a loop."},
        {"ping", [](const QString& at) { return QFile::link(at + "-pong", at) && QFile::link(at, at + "-pong"); },
         ": its symbolic links form a loop."},
        {"nowhere", [](const QString& at) { return QFile::link(at + "-missing", at); },
         ": its symbolic link leads nowhere."},
        // Links to the folder that holds them, or to one above it.
        {"here", [](const QString& at) { return QFile::link(".", at); }, ": its symbolic links form a loop."},
        {"up", [](const QString& at) { return QFile::link("..", at); }, ": its symbolic links form a loop."},
    };
    writeFile(path("src/Folder/before.txt"), "b");
    writeFile(path("src/Folder/after.txt"), "a");
    for (const Row& row : rows) {
        ASSERT_TRUE(row.make(path(QStringLiteral("src/Folder/") + row.name))) << row.name;
    }
    ASSERT_TRUE(makeFifo(path("src/clipboard-pipe")));
    LogCapture log;

    pasteToDevice({"src/Folder", "src/clipboard-pipe"}, std::nullopt);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString itemPath = path(QStringLiteral("src/Folder/") + row.name);
        EXPECT_EQ(outcomeOf(row.name), "failed: Could not send " + itemPath + row.why);
        EXPECT_FALSE(session->calls().contains(QStringLiteral("upload ") + row.name));
    }
    EXPECT_EQ(outcomeOf("ping-pong"), "failed: Could not send " + path("src/Folder/ping-pong") +
                                          ": its symbolic links form a loop.");
    EXPECT_EQ(outcomeOf("clipboard-pipe"),
              "failed: Could not send " + path("src/clipboard-pipe") + ": it is a named pipe, not a regular file.");
    EXPECT_EQ(outcomeOf("before.txt"), "completed");
    EXPECT_EQ(outcomeOf("after.txt"), "completed");
    const RemoteItem folder = *deviceChild(std::nullopt, "Folder");
    EXPECT_EQ(deviceNames(folder.id.rawValue()), (QStringList{"after.txt", "before.txt"}));
    EXPECT_EQ(deviceNames(), QStringList{"Folder"});
    EXPECT_TRUE(log.lines().filter("upload pipe").isEmpty()) << "a job failed in planning is never started";
}

TEST_F(UploadSafetyTest, AFileThatVanishesOrChangesBeforeItIsSentFailsWithoutReachingTheDevice)
{
    writeFile(path("src/first.txt"), "1");
    writeFile(path("src/gone.txt"), "gone");
    writeFile(path("src/piped.txt"), "piped");
    writeFile(path("src/late.txt"), "late");
    writeFile(path("src/kept.txt"), "kept");
    session->script({.operation = Operation::uploadFile, .subject = "first.txt", .onCall = [this] {
                         QFile::remove(path("src/gone.txt"));
                         QFile::remove(path("src/piped.txt"));
                         EXPECT_TRUE(makeFifo(path("src/piped.txt")));
                     }});
    // Vanishing while it is sent: the device's error is not the reason.
    session->script({.operation = Operation::uploadFile,
                     .subject = "late.txt",
                     .onCall = [this] { QFile::remove(path("src/late.txt")); },
                     .error = QuillbarrowError::transferFailed("PTP Layer error 02ff")});

    pasteToDevice({"src/first.txt", "src/gone.txt", "src/piped.txt", "src/late.txt", "src/kept.txt"}, std::nullopt);

    EXPECT_EQ(outcomeOf("gone.txt"), "failed: Could not send " + path("src/gone.txt") + ": it is no longer there.");
    EXPECT_EQ(outcomeOf("piped.txt"),
              "failed: Could not send " + path("src/piped.txt") + ": it is a named pipe, not a regular file.");
    EXPECT_EQ(outcomeOf("late.txt"), "failed: Could not send " + path("src/late.txt") + ": it is no longer there.");
    EXPECT_EQ(outcomeOf("kept.txt"), "completed");
    EXPECT_EQ(session->calls().filter(QRegularExpression("^upload ")),
              (QStringList{"upload first.txt", "upload late.txt", "upload kept.txt"}))
        << "what is gone or not a file is never handed to the session";
    EXPECT_EQ(deviceNames(), (QStringList{"first.txt", "kept.txt"}));
}

// What planning cannot send is named, whether it has a job of its own or only the error line.
TEST_F(UploadSafetyTest, PlanningFailuresNameTheItem)
{
    struct Row {
        const char* what;
        // Runs as planning lists the device folder, after the paste looked at the local files.
        std::function<void()> change;
        QList<QUrl> extraClipboard = {};
        QString failedJob = {};
        QString lastError = {};
    };
    const QList<Row> rows{
        {.what = "a file removed since the paste looked",
         .change = [this] { QFile::remove(path("src/Folder/b.txt")); },
         .failedJob = "b.txt",
         .lastError = "Could not send " + path("src/Folder/b.txt") + ": it is no longer there."},
        {.what = "a file that appeared since",
         .change = [this] { writeFile(path("src/Folder/Sub/late.txt"), "late"); },
         .lastError = "Could not send " + path("src/Folder/Sub/late.txt") + ": it appeared after the paste began."},
        {.what = "an address that is not a local file",
         .change = [] {},
         .extraClipboard = {QUrl("https://example.com/photo.jpg")},
         .lastError = "Could not send https://example.com/photo.jpg: it is not a file on this computer."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        coordinator->clearCompletedTransfers();
        coordinator->clearLastError();
        QDir(path("src")).removeRecursively();
        writeFile(path("src/Folder/a.txt"), "a");
        writeFile(path("src/Folder/b.txt"), "b");
        writeFile(path("src/Folder/Sub/x.txt"), "x");
        useDevice({});
        session->script({.operation = Operation::rootDirectory, .onCall = row.change});
        clipboard.copyLocal(row.extraClipboard + QList<QUrl>{QUrl::fromLocalFile(path("src/Folder"))});

        runTask(coordinator->pasteIntoDevice(std::nullopt, testStorage(), session));

        ASSERT_TRUE(coordinator->lastError().has_value());
        EXPECT_EQ(coordinator->lastError()->technicalDetails(), row.lastError);
        // The window shows the user message: it must name the item.
        EXPECT_TRUE(coordinator->lastError()->userMessage().contains(row.lastError));
        if (!row.failedJob.isEmpty()) {
            EXPECT_EQ(outcomeOf(row.failedJob), "failed: " + row.lastError);
        }
        EXPECT_EQ(outcomeOf("a.txt"), "completed");
    }
}

TEST_F(UploadSafetyTest, AnUnreadableFileFailsWithTheSystemsReasonAndItsReplaceKeepsTheOldObject)
{
    writeFile(path("src/a.txt"), "new one");
    ASSERT_TRUE(QFile::setPermissions(path("src/a.txt"), QFileDevice::WriteOwner));
    if (::access(QFile::encodeName(path("src/a.txt")).constData(), R_OK) == 0) {
        GTEST_SKIP() << "this user reads any file (root): run the suite as an unprivileged user for this case";
    }
    useDevice({deviceFile("old", "a.txt", 3)});

    pasteToDevice({"src/a.txt"}, std::nullopt, {answer(Resolution::replace)});

    EXPECT_EQ(outcomeOf("a.txt"), "failed: Could not read " + path("src/a.txt") + ": Permission denied");
    EXPECT_EQ(sizesNamed("a.txt"), QList<qint64>{3});
    EXPECT_TRUE(session->calls().filter(QRegularExpression("^(upload|delete)")).isEmpty());
}

} // namespace

namespace {

// Writes a file at the real bytes `name` in `folder`.
bool writeRawName(const QString& folder, const QByteArray& name, const QByteArray& contents)
{
    const int fd = ::open((QFile::encodeName(folder) + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, contents.constData(), contents.size()) == contents.size();
    return ::close(fd) == 0 && written;
}

TEST_F(UploadSafetyTest, NamesThatDifferOnlyInAByteThatIsNotUTF8AndInUFFFDAreBothSentWithTheirOwnBytes)
{
    QDir().mkpath(path("src"));
    ASSERT_TRUE(writeRawName(path("src"), "a\xff.txt", "an invalid byte"));
    ASSERT_TRUE(writeRawName(path("src"), "a\xef\xbf\xbd.txt", "the replacement character"));
    const QString shown = QString::fromUtf8("a\xef\xbf\xbd.txt");

    pasteToDevice({"src"}, std::nullopt, {answer(Resolution::keepBoth)});

    QStringList jobs = shownJobs();
    jobs.sort();
    EXPECT_EQ(jobs, (QStringList{QString::fromUtf8("a\xef\xbf\xbd 2.txt: completed"), shown + ": completed"}));
    const std::optional<RemoteItem> folder = deviceChild(std::nullopt, "src");
    ASSERT_TRUE(folder.has_value());
    QList<qint64> sizes;
    QStringList names;
    for (const RemoteItem& item : session->children(folder->id, testStorage())) {
        names.append(item.name);
        sizes.append(item.size.value_or(-1));
    }
    names.sort();
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(names, (QStringList{QString::fromUtf8("a\xef\xbf\xbd 2.txt"), shown}))
        << "the device name of the byte carries U+FFFD";
    EXPECT_EQ(sizes, (QList<qint64>{15, 25})) << "each file sent from its own bytes";
    std::error_code ignored; // Qt cannot name what does not decode
    std::filesystem::remove_all(QFile::encodeName(path("src")).toStdString(), ignored);
}

TEST_F(UploadSafetyTest, AnUnreadableFolderInATreeGetsAFailedJobNamingItAndTheRestIsSent)
{
    writeFile(path("tree/readable.txt"), "yes");
    writeFile(path("tree/locked/secret.txt"), "no");
    ASSERT_EQ(::chmod(QFile::encodeName(path("tree/locked")).constData(), 0), 0);
    if (::access(QFile::encodeName(path("tree/locked")).constData(), R_OK) == 0) {
        ::chmod(QFile::encodeName(path("tree/locked")).constData(), 0755);
        GTEST_SKIP() << "this user reads any folder (root): run the suite as an unprivileged user for this case";
    }

    pasteToDevice({"tree"}, std::nullopt);
    ::chmod(QFile::encodeName(path("tree/locked")).constData(), 0755);

    EXPECT_EQ(outcomeOf("readable.txt"), "completed");
    EXPECT_EQ(outcomeOf("locked"), "failed: Could not read " + path("tree/locked") + ": Permission denied");
    EXPECT_EQ(coordinator->lastError(),
              QuillbarrowError::localFileFailed("Could not read " + path("tree/locked") + ": Permission denied"));
    EXPECT_EQ(coordinator->lastError()->userMessage(), "Could not read " + path("tree/locked") + ": Permission denied")
        << "the window names the folder, not the device";
}

} // namespace
