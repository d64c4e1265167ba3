#include "DeviceTransferFixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;
using Resolution = ConflictResolution;
using Operation = ScriptedDeviceSession::Operation;

namespace {

class UploadTest : public DeviceTransferTest {
protected:
    // Runs `action` as a queued event (as a click would come) once the panel first shows a job.
    void whenFirstJobsShow(std::function<void()> action)
    {
        auto done = std::make_shared<bool>(false);
        QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, coordinator.get(),
                         [this, done, action] {
                             if (*done || shownJobs().isEmpty()) {
                                 return;
                             }
                             *done = true;
                             QMetaObject::invokeMethod(coordinator.get(), action, Qt::QueuedConnection);
                         });
    }
};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

TEST_F(UploadTest, AFolderTreeLandsInTheDeviceFolderCreatingEachFolderOnce)
{
    useDevice({deviceFolder("dl", "Download")});
    writeFile(path("src/a.txt"), "alpha");
    writeFile(path("src/.profile"), "on the clipboard itself");
    writeFile(path("src/Photos/1.jpg"), "1");
    writeFile(path("src/Photos/2.jpg"), "22");
    writeFile(path("src/Photos/.thumbs"), "hidden inside a folder");
    writeFile(path("src/Photos/2023/3.jpg"), "333");
    QDir().mkpath(path("src/Photos/empty"));
    LogCapture log;

    EXPECT_TRUE(pasteToDevice({"src/a.txt", "src/Photos", "src/.profile"}, "dl").isEmpty());

    EXPECT_EQ(session->calls().count("createFolder Photos"), 1);
    EXPECT_EQ(session->calls().count("createFolder 2023"), 1);
    EXPECT_FALSE(session->calls().contains("createFolder empty")) << "an empty folder makes no job";
    EXPECT_EQ(deviceNames("dl"), (QStringList{".profile", "Photos", "a.txt"}));
    const RemoteItem photos = *deviceChild("dl", "Photos");
    EXPECT_EQ(deviceNames(photos.id.rawValue()), (QStringList{"1.jpg", "2.jpg", "2023"}));
    const RemoteItem year = *deviceChild(photos.id.rawValue(), "2023");
    EXPECT_EQ(deviceNames(year.id.rawValue()), QStringList{"3.jpg"});
    EXPECT_EQ(deviceChild("dl", "a.txt")->size, 5);

    EXPECT_EQ(sorted(shownJobs()), (QStringList{".profile: completed", "1.jpg: completed", "2.jpg: completed",
                                                "3.jpg: completed", "a.txt: completed"}));
    EXPECT_EQ(coordinator->transferJobs().front().displayName, "a.txt") << "jobs come in clipboard order";
    EXPECT_EQ(coordinator->transferJobs().front().totalBytes, 5);
    EXPECT_EQ(coordinator->transferJobs().front().direction, TransferDirection::macToAndroid);
    EXPECT_FALSE(coordinator->lastError().has_value());
    EXPECT_TRUE(log.lines().contains("started upload a.txt"));
    EXPECT_TRUE(log.lines().contains("uploaded a.txt"));
}

