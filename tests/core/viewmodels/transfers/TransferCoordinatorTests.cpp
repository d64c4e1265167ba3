#include "CoordinatorHarness.h"
#include "DeviceTransferFixture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = TransferState::Kind;

namespace {

QCoro::Task<std::optional<ConflictResolution>> ask(CoordinatorHarness* coordinator, std::optional<TransferID> jobID,
                                                   QString fileName)
{
    co_return co_await coordinator->requestResolution(jobID, fileName, QStringLiteral("Downloads"));
}

QCoro::Task<> takeGate(CoordinatorHarness* coordinator, int id, std::vector<int>* order, OneShot<bool> hold)
{
    AsyncGate::Lease lease = co_await coordinator->acquireTransferWorkflow();
    EXPECT_TRUE(static_cast<bool>(lease));
    order->push_back(id);
    const std::optional<bool> released = co_await hold.wait();
    Q_UNUSED(released)
    order->push_back(-id);
}

// A device download as a workflow runs one: queued, then the gate, then the transfer with the
// coordinator's progress callback, then the ending through the queue.
QCoro::Task<> heldDownload(CoordinatorHarness* coordinator, std::shared_ptr<HeldDownloadSession> session,
                           TransferID jobID, QString destination, std::vector<QString>* events)
{
    AsyncGate::Lease lease = co_await coordinator->acquireTransferWorkflow();
    if (!coordinator->canStartTransfer(jobID)) {
        co_return;
    }
    coordinator->transferQueue()->start(jobID, QDateTime::currentDateTimeUtc());
    coordinator->refreshTransferJobs();
    events->push_back(QStringLiteral("download started"));
    const TransferProgressFunction progress = coordinator->makeProgressFunction(jobID, 4096, nullptr);
    try {
        co_await session->downloadFile(RemoteObjectID(QStringLiteral("9")), destination, progress);
        coordinator->transferQueue()->complete(jobID);
    } catch (const QuillbarrowError&) {
        coordinator->transferQueue()->cancel(jobID);
    }
    coordinator->dropCancellationToken(jobID);
    coordinator->refreshTransferJobs();
    events->push_back(QStringLiteral("download ended"));
}

} // namespace

TEST(TransferCoordinator, PublishesTheQueueInEnqueueOrderOnEveryChange)
{
    CoordinatorFixture fixture;
    QSignalSpy jobsSpy(&fixture.coordinator, &TransferCoordinator::transferJobsChanged);
    const TransferID a = fixture.addJob(QStringLiteral("a"));
    const TransferID b = fixture.addJob(QStringLiteral("b"));
    const TransferID c = fixture.addJob(QStringLiteral("c"));
    ASSERT_EQ(fixture.coordinator.transferJobs().size(), 3);
    EXPECT_EQ(fixture.coordinator.transferJobs()[0].id, a);
    EXPECT_EQ(fixture.coordinator.transferJobs()[1].id, b);
    EXPECT_EQ(fixture.coordinator.transferJobs()[2].id, c);
    fixture.coordinator.refreshTransferJobs();
    EXPECT_EQ(jobsSpy.count(), 4) << "an unchanged list is still announced";

    QSignalSpy errorSpy(&fixture.coordinator, &TransferCoordinator::lastErrorChanged);
    fixture.coordinator.reportError(QuillbarrowError::insufficientSpace());
    fixture.coordinator.reportError(QuillbarrowError::insufficientSpace());
    EXPECT_EQ(fixture.coordinator.lastError(), QuillbarrowError::insufficientSpace());
    fixture.coordinator.clearLastError();
    EXPECT_FALSE(fixture.coordinator.lastError().has_value());
    EXPECT_EQ(errorSpy.count(), 3);
}

