#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QSignalSpy>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

const QString defaultPrefix = QStringLiteral("Quillbarrow.DeviceBrowser.defaultLocation.");
const QString lastPrefix = QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.");

RemotePath pathOf(QStringList components, const QString& storage = QStringLiteral("s1"))
{
    return RemotePath(StorageID(storage), std::move(components));
}

RemoteFavoriteLocation favoriteAt(const RemotePath& path)
{
    return RemoteFavoriteLocation("user:x", path.name(), path, "star", true, false);
}

class DeviceBrowserStoredLocationsTest : public DeviceBrowserTest {
protected:
    DeviceBrowserStoredLocationsTest()
    {
        backend->attached = {device};
        session = sessionFor(device, treeWith({folderItem("c", "DCIM"), folderItem("cam", "Camera", "s1", "c"),
                                               fileItem("p", "a.jpg", 5, "s1", QStringLiteral("cam")),
                                               folderItem("cafe", QStringLiteral("Cafe\u0301")),
                                               folderItem("m", "Music", "s2"), folderItem("j", "Jazz", "s2", "m")},
                                              {testStorage("s1", "Internal"), testStorage("s2", "SD card")}));
    }

    void connect() { runTask(viewModel().selectDevice(device), 10s); }
    void store(const QString& prefix, const QByteArray& json) { preferences->setData(prefix + key, json); }

    const AndroidDevice device = phone("d1", "Pixel", "Google", "Pixel 8", QStringLiteral("3A1B"));
    const QString key = QStringLiteral("serial:3A1B");
    std::shared_ptr<FakeDeviceSession> session;
};

} // namespace

TEST_F(DeviceBrowserStoredLocationsTest, TheDefaultIsRestoredAfterConnectingAndBecomesTheLastLocation)
{
    store(defaultPrefix, R"({"storageID":"s1","components":["DCIM","Camera"]})");
    store(lastPrefix, R"({"storageID":"s2","components":["Music"]})");
    auto phases = recordPhases();
    connect();
    EXPECT_EQ(session->calls(), (QStringList{"storages", "root s1", "root s1", "list c", "list cam"}));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"DCIM", "Camera"}));
    EXPECT_EQ(viewModel().breadcrumb(), (QList<RemotePath>{pathOf({}), pathOf({"DCIM"}), pathOf({"DCIM", "Camera"})}));
    EXPECT_EQ(probe().navigationStack().last(), NavigationNode(pathOf({"DCIM", "Camera"}), RemoteObjectID("cam")));
    EXPECT_EQ(viewModel().items().size(), 1);
    EXPECT_EQ(preferences->data(lastPrefix + key), QByteArray(R"({"storageID":"s1","components":["DCIM","Camera"]})"));
    // The phase becomes connected only once the restore has ended.
    EXPECT_EQ(phases->last(), DeviceConnectionPhase::connected);
    EXPECT_EQ(phases->count(DeviceConnectionPhase::connected), 1);
}

TEST_F(DeviceBrowserStoredLocationsTest, WithoutADefaultTheLastLocationIsRestoredOnAnotherStorage)
{
    store(lastPrefix, R"({"storageID":"s2","components":["Music","Jazz"]})");
    connect();
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Music", "Jazz"}, "s2"));
    EXPECT_EQ(viewModel().currentPage()->storage, testStorage("s2", "SD card"));
    EXPECT_EQ(viewModel().breadcrumb().first(), pathOf({}, "s2"));
    EXPECT_FALSE(viewModel().pendingStorageID());
}

TEST_F(DeviceBrowserStoredLocationsTest, AStoredRootThatIsShownAlreadyIsNotListedAgain)
{
    store(defaultPrefix, R"({"storageID":"s1","components":[]})");
    connect();
    EXPECT_EQ(session->calls(), (QStringList{"storages", "root s1"}));
    EXPECT_EQ(viewModel().connectionPhase(), DeviceConnectionPhase::connected);
}

TEST_F(DeviceBrowserStoredLocationsTest, ALocationThatIsGoneIsOnlyLoggedAndTheRootStaysShown)
{
    const QList<QByteArray> gone{R"({"storageID":"s1","components":["DCIM","Screenshots"]})",
                                 R"({"storageID":"s1","components":["dcim"]})", // letter case differs
                                 R"({"storageID":"s9","components":[]})"};
    for (const QByteArray& json : gone) {
        store(defaultPrefix, json);
        connect();
        EXPECT_EQ(viewModel().currentPage()->path, pathOf({})) << json.constData();
        EXPECT_EQ(viewModel().breadcrumb(), QList<RemotePath>{pathOf({})});
        EXPECT_FALSE(viewModel().errorBanner());
        EXPECT_EQ(viewModel().connectionPhase(), DeviceConnectionPhase::connected);
        EXPECT_TRUE(log.infoLines().contains("could not restore saved Android location: pathNotFound"));
    }
    EXPECT_FALSE(preferences->data(lastPrefix + key));
}

TEST_F(DeviceBrowserStoredLocationsTest, ACanonicallyEquivalentNameMatches)
{
    connect();
    runTask(viewModel().openFavorite(favoriteAt(pathOf({QStringLiteral("Caf\u00e9")}))));
    EXPECT_FALSE(viewModel().errorBanner());
    // The walked path carries the name as the device writes it.
    EXPECT_EQ(viewModel().currentPage()->path.components, QStringList{QStringLiteral("Cafe\u0301")});
}