TEST_F(UploadTest, AnExistingDeviceFolderIsMergedAndReplaceSendsTheNewFileBeforeTheOldOneGoes)
{
    useDevice({deviceFolder("photos", "Photos"), deviceFile("old1", "1.jpg", 10, "photos"),
               deviceFile("old2", "2.jpg", 20, "photos")});
    writeFile(path("src/Photos/1.jpg"), "new one");
    writeFile(path("src/Photos/2.jpg"), "new two");
    writeFile(path("src/Photos/3.jpg"), "three");
    const QuillbarrowError protectedObject = QuillbarrowError::backendProtocolError("Object is write-protected");
    session->script({.operation = Operation::deleteItem, .subject = "old2", .error = protectedObject});

    const auto asked = pasteToDevice({"src/Photos"}, std::nullopt, {answer(Resolution::replace, true)});

    ASSERT_EQ(asked.size(), 1) << "the answer applied to all answers the second clash";
    EXPECT_EQ(asked[0].destinationName, "Photos");
    EXPECT_TRUE(asked[0].transferID.has_value());
    EXPECT_FALSE(session->calls().contains("createFolder Photos")) << "the existing folder is reused";
    // 1.jpg goes up under a temporary name, is renamed once to learn that the device renames, and
    // takes its name only after the old one is gone.
    const QStringList calls = session->calls();
    const qsizetype sent = calls.indexOf(QRegularExpression("^upload quillbarrow-upload-.*"));
    const qsizetype probed = calls.indexOf(QRegularExpression("^rename \\S+ quillbarrow-upload-.*"));
    const qsizetype deleted = calls.indexOf("delete old1");
    const qsizetype named = calls.indexOf(QRegularExpression("^rename \\S+ 1\\.jpg$"));
    EXPECT_TRUE(sent >= 0 && sent < probed && probed < deleted && deleted < named) << calls.join(" | ").toStdString();
    EXPECT_EQ(calls.filter(QRegularExpression("^rename \\S+ quillbarrow-upload-")).size(), 1)
        << "the session is asked once whether it renames";
    EXPECT_EQ(calls.filter(QRegularExpression("^upload [123]\\.jpg$")), QStringList{"upload 3.jpg"})
        << "replacing files go up under temporary names";

    // The old 2.jpg could not be deleted, so the new one cannot take its name: the old one stays,
    // the new one is taken away again, and the job says why.
    EXPECT_EQ(deviceNames("photos"), (QStringList{"1.jpg", "2.jpg", "3.jpg"}));
    EXPECT_EQ(deviceChild("photos", "1.jpg")->size, 7);
    EXPECT_EQ(deviceChild("photos", "2.jpg")->size, 20);
    EXPECT_EQ(sorted(shownJobs()), (QStringList{"1.jpg: completed", "2.jpg: failed", "3.jpg: completed"}));
    EXPECT_EQ(queue->job(jobNamed("2.jpg"))->state.error(), protectedObject);
    EXPECT_EQ(coordinator->lastError(), protectedObject);
}

TEST_F(UploadTest, KeepBothNumbersPastTheDeviceAndTheBatchAndSameNamesInOneBatchAreAskedAbout)
{
    // A name of the most bytes a file system takes: its Keep Both name must fit as well.
    const QString longName = QString(251, QLatin1Char('l')) + QStringLiteral(".jpg");
    useDevice({deviceFile("p", "photo.jpg", 1), deviceFile("l", longName, 1)});
    writeFile(path("x/photo.jpg"), "x");
    writeFile(path("y/photo.jpg"), "yy");
    writeFile(path("x/note.txt"), "first");
    writeFile(path("y/note.txt"), "second!");
    writeFile(path("x/") + longName, "long");
    LogCapture log;

    const auto asked = pasteToDevice(
        {"x/photo.jpg", "y/photo.jpg", "x/note.txt", "y/note.txt", "x/" + longName}, std::nullopt,
        {answer(Resolution::keepBoth), answer(Resolution::keepBoth), answer(Resolution::replace),
         answer(Resolution::keepBoth)});

    ASSERT_EQ(asked.size(), 4);
    EXPECT_EQ(asked[2].fileName, "note.txt") << "a name an earlier file of the batch takes is a clash too";
    EXPECT_EQ(asked[2].destinationName, "the destination folder");
    const QString longKept = QString(249, QLatin1Char('l')) + QStringLiteral(" 2.jpg");
    EXPECT_EQ(deviceNames(), (QStringList{longKept, longName, "note.txt", "photo 2.jpg", "photo 3.jpg", "photo.jpg"}));
    EXPECT_EQ(deviceChild(std::nullopt, "photo 3.jpg")->size, 2);
    EXPECT_EQ(deviceChild(std::nullopt, "note.txt")->size, 7) << "Replace let the later file take the name";
    EXPECT_EQ(shownJobs(), (QStringList{"photo 2.jpg: completed", "photo 3.jpg: completed", "note.txt: completed",
                                        longKept + ": completed"}));
    EXPECT_TRUE(log.lines().contains("uploaded photo 2.jpg")) << "the log names the Keep Both name";
    EXPECT_TRUE(log.lines().contains("uploaded photo 3.jpg"));
    EXPECT_EQ(coordinator->uniqueName("archive.tar.gz", {"archive.tar.gz"}), "archive.tar 2.gz");
    EXPECT_EQ(coordinator->uniqueName("README", {"README", "README 2"}), "README 3");
    EXPECT_EQ(coordinator->uniqueName("Caf\u00e9", {"Cafe\u0301"}), "Caf\u00e9 2") << "canonically equal names clash";
    EXPECT_EQ(coordinator->uniqueName("CAFE", {"cafe"}), "CAFE") << "letter case matters";
}