TEST(TransferCoordinator, ThePublishedListIsTheQueueInSequenceOrderAfterEveryKindOfChange)
{
    Clipboard clipboard;
    auto queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    const auto newJob = [](const QString& name) {
        return TransferJob(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer, name,
                           100, TransferState::queued(), 0);
    };
    const TransferJob early = queue->enqueue(newJob(QStringLiteral("early")));
    CoordinatorHarness coordinator(&clipboard, queue);
    const auto queueInOrder = [&queue] {
        QList<TransferJob> jobs = queue->allJobs();
        std::sort(jobs.begin(), jobs.end(), [](const TransferJob& a, const TransferJob& b) { return a.sequence < b.sequence; });
        return jobs;
    };
    const auto shownNames = [&coordinator] {
        QStringList names;
        for (const TransferJob& job : coordinator.transferJobs()) {
            names.append(job.displayName);
        }
        return names;
    };
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::vector<TransferID> ids;
    const auto add = [&](const char* name) { ids.push_back(queue->enqueue(newJob(QString::fromUtf8(name))).id); };

    struct Step {
        const char* what;
        std::function<void()> change;
        QStringList shown;
    };
    const std::vector<Step> steps{
        {"a job queued before the coordinator existed", [] {}, {"early"}},
        {"many queued at once", [&] {
             for (const char* name : {"a", "b", "c", "d"}) {
                 add(name);
             }
         }, {"early", "a", "b", "c", "d"}},
        {"changes in place", [&] {
             queue->start(ids[1], now);
             queue->updateProgress(ids[1], 50, now);
             queue->awaitConfirmation(ids[2]);
             queue->fail(ids[3], QuillbarrowError::permissionDenied());
         }, {"early", "a", "b", "c", "d"}},
        {"removed from the front and the middle, one added", [&] {
             queue->remove(early.id);
             queue->remove(ids[2]);
             add("e");
         }, {"a", "b", "d", "e"}},
        {"queued again under its id: to the end", [&] {
             TransferJob again = *queue->job(ids[0]);
             again.displayName = QStringLiteral("a again");
             queue->enqueue(again);
         }, {"b", "d", "e", "a again"}},
        {"queued and removed between two refreshes", [&] {
             add("gone");
             queue->remove(ids.back());
         }, {"b", "d", "e", "a again"}},
        {"one completed, the rest cancelled, one removed", [&] {
             queue->complete(ids[4]);
             add("f");
             queue->cancelAll();
             queue->remove(ids[1]);
         }, {"d", "e", "a again", "f"}},
        {"the finished cleared", [&] { queue->clearTerminal(); }, {}},
        {"nothing changed", [] {}, {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const QList<TransferJob> before = coordinator.transferJobs();
        step.change();
        EXPECT_EQ(coordinator.transferJobs(), before) << "nothing shows before the refresh";
        QSignalSpy jobsSpy(&coordinator, &TransferCoordinator::transferJobsChanged);
        coordinator.refreshTransferJobs();
        EXPECT_EQ(jobsSpy.count(), 1);
        EXPECT_EQ(coordinator.transferJobs(), queueInOrder());
        EXPECT_EQ(shownNames(), step.shown);
    }
}

TEST(TransferCoordinator, AStepOfOneJobChangesItsRowInPlace)
{
    CoordinatorFixture fixture;
    std::vector<TransferID> ids;
    for (int index = 0; index < 500; ++index) {
        ids.push_back(fixture.addJob(QString::number(index)));
    }
    const TransferJob* rows = fixture.coordinator.transferJobs().constData();

    fixture.queue->start(ids[250], QDateTime::currentDateTimeUtc());
    fixture.coordinator.refreshTransferJobs();
    fixture.queue->complete(ids[250]);
    fixture.queue->cancel(ids[0]);
    fixture.coordinator.refreshTransferJobs();

    // The list was neither rebuilt nor copied: a paste of thousands of files would otherwise copy
    // and sort every job after each step of each one.
    EXPECT_EQ(fixture.coordinator.transferJobs().constData(), rows);
    EXPECT_EQ(fixture.coordinator.transferJobs()[250].state, TransferState::completed());
    EXPECT_EQ(fixture.coordinator.transferJobs()[0].state, TransferState::cancelled());
    EXPECT_EQ(fixture.coordinator.transferJobs()[499].id, ids[499]);
}

TEST(TransferCoordinator, UsesTheGivenCacheFolder)
{
    Clipboard clipboard;
    TransferCoordinator coordinator(&clipboard, std::make_shared<TransferQueue>(AppLogger(QStringLiteral("q"))),
                                    AppLogger(QStringLiteral("c")), QStringLiteral("/somewhere/cache"));
    EXPECT_EQ(coordinator.openedFilesCacheDirectory(), "/somewhere/cache");
    EXPECT_EQ(coordinator.keptCopiesFolder(), "/somewhere/Replaced Files");

    // By default the kept copies of replaced phone files, which may be the only whole ones, are
    // in the user's data folder, not in a cache folder that anyone may empty.
    const QTemporaryDir home;
    const auto restore = [](const char* name, std::optional<QByteArray> value) {
        value ? qputenv(name, *value) : qunsetenv(name);
    };
    const auto valueOf = [](const char* name) {
        return qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    };
    const std::optional<QByteArray> dataBefore = valueOf("XDG_DATA_HOME");
    const std::optional<QByteArray> cacheBefore = valueOf("XDG_CACHE_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    TransferCoordinator defaulted(&clipboard, std::make_shared<TransferQueue>(AppLogger(QStringLiteral("q"))),
                                  AppLogger(QStringLiteral("c")), std::nullopt);
    EXPECT_EQ(defaulted.openedFilesCacheDirectory(), home.filePath(QStringLiteral("cache/Quillbarrow/Opened Files")));
    EXPECT_EQ(defaulted.keptCopiesFolder(), home.filePath(QStringLiteral("data/Quillbarrow/Replaced Files")));
    restore("XDG_DATA_HOME", dataBefore);
    restore("XDG_CACHE_HOME", cacheBefore);
}

TEST(TransferCoordinator, CancellingAQueuedJobStopsItFromStarting)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("a"));
    EXPECT_TRUE(fixture.coordinator.canStartTransfer(id));
    fixture.coordinator.cancelTransfer(id);
    EXPECT_EQ(fixture.coordinator.transferJobs().front().state, TransferState::cancelled());
    EXPECT_FALSE(fixture.coordinator.canStartTransfer(id));
    EXPECT_TRUE(fixture.coordinator.cancellationToken(id)->isCancelled());

    // A flag alone also keeps a still-queued job from starting; a missing flag does not.
    const TransferID flagged = fixture.addJob(QStringLiteral("b"));
    fixture.coordinator.requestCancellationForAllTransfers();
    EXPECT_EQ(fixture.kindOf(flagged), Kind::queued);
    EXPECT_FALSE(fixture.coordinator.canStartTransfer(flagged));
    const TransferID untracked = fixture.addJob(QStringLiteral("c"));
    fixture.coordinator.dropCancellationToken(untracked);
    EXPECT_TRUE(fixture.coordinator.canStartTransfer(untracked));
}

