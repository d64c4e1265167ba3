#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QTimer>

#include <stdexcept>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

using ListingLimit = DeviceBrowserViewModelProbe::ListingLimit;

class DeviceBrowserTimeLimitTest : public DeviceBrowserTest {
protected:
    DeviceBrowserTimeLimitTest()
    {
        // Far limits for the calls a test does not hold on purpose.
        timing.openSessionLimit = 1h;
        timing.storagesLimit = 1h;
        timing.listingLimit = 1h;
        session = sessionFor(device, treeWith({folderItem(QStringLiteral("f1"), QStringLiteral("DCIM")),
                                               fileItem(QStringLiteral("p1"), QStringLiteral("a.jpg"), 5, QStringLiteral("s1"),
                                                        QStringLiteral("f1"))}));
    }

    // Lists folder f1 through the view model.
    QCoro::Task<DirectoryPage> listDCIM(ListingLimit limit, std::stop_token stop = {})
    {
        return probe().listFolder(session, RemoteObjectID(QStringLiteral("f1")), rootPath().appending("DCIM"), limit,
                                  std::move(stop));
    }

    static bool isTransferInterrupted(const std::exception_ptr& error)
    {
        return QuillbarrowError::fromException(error) == QuillbarrowError::transferInterrupted();
    }

    const AndroidDevice device = phone(QStringLiteral("d1"));
    std::shared_ptr<FakeDeviceSession> session;
};

} // namespace

TEST_F(DeviceBrowserTimeLimitTest, AValueInsideTheLimitIsTheResult)
{
    timing.listingLimit = 10s;
    const DirectoryPage listed = runTask(listDCIM(ListingLimit::always));
    EXPECT_EQ(listed.path, rootPath().appending("DCIM"));
    ASSERT_EQ(listed.items.size(), 1);
    EXPECT_EQ(listed.items.first().name, QStringLiteral("a.jpg"));
    EXPECT_EQ(session->calls(), QStringList{"list f1"});
}

TEST_F(DeviceBrowserTimeLimitTest, AtTheLimitTheCallerGetsTransferInterruptedWhileTheCallRunsOn)
{
    timing.listingLimit = 15ms;
    auto hang = std::make_shared<Hang>();
    session->script(QStringLiteral("list"), Reply::proceed().heldBy(hang));
    try {
        runTask(listDCIM(ListingLimit::always), 10s);
        ADD_FAILURE() << "the listing should have failed";
    } catch (const QuillbarrowError& error) {
        EXPECT_EQ(error, QuillbarrowError::transferInterrupted());
        EXPECT_EQ(QString::fromUtf8(error.what()), QStringLiteral("transferInterrupted"));
    }
    EXPECT_TRUE(session->endings().isEmpty()); // still running on the device
    hang->release();
    EXPECT_TRUE(processEventsUntil([&] { return !session->endings().isEmpty(); }, 5s));
    EXPECT_EQ(session->endings(), QStringList{"list f1 -> value"}); // ended, and its page went nowhere
}

TEST_F(DeviceBrowserTimeLimitTest, TheCallsOwnErrorPassesThroughUnchanged)
{
    session->script(QStringLiteral("list"), Reply::fail(QuillbarrowError::pathNotFound()));
    EXPECT_THROW(
        {
            try {
                runTask(listDCIM(ListingLimit::always));
            } catch (const QuillbarrowError& error) {
                EXPECT_EQ(error, QuillbarrowError::pathNotFound());
                throw;
            }
        },
        QuillbarrowError);
    session->script(QStringLiteral("list"), Reply::failForeign("bus reset"));
    EXPECT_THROW(runTask(listDCIM(ListingLimit::always)), std::runtime_error);
}

TEST_F(DeviceBrowserTimeLimitTest, AStoppedCallerResumesAtOnceWithTransferInterrupted)
{
    auto hang = std::make_shared<Hang>();
    session->script(QStringLiteral("list"), Reply::proceed().heldBy(hang));
    std::stop_source stop;
    auto outcome = startTask(listDCIM(ListingLimit::always, stop.get_token()));
    ASSERT_TRUE(hang->isReached());
    EXPECT_FALSE(outcome->done);
    stop.request_stop();
    // The limit is an hour away: only the stop request can end the wait now.
    EXPECT_TRUE(processEventsUntil([&] { return outcome->done; }, 5s));
    EXPECT_TRUE(isTransferInterrupted(outcome->error));
    hang->release();
    EXPECT_TRUE(processEventsUntil([&] { return !session->endings().isEmpty(); }, 5s));
    EXPECT_EQ(outcome->resumptions, 1);
}

TEST_F(DeviceBrowserTimeLimitTest, ACallerStoppedBeforeTheCallFailsAtOnceWithoutACall)
{
    std::stop_source stop;
    stop.request_stop();
    auto outcome = startTask(listDCIM(ListingLimit::always, stop.get_token()));
    EXPECT_TRUE(processEventsUntil([&] { return outcome->done; }, 5s));
    EXPECT_TRUE(isTransferInterrupted(outcome->error));
    EXPECT_TRUE(session->calls().isEmpty());
}

