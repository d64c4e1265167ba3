#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

const QString transfersMessage = QStringLiteral("Transfers are still active.");

class DeviceBrowserRecoveryTest : public ConnectedDeviceBrowserTest {
protected:
    int opens() const { return static_cast<int>(backend->calls().count(QStringLiteral("open d1"))); }
    void showConflicts(QList<DetectedConflictApp> apps)
    {
        probe().setErrorBanner(ErrorBanner(QStringLiteral("busy"), QStringLiteral("claimed"), std::move(apps)));
    }
    // The messages of every banner shown from now on, in order.
    std::shared_ptr<QStringList> recordBanners()
    {
        auto messages = std::make_shared<QStringList>();
        DeviceBrowserViewModel* model = &viewModel();
        QObject::connect(model, &DeviceBrowserViewModel::errorBannerChanged, model, [model, messages] {
            messages->append(model->errorBanner() ? model->errorBanner()->message : QStringLiteral("(none)"));
        });
        return messages;
    }

    const DetectedConflictApp photos = conflictingApp(11, "Photos");
    const DetectedConflictApp helperA = conflictingApp(21, "ptpcamerad");
    const DetectedConflictApp helperB = conflictingApp(22, "ptpcamerad");
};

} // namespace

TEST_F(DeviceBrowserRecoveryTest, ARetryIsRefusedWhileAJobIsOnlyQueuedAndReconnectsOnceTheQueueIsIdle)
{
    connect();
    const TransferID job = queueJob();
    runTask(viewModel().retrySelectedDevice());
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, transfersMessage);
    EXPECT_EQ(viewModel().errorBanner()->detail,
              QStringLiteral("Cancel the active or waiting transfers before reconnecting to the phone."));
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(session->closeCount(), 0);

    // The transfers banner lists no process: both recovery actions go straight to the retry.
    runTask(viewModel().quitConflictingAppsAndRetry());
    runTask(viewModel().restartManagedServicesAndRetry());
    EXPECT_TRUE(detector->calls().isEmpty());
    EXPECT_EQ(opens(), 1);

    queue->cancel(job);
    runTask(viewModel().retrySelectedDevice());
    EXPECT_EQ(opens(), 2);
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().connectionPhase(), DeviceConnectionPhase::connected);
}

TEST_F(DeviceBrowserRecoveryTest, AQuitThatLeavesNothingReconnectsAndOneThatLeavesProcessesNamesEach)
{
    connect();
    showConflicts({photos, helperA});
    auto hang = std::make_shared<Hang>();
    detector->script("requestQuit", Reply::proceed().heldBy(hang), "11,21");
    auto quitting = startTask(viewModel().quitConflictingAppsAndRetry());
    ASSERT_TRUE(hang->isReached());
    EXPECT_TRUE(viewModel().isLoading());
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return quitting->done; }, 5s));
    EXPECT_EQ(opens(), 2);
    EXPECT_FALSE(viewModel().errorBanner());

    showConflicts({photos, helperA, helperB});
    detector->remaining = {helperA, helperB};
    runTask(viewModel().quitConflictingAppsAndRetry());
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QStringLiteral("Some apps are still using Android file transfer."));
    EXPECT_EQ(viewModel().errorBanner()->detail,
              QStringLiteral("Quit ptpcamerad, ptpcamerad, then try again. If one will not quit, restart the Mac or "
                             "disconnect and reconnect the phone."));
    EXPECT_EQ(viewModel().errorBanner()->conflictingApps, (QList<DetectedConflictApp>{helperA, helperB}));
    EXPECT_EQ(opens(), 2);
    EXPECT_FALSE(viewModel().isLoading());
}

TEST_F(DeviceBrowserRecoveryTest, ARestartThatLeavesProcessesSaysSoAndThenReconnectsOnce)
{
    connect();
    queueJob();
    showConflicts({photos, helperA, helperB});
    detector->remaining = {helperA, helperB};
    auto banners = recordBanners();
    runTask(viewModel().restartManagedServicesAndRetry());
    EXPECT_EQ(detector->calls(), QStringList{"softRestartServices 11,21,22"});
    // The restart banner, then the reconnect, refused here because a job waits.
    EXPECT_EQ(*banners, (QStringList{"Quillbarrow could not restart every blocking service.", transfersMessage}));
    EXPECT_EQ(opens(), 1);

    showConflicts({helperA, helperB});
    probe().setSelectedDevice(std::nullopt);
    runTask(viewModel().restartManagedServicesAndRetry());
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail,
              QStringLiteral("ptpcamerad still appears to be active. Quillbarrow will make one direct connection "
                             "attempt now."));

    // With nothing left and no device, the banner shown stays as it was.
    const ErrorBanner shown = *viewModel().errorBanner();
    detector->remaining = {};
    runTask(viewModel().restartManagedServicesAndRetry());
    EXPECT_EQ(viewModel().errorBanner(), std::optional(shown));
    EXPECT_EQ(opens(), 1);
    EXPECT_FALSE(viewModel().isLoading());
}
