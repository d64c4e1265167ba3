#include "DeviceBrowserTestSupport.h"

#include "HeldWorkPool.h"
#include "RunTask.h"

#include <QSignalSpy>

#include <functional>
#include <utility>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

const QString lastPrefix = QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.");

RemotePath pathOf(QStringList components)
{
    return RemotePath(StorageID("s1"), std::move(components));
}

class DeviceBrowserNavigationTest : public ConnectedDeviceBrowserTest {
protected:
    DeviceBrowserNavigationTest()
        : ConnectedDeviceBrowserTest(phone("d1", "Pixel", "Google", "Pixel 8", QStringLiteral("SER")))
    {
        useTree(treeWith({alpha, beta, inner, fileItem("f", "x.txt", 3, "s1", QStringLiteral("a")),
                          fileItem("g", "y.txt", 4, "s1", QStringLiteral("a1"))}));
    }

    // Begins what `begin` starts, with the session's `operation` on `subject` held (then given
    // `reply`); runs `meanwhile` while it is held, lets it go and waits for what was begun to end.
    template <typename Begin>
    void whileHeld(const QString& operation, const QString& subject, Reply reply, Begin begin,
                   const std::function<void()>& meanwhile)
    {
        auto hang = std::make_shared<Hang>();
        session->script(operation, reply.heldBy(hang), subject);
        const auto begun = startTask(begin());
        ASSERT_TRUE(hang->isReached());
        meanwhile();
        hang->release();
        ASSERT_TRUE(processEventsUntil([&] { return begun->done; }, 5s));
    }

    const RemoteItem alpha = folderItem("a", "Alpha");
    const RemoteItem beta = folderItem("b", "Beta");
    const RemoteItem inner = folderItem("a1", "Inner", "s1", QStringLiteral("a"));
    // Two folders of the same path, their names written in two Unicode forms; in no tree at first.
    const RemoteItem precomposed = folderItem("nfc", QStringLiteral("Caf\u00e9"));
    const RemoteItem decomposed = folderItem("nfd", QStringLiteral("Cafe\u0301"));
};

} // namespace

TEST_F(DeviceBrowserNavigationTest, AFolderShowsAtOnceAndItsItemsAndLastLocationOnlyOnceListed)
{
    connect();
    probe().present(QuillbarrowError::pathNotFound());
    whileHeld("list", "a", Reply::proceed(), [&] { return viewModel().openFolder(alpha); }, [&] {
        EXPECT_FALSE(viewModel().errorBanner());
        EXPECT_EQ(viewModel().currentPage(), std::optional(page({}, pathOf({"Alpha"}), QStringLiteral("a"))));
        EXPECT_EQ(viewModel().breadcrumb(), (QList<RemotePath>{pathOf({}), pathOf({"Alpha"})}));
        EXPECT_EQ(probe().navigationStack().last(), NavigationNode(pathOf({"Alpha"}), RemoteObjectID("a")));
        EXPECT_TRUE(viewModel().isLoading());
        EXPECT_FALSE(preferences->data(lastPrefix + QStringLiteral("serial:SER")));
    });
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "x.txt"}));
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().isWaitingForTransfer());
    EXPECT_EQ(preferences->data(lastPrefix + QStringLiteral("serial:SER")),
              QByteArray(R"({"storageID":"s1","components":["Alpha"]})"));
    EXPECT_EQ(newCalls(), QStringList{"list a"});
}

TEST_F(DeviceBrowserNavigationTest, ASecondOpeningSupersedesTheFirstWhoseFailureIsNeverShown)
{
    connect();
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    whileHeld("list", "a", Reply::fail(QuillbarrowError::pathNotFound()),
              [&] { return viewModel().openFolder(alpha); }, [&] {
                  runTask(viewModel().openFolder(inner));
                  EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Alpha", "Inner"}));
                  EXPECT_EQ(itemNames(viewModel().items()), QStringList{"y.txt"});
                  EXPECT_FALSE(viewModel().isLoading());
                  loading.clear(); // only what the first opening's end changes counts
              });
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(loading.count(), 0);
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Alpha", "Inner"}));
    EXPECT_EQ(viewModel().breadcrumb().size(), 3);
    EXPECT_TRUE(log.errorLines().isEmpty());
}