TEST(TransferCoordinator, CancellingARunningJobFlagsItAndShowsItCancellingUntilItStops)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("a"));
    fixture.queue->start(id, QDateTime::currentDateTimeUtc());
    const auto token = fixture.coordinator.cancellationToken(id);
    fixture.coordinator.cancelTransfer(id);
    EXPECT_TRUE(token->isCancelled());
    EXPECT_EQ(fixture.coordinator.transferJobs().front().state.kind(), Kind::cancelling);
}

TEST(TransferCoordinator, CancellingFinishedOrUnknownJobsChangesNothing)
{
    CoordinatorFixture fixture;
    const TransferID done = fixture.addJob(QStringLiteral("a"));
    fixture.queue->complete(done);
    const TransferID failed = fixture.addJob(QStringLiteral("b"));
    fixture.queue->fail(failed, QuillbarrowError::permissionDenied());
    fixture.coordinator.cancelTransfer(done);
    fixture.coordinator.cancelTransfer(failed);
    QSignalSpy jobsSpy(&fixture.coordinator, &TransferCoordinator::transferJobsChanged);
    fixture.coordinator.cancelTransfer(TransferID::create());
    EXPECT_EQ(jobsSpy.count(), 1) << "an unknown id only refreshes the list";
    EXPECT_EQ(fixture.kindOf(done), Kind::completed);
    EXPECT_EQ(fixture.job(failed).state, TransferState::failed(QuillbarrowError::permissionDenied()));
}

