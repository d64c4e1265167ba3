#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QSignalSpy>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

class DeviceBrowserCacheTest : public DeviceBrowserTest {
protected:
    DeviceBrowserCacheTest()
    {
        session = sessionFor(device, treeWith({folderItem("c", "DCIM"), folderItem("m", "Music"),
                                               fileItem("p", "a.jpg", 5, "s1", QStringLiteral("c"))}));
    }

    // The session open and the given page shown.
    void show(const DirectoryPage& shown)
    {
        probe().setSelectedDevice(device);
        probe().setSession(session);
        probe().setCurrentPage(shown);
    }

    DirectoryPage dcimPage(QList<RemoteItem> items = {}) const
    {
        return page(items, dcimPath, QStringLiteral("c"));
    }

    const AndroidDevice device = phone("d1");
    const RemotePath dcimPath = rootPath().appending("DCIM");
    std::shared_ptr<FakeDeviceSession> session;
};

} // namespace

TEST_F(DeviceBrowserCacheTest, CachingAnotherPathKeepsTheStaleMarkAndAFreshListingOfTheShownPathEndsIt)
{
    show(dcimPage());
    probe().setShowingStalePage(true);
    QSignalSpy stale(&viewModel(), &DeviceBrowserViewModel::isShowingStalePageChanged);
    probe().cache(page({}, rootPath()));
    // Nor does a listing of another folder that had the shown one's path (renamed since).
    probe().cache(page({}, dcimPath, QStringLiteral("old")));
    EXPECT_TRUE(viewModel().isShowingStalePage());
    EXPECT_EQ(stale.count(), 0);
    const DirectoryPage fresh = dcimPage({fileItem("p", "a.jpg", 5, "s1", QStringLiteral("c"))});
    probe().cache(dcimPage());
    probe().cache(fresh);
    EXPECT_FALSE(viewModel().isShowingStalePage());
    EXPECT_EQ(stale.count(), 2); // published each time, also when already false
    EXPECT_EQ(probe().cachedPage(dcimPath), std::optional(fresh));
    EXPECT_EQ(probe().cacheSize(), 2);
}

TEST_F(DeviceBrowserCacheTest, ACachedPageMayStandInOnlyWhileAJobIsActive)
{
    const RemoteObjectID dcim("c");
    show(dcimPage());
    EXPECT_FALSE(probe().canServeCachedPageDuringTransfer(dcimPath, dcim));
    const TransferID job = queueJob();
    EXPECT_FALSE(probe().canServeCachedPageDuringTransfer(dcimPath, dcim)); // not cached
    probe().cache(dcimPage());
    EXPECT_TRUE(probe().canServeCachedPageDuringTransfer(dcimPath, dcim));
    // A folder that has the path now but is another object than the one listed.
    EXPECT_FALSE(probe().canServeCachedPageDuringTransfer(dcimPath, RemoteObjectID("new")));
    queue->complete(job);
    EXPECT_FALSE(probe().canServeCachedPageDuringTransfer(dcimPath, dcim));
}

TEST_F(DeviceBrowserCacheTest, TwoStalePagesShownBeforeTheQueueIsIdleMakeOneReloadOfTheLastOne)
{
    const TransferID job = queueJob();
    show(page({}, rootPath()));
    probe().setShowingStalePage(true);
    probe().scheduleStalePageRefresh();
    probe().setCurrentPage(dcimPage());
    probe().scheduleStalePageRefresh();
    EXPECT_TRUE(probe().stalePageRefreshRunning());
    processEventsUntil([] { return false; }, 10ms); // several polls while the job is active
    EXPECT_TRUE(session->calls().isEmpty());
    EXPECT_FALSE(viewModel().isLoading());

    queue->complete(job);
    EXPECT_TRUE(processEventsUntil([&] { return !probe().stalePageRefreshRunning(); }, 5s));
    EXPECT_EQ(session->calls(), QStringList{"list c"});
    EXPECT_FALSE(viewModel().isShowingStalePage());
    EXPECT_FALSE(viewModel().isLoading());
    ASSERT_EQ(viewModel().items().size(), 1);
    EXPECT_EQ(viewModel().items().first().name, QStringLiteral("a.jpg"));
}