// From the moment Keep Both is answered, the row names the file being written, not only once it is
// complete: for a file downloaded on its own and for uploads, whose rows exist before the question.
TEST_F(UploadTest, ARowNamesTheKeepBothNameWhileItsFileIsWritten)
{
    const RemoteItem phoneFile = deviceFile("a", "a.txt", 1);
    useDevice({phoneFile, deviceFolder("F", "F"), deviceFile("fa", "a.txt", 1, "F")});
    writeFile(path("mac/F/a.txt"), "a in F");
    writeFile(path("dest/a.txt"), "the user's");
    const std::tuple<const char*, Operation, std::function<void()>> cases[] = {
        {"a file downloaded on its own", Operation::downloadFile,
         [&] { pasteToLocal({phoneFile}, path("dest"), {answer(Resolution::keepBoth)}); }},
        {"a file uploaded on its own", Operation::uploadFile,
         [&] { pasteToDevice({"mac/F/a.txt"}, std::nullopt, {answer(Resolution::keepBoth)}); }},
        {"a file of an uploaded folder", Operation::uploadFile,
         [&] { pasteToDevice({"mac/F"}, std::nullopt, {answer(Resolution::keepBoth)}); }},
    };
    for (const auto& [name, writing, paste] : cases) {
        SCOPED_TRACE(name);
        coordinator->clearCompletedTransfers();
        QStringList whileWritten;
        session->script({.operation = writing, .onCall = [&] { whileWritten = shownJobs(); }});
        paste();
        EXPECT_EQ(whileWritten, QStringList{"a 2.txt: running"});
        EXPECT_EQ(shownJobs(), QStringList{"a 2.txt: completed"});
    }
}

TEST_F(UploadTest, AFailingListingCountsAsAnEmptyFolder)
{
    useDevice({deviceFile("a", "a.txt", 1)});
    writeFile(path("src/a.txt"), "abc");
    session->script({.operation = Operation::rootDirectory, .error = QuillbarrowError::transferInterrupted()});

    EXPECT_TRUE(pasteToDevice({"src/a.txt"}, std::nullopt).isEmpty()) << "no clash can be seen, so none is asked";
    EXPECT_EQ(deviceNames(), (QStringList{"a.txt", "a.txt"}));
    EXPECT_EQ(shownJobs(), QStringList{"a.txt: completed"});
    EXPECT_FALSE(coordinator->lastError().has_value());
}

TEST_F(UploadTest, AFailingFolderCreationFailsOnlyThatFileAndTheNextOneTriesAgain)
{
    writeFile(path("src/Photos/1.jpg"), "1");
    writeFile(path("src/Photos/2.jpg"), "2");
    const QuillbarrowError busy = QuillbarrowError::transferFailed("Device busy");
    session->script({.operation = Operation::createFolder, .subject = "Photos", .error = busy});

    pasteToDevice({"src/Photos"}, std::nullopt);

    EXPECT_EQ(session->calls().count("createFolder Photos"), 2) << "a failed folder does not enter the cache";
    QList<Kind> kinds;
    for (const TransferJob& job : coordinator->transferJobs()) {
        kinds.append(job.state.kind());
    }
    EXPECT_EQ(kinds, (QList<Kind>{Kind::failed, Kind::completed}));
    EXPECT_EQ(coordinator->transferJobs().front().state.error(), busy);
    EXPECT_EQ(coordinator->lastError(), busy);
    EXPECT_EQ(deviceNames(), QStringList{"Photos"});
}

