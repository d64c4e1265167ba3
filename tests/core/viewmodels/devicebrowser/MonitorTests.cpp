#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

using Phase = DeviceConnectionPhase;

class DeviceBrowserMonitorTest : public DeviceBrowserTest {
protected:
    DeviceBrowserMonitorTest()
    {
        sessionA = sessionFor(deviceA, treeWith({folderItem("c", "DCIM")}));
        sessionB = sessionFor(deviceB, treeWith({}));
    }

    // Lets the monitoring and the connections it starts run.
    static void settle() { processEventsUntil([] { return false; }, 10ms); }
    bool connectedTo(const AndroidDevice& device)
    {
        return processEventsUntil([&] {
            return viewModel().connectionPhase() == Phase::connected && viewModel().selectedDevice() == device &&
                   !viewModel().isLoading();
        },
                                  5s);
    }
    int opensOf(const AndroidDevice& device) const
    {
        return static_cast<int>(backend->calls().count(QStringLiteral("open ") + device.id.rawValue()));
    }

    const AndroidDevice deviceA = phone("a", "Pixel", "Google", "Pixel 8", std::nullopt);
    const AndroidDevice deviceB = phone("b", "Galaxy", "Samsung", "S23", std::nullopt);
    std::shared_ptr<FakeDeviceSession> sessionA;
    std::shared_ptr<FakeDeviceSession> sessionB;
};

} // namespace

TEST_F(DeviceBrowserMonitorTest, AnEmptyFirstListEndsTheDetectingPhase)
{
    auto phases = recordPhases();
    viewModel().start();
    settle();
    EXPECT_EQ(*phases, (QList<Phase>{Phase::detecting, Phase::idle}));
    EXPECT_EQ(backend->calls(), (QStringList{"currentDevices", "events"}));
    EXPECT_FALSE(viewModel().selectedDevice());
}

TEST_F(DeviceBrowserMonitorTest, OneDeviceIsSelectedByItself)
{
    backend->attached = {deviceA};
    viewModel().start();
    EXPECT_TRUE(connectedTo(deviceA));
    EXPECT_EQ(opensOf(deviceA), 1);
    EXPECT_EQ(backend->streamsOpen(), 1);
}

TEST_F(DeviceBrowserMonitorTest, TwoDevicesAreNotSelectedByThemselves)
{
    backend->attached = {deviceA, deviceB};
    viewModel().start();
    settle();
    EXPECT_FALSE(viewModel().selectedDevice());
    EXPECT_EQ(viewModel().devices(), (QList<AndroidDevice>{deviceA, deviceB}));
    EXPECT_EQ(viewModel().connectionPhase(), Phase::detecting);
    EXPECT_EQ(opensOf(deviceA) + opensOf(deviceB), 0);
}

TEST_F(DeviceBrowserMonitorTest, TheSelectedDeviceUnpluggedClearsTheStateAndPluggedInAgainAloneIsSelectedAgain)
{
    backend->attached = {deviceA};
    viewModel().start();
    ASSERT_TRUE(connectedTo(deviceA));
    ASSERT_FALSE(viewModel().items().isEmpty());
    const quint64 navigation = probe().navigationGeneration();

    backend->send(DeviceConnectionEvent::disconnected(deviceA.id));
    settle();
    EXPECT_FALSE(viewModel().selectedDevice());
    EXPECT_TRUE(viewModel().devices().isEmpty());
    EXPECT_TRUE(viewModel().storages().isEmpty());
    EXPECT_FALSE(viewModel().currentPage());
    EXPECT_TRUE(viewModel().items().isEmpty());
    EXPECT_TRUE(viewModel().breadcrumb().isEmpty());
    EXPECT_TRUE(probe().navigationStack().isEmpty());
    EXPECT_EQ(probe().cacheSize(), 0);
    EXPECT_EQ(probe().navigationGeneration(), navigation + 1);
    EXPECT_EQ(viewModel().connectionPhase(), Phase::idle);
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("transferInterrupted"));
    EXPECT_EQ(viewModel().currentSession(), nullptr);
    EXPECT_EQ(sessionA->closeCount(), 1);
    EXPECT_TRUE(detector->calls().isEmpty());

    backend->send(DeviceConnectionEvent::connected(deviceA));
    EXPECT_TRUE(connectedTo(deviceA));
    EXPECT_EQ(opensOf(deviceA), 2);
}