TEST_F(DeviceBrowserCacheTest, AStoppedReloadWaitingForTheQueueChangesNothing)
{
    queueJob();
    show(dcimPage());
    std::stop_source stop;
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    auto reload = startTask(probe().reloadCurrentPage(stop.get_token()));
    processEventsUntil([] { return false; }, 5ms);
    EXPECT_FALSE(reload->done);
    stop.request_stop();
    EXPECT_TRUE(processEventsUntil([&] { return reload->done; }, 5s));
    EXPECT_EQ(loading.count(), 0);
    EXPECT_TRUE(session->calls().isEmpty());
}

TEST_F(DeviceBrowserCacheTest, AReloadWithoutAPageRaisesAndLowersTheFlagsAndClearsTheBanner)
{
    probe().setSession(session);
    probe().present(QuillbarrowError::pathNotFound());
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    runTask(viewModel().reloadCurrentPage());
    EXPECT_EQ(loading.count(), 2);
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_TRUE(session->calls().isEmpty());
}

TEST_F(DeviceBrowserCacheTest, TheShownPageIsListedAgainByItsParentOrAsItsStoragesRoot)
{
    show(dcimPage());
    runTask(probe().refreshCurrentPageInternal(session));
    show(page({}, rootPath()));
    runTask(probe().refreshCurrentPageInternal(session));
    EXPECT_EQ(session->calls(), (QStringList{"list c", "root s1"}));
    EXPECT_EQ(viewModel().currentPage()->path, rootPath());
    EXPECT_EQ(probe().cachedPage(dcimPath)->items.size(), 1);
    EXPECT_EQ(viewModel().currentPage()->items.size(), 2);
}

TEST_F(DeviceBrowserCacheTest, AFailedReloadShowsTheBannerAndKeepsThePage)
{
    const DirectoryPage shown = dcimPage({fileItem("gone", "old.jpg", 1, "s1", QStringLiteral("c"))});
    show(shown);
    session->script("list", Reply::fail(QuillbarrowError::pathNotFound()));
    runTask(viewModel().reloadCurrentPage());
    EXPECT_EQ(viewModel().currentPage(), std::optional(shown));
    EXPECT_FALSE(probe().cachedPage(dcimPath));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("pathNotFound"));
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().isWaitingForTransfer());
}

TEST_F(DeviceBrowserCacheTest, ALateListingOfAReplacedSessionIsNeitherShownNorCached)
{
    const DirectoryPage shown = dcimPage();
    show(shown);
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang));
    auto reload = startTask(viewModel().reloadCurrentPage());
    ASSERT_TRUE(hang->isReached());
    // Another phone's session replaces the first one while its listing is out.
    std::shared_ptr<FakeDeviceSession> other = sessionFor(phone("d2"), treeWith({}));
    probe().setSession(other);
    hang->release();
    EXPECT_TRUE(processEventsUntil([&] { return reload->done; }, 5s));
    EXPECT_EQ(session->endings(), QStringList{"list c -> value"});
    EXPECT_EQ(viewModel().currentPage(), std::optional(shown));
    EXPECT_FALSE(probe().cachedPage(dcimPath));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_FALSE(viewModel().isLoading());
}

// A refresh of a big folder takes again the items an earlier listing of this session gave where
// nothing changed: when nothing did, the rows published are the very rows shown (the pane has
// nothing to match); else only the changed item is new, and the pane finds the others by where
// their ids keep their data.
TEST_F(DeviceBrowserCacheTest, ARefreshOfABigFolderTakesAgainTheItemsThatDidNotChange)
{
    QList<RemoteItem>& listed = session->tree().roots[StorageID("s1")];
    listed = manyFiles();
    show(page({}, rootPath()));
    runTask(probe().refreshCurrentPageInternal(session));
    const QList<RemoteItem> before = viewModel().items();
    ASSERT_EQ(before.size(), listed.size());

    listed = manyFiles(); // equal items, sharing no data with those shown
    runTask(probe().refreshCurrentPageInternal(session));
    EXPECT_EQ(viewModel().items().constData(), before.constData());

    listed = manyFiles();
    listed[5].size = 1;
    runTask(probe().refreshCurrentPageInternal(session));
    const QList<RemoteItem>& after = viewModel().items();
    ASSERT_EQ(itemNames(after), itemNames(before));
    EXPECT_EQ(after[5].size, std::optional<qint64>(1));
    for (qsizetype row = 0; row < after.size(); ++row) {
        const bool shared = after[row].id.rawValue().constData() == before[row].id.rawValue().constData();
        EXPECT_EQ(shared, row != 5) << row;
    }
}