TEST(TransferCoordinator, CancelAllMarksEveryUnfinishedJobCancelledAtOnce)
{
    CoordinatorFixture fixture;
    const TransferID queued = fixture.addJob(QStringLiteral("a"));
    const TransferID running = fixture.addJob(QStringLiteral("b"));
    fixture.queue->start(running, QDateTime::currentDateTimeUtc());
    const TransferID done = fixture.addJob(QStringLiteral("c"));
    fixture.queue->complete(done);
    const auto runningToken = fixture.coordinator.cancellationToken(running);

    fixture.coordinator.cancelAllTransfers();
    EXPECT_TRUE(runningToken->isCancelled());
    ASSERT_EQ(fixture.coordinator.transferJobs().size(), 3);
    EXPECT_EQ(fixture.coordinator.transferJobs()[0].state, TransferState::cancelled());
    EXPECT_EQ(fixture.coordinator.transferJobs()[1].state, TransferState::cancelled());
    EXPECT_EQ(fixture.coordinator.transferJobs()[2].state, TransferState::completed());
    EXPECT_EQ(fixture.coordinator.transferJobs()[0].id, queued);
}

TEST(TransferCoordinator, ClearingKeepsUnfinishedJobsInOrderAndForgetsTheOthersFlags)
{
    CoordinatorFixture fixture;
    const TransferID done = fixture.addJob(QStringLiteral("a"));
    const TransferID queued = fixture.addJob(QStringLiteral("b"));
    const TransferID running = fixture.addJob(QStringLiteral("c"));
    const TransferID waiting = fixture.addJob(QStringLiteral("d"));
    fixture.queue->complete(done);
    fixture.queue->start(running, QDateTime::currentDateTimeUtc());
    fixture.queue->awaitConfirmation(waiting);
    const auto doneToken = fixture.coordinator.cancellationToken(done);
    const auto runningToken = fixture.coordinator.cancellationToken(running);

    fixture.coordinator.clearCompletedTransfers();
    ASSERT_EQ(fixture.coordinator.transferJobs().size(), 3);
    EXPECT_EQ(fixture.coordinator.transferJobs()[0].id, queued);
    EXPECT_EQ(fixture.coordinator.transferJobs()[1].id, running);
    EXPECT_EQ(fixture.coordinator.transferJobs()[2].id, waiting);
    EXPECT_EQ(fixture.coordinator.cancellationToken(running), runningToken);
    EXPECT_NE(fixture.coordinator.cancellationToken(done), doneToken) << "the finished job's flag was dropped";
}

TEST(ConflictQuestions, AQuestionWithAJobShowsItAwaitingAndTheAnswerReturnsIt)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("photo.jpg"));
    auto question = ask(&fixture.coordinator, id, QStringLiteral("photo.jpg"));
    ASSERT_TRUE(fixture.coordinator.pendingConflict().has_value());
    const ConflictRequest request = *fixture.coordinator.pendingConflict();
    EXPECT_EQ(request.transferID, id);
    EXPECT_EQ(request.fileName, "photo.jpg");
    EXPECT_EQ(request.destinationName, "Downloads");
    EXPECT_EQ(fixture.coordinator.transferJobs().front().state.kind(), Kind::awaitingConfirmation);
    EXPECT_TRUE(fixture.queue->hasActiveJobs());
    EXPECT_FALSE(fixture.queue->hasRunningJobs());

    fixture.coordinator.resolveConflict(ConflictResolution::keepBoth, false);
    EXPECT_FALSE(fixture.coordinator.pendingConflict().has_value());
    EXPECT_EQ(runTask(std::move(question)), ConflictResolution::keepBoth);
    EXPECT_EQ(fixture.kindOf(id), Kind::queued);

    // Not applied to all: the next question is asked again, with a new id.
    auto next = ask(&fixture.coordinator, std::nullopt, QStringLiteral("b.jpg"));
    ASSERT_TRUE(fixture.coordinator.pendingConflict().has_value());
    EXPECT_NE(fixture.coordinator.pendingConflict()->id, request.id);
    fixture.coordinator.cancelConflicts();
    EXPECT_EQ(runTask(std::move(next)), std::nullopt);
}