TEST_F(DeviceBrowserNavigationTest, ASupersededListingIsCachedOnlyWhileItsSessionIsStillOpen)
{
    for (const bool sessionReplaced : {false, true}) {
        SCOPED_TRACE(sessionReplaced ? "session replaced" : "same session");
        connect();
        std::shared_ptr<FakeDeviceSession> other;
        whileHeld("list", "a", Reply::proceed(), [&] { return viewModel().openFolder(alpha); }, [&] {
            runTask(viewModel().navigate(pathOf({})));
            if (sessionReplaced) {
                other = sessionFor(phone("d2"), treeWith({}));
                probe().setSession(other);
            }
        });
        EXPECT_EQ(viewModel().currentPage()->path, pathOf({}));
        EXPECT_EQ(probe().cachedPage(pathOf({"Alpha"})).has_value(), !sessionReplaced);
        destroyViewModel();
        session->reopen();
    }
}

TEST_F(DeviceBrowserNavigationTest, ACachedFolderDuringATransferIsShownStaleAndListedOnceTheQueueIsIdle)
{
    connect();
    runTask(viewModel().openFolder(alpha));
    runTask(viewModel().navigate(pathOf({})));
    const TransferID job = queueJob();
    forgetCalls();
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);

    runTask(viewModel().openFolder(alpha));
    EXPECT_TRUE(viewModel().isShowingStalePage());
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "x.txt"}));
    EXPECT_FALSE(viewModel().isLoading());
    processEventsUntil([] { return false; }, 10ms); // the reload polls the busy queue
    EXPECT_TRUE(newCalls().isEmpty());

    session->tree().add(fileItem("n", "new.txt", 1, "s1", QStringLiteral("a")));
    queue->complete(job);
    ASSERT_TRUE(processEventsUntil([&] { return !viewModel().isShowingStalePage(); }, 5s));
    processEventsUntil([] { return false; }, 10ms);
    EXPECT_EQ(newCalls(), QStringList{"list a"});
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "new.txt", "x.txt"}));
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(loading.count(), 3); // lowered by the stale step, then raised and lowered by the reload
}

TEST_F(DeviceBrowserNavigationTest, NavigatingGoesBackAlongThePathAndRefusesAPathNotOnIt)
{
    connect();
    runTask(viewModel().openFolder(alpha));
    runTask(viewModel().openFolder(inner));
    runTask(viewModel().navigate(pathOf({"Beta"})));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("pathNotFound"));
    EXPECT_EQ(viewModel().breadcrumb().size(), 3);

    // Going back to the folder shown keeps the whole path and lists it again.
    runTask(viewModel().navigate(pathOf({"Alpha", "Inner"})));
    EXPECT_EQ(viewModel().breadcrumb().size(), 3);
    EXPECT_FALSE(viewModel().errorBanner());
    runTask(viewModel().navigate(pathOf({})));
    EXPECT_EQ(viewModel().breadcrumb(), QList<RemotePath>{pathOf({})});
    EXPECT_EQ(probe().navigationStack(), QList<NavigationNode>{NavigationNode(pathOf({}), std::nullopt)});
    EXPECT_EQ(newCalls(), (QStringList{"list a", "list a1", "list a1", "root s1"}));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Alpha", "Beta"}));
}

TEST_F(DeviceBrowserNavigationTest, AListingFailureKeepsTheNewCrumbSoThatItCanBeTriedAgain)
{
    connect();
    session->script("list", Reply::fail(QuillbarrowError::deviceLockedOrUnavailable()), "a");
    runTask(viewModel().openFolder(alpha));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("deviceLockedOrUnavailable"));
    EXPECT_EQ(viewModel().currentPage(), std::optional(page({}, pathOf({"Alpha"}), QStringLiteral("a"))));
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().isWaitingForTransfer());
    runTask(viewModel().navigate(pathOf({"Alpha"})));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "x.txt"}));
}

