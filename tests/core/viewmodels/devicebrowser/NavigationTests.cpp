#include "DeviceBrowserTestSupport.h"

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

    const RemoteItem alpha = folderItem("a", "Alpha");
    const RemoteItem beta = folderItem("b", "Beta");
    const RemoteItem inner = folderItem("a1", "Inner", "s1", QStringLiteral("a"));
};

} // namespace

TEST_F(DeviceBrowserNavigationTest, AFolderShowsAtOnceAndItsItemsAndLastLocationOnlyOnceListed)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "a");
    probe().present(QuillbarrowError::pathNotFound());
    auto opening = startTask(viewModel().openFolder(alpha));
    ASSERT_TRUE(hang->isReached());
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().currentPage(), std::optional(page({}, pathOf({"Alpha"}), QStringLiteral("a"))));
    EXPECT_EQ(viewModel().breadcrumb(), (QList<RemotePath>{pathOf({}), pathOf({"Alpha"})}));
    EXPECT_EQ(probe().navigationStack().last(), NavigationNode(pathOf({"Alpha"}), RemoteObjectID("a")));
    EXPECT_TRUE(viewModel().isLoading());
    EXPECT_FALSE(preferences->data(lastPrefix + QStringLiteral("serial:SER")));

    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return opening->done; }, 5s));
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
    auto first = std::make_shared<Hang>();
    session->script("list", Reply::fail(QuillbarrowError::pathNotFound()).heldBy(first), "a");
    auto openingA = startTask(viewModel().openFolder(alpha));
    ASSERT_TRUE(first->isReached());
    runTask(viewModel().openFolder(inner));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Alpha", "Inner"}));
    EXPECT_EQ(itemNames(viewModel().items()), QStringList{"y.txt"});
    EXPECT_FALSE(viewModel().isLoading());

    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    first->release();
    ASSERT_TRUE(processEventsUntil([&] { return openingA->done; }, 5s));
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
        auto first = std::make_shared<Hang>();
        session->script("list", Reply::proceed().heldBy(first), "a");
        auto openingA = startTask(viewModel().openFolder(alpha));
        ASSERT_TRUE(first->isReached());
        runTask(viewModel().navigate(pathOf({})));
        std::shared_ptr<FakeDeviceSession> other;
        if (sessionReplaced) {
            other = sessionFor(phone("d2"), treeWith({}));
            probe().setSession(other);
        }
        first->release();
        ASSERT_TRUE(processEventsUntil([&] { return openingA->done; }, 5s));
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
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("root", Reply::fail(QuillbarrowError::deviceLockedOrUnavailable()).heldBy(hang));
    auto refreshing = startTask(viewModel().refresh());
    ASSERT_TRUE(hang->isReached());
    runTask(viewModel().openFolder(alpha));
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return refreshing->done; }, 5s));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Alpha"}));

    hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "a");
    refreshing = startTask(viewModel().refresh());
    ASSERT_TRUE(hang->isReached());
    session->tree().add(fileItem("n", "new.txt", 1, "s1", QStringLiteral("a")));
    runTask(viewModel().navigate(pathOf({})));
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return refreshing->done; }, 5s));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({}));
    EXPECT_EQ(probe().cachedPage(pathOf({"Alpha"}))->items.size(), 3);

    // The user moved on to another folder of the same path: the late rows are not shown in it.
    const RemoteItem precomposed = folderItem("nfc", QStringLiteral("Caf\u00e9"));
    const RemoteItem decomposed = folderItem("nfd", QStringLiteral("Cafe\u0301"));
    session->tree().add(precomposed);
    session->tree().add(decomposed);
    session->tree().add(fileItem("fa", "a.txt", 1, "s1", QStringLiteral("nfc")));
    runTask(viewModel().openFolder(precomposed));
    hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "nfc");
    refreshing = startTask(viewModel().refresh());
    ASSERT_TRUE(hang->isReached());
    runTask(viewModel().navigate(pathOf({})));
    runTask(viewModel().openFolder(decomposed));
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return refreshing->done; }, 5s));
    EXPECT_EQ(viewModel().currentPage()->parentID, decomposed.id);
    EXPECT_TRUE(viewModel().items().isEmpty());
}

TEST_F(DeviceBrowserNavigationTest, DuringATransferAFolderIsNeverShownAsTheCachedFolderThatHadItsPath)
{
    const RemoteItem precomposed = folderItem("nfc", QStringLiteral("Caf\u00e9"));
    const RemoteItem decomposed = folderItem("nfd", QStringLiteral("Cafe\u0301"));
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
        auto hang = std::make_shared<Hang>();
        session->script("list", Reply::proceed().heldBy(hang), opened.id.rawValue());
        auto opening = startTask(viewModel().openFolder(opened));
        // While it is listed, pasting or making a folder reaches the folder the crumbs name, and
        // no row of the other one is shown.
        EXPECT_TRUE(hang->isReached());
        EXPECT_EQ(viewModel().currentPage()->parentID, opened.id);
        EXPECT_EQ(viewModel().breadcrumb().last(), pathOf({opened.name}));
        EXPECT_TRUE(viewModel().items().isEmpty());
        hang->release();
        ASSERT_TRUE(processEventsUntil([&] { return opening->done; }, 5s));
        queue->complete(job);
        destroyViewModel();
    }
}

TEST_F(DeviceBrowserNavigationTest, AFolderTakenFromAPageNoLongerShownOpensAtItsOwnPathOrNotAtAll)
{
    session->tree().add(folderItem("deep", "Deep", "s1", QStringLiteral("a1")));
    for (const bool knowsItsPath : {true, false}) {
        SCOPED_TRACE(knowsItsPath ? "with its path" : "without a path");
        connect();
        runTask(viewModel().openFolder(alpha));
        runTask(viewModel().openFolder(inner));
        RemoteItem taken = *row("Deep"); // held by a context menu while the pane goes up a level
        if (knowsItsPath) {
            taken.path = pathOf({"Alpha", "Inner", "Deep"});
        }
        runTask(viewModel().navigate(pathOf({"Alpha"})));
        runTask(viewModel().openFolder(taken));
        const QList<NavigationNode> expected{
            NavigationNode(pathOf({}), std::nullopt), NavigationNode(pathOf({"Alpha"}), RemoteObjectID("a")),
            NavigationNode(pathOf({"Alpha", "Inner"}), RemoteObjectID("a1")),
            NavigationNode(pathOf({"Alpha", "Inner", "Deep"}), RemoteObjectID("deep"))};
        EXPECT_EQ(probe().navigationStack(), expected.mid(0, knowsItsPath ? 4 : 2));
        EXPECT_EQ(viewModel().currentPage()->path, probe().navigationStack().last().path);
        destroyViewModel();
        session->reopen();
    }

    // Taken from the root's page: the folders between have no object the pane knows, so their
    // crumbs cannot open, and the page shown stays where pastes and new folders go.
    connect();
    runTask(viewModel().openFolder(alpha));
    runTask(viewModel().openFolder(inner));
    RemoteItem taken = *row("Deep");
    taken.path = pathOf({"Alpha", "Inner", "Deep"});
    runTask(viewModel().navigate(pathOf({})));
    runTask(viewModel().openFolder(taken));
    runTask(viewModel().navigate(pathOf({"Alpha"})));
    EXPECT_EQ(viewModel().currentPage()->path, pathOf({"Alpha", "Inner", "Deep"}));
    EXPECT_EQ(viewModel().currentPage()->parentID, RemoteObjectID("deep"));
    EXPECT_TRUE(viewModel().errorBanner().has_value());
}
