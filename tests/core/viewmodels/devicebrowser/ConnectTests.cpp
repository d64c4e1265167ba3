#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <stdexcept>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

using Phase = DeviceConnectionPhase;

class DeviceBrowserConnectTest : public DeviceBrowserTest {
protected:
    DeviceBrowserConnectTest()
    {
        timing.retryPauseUnit = 3ms;
        backend->attached = {listedA};
        sessionA = sessionFor(listedA, treeWith({folderItem("c", "DCIM"), fileItem("f", "notes.txt", 3)}));
    }

    void select(const AndroidDevice& device, std::chrono::milliseconds watchdog = 10s)
    {
        runTask(viewModel().selectDevice(device), watchdog);
    }

    const AndroidDevice listedA = phone("a", "Pixel", "Google", "Pixel 8", std::nullopt);
    std::shared_ptr<FakeDeviceSession> sessionA;
};

} // namespace

TEST_F(DeviceBrowserConnectTest, ASuccessfulFirstAttemptGoesThroughEachPhaseAndShowsTheRoot)
{
    // The session knows the device better than the listing did.
    const AndroidDevice better = phone("a", "Pixel 8 Pro", "Google", "Pixel 8", "3A1B");
    sessionA = sessionFor(better, treeWith({folderItem("c", "DCIM"), fileItem("f", "notes.txt", 3)}));
    probe().setDevices({listedA, phone("b", "Other")});
    auto phases = recordPhases();
    select(listedA);
    EXPECT_EQ(*phases, (QList<Phase>{Phase::opening, Phase::loadingStorage, Phase::loadingContents, Phase::connected}));
    EXPECT_EQ(viewModel().breadcrumb(), QList<RemotePath>{rootPath()});
    EXPECT_EQ(probe().navigationStack(), QList<NavigationNode>{NavigationNode(rootPath(), std::nullopt)});
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"DCIM", "notes.txt"}));
    EXPECT_EQ(viewModel().storages(), QList<StorageRoot>{testStorage()});
    EXPECT_EQ(viewModel().selectedDevice(), std::optional(better));
    EXPECT_EQ(viewModel().devices(), (QList<AndroidDevice>{better, phone("b", "Other")}));
    EXPECT_EQ(viewModel().currentSession(), sessionA);
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(sessionA->calls(), (QStringList{"storages", "root s1"}));
    EXPECT_EQ(log.infoLines(), QStringList{"opened session for Pixel on attempt 1"});
    EXPECT_EQ(probe().cachedPage(rootPath())->items.size(), 2);
}

TEST_F(DeviceBrowserConnectTest, ABusyInterfaceIsRetriedAfterPausesGrowingWithTheAttempt)
{
    for (int i = 0; i < 3; ++i) {
        backend->script("open", Reply::fail(QuillbarrowError::usbInterfaceBusy("claimed")));
    }
    auto phases = recordPhases();
    select(listedA);
    EXPECT_EQ(backend->calls(), (QStringList{"open a", "open a", "open a", "open a"}));
    // Then the connection schedules the automatic folder-size pass.
    const qint64 automaticDelay = std::chrono::milliseconds(timing.automaticFolderSizeDelay).count();
    EXPECT_EQ(clock->sleeps(), (QList<qint64>{3, 6, 9, automaticDelay}));
    EXPECT_EQ(log.infoLines(), (QStringList{"connect attempt 1 failed: usbInterfaceBusy(\"claimed\"); retrying",
                                            "connect attempt 2 failed: usbInterfaceBusy(\"claimed\"); retrying",
                                            "connect attempt 3 failed: usbInterfaceBusy(\"claimed\"); retrying",
                                            "opened session for Pixel on attempt 4"}));
    EXPECT_EQ(phases->last(), Phase::connected);
    EXPECT_EQ(phases->count(Phase::opening), 7); // each attempt, and each pause
    EXPECT_FALSE(viewModel().errorBanner());
}

TEST_F(DeviceBrowserConnectTest, AnErrorThatIsNotRetriedEndsAtOnceWithTheBanner)
{
    backend->script("open", Reply::fail(QuillbarrowError::permissionDenied()));
    select(listedA);
    EXPECT_EQ(backend->calls(), QStringList{"open a"});
    EXPECT_TRUE(clock->sleeps().isEmpty());
    EXPECT_EQ(viewModel().connectionPhase(), Phase::idle);
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QuillbarrowError::permissionDenied().userMessage());
    EXPECT_EQ(viewModel().selectedDevice(), std::optional(listedA));
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_TRUE(log.infoLines().isEmpty());
}