TEST_F(DeviceBrowserNavigationTest, AListingOverTheLimitIsAnInterruptedTransferUnlessTransfersAreActive)
{
    timing.listingLimit = 20ms;
    connect();
    session->script("list", Reply::proceed().delayedBy(100ms), "a");
    runTask(viewModel().openFolder(alpha));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("transferInterrupted"));

    // Behind an active transfer the same listing is waited for, however long it takes.
    queueJob();
    session->script("list", Reply::proceed().delayedBy(100ms), "a");
    runTask(viewModel().navigate(pathOf({"Alpha"})));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "x.txt"}));
}

TEST_F(DeviceBrowserNavigationTest, ARefreshListsTheFolderShownAndKeepsItsItemsWhenItFails)
{
    connect();
    runTask(viewModel().openFolder(alpha));
    const quint64 generation = probe().navigationGeneration();
    session->tree().add(fileItem("n", "new.txt", 1, "s1", QStringLiteral("a")));
    runTask(viewModel().refresh());
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "new.txt", "x.txt"}));

    session->script("list", Reply::fail(QuillbarrowError::pathNotFound()), "a");
    runTask(viewModel().refresh());
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "new.txt", "x.txt"}));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_FALSE(viewModel().isWaitingForTransfer());
    EXPECT_EQ(probe().navigationGeneration(), generation);
    EXPECT_EQ(newCalls(), (QStringList{"list a", "list a", "list a"}));
}

TEST_F(DeviceBrowserNavigationTest, ARefreshThatReturnsAfterTheUserMovedOnIsCachedButNotShown)
{
    const auto refresh = [this] { return viewModel().refresh(); };
    connect();
    whileHeld("root", {}, Reply::fail(QuillbarrowError::deviceLockedOrUnavailable()), refresh,
              [&] { runTask(viewModel().openFolder(alpha)); });
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Alpha"}));

    whileHeld("list", "a", Reply::proceed(), refresh, [&] {
        session->tree().add(fileItem("n", "new.txt", 1, "s1", QStringLiteral("a")));
        runTask(viewModel().navigate(pathOf({})));
    });
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({}));
    EXPECT_EQ(probe().cachedPage(pathOf({"Alpha"}))->items.size(), 3);

    // The user moved on to another folder of the same path: the late rows are not shown in it.
    session->tree().add(precomposed);
    session->tree().add(decomposed);
    session->tree().add(fileItem("fa", "a.txt", 1, "s1", QStringLiteral("nfc")));
    runTask(viewModel().openFolder(precomposed));
    whileHeld("list", "nfc", Reply::proceed(), refresh, [&] {
        runTask(viewModel().navigate(pathOf({})));
        runTask(viewModel().openFolder(decomposed));
    });
    EXPECT_EQ(viewModel().currentPage()->parentID, decomposed.id);
    EXPECT_TRUE(viewModel().items().isEmpty());
}

TEST_F(DeviceBrowserNavigationTest, DuringATransferAFolderIsNeverShownAsTheCachedFolderThatHadItsPath)
{
    const auto renameAlphaAndMakeANewOne = [this] {
        runTask(viewModel().renameItem(*row("Alpha"), QStringLiteral("Gamma")));
        runTask(viewModel().createFolder(QStringLiteral("Alpha")));
        return *row("Alpha");
    };
    const auto otherCafe = [&] { return decomposed; };
    const QList<std::pair<RemoteItem, std::function<RemoteItem()>>> cases = {{alpha, renameAlphaAndMakeANewOne},
                                                                              {precomposed, otherCafe}};
    for (const auto& [cached, openedLater] : cases) {
        SCOPED_TRACE(cached.name.toStdString());
        useTree(treeWith({alpha, fileItem("f", "secret.txt", 3, "s1", QStringLiteral("a")), precomposed,
                          fileItem("fa", "a.txt", 1, "s1", QStringLiteral("nfc")), decomposed}));
        connect();
        runTask(viewModel().openFolder(cached));
        runTask(viewModel().navigate(pathOf({})));
        const RemoteItem opened = openedLater();
        const TransferID job = queueJob();
        // While it is listed, pasting or making a folder reaches the folder the crumbs name, and
        // no row of the other one is shown.
        whileHeld("list", opened.id.rawValue(), Reply::proceed(), [&] { return viewModel().openFolder(opened); },
                  [&] {
                      EXPECT_EQ(viewModel().currentPage()->parentID, opened.id);
                      EXPECT_EQ(viewModel().breadcrumb().last(), pathOf({opened.name}));
                      EXPECT_TRUE(viewModel().items().isEmpty());
                  });
        queue->complete(job);
        destroyViewModel();
    }
}