TEST_F(DeviceBrowserMonitorTest, ADeviceSelectedByItselfIsNotSelectedAgainUntilItDisconnects)
{
    backend->script("open", Reply::fail(QuillbarrowError::permissionDenied()));
    backend->attached = {deviceA};
    viewModel().start();
    settle();
    EXPECT_EQ(opensOf(deviceA), 1);
    // The failed connection leaves A selected; a second listing of A, or a change of its record,
    // selects nothing more.
    backend->send(DeviceConnectionEvent::connected(phone("a", "Renamed")));
    backend->send(DeviceConnectionEvent::changed(phone("a", "Renamed")));
    viewModel().start();
    settle();
    EXPECT_EQ(opensOf(deviceA), 1);
    EXPECT_EQ(viewModel().devices(), QList<AndroidDevice>{deviceA}); // the listed record is kept

    // With B plugged in and A gone, nothing is selected by the disconnection itself; a later
    // event for the remaining device selects it.
    backend->send(DeviceConnectionEvent::connected(deviceB));
    backend->send(DeviceConnectionEvent::disconnected(deviceA.id));
    settle();
    EXPECT_FALSE(viewModel().selectedDevice());
    EXPECT_EQ(opensOf(deviceB), 0);
    backend->send(DeviceConnectionEvent::changed(deviceB));
    EXPECT_TRUE(connectedTo(deviceB));
}

TEST_F(DeviceBrowserMonitorTest, StartingTwiceAppliesEachEventOnce)
{
    viewModel().start();
    viewModel().start();
    settle();
    EXPECT_EQ(backend->streamsOpen(), 1);
    backend->send(DeviceConnectionEvent::connected(deviceA));
    backend->send(DeviceConnectionEvent::connected(deviceB));
    backend->send(DeviceConnectionEvent::disconnected(deviceA.id));
    backend->send(DeviceConnectionEvent::connected(deviceA));
    settle();
    EXPECT_EQ(viewModel().devices(), (QList<AndroidDevice>{deviceB, deviceA}));
    EXPECT_EQ(opensOf(deviceA), 1); // selected alone once; later it had a companion
    EXPECT_EQ(opensOf(deviceB), 0);
}

TEST_F(DeviceBrowserMonitorTest, ARestartWhileADeviceIsSelectedKeepsThePhaseAndTheListUntilTheNewListArrives)
{
    backend->attached = {deviceA};
    viewModel().start();
    ASSERT_TRUE(connectedTo(deviceA));
    auto hang = std::make_shared<Hang>();
    backend->script("currentDevices", Reply::give(QList<AndroidDevice>{deviceA, deviceB}).heldBy(hang));
    viewModel().start();
    settle();
    EXPECT_EQ(viewModel().connectionPhase(), Phase::connected);
    EXPECT_EQ(viewModel().devices(), QList<AndroidDevice>{deviceA});
    hang->release();
    settle();
    EXPECT_EQ(viewModel().devices(), (QList<AndroidDevice>{deviceA, deviceB}));
    EXPECT_EQ(backend->streamsOpen(), 1);
}

TEST_F(DeviceBrowserMonitorTest, AnAttemptStillRunningWhenItsDeviceIsUnpluggedWritesNothingMore)
{
    auto hang = std::make_shared<Hang>();
    sessionA->script("storages", Reply::proceed().heldBy(hang));
    backend->attached = {deviceA};
    viewModel().start();
    ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
    const quint64 generation = probe().connectGeneration();
    backend->send(DeviceConnectionEvent::disconnected(deviceA.id));
    settle();
    EXPECT_EQ(probe().connectGeneration(), generation + 1);
    hang->release();
    settle();
    EXPECT_FALSE(viewModel().selectedDevice());
    EXPECT_TRUE(viewModel().storages().isEmpty());
    EXPECT_FALSE(viewModel().currentPage());
    EXPECT_EQ(viewModel().connectionPhase(), Phase::idle);
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("transferInterrupted"));
    EXPECT_EQ(sessionA->closeCount(), 1);
    EXPECT_FALSE(sessionA->calls().contains("root s1"));
}

TEST_F(DeviceBrowserMonitorTest, ADisconnectionOfAnotherDeviceOnlyForgetsThatDevice)
{
    backend->attached = {deviceA};
    viewModel().start();
    ASSERT_TRUE(connectedTo(deviceA));
    backend->send(DeviceConnectionEvent::disconnected(DeviceID("unknown")));
    settle();
    EXPECT_EQ(viewModel().selectedDevice(), std::optional(deviceA));
    EXPECT_EQ(viewModel().connectionPhase(), Phase::connected);
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().currentSession(), sessionA);
}

TEST_F(DeviceBrowserMonitorTest, TheStreamIsDroppedWhenTheViewModelGoes)
{
    viewModel().start();
    settle();
    EXPECT_EQ(backend->streamsOpen(), 1);
    destroyViewModel();
    EXPECT_TRUE(processEventsUntil([&] { return backend->streamsOpen() == 0; }, 5s));
    backend->send(DeviceConnectionEvent::connected(deviceA)); // reaches nobody
    settle();
    EXPECT_EQ(opensOf(deviceA), 0);
}
