#include "RunTask.h"
#include "ShellTestSupport.h"

#include "shell/AppMenuBar.h"
#include "shell/MainWindow.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

// Records the start-up calls a window makes, through the signals each call emits at once:
// start() puts a device browser without a selected device into `detecting`, refresh() starts a
// listing, startObservingVolumes() rebuilds the volume list.
struct StartUpRecorder {
    explicit StartUpRecorder(QuillbarrowApp& app)
    {
        QObject::connect(&app.deviceBrowser(), &DeviceBrowserViewModel::connectionPhaseChanged, &context, [this, &app] {
            if (app.deviceBrowser().connectionPhase() == DeviceConnectionPhase::detecting) {
                calls.append(QStringLiteral("start"));
            }
        });
        QObject::connect(&app.localBrowser(), &LocalBrowserViewModel::isLoadingChanged, &context, [this, &app] {
            if (app.localBrowser().isLoading()) {
                calls.append(QStringLiteral("refresh"));
            }
        });
        QObject::connect(&app.localBrowser(), &LocalBrowserViewModel::locationsChanged, &context,
                         [this] { calls.append(QStringLiteral("startObservingVolumes")); });
    }
    QStringList calls;
    QObject context;
};

// A file upload into the mock device's "Download" folder, where "sample.apk" exists, waiting
// for the answer to its name question: an active job of the queue.
struct WaitingUpload {
    explicit WaitingUpload(TransferCoordinator& coordinator)
        : device(MockMTPBackend::defaultDevices().front()), backend(MockMTPBackend::defaultDevices())
    {
        QFile file(folder.filePath(QStringLiteral("sample.apk")));
        file.open(QIODevice::WriteOnly);
        file.write("a newer build");
        file.close();
        session = runTask(backend.openSession(device.id));
        coordinator.clipboard()->copyLocal({QUrl::fromLocalFile(file.fileName())});
        paste.emplace(coordinator.pasteIntoDevice(RemoteObjectID(QStringLiteral("downloads")),
                                                  MockMTPBackend::storageIDFor(device.id), session));
        asked = processEventsUntil([&] { return coordinator.pendingConflict().has_value(); });
        if (!coordinator.transferJobs().isEmpty()) {
            job = coordinator.transferJobs().front().id;
        }
    }
    TransferState::Kind kind(const TransferQueue& queue) const { return queue.job(*job)->state.kind(); }

    QTemporaryDir folder;
    AndroidDevice device;
    MockMTPBackend backend;
    std::shared_ptr<DeviceSession> session;
    std::optional<QCoro::Task<>> paste;
    bool asked = false;
    std::optional<TransferID> job;
};

} // namespace

TEST(QuillbarrowApp, BuildsTheCoordinatorAtOnceAndTheBrowsersForTheFirstWindow)
{
    ShellFixture fixture;
    QuillbarrowApp& app = *fixture.app;
    EXPECT_FALSE(app.isDeviceBrowserBuilt());
    EXPECT_FALSE(app.isLocalBrowserBuilt());
    EXPECT_EQ(app.coordinator().transferQueue(), app.transferQueue());
    EXPECT_EQ(app.coordinator().clipboard(), &app.clipboard());
    EXPECT_EQ(app.backendMode(), BackendMode::mock);

    MainWindow* window = app.openWindow();
    EXPECT_TRUE(app.isDeviceBrowserBuilt());
    EXPECT_TRUE(app.isLocalBrowserBuilt());
    EXPECT_EQ(&window->deviceBrowser(), &app.deviceBrowser());
    EXPECT_EQ(&window->localBrowser(), &app.localBrowser());
    EXPECT_EQ(&window->coordinator(), &app.coordinator());
}

TEST(QuillbarrowApp, ASecondWindowSharesTheViewModelsAndRunsTheStartUpCallsAgainInOrder)
{
    ShellFixture fixture;
    QuillbarrowApp& app = *fixture.app;
    StartUpRecorder recorder(app);
    DeviceBrowserViewModel* browser = &app.deviceBrowser();
    LocalBrowserViewModel* localBrowser = &app.localBrowser();

    MainWindow* first = app.openWindow();
    ASSERT_TRUE(waitUntilShown(first));
    const QStringList startUp = {QStringLiteral("start"), QStringLiteral("refresh"),
                                 QStringLiteral("startObservingVolumes")};
    EXPECT_EQ(recorder.calls.mid(0, 3), startUp);
    // The first listing and device scan settle before the second window opens.
    ASSERT_TRUE(processEventsUntil([&] {
        return !localBrowser->isLoading() && browser->connectionPhase() == DeviceConnectionPhase::idle;
    }));
    recorder.calls.clear();

    MainWindow* second = app.openWindow();
    ASSERT_TRUE(waitUntilShown(second));
    EXPECT_EQ(recorder.calls.mid(0, 3), startUp);
    EXPECT_EQ(&second->deviceBrowser(), browser);
    EXPECT_EQ(&second->localBrowser(), localBrowser);
    EXPECT_EQ(&second->coordinator(), &first->coordinator());
    EXPECT_EQ(&app.deviceBrowser(), browser);
    EXPECT_EQ(&app.localBrowser(), localBrowser);
    EXPECT_EQ(app.windows(), (QList<MainWindow*>{first, second}));
}