TEST(ConflictQuestions, AnAnswerAppliedToAllHoldsUntilTheNextBatchClearsIt)
{
    CoordinatorFixture fixture;
    auto first = ask(&fixture.coordinator, std::nullopt, QStringLiteral("a"));
    fixture.coordinator.resolveConflict(ConflictResolution::replace, true);
    EXPECT_EQ(runTask(std::move(first)), ConflictResolution::replace);

    const TransferID id = fixture.addJob(QStringLiteral("b"));
    QSignalSpy questionSpy(&fixture.coordinator, &TransferCoordinator::pendingConflictChanged);
    QSignalSpy jobsSpy(&fixture.coordinator, &TransferCoordinator::transferJobsChanged);
    EXPECT_EQ(runTask(ask(&fixture.coordinator, id, QStringLiteral("b"))), ConflictResolution::replace);
    EXPECT_EQ(questionSpy.count(), 0) << "no sheet";
    EXPECT_EQ(jobsSpy.count(), 0) << "the job never passes through awaiting confirmation";

    fixture.coordinator.clearStickyResolution();
    auto again = ask(&fixture.coordinator, std::nullopt, QStringLiteral("c"));
    EXPECT_TRUE(fixture.coordinator.pendingConflict().has_value());
    // A cancel is never sticky.
    fixture.coordinator.cancelConflicts();
    EXPECT_EQ(runTask(std::move(again)), std::nullopt);
    auto afterCancel = ask(&fixture.coordinator, std::nullopt, QStringLiteral("d"));
    EXPECT_TRUE(fixture.coordinator.pendingConflict().has_value());
    fixture.coordinator.resolveConflict(ConflictResolution::skip, false);
    EXPECT_EQ(runTask(std::move(afterCancel)), ConflictResolution::skip);
}

TEST(ConflictQuestions, CancellingTheJobInQuestionClosesTheSheetAndStopsTheBatch)
{
    CoordinatorFixture fixture;
    const TransferID asked = fixture.addJob(QStringLiteral("a"));
    const TransferID other = fixture.addJob(QStringLiteral("b"));
    auto question = ask(&fixture.coordinator, asked, QStringLiteral("a"));

    fixture.coordinator.cancelTransfer(other);
    EXPECT_TRUE(fixture.coordinator.pendingConflict().has_value()) << "another job leaves the question open";

    fixture.coordinator.cancelTransfer(asked);
    EXPECT_FALSE(fixture.coordinator.pendingConflict().has_value());
    EXPECT_EQ(runTask(std::move(question)), std::nullopt) << "answered with cancel-all";
    EXPECT_EQ(fixture.kindOf(asked), Kind::cancelled) << "stays cancelled after the question ends";
}

TEST(ConflictQuestions, CancelAllTransfersLeavesAnOpenQuestionAlone)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("a"));
    auto question = ask(&fixture.coordinator, id, QStringLiteral("a"));
    fixture.coordinator.cancelAllTransfers();
    EXPECT_TRUE(fixture.coordinator.pendingConflict().has_value());
    EXPECT_EQ(fixture.kindOf(id), Kind::cancelled);
    fixture.coordinator.resolveConflict(ConflictResolution::replace, false);
    EXPECT_EQ(runTask(std::move(question)), ConflictResolution::replace);
    EXPECT_EQ(fixture.kindOf(id), Kind::cancelled);
}

TEST(ConflictQuestions, AWaitingWorkflowEndsQuietlyWhenTheCoordinatorGoesAway)
{
    auto fixture = std::make_unique<CoordinatorFixture>();
    auto question = ask(&fixture->coordinator, std::nullopt, QStringLiteral("a"));
    fixture.reset();
    EXPECT_EQ(runTask(std::move(question)), std::nullopt);
}