TEST_F(DeviceBrowserConnectTest, FourHangingOpensFailFourTimesAndNeverAFifth)
{
    timing.openSessionLimit = 5ms;
    QList<std::shared_ptr<Hang>> hangs;
    for (int i = 0; i < 5; ++i) {
        hangs.append(std::make_shared<Hang>());
        backend->script("open", Reply::proceed().heldBy(hangs.last()));
    }
    select(listedA);
    EXPECT_EQ(backend->calls(), (QStringList{"open a", "open a", "open a", "open a"}));
    EXPECT_EQ(clock->sleeps(), (QList<qint64>{3, 6, 9}));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("transferInterrupted"));
    EXPECT_EQ(viewModel().connectionPhase(), Phase::idle);
    processEventsUntil([] { return false; }, 20ms);
    EXPECT_EQ(backend->calls().size(), 4);
    // The opens end late: each session they give is closed, none is kept.
    for (const std::shared_ptr<Hang>& hang : hangs) {
        hang->release();
    }
    EXPECT_TRUE(processEventsUntil([&] { return sessionA->closeCount() == 4; }, 5s));
    EXPECT_EQ(viewModel().currentSession(), nullptr);
}

TEST_F(DeviceBrowserConnectTest, AFailedAttemptIsTornDownBeforeTheNext)
{
    for (int i = 0; i < 4; ++i) {
        sessionA->script("root", Reply::fail(QuillbarrowError::sessionFailed("reset")));
    }
    select(listedA);
    EXPECT_EQ(sessionA->closeCount(), 4);
    EXPECT_EQ(viewModel().currentSession(), nullptr);
    EXPECT_TRUE(viewModel().storages().isEmpty());
    EXPECT_FALSE(viewModel().currentPage());
    EXPECT_TRUE(viewModel().breadcrumb().isEmpty());
    EXPECT_TRUE(probe().navigationStack().isEmpty());
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail.left(5), QStringLiteral("reset"));
}

TEST_F(DeviceBrowserConnectTest, ADeviceWithoutStorageEndsConnectedWithNoPage)
{
    sessionA = sessionFor(listedA, treeWith({}, {}));
    auto phases = recordPhases();
    select(listedA);
    EXPECT_EQ(*phases, (QList<Phase>{Phase::opening, Phase::loadingStorage, Phase::connected}));
    EXPECT_TRUE(viewModel().storages().isEmpty());
    EXPECT_FALSE(viewModel().currentPage());
    EXPECT_TRUE(viewModel().breadcrumb().isEmpty());
    EXPECT_EQ(viewModel().currentSession(), sessionA);
    EXPECT_EQ(sessionA->calls(), QStringList{"storages"});
}

TEST_F(DeviceBrowserConnectTest, SelectingBWhileAConnectsLeavesOnlyBsStateAndClosesAsSession)
{
    // A is held while its session opens, or while its opened session reads its storages.
    for (const QString& heldCall : {QStringLiteral("open"), QStringLiteral("storages")}) {
        SCOPED_TRACE(heldCall.toStdString());
        auto a = std::make_shared<FakeDeviceSession>(listedA, treeWith({folderItem("c", "DCIM")}));
        backend->registerSession(listedA.id, a);
        const AndroidDevice listedB = phone("b", "Galaxy", "Samsung", "S23", std::nullopt);
        auto b = sessionFor(listedB, treeWith({fileItem("g", "b.txt", 1, "sb")}, {testStorage("sb", "Phone")}));
        auto hang = std::make_shared<Hang>();
        if (heldCall == u"open") {
            backend->script("open", Reply::proceed().heldBy(hang), "a");
        } else {
            a->script("storages", Reply::proceed().heldBy(hang));
        }
        auto connectingA = startTask(viewModel().selectDevice(listedA));
        ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
        select(listedB);
        hang->release();
        ASSERT_TRUE(processEventsUntil([&] { return connectingA->done; }, 5s));
        processEventsUntil([] { return false; }, 5ms);

        EXPECT_EQ(a->closeCount(), 1);
        EXPECT_EQ(b->closeCount(), 0);
        EXPECT_EQ(viewModel().currentSession(), b);
        EXPECT_EQ(viewModel().selectedDevice(), std::optional(listedB));
        EXPECT_EQ(viewModel().storages(), QList<StorageRoot>{testStorage("sb", "Phone")});
        EXPECT_EQ(itemNames(viewModel().items()), QStringList{"b.txt"});
        EXPECT_EQ(viewModel().breadcrumb(), QList<RemotePath>{rootPath("sb")});
        EXPECT_EQ(viewModel().connectionPhase(), Phase::connected);
        EXPECT_FALSE(viewModel().errorBanner());
        EXPECT_FALSE(viewModel().isLoading());
        EXPECT_FALSE(a->calls().contains("root s1"));
        EXPECT_FALSE(probe().cachedPage(rootPath("s1")));
    }
}