TEST_F(UploadTest, CancellingARunningUploadEndsItCancelledAndTheBatchGoesOn)
{
    writeFile(path("src/big.bin"), QByteArray(4096, 'b'));
    writeFile(path("src/small.txt"), "s");
    OneShot<bool> release;
    session->script({.operation = Operation::uploadFile, .subject = "big.bin", .hold = release, .reportBytes = 1024});
    clipboard.copyLocal({QUrl::fromLocalFile(path("src/big.bin")), QUrl::fromLocalFile(path("src/small.txt"))});
    LogCapture log;

    auto paste = coordinator->pasteIntoDevice(std::nullopt, testStorage(), session);
    ASSERT_TRUE(processEventsUntil([&] { return session->calls().contains("upload big.bin"); }));
    const TransferID big = jobNamed("big.bin");
    EXPECT_EQ(queue->job(big)->state.kind(), Kind::running);
    coordinator->cancelTransfer(big);
    EXPECT_EQ(queue->job(big)->state.kind(), Kind::cancelling);
    release.fulfil(true);
    runTask(std::move(paste));

    EXPECT_EQ(shownJobs(), (QStringList{"big.bin: cancelled", "small.txt: completed"}));
    EXPECT_EQ(deviceNames(), QStringList{"small.txt"});
    EXPECT_TRUE(log.lines().contains("cancelled upload big.bin"));
    EXPECT_FALSE(coordinator->lastError().has_value());
}

TEST_F(UploadTest, ACancelWhileAFolderIsCreatedStopsBeforeTheUpload)
{
    writeFile(path("src/Photos/1.jpg"), "1");
    session->script({.operation = Operation::createFolder,
                     .subject = "Photos",
                     .onCall = [this] { coordinator->cancelTransfer(jobNamed("1.jpg")); }});
    LogCapture log;

    pasteToDevice({"src/Photos"}, std::nullopt);

    EXPECT_EQ(shownJobs(), QStringList{"1.jpg: cancelled"});
    EXPECT_FALSE(session->calls().contains("upload 1.jpg"));
    EXPECT_EQ(log.lines().filter("upload").join('|'), "started upload 1.jpg") << "no cancelled-upload line";
}

TEST_F(UploadTest, CancelAtAQuestionCancelsTheWholeBatchAndUploadsNothing)
{
    useDevice({deviceFile("a", "a.txt", 1)});
    writeFile(path("src/a.txt"), "a");
    writeFile(path("src/b.txt"), "b");

    const auto asked = pasteToDevice({"src/b.txt", "src/a.txt"}, std::nullopt, {cancelAnswer()});

    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(shownJobs(), (QStringList{"b.txt: cancelled", "a.txt: cancelled"})) << "planned ones included";
    EXPECT_TRUE(session->calls().filter("upload").isEmpty());
}

// A file whose row is cancelled while its folder on the device is listed is asked nothing about:
// the sheet's Cancel would otherwise cancel every other file of the paste.
TEST_F(UploadTest, AFileCancelledWhileItsDeviceFolderIsListedIsNotAskedAbout)
{
    useDevice({deviceFile("old", "a.txt", 3)});
    writeFile(path("src/a.txt"), "new");
    writeFile(path("src/b.txt"), "b");
    session->script({.operation = Operation::rootDirectory, .onCall = [&] {
                         coordinator->cancelTransfer(jobNamed("a.txt"));
                     }});

    const auto asked = pasteToDevice({"src/a.txt", "src/b.txt"}, std::nullopt, {cancelAnswer()});

    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(shownJobs(), (QStringList{"a.txt: cancelled", "b.txt: completed"}));
    EXPECT_EQ(deviceChild(std::nullopt, "a.txt")->size, 3) << "the old file is untouched";
}