TEST_F(DeviceBrowserTimeLimitTest, ASlowListingSucceedsWhileAJobIsQueuedAndFailsWithoutOne)
{
    timing.listingLimit = 15ms;
    const TransferID job = queueJob();
    auto hang = std::make_shared<Hang>();
    session->script(QStringLiteral("list"), Reply::proceed().heldBy(hang));
    auto behindTransfer = startTask(listDCIM(ListingLimit::unlessTransfersActive));
    // Several limits pass while the listing waits behind the transfer.
    processEventsUntil([] { return false; }, 60ms);
    EXPECT_FALSE(behindTransfer->done);
    hang->release();
    EXPECT_TRUE(processEventsUntil([&] { return behindTransfer->done; }, 5s));
    EXPECT_FALSE(behindTransfer->error) << qPrintable(behindTransfer->errorText());
    EXPECT_TRUE(behindTransfer->value.has_value());

    // The queue is asked again right before each listing: with the job finished, the limit holds.
    queue->complete(job);
    auto secondHang = std::make_shared<Hang>();
    session->script(QStringLiteral("list"), Reply::proceed().heldBy(secondHang));
    auto alone = startTask(listDCIM(ListingLimit::unlessTransfersActive));
    EXPECT_TRUE(processEventsUntil([&] { return alone->done; }, 5s));
    EXPECT_TRUE(isTransferInterrupted(alone->error)) << qPrintable(alone->errorText());
    EXPECT_TRUE(secondHang->isReached());
}

TEST_F(DeviceBrowserTimeLimitTest, TheCallsOfAConnectionKeepTheirLimitsWhileTransfersAreActive)
{
    timing.openSessionLimit = 15ms;
    timing.storagesLimit = 10ms;
    timing.listingLimit = 5ms;
    queueJob();
    auto openHang = std::make_shared<Hang>();
    auto storagesHang = std::make_shared<Hang>();
    auto rootHang = std::make_shared<Hang>();
    backend->script(QStringLiteral("open"), Reply::proceed().heldBy(openHang));
    session->script(QStringLiteral("storages"), Reply::proceed().heldBy(storagesHang));
    session->script(QStringLiteral("root"), Reply::proceed().heldBy(rootHang));

    auto opening = startTask(probe().openSession(device.id));
    auto storages = startTask(probe().readStorages(session));
    auto root = startTask(probe().listRoot(session, StorageID(QStringLiteral("s1")), ListingLimit::always));
    EXPECT_TRUE(processEventsUntil([&] { return opening->done && storages->done && root->done; }, 5s));
    EXPECT_TRUE(isTransferInterrupted(opening->error));
    EXPECT_TRUE(isTransferInterrupted(storages->error));
    EXPECT_TRUE(isTransferInterrupted(root->error));
}

TEST_F(DeviceBrowserTimeLimitTest, ASessionThatOpensAfterItsLimitIsClosed)
{
    timing.openSessionLimit = 10ms;
    auto hang = std::make_shared<Hang>();
    backend->script(QStringLiteral("open"), Reply::proceed().heldBy(hang));
    auto opening = startTask(probe().openSession(device.id));
    EXPECT_TRUE(processEventsUntil([&] { return opening->done; }, 5s));
    EXPECT_TRUE(isTransferInterrupted(opening->error));
    EXPECT_EQ(session->closeCount(), 0);
    hang->release();
    EXPECT_TRUE(processEventsUntil([&] { return session->closeCount() == 1; }, 5s));
    EXPECT_EQ(session->calls(), QStringList{"close"});
}

TEST_F(DeviceBrowserTimeLimitTest, ASessionOpenedInTimeIsHandedOverAndStaysOpen)
{
    timing.openSessionLimit = 10s;
    const std::shared_ptr<DeviceSession> opened = runTask(probe().openSession(device.id));
    EXPECT_EQ(opened, session);
    EXPECT_EQ(backend->calls(), QStringList{"open d1"});
    ASSERT_EQ(backend->openOptions().size(), 1);
    EXPECT_FALSE(backend->openOptions().first().allowHelperSuppression);
    processEventsUntil([] { return false; }, 5ms);
    EXPECT_EQ(session->closeCount(), 0);
}

TEST_F(DeviceBrowserTimeLimitTest, ACallEndingAtTheLimitResumesItsCallerExactlyOnce)
{
    // The call and the limit end at about the same moment; whichever wins, the caller goes on
    // once with one outcome. Under ASan a second resumption would be a use after free.
    timing.listingLimit = 2ms;
    int values = 0;
    int interruptions = 0;
    for (int round = 0; round < 30; ++round) {
        session->script(QStringLiteral("list"), Reply::proceed().delayedBy(std::chrono::milliseconds(1 + round % 3)));
        auto outcome = startTask(listDCIM(ListingLimit::always));
        ASSERT_TRUE(processEventsUntil([&] { return outcome->done; }, 5s)) << "round " << round;
        processEventsUntil([] { return false; }, 3ms);
        EXPECT_EQ(outcome->resumptions, 1) << "round " << round;
        EXPECT_NE(outcome->value.has_value(), static_cast<bool>(outcome->error)) << "round " << round;
        values += outcome->value ? 1 : 0;
        interruptions += outcome->error && isTransferInterrupted(outcome->error) ? 1 : 0;
    }
    EXPECT_EQ(values + interruptions, 30);
}

TEST_F(DeviceBrowserTimeLimitTest, AWaitStillRunningWhenTheViewModelGoesAwayEndsWithoutHarm)
{
    auto hang = std::make_shared<Hang>();
    session->script(QStringLiteral("list"), Reply::proceed().heldBy(hang));
    auto outcome = startTask(listDCIM(ListingLimit::always));
    destroyViewModel();
    EXPECT_TRUE(processEventsUntil([&] { return outcome->done; }, 5s));
    EXPECT_TRUE(isTransferInterrupted(outcome->error));
}