TEST(WorkflowGate, WorkflowsRunOneAtATimeInTheOrderTheyAsked)
{
    CoordinatorFixture fixture;
    std::vector<int> order;
    OneShot<bool> holdFirst;
    OneShot<bool> holdSecond;
    OneShot<bool> holdThird;
    auto first = takeGate(&fixture.coordinator, 1, &order, holdFirst);
    auto second = takeGate(&fixture.coordinator, 2, &order, holdSecond);
    EXPECT_EQ(order, (std::vector<int>{1}));
    holdFirst.fulfil(true);
    // The third asks while the gate is being handed to the second: it still queues behind it.
    auto third = takeGate(&fixture.coordinator, 3, &order, holdThird);
    holdThird.fulfil(true);
    EXPECT_TRUE(processEventsUntil([&] { return order.size() >= 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, -1, 2}));
    holdSecond.fulfil(true);
    runTask(std::move(first));
    runTask(std::move(second));
    runTask(std::move(third));
    EXPECT_EQ(order, (std::vector<int>{1, -1, 2, -2, 3, -3}));

    // Free again: the next one gets it at once.
    OneShot<bool> holdFourth;
    auto fourth = takeGate(&fixture.coordinator, 4, &order, holdFourth);
    EXPECT_EQ(order.back(), 4);
    holdFourth.fulfil(true);
    runTask(std::move(fourth));
}

TEST(WorkflowGate, ALocalPasteWaitsForADeviceTransferHeldOpen)
{
    CoordinatorFixture fixture;
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    writeFile(temp.filePath("mac/notes.txt"), "notes");
    QDir().mkpath(temp.filePath("dest"));
    auto session = std::make_shared<HeldDownloadSession>();
    std::vector<QString> events;

    const TransferID download = fixture.addJob(QStringLiteral("clip.mp4"), 4096);
    auto transfer = heldDownload(&fixture.coordinator, session, download, temp.filePath("dest/clip.mp4"), &events);
    ASSERT_TRUE(session->started);

    fixture.clipboard.copyLocal({QUrl::fromLocalFile(temp.filePath("mac/notes.txt"))});
    QObject observer;
    QObject::connect(&fixture.coordinator, &TransferCoordinator::transferJobsChanged, &observer, [&] {
        const auto& jobs = fixture.coordinator.transferJobs();
        const bool pasteQueued = std::any_of(jobs.begin(), jobs.end(), [](const TransferJob& job) {
            return job.displayName == QStringLiteral("notes.txt");
        });
        if (pasteQueued && std::find(events.begin(), events.end(), QStringLiteral("paste queued")) == events.end()) {
            events.push_back(QStringLiteral("paste queued"));
        }
    });
    auto paste = fixture.coordinator.pasteIntoLocal(QUrl::fromLocalFile(temp.filePath("dest")), nullptr);

    // The first report came from the session's worker thread and reached the panel, while the
    // paste waits at the gate: it has queued nothing and copied nothing.
    EXPECT_TRUE(processEventsUntil([&] {
        const auto progress = fixture.job(download).state.progress();
        return progress && progress->bytesCompleted == 1024;
    }));
    EXPECT_EQ(fixture.queue->allJobs().size(), 1);
    EXPECT_FALSE(QFile::exists(temp.filePath("dest/notes.txt")));
    EXPECT_EQ(fixture.coordinator.transferJobs().front().state.progress()->bytesCompleted, 1024);

    session->release.fulfil(true);
    runTask(std::move(transfer));
    runTask(std::move(paste));
    EXPECT_EQ(events, (std::vector<QString>{"download started", "download ended", "paste queued"}));
    EXPECT_EQ(fixture.kindOf(download), Kind::completed);
    EXPECT_EQ(readFile(temp.filePath("dest/notes.txt")), "notes");
    ASSERT_EQ(fixture.coordinator.transferJobs().size(), 2);
    EXPECT_EQ(fixture.coordinator.transferJobs()[1].displayName, "notes.txt");
    EXPECT_EQ(fixture.coordinator.transferJobs()[1].state, TransferState::completed());
}

