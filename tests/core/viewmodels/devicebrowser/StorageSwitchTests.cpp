#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QSignalSpy>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

const QString lastKey = QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.serial:SER");

class DeviceBrowserStorageSwitchTest : public ConnectedDeviceBrowserTest {
protected:
    DeviceBrowserStorageSwitchTest()
        : ConnectedDeviceBrowserTest(phone("d1", "Pixel", "Google", "Pixel 8", QStringLiteral("SER")))
    {
        useTree(treeWith({folderItem("c", "DCIM"), folderItem("m", "Music", "s2"),
                          fileItem("t", "track.mp3", 9, "s2", QStringLiteral("m"))},
                         {internal, card}));
    }

    const StorageRoot internal = testStorage("s1", "Internal");
    const StorageRoot card = testStorage("s2", "SD card");
};

} // namespace

TEST_F(DeviceBrowserStorageSwitchTest, AStorageNeverListedShowsAnEmptyPageUntilItsRootIsListed)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("root", Reply::proceed().heldBy(hang), "s2");
    auto switching = startTask(viewModel().openStorage(card));
    ASSERT_TRUE(hang->isReached());
    EXPECT_EQ(viewModel().currentPage(), std::optional(page({}, rootPath("s2"), std::nullopt, card)));
    EXPECT_EQ(viewModel().pendingStorageID(), std::optional(StorageID("s2")));
    EXPECT_EQ(viewModel().breadcrumb(), QList<RemotePath>{rootPath("s2")});
    EXPECT_TRUE(viewModel().isLoading());

    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return switching->done; }, 5s));
    ASSERT_EQ(viewModel().items().size(), 1);
    EXPECT_EQ(viewModel().items().first().name, QStringLiteral("Music"));
    EXPECT_FALSE(viewModel().pendingStorageID());
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(preferences->data(lastKey), QByteArray(R"({"storageID":"s2","components":[]})"));
    EXPECT_EQ(newCalls(), QStringList{"root s2"});
}

TEST_F(DeviceBrowserStorageSwitchTest, TheStorageShownWithoutASwitchUnderWayIsNotOpenedAgain)
{
    connect();
    const quint64 generation = probe().navigationGeneration();
    QSignalSpy page(&viewModel(), &DeviceBrowserViewModel::currentPageChanged);
    runTask(viewModel().openStorage(internal));
    EXPECT_EQ(page.count(), 0);
    EXPECT_EQ(probe().navigationGeneration(), generation);
    EXPECT_TRUE(newCalls().isEmpty());
}

TEST_F(DeviceBrowserStorageSwitchTest, OfTwoQuickSwitchesOnlyTheSecondApplies)
{
    connect();
    auto first = std::make_shared<Hang>();
    auto second = std::make_shared<Hang>();
    session->script("root", Reply::fail(QuillbarrowError::deviceLockedOrUnavailable()).heldBy(first), "s2");
    session->script("root", Reply::proceed().heldBy(second), "s1");
    auto toCard = startTask(viewModel().openStorage(card));
    ASSERT_TRUE(first->isReached());
    // The storage shown, while a switch is pending, is a switch of its own.
    auto back = startTask(viewModel().openStorage(internal));
    ASSERT_TRUE(second->isReached());
    QSignalSpy favourites(&viewModel(), &DeviceBrowserViewModel::favoriteLocationsChanged);

    first->release();
    ASSERT_TRUE(processEventsUntil([&] { return toCard->done; }, 5s));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().pendingStorageID(), std::optional(StorageID("s1")));
    EXPECT_TRUE(viewModel().isLoading());

    second->release();
    ASSERT_TRUE(processEventsUntil([&] { return back->done; }, 5s));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().currentPage()->storage, internal);
    EXPECT_EQ(viewModel().items().first().name, QStringLiteral("DCIM"));
    EXPECT_FALSE(viewModel().pendingStorageID());
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(favourites.count(), 1);
    EXPECT_EQ(preferences->data(lastKey), QByteArray(R"({"storageID":"s1","components":[]})"));
    EXPECT_FALSE(probe().cachedPage(rootPath("s2")));
}

TEST_F(DeviceBrowserStorageSwitchTest, ACachedRootDuringATransferIsShownStaleWithoutAskingTheDevice)
{
    connect();
    runTask(viewModel().openStorage(card));
    runTask(viewModel().openStorage(internal));
    const TransferID job = queueJob();
    forgetCalls();
    session->tree().add(fileItem("n", "new.mp3", 1, "s2"));

    runTask(viewModel().openStorage(card));
    EXPECT_TRUE(viewModel().isShowingStalePage());
    EXPECT_FALSE(viewModel().pendingStorageID());
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(viewModel().items().size(), 1);
    processEventsUntil([] { return false; }, 10ms);
    EXPECT_TRUE(newCalls().isEmpty());

    queue->complete(job);
    ASSERT_TRUE(processEventsUntil([&] { return !viewModel().isShowingStalePage(); }, 5s));
    EXPECT_EQ(newCalls(), QStringList{"root s2"});
    EXPECT_EQ(viewModel().items().size(), 2);
}

TEST_F(DeviceBrowserStorageSwitchTest, AFailedSwitchKeepsTheEmptyRootAndShowsTheBanner)
{
    connect();
    session->script("root", Reply::fail(QuillbarrowError::pathNotFound()), "s2");
    runTask(viewModel().openStorage(card));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("pathNotFound"));
    EXPECT_EQ(viewModel().currentPage(), std::optional(page({}, rootPath("s2"), std::nullopt, card)));
    EXPECT_FALSE(viewModel().pendingStorageID());
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().isWaitingForTransfer());
}

TEST_F(DeviceBrowserStorageSwitchTest, AFolderOpenedWhileTheRootIsListedStaysShown)
{
    connect();
    runTask(viewModel().openStorage(card));
    runTask(viewModel().openStorage(internal));
    auto hang = std::make_shared<Hang>();
    session->script("root", Reply::proceed().heldBy(hang), "s2");
    auto switching = startTask(viewModel().openStorage(card));
    ASSERT_TRUE(hang->isReached());
    runTask(viewModel().openFolder(viewModel().items().first())); // the cached root's Music
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return switching->done; }, 5s));
    EXPECT_EQ(viewModel().currentPage()->path, rootPath("s2").appending("Music"));
    EXPECT_EQ(viewModel().breadcrumb().size(), 2);
    EXPECT_FALSE(viewModel().pendingStorageID());
}