TEST_F(UploadTest, SkipLeavesNoTraceAndUnsupportedOrEmptyClipboardsMakeNoJob)
{
    useDevice({deviceFile("a", "a.txt", 1)});
    writeFile(path("src/a.txt"), "a");
    pasteToDevice({"src/a.txt"}, std::nullopt, {answer(Resolution::skip)});
    EXPECT_TRUE(shownJobs().isEmpty());
    EXPECT_TRUE(session->calls().filter("upload").isEmpty());

    QDir().mkpath(path("src/empty"));
    writeFile(path("src/only-hidden/.x"), "");
    pasteToDevice({"src/empty", "src/only-hidden", "src/vanished.txt"}, std::nullopt);
    EXPECT_TRUE(queue->allJobs().isEmpty());
    EXPECT_FALSE(coordinator->lastError().has_value());

    clipboard.copyDevice({deviceFile("a", "a.txt", 1)}, testStorage());
    runTask(coordinator->pasteIntoDevice(std::nullopt, testStorage(), session));
    ASSERT_TRUE(coordinator->lastError().has_value());
    EXPECT_EQ(coordinator->lastError()->kind(), QuillbarrowError::Kind::unsupportedOperation);
    EXPECT_EQ(coordinator->lastError()->technicalDetails(), "Copying within the Android device is not supported yet.");
    EXPECT_TRUE(queue->allJobs().isEmpty());
}

// A folder reached again through a link is walked once; a link to a folder that holds it (which
// would be walked for ever) fails a job of its own, naming it.
TEST_F(UploadTest, ALinkLoopInAPastedFolderIsWalkedOnce)
{
    writeFile(path("loop/file.txt"), "f");
    writeFile(path("loop/sub/inner.txt"), "i");
    ASSERT_TRUE(QFile::link(".", path("loop/self")));
    ASSERT_TRUE(QFile::link("..", path("loop/sub/up")));
    ASSERT_TRUE(QFile::link(path("loop/sub"), path("loop/again")));

    const QList<UploadCandidate> candidates = CoordinatorHarness::collectUploadCandidates(
        {QUrl::fromLocalFile(path("loop")), QUrl::fromLocalFile(path("loop/./file.txt"))});
    QStringList names;
    for (const UploadCandidate& candidate : candidates) {
        names.append(QDir(path("loop")).relativeFilePath(candidate.path));
    }
    EXPECT_EQ(names.size(), 4) << names.join(", ").toStdString();
    EXPECT_TRUE(names.contains("file.txt"));
    EXPECT_TRUE(names.contains("self"));

    pasteToDevice({"loop"}, std::nullopt);
    EXPECT_EQ(sorted(shownJobs()),
              (QStringList{"file.txt: completed", "inner.txt: completed", "self: failed", "up: failed"}));
    const std::optional<TransferJob> self = queue->job(jobNamed("self"));
    ASSERT_TRUE(self.has_value());
    EXPECT_EQ(self->state.error()->technicalDetails(),
              "Could not send " + path("loop/self") + ": its symbolic links form a loop.");
    const RemoteItem loop = *deviceChild(std::nullopt, "loop");
    EXPECT_EQ(deviceNames(loop.id.rawValue()).size(), 2);
}