TEST(WorkflowGate, CancellingARunningDeviceTransferStopsItAtTheNextReport)
{
    CoordinatorFixture fixture;
    QTemporaryDir temp;
    auto session = std::make_shared<HeldDownloadSession>();
    std::vector<QString> events;
    const TransferID id = fixture.addJob(QStringLiteral("clip.mp4"), 4096);
    auto transfer = heldDownload(&fixture.coordinator, session, id, temp.filePath("clip.mp4"), &events);

    fixture.coordinator.cancelTransfer(id);
    EXPECT_EQ(fixture.coordinator.transferJobs().front().state.kind(), Kind::cancelling);
    session->release.fulfil(true);
    runTask(std::move(transfer));
    EXPECT_EQ(fixture.coordinator.transferJobs().front().state, TransferState::cancelled());
    EXPECT_FALSE(QFile::exists(temp.filePath("clip.mp4")));
}

namespace {

std::vector<std::pair<QString, QString>> capturedLines;

void captureLine(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    capturedLines.emplace_back(QString::fromUtf8(context.category), message);
}

} // namespace

TEST(TransferEngineLog, WritesItsLinesUnderItsCategories)
{
    CoordinatorFixture fixture;
    capturedLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLine);
    const TransferID id = fixture.addJob(QStringLiteral("IMG_0001.jpg"));
    auto question = ask(&fixture.coordinator, std::nullopt, QStringLiteral("IMG_0001.jpg"));
    fixture.coordinator.cancelConflicts();
    runTask(std::move(question));
    fixture.coordinator.cancelTransfer(id);
    fixture.coordinator.reportError(
        QuillbarrowError::sessionFailed(QStringLiteral("No Android device session is open.")));
    qInstallMessageHandler(previous);

    const QString coordinatorCategory = QStringLiteral("com.quillbarrow.app.TransferCoordinator");
    EXPECT_EQ(capturedLines,
              (std::vector<std::pair<QString, QString>>{
                  {"com.quillbarrow.app.TransferQueue", "queued transfer IMG_0001.jpg"},
                  {coordinatorCategory, "waiting for conflict decision for IMG_0001.jpg"},
                  {coordinatorCategory,
                   "cancellation requested for transfer " + id.rawValue().toString(QUuid::WithoutBraces).toUpper()},
                  {coordinatorCategory,
                   "Could not start a file transfer session with this device. No Android device session is open."},
              }));
}

// Items listed in one phone's session are refused in another's or once it ended, before anything is
// asked of it: their ids may name other files there (here the same ids, so a download would go through).
TEST_F(DeviceTransferTest, ItemsListedInAnotherSessionAreRefusedAndNothingIsDownloaded)
{
    useDevice({deviceFile("a", "a.txt", 10)});
    const auto another = std::make_shared<ScriptedDeviceSession>(treeOf({}));
    const std::weak_ptr<const void> listedIn[] = {another, std::make_shared<ScriptedDeviceSession>(treeOf({}))};
    QDir().mkpath(path("dest"));
    for (const auto& other : listedIn) {
        for (const bool paste : {true, false}) {
            SCOPED_TRACE(std::string(other.expired() ? "an ended session, " : "another session, ") +
                         (paste ? "pasted" : "opened"));
            coordinator->clearLastError();
            RemoteItem item = deviceFile("a", "a.txt", 10);
            item.listedIn = ListingSession(1, session->device().id, other);
            if (paste) {
                pasteToLocal({item}, path("dest"));
            } else {
                EXPECT_FALSE(runTask(coordinator->downloadFileForOpening(item, session)));
            }
            EXPECT_EQ(coordinator->lastError(), QuillbarrowError::deviceChanged());
            EXPECT_TRUE(session->calls().isEmpty()) << session->calls().join(", ").toStdString();
            EXPECT_TRUE(coordinator->transferJobs().isEmpty());
            EXPECT_TRUE(QDir(path("dest")).isEmpty());
        }
    }
}