TEST_F(DeviceBrowserConnectTest, ADeviceBackUnderANewIdIsFoundByManufacturerAndModel)
{
    const AndroidDevice renumbered = phone("a2", "Pixel", "Google", "Pixel 8", std::nullopt);
    sessionFor(renumbered, treeWith({}));
    probe().setDevices({listedA});
    backend->script("open", Reply::fail(QuillbarrowError::deviceNotFound()));
    // While the first attempt fails the listing changes: the phone came back under another id.
    QObject::connect(&viewModel(), &DeviceBrowserViewModel::connectionPhaseChanged, &viewModel(), [&] {
        if (backend->calls().size() == 1 && viewModel().connectionPhase() == Phase::opening &&
            viewModel().devices() == QList<AndroidDevice>{listedA}) {
            probe().setDevices({phone("x", "Other", "Acme", "X1", std::nullopt), renumbered});
        }
    });
    select(listedA);
    EXPECT_EQ(backend->calls(), (QStringList{"open a", "open a2"}));
    EXPECT_EQ(viewModel().selectedDevice(), std::optional(renumbered));
    EXPECT_EQ(viewModel().connectionPhase(), Phase::connected);
}

TEST_F(DeviceBrowserConnectTest, SelectingAgainClosesTheOpenSessionAndConnectsFromScratch)
{
    select(listedA);
    probe().present(QuillbarrowError::pathNotFound());
    select(listedA);
    EXPECT_EQ(sessionA->closeCount(), 1);
    EXPECT_EQ(backend->calls(), (QStringList{"open a", "open a"}));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().connectionPhase(), Phase::connected);
}

TEST(DeviceBrowserConnectErrors, WhichErrorsAreRetried)
{
    const QList<std::pair<QuillbarrowError, bool>> rows{
        {QuillbarrowError::usbInterfaceBusy("x"), true},     {QuillbarrowError::sessionFailed("x"), true},
        {QuillbarrowError::nameConflict("x"), false},        {QuillbarrowError::transferFailed("x"), true},
        {QuillbarrowError::backendProtocolError("x"), true}, {QuillbarrowError::unsupportedOperation("x"), false},
        {QuillbarrowError::fileTooLargeToOpen("x", 2, 1), false},
        {QuillbarrowError::fileSizeUnavailableToOpen("x", 1), false},
        {QuillbarrowError::fileOpenFailed("x", "y"), false}, {QuillbarrowError::unknown("x"), true},
        {QuillbarrowError::deviceNotFound(), true},          {QuillbarrowError::deviceLockedOrUnavailable(), true},
        {QuillbarrowError::permissionDenied(), false},       {QuillbarrowError::pathNotFound(), false},
        {QuillbarrowError::insufficientSpace(), false},      {QuillbarrowError::transferInterrupted(), true},
        {QuillbarrowError::userCancelled(), false},
    };
    for (const auto& [error, retried] : rows) {
        EXPECT_EQ(DeviceBrowserViewModelProbe::isRetryableConnectError(std::make_exception_ptr(error)), retried)
            << qPrintable(QuillbarrowError::kindName(error.kind()));
    }
    EXPECT_TRUE(DeviceBrowserViewModelProbe::isRetryableConnectError(std::make_exception_ptr(std::runtime_error("x"))));
}