// A folder held by a context menu while the pane went elsewhere opens at its own path, or without
// one not at all.
TEST_F(DeviceBrowserNavigationTest, AFolderTakenFromAPageNoLongerShownOpensAtItsOwnPathOrNotAtAll)
{
    session->tree().add(folderItem("deep", "Deep", "s1", QStringLiteral("a1")));
    const NavigationNode root(pathOf({}), std::nullopt);
    const NavigationNode deep(pathOf({"Alpha", "Inner", "Deep"}), RemoteObjectID("deep"));
    const struct {
        const char* what;
        bool knowsItsPath;
        RemotePath wentTo;
        QList<NavigationNode> stack;
    } cases[] = {
        {"with its path, the pane up a level", true, pathOf({"Alpha"}),
         {root, NavigationNode(pathOf({"Alpha"}), RemoteObjectID("a")),
          NavigationNode(pathOf({"Alpha", "Inner"}), RemoteObjectID("a1")), deep}},
        {"without a path", false, pathOf({"Alpha"}), {root, NavigationNode(pathOf({"Alpha"}), RemoteObjectID("a"))}},
        {"with its path, the pane at the root", true, pathOf({}),
         {root, NavigationNode(pathOf({"Alpha"}), std::nullopt),
          NavigationNode(pathOf({"Alpha", "Inner"}), RemoteObjectID("a1")), deep}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        connect();
        runTask(viewModel().openFolder(alpha));
        runTask(viewModel().openFolder(inner));
        RemoteItem taken = *row("Deep");
        if (test.knowsItsPath) {
            taken.path = deep.path;
        }
        runTask(viewModel().navigate(test.wentTo));
        runTask(viewModel().openFolder(taken));
        EXPECT_EQ(probe().navigationStack(), test.stack);
        EXPECT_EQ(viewModel().currentPage()->path, probe().navigationStack().last().path);
        if (!test.stack[1].parentID) {
            // A crumb with no folder object behind it cannot open: the page shown stays where
            // pastes and new folders go.
            runTask(viewModel().navigate(pathOf({"Alpha"})));
            EXPECT_EQ(viewModel().currentPage()->path, deep.path);
            EXPECT_EQ(viewModel().currentPage()->parentID, deep.parentID);
            EXPECT_TRUE(viewModel().errorBanner().has_value());
        }
        destroyViewModel();
        session->reopen();
    }
}

// A big cached folder shows once the work pool has its rows. A folder opened meanwhile is the
// folder shown, with its rows, path and crumbs, whatever the pool hands back afterwards.
TEST_F(DeviceBrowserNavigationTest, AFolderOpenedWhileThePoolPreparesABigOneIsTheFolderShown)
{
    const RemoteItem camera = folderItem("cam", "Camera");
    for (const RemoteItem& item : manyFiles(DeviceBrowserViewModelProbe::bigListing, "cam") + QList{camera}) {
        session->tree().add(item);
    }
    connect();
    runTask(viewModel().openFolder(camera));
    runTask(viewModel().navigate(pathOf({})));
    HeldWorkPool held;
    const auto first = startTask(viewModel().openFolder(camera));
    runTask(viewModel().openFolder(alpha));
    held.release();
    ASSERT_TRUE(processEventsUntil([&] { return first->done; }, 5s));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Inner", "x.txt"}));
    EXPECT_EQ(viewModel().breadcrumb(), (QList<RemotePath>{pathOf({}), pathOf({"Alpha"})}));
    EXPECT_EQ(probe().navigationStack().last(), NavigationNode(pathOf({"Alpha"}), alpha.id));
}