// Planning lets events in between items (here before every one): a paste or a Cancel All that
// arrives meanwhile must not change whose jobs run first or leave any job of the paste running.
TEST_F(UploadTest, PastesArrivingWhilePlanningLetsEventsInKeepTheirTurnAndTheirJobsTogether)
{
    coordinator->setPlanningSlice(std::chrono::nanoseconds(0));
    useDevice({deviceFile("d", "d.txt", 1)});
    for (const QString name : {"a1.txt", "a2.txt", "a3.txt", "b.txt"}) {
        writeFile(path("src/" + name), "x");
    }
    QDir().mkpath(path("dest"));
    clipboard.copyLocal({QUrl::fromLocalFile(path("src/a1.txt")), QUrl::fromLocalFile(path("src/a2.txt")),
                         QUrl::fromLocalFile(path("src/a3.txt"))});
    std::optional<QCoro::Task<>> second;
    std::optional<QCoro::Task<>> third;
    qsizetype jobsShownOnArrival = 0;
    whenFirstJobsShow([&] {
        jobsShownOnArrival = shownJobs().size();
        clipboard.copyLocal({QUrl::fromLocalFile(path("src/b.txt"))});
        second.emplace(coordinator->pasteIntoDevice(std::nullopt, testStorage(), session));
        clipboard.copyDevice({deviceFile("d", "d.txt", 1)}, testStorage());
        third.emplace(coordinator->pasteIntoLocal(QUrl::fromLocalFile(path("dest")), session));
    });
    runTask(coordinator->pasteIntoDevice(std::nullopt, testStorage(), session));
    ASSERT_TRUE(second && third);
    EXPECT_LT(jobsShownOnArrival, 3) << "the others arrived while the first paste was making its jobs";
    runTask(std::move(*second));
    runTask(std::move(*third));

    EXPECT_EQ(shownJobs(), (QStringList{"a1.txt: completed", "a2.txt: completed", "a3.txt: completed",
                                        "b.txt: completed", "d.txt: completed"}));
    const QStringList transfers = session->calls().filter(QRegularExpression("^(upload|download) "));
    EXPECT_EQ(transfers, (QStringList{"upload a1.txt", "upload a2.txt", "upload a3.txt", "upload b.txt", "download d"}));
}

TEST_F(UploadTest, CancelAllWhileAPasteMakesItsJobsCancelsTheLaterJobsToo)
{
    coordinator->setPlanningSlice(std::chrono::nanoseconds(0));
    for (const QString name : {"1.txt", "2.txt", "3.txt"}) {
        writeFile(path("src/" + name), "x");
    }
    clipboard.copyLocal({QUrl::fromLocalFile(path("src/1.txt")), QUrl::fromLocalFile(path("src/2.txt")),
                         QUrl::fromLocalFile(path("src/3.txt"))});
    qsizetype jobsShownOnCancel = 0;
    whenFirstJobsShow([&] {
        jobsShownOnCancel = shownJobs().size();
        coordinator->cancelAllTransfers();
    });
    runTask(coordinator->pasteIntoDevice(std::nullopt, testStorage(), session));

    EXPECT_GT(jobsShownOnCancel, 0);
    EXPECT_LT(jobsShownOnCancel, 3) << "the cancel came while the paste was making its jobs";

    EXPECT_EQ(shownJobs(), (QStringList{"1.txt: cancelled", "2.txt: cancelled", "3.txt: cancelled"}));
    EXPECT_TRUE(session->calls().filter("upload").isEmpty());
}

TEST_F(UploadTest, ACancelClickedAfterTheFirstFileArrivedStopsTheFilesNotYetSentEvenWhenTheDeviceAnswersAtOnce)
{
    coordinator->setPlanningSlice(std::chrono::nanoseconds(0));
    QList<QUrl> sources;
    for (const QString name : {"1.txt", "2.txt", "3.txt"}) {
        writeFile(path("src/" + name), "x");
        sources.append(QUrl::fromLocalFile(path("src/" + name)));
    }
    clipboard.copyLocal(sources);
    // The click arrives as an event once the first file is done; the session never makes the
    // paste wait, so only the paste itself can let the click in before the other files go.
    bool clicked = false;
    QObject::connect(coordinator.get(), &TransferCoordinator::transferJobsChanged, coordinator.get(), [&] {
        if (!clicked && shownJobs().contains("1.txt: completed")) {
            clicked = true;
            QMetaObject::invokeMethod(coordinator.get(), [&] { coordinator->cancelAllTransfers(); },
                                      Qt::QueuedConnection);
        }
    });
    runTask(coordinator->pasteIntoDevice(std::nullopt, testStorage(), session));

    EXPECT_EQ(shownJobs(), (QStringList{"1.txt: completed", "2.txt: cancelled", "3.txt: cancelled"}));
    EXPECT_EQ(deviceNames(), QStringList{"1.txt"});
}