TEST(QuillbarrowApp, TheChosenBackendServesTheDeviceBrowser)
{
    ShellFixture fixture(MockMTPBackend::defaultDevices());
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(processEventsUntil([&] { return !window->deviceBrowser().devices().isEmpty(); }));
    EXPECT_EQ(window->deviceBrowser().devices().front().displayName, QStringLiteral("Pixel 8"));
}

TEST(QuillbarrowApp, ClosingOneOfTwoWindowsLeavesTransfersAloneAndTheLastCancelsThem)
{
    ShellFixture fixture;
    QuillbarrowApp& app = *fixture.app;
    QSignalSpy lastClosed(&app, &QuillbarrowApp::lastWindowClosed);
    MainWindow* first = app.openWindow();
    MainWindow* second = app.openWindow();
    const WaitingUpload upload(app.coordinator());
    ASSERT_TRUE(upload.asked);
    ASSERT_EQ(upload.kind(*app.transferQueue()), TransferState::Kind::awaitingConfirmation);
    // A job in the middle of its transfer, beside the one waiting for its answer.
    const TransferJob copying(TransferID::create(), TransferDirection::androidToMac, TransferPurpose::fileTransfer,
                              QStringLiteral("video.mp4"), 1'000'000, TransferState::queued(), 0);
    app.transferQueue()->enqueue(copying);
    app.transferQueue()->start(copying.id, QDateTime::currentDateTimeUtc());
    const auto copyingKind = [&] { return app.transferQueue()->job(copying.id)->state.kind(); };

    ASSERT_TRUE(first->close());
    QCoreApplication::processEvents();
    EXPECT_EQ(copyingKind(), TransferState::Kind::running);
    EXPECT_EQ(upload.kind(*app.transferQueue()), TransferState::Kind::awaitingConfirmation);
    EXPECT_TRUE(app.coordinator().pendingConflict().has_value());
    EXPECT_EQ(lastClosed.count(), 0);
    EXPECT_EQ(app.windows(), QList<MainWindow*>{second});

    ASSERT_TRUE(second->close());
    EXPECT_EQ(copyingKind(), TransferState::Kind::cancelled);
    EXPECT_EQ(upload.kind(*app.transferQueue()), TransferState::Kind::cancelled);
    EXPECT_EQ(lastClosed.count(), 1);
    EXPECT_TRUE(app.windows().isEmpty());
    app.coordinator().cancelConflicts();
}

TEST(QuillbarrowApp, QuittingFlagsTransfersWithoutCancellingThemInTheQueue)
{
    ShellFixture fixture;
    QuillbarrowApp& app = *fixture.app;
    app.openWindow();
    const WaitingUpload upload(app.coordinator());
    ASSERT_TRUE(upload.asked);

    app.applicationWillTerminate();
    EXPECT_EQ(upload.kind(*app.transferQueue()), TransferState::Kind::awaitingConfirmation);
    // The flag keeps the job from starting once the question is answered.
    app.coordinator().resolveConflict(ConflictResolution::replace, false);
    ASSERT_TRUE(processEventsUntil([&] { return upload.paste->isReady(); }));
    EXPECT_NE(upload.kind(*app.transferQueue()), TransferState::Kind::completed);
    EXPECT_NE(upload.kind(*app.transferQueue()), TransferState::Kind::running);
}

TEST(QuillbarrowApp, TheMenuBarHasAboutThenTheInformationalLineNewWindowAndQuit)
{
    ShellFixture fixture;
    QuillbarrowApp& app = *fixture.app;
    QSignalSpy lastClosed(&app, &QuillbarrowApp::lastWindowClosed);
    MainWindow* window = app.openWindow();
    auto* menuBar = qobject_cast<AppMenuBar*>(window->menuBar());
    ASSERT_NE(menuBar, nullptr);

    const QList<QAction*> applicationItems =
        menuBar->findChild<QMenu*>(QStringLiteral("applicationMenu"))->actions();
    ASSERT_GE(applicationItems.size(), 2);
    EXPECT_EQ(applicationItems.at(0), menuBar->aboutAction());
    EXPECT_EQ(applicationItems.at(1)->text(),
              QStringLiteral("Quillbarrow uses local USB/MTP access only. No analytics or uploads are enabled."));
    EXPECT_FALSE(applicationItems.at(1)->isEnabled());
    EXPECT_EQ(menuBar->newWindowAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_EQ(menuBar->quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

    menuBar->newWindowAction()->trigger();
    ASSERT_EQ(app.windows().size(), 2);
    EXPECT_EQ(&app.windows().at(1)->deviceBrowser(), &window->deviceBrowser());

    menuBar->aboutAction()->trigger();
    EXPECT_NE(window->findChild<QWidget*>(QStringLiteral("aboutBox")), nullptr);

    menuBar->quitAction()->trigger();
    EXPECT_TRUE(app.windows().isEmpty());
    EXPECT_EQ(lastClosed.count(), 1);
}

TEST(QuillbarrowApp, NewWindowsAreAtLeast1200By720)
{
    ShellFixture fixture;
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(waitUntilShown(window));
    const QSize content = window->centralWidget()->minimumSizeHint().expandedTo(window->centralWidget()->minimumSize());
    EXPECT_GE(content.width(), 1200);
    EXPECT_GE(content.height(), 720);
    window->resize(800, 500);
    QCoreApplication::processEvents();
    EXPECT_GE(window->centralWidget()->width(), 1200);
    EXPECT_GE(window->centralWidget()->height(), 720);
}