TEST_F(DeviceBrowserStoredLocationsTest, AFavouriteOnAnotherStorageIsShownAndRemembered)
{
    connect();
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    runTask(viewModel().openFavorite(favoriteAt(pathOf({"Music"}, "s2"))));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Music"}, "s2"));
    EXPECT_EQ(viewModel().breadcrumb(), (QList<RemotePath>{pathOf({}, "s2"), pathOf({"Music"}, "s2")}));
    EXPECT_FALSE(viewModel().pendingStorageID());
    EXPECT_EQ(loading.count(), 2);
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(preferences->data(lastPrefix + key), QByteArray(R"({"storageID":"s2","components":["Music"]})"));
    EXPECT_EQ(probe().cachedPage(pathOf({}, "s2"))->items.size(), 1);
}

TEST_F(DeviceBrowserStoredLocationsTest, AFavouriteThatCannotBeOpenedShowsTheBannerAndChangesNothingElse)
{
    runTask(viewModel().openFavorite(favoriteAt(pathOf({"DCIM"}))));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("No Android device session is open."));
    EXPECT_FALSE(viewModel().isLoading());

    connect();
    const std::optional<DirectoryPage> shown = viewModel().currentPage();
    const QList<RemotePath> breadcrumb = viewModel().breadcrumb();
    const QStringList callsBefore = session->calls();
    for (const RemotePath& path : {pathOf({"DCIM"}, "s9"), pathOf({"DCIM", "Nothing"})}) {
        runTask(viewModel().openFavorite(favoriteAt(path)));
        ASSERT_TRUE(viewModel().errorBanner());
        EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("pathNotFound"));
        EXPECT_EQ(viewModel().currentPage(), shown);
        EXPECT_EQ(viewModel().breadcrumb(), breadcrumb);
        EXPECT_FALSE(viewModel().isLoading());
    }
    // The storage that is gone was refused before any device call.
    EXPECT_EQ(session->calls().mid(callsBefore.size()), (QStringList{"root s1", "list c"}));
}

TEST_F(DeviceBrowserStoredLocationsTest, EachListingOfAWalkAsksTheQueueAgain)
{
    timing.listingLimit = 15ms;
    connect();
    const TransferID job = queueJob();
    auto rootHang = std::make_shared<Hang>();
    auto folderHang = std::make_shared<Hang>();
    session->script("root", Reply::proceed().heldBy(rootHang));
    session->script("list", Reply::proceed().heldBy(folderHang));
    auto opening = startTask(viewModel().openFavorite(favoriteAt(pathOf({"DCIM"}))));
    ASSERT_TRUE(processEventsUntil([&] { return rootHang->isReached(); }, 5s));
    EXPECT_FALSE(viewModel().isWaitingForTransfer()); // the job is queued, not running
    processEventsUntil([] { return false; }, 45ms);           // three limits pass behind the transfer
    EXPECT_FALSE(opening->done);
    queue->complete(job);
    rootHang->release();
    ASSERT_TRUE(processEventsUntil([&] { return opening->done; }, 5s));
    EXPECT_TRUE(folderHang->isReached());
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("transferInterrupted"));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({}));
}

TEST_F(DeviceBrowserStoredLocationsTest, TheLastFolderIsRestoredAfterUnpluggingAndPluggingIn)
{
    viewModel().start();
    ASSERT_TRUE(processEventsUntil([&] { return viewModel().connectionPhase() == DeviceConnectionPhase::connected; }, 5s));
    runTask(viewModel().openFavorite(favoriteAt(pathOf({"DCIM", "Camera"}))));
    backend->send(DeviceConnectionEvent::disconnected(device.id));
    ASSERT_TRUE(processEventsUntil([&] { return !viewModel().currentPage(); }, 5s));
    backend->send(DeviceConnectionEvent::connected(device));
    ASSERT_TRUE(processEventsUntil([&] { return viewModel().connectionPhase() == DeviceConnectionPhase::connected; }, 5s));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"DCIM", "Camera"}));
    EXPECT_EQ(viewModel().items().first().name, QStringLiteral("a.jpg"));
}

TEST_F(DeviceBrowserStoredLocationsTest, AWalkWhoseSessionIsReplacedShowsAndCachesNothing)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang));
    auto opening = startTask(viewModel().openFavorite(favoriteAt(pathOf({"DCIM"}))));
    ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
    std::shared_ptr<FakeDeviceSession> other = sessionFor(phone("d2"), treeWith({}));
    probe().setSession(other);
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return opening->done; }, 5s));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({}));
    EXPECT_FALSE(probe().cachedPage(pathOf({"DCIM"})));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_FALSE(preferences->data(lastPrefix + key));
}

TEST_F(DeviceBrowserStoredLocationsTest, AFolderOpenedBeforeTheLocationWasShownDoesNotReplaceItsPageLater)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "cafe");
    auto opening = startTask(viewModel().openFolder(folderItem("cafe", QStringLiteral("Cafe\u0301"))));
    ASSERT_TRUE(hang->isReached());
    runTask(viewModel().openFavorite(favoriteAt(pathOf({"DCIM", "Camera"}))));
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return opening->done; }, 5s));
    // The crumbs, the rows and the folder a paste reaches are all the location's.
    EXPECT_EQ(viewModel().currentPage()->parentID, RemoteObjectID("cam"));
    EXPECT_EQ(viewModel().breadcrumb().last(), pathOf({"DCIM", "Camera"}));
    EXPECT_EQ(itemNames(viewModel().items()), QStringList{"a.jpg"});
}
