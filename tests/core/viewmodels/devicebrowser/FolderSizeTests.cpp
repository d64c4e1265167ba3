#include "DeviceBrowserTestSupport.h"

#include "HeldWorkPool.h"
#include "RunTask.h"

#include <QSignalSpy>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

RemoteItem unknownItem(const QString& id, const QString& name, std::optional<qint64> size)
{
    return RemoteItem(RemoteObjectID(id), StorageID("s1"), std::nullopt, name, RemoteItemKind::unknown, size,
                      std::nullopt, std::nullopt);
}

class DeviceBrowserFolderSizeTest : public ConnectedDeviceBrowserTest {
protected:
    DeviceBrowserFolderSizeTest()
    {
        useTree(treeWith({photos, empty, fileItem("a", "a.txt", 10), folderItem("t", "Trip", "s1", QStringLiteral("p")),
                          fileItem("j", "j.jpg", 7, "s1", QStringLiteral("t"))}));
    }

    const RemoteItem photos = folderItem("p", "Photos");
    const RemoteItem empty = folderItem("e", "Empty");
};

} // namespace

TEST_F(DeviceBrowserFolderSizeTest, TheSummaryAddsSizesCountsEntriesAndNamesUnmeasuredFolders)
{
    probe().setCurrentPage(page({fileItem("f10", "ten.txt", 10), fileItem("fx", "nosize.txt", std::nullopt),
                                 unknownItem("u5", "thing", 5), folderItem("d", "Unmeasured"),
                                 folderItem("me", "MeasuredEmpty"), folderItem("m7", "MeasuredSeven"),
                                 fileItem("h", ".hidden", 1000)}));
    probe().setMeasuredSize(RemoteObjectID("me"), FolderStatistics(0, 0));
    probe().setMeasuredSize(RemoteObjectID("m7"), FolderStatistics(7, 2));
    probe().applySort();
    const auto ids = [](std::initializer_list<const char*> names) {
        QSet<RemoteObjectID> set;
        for (const char* name : names) {
            set.insert(RemoteObjectID(name));
        }
        return set;
    };
    struct Case {
        const char* what;
        QSet<RemoteObjectID> selected;
        SelectionSizeSummary expected;
    };
    const Case cases[] = {
        {"nothing", {}, SelectionSizeSummary(0, 0, 0, 0, 0, 500)},
        {"a file, a file without size, an unknown entry, an unmeasured folder", ids({"f10", "fx", "u5", "d"}),
         SelectionSizeSummary(4, 4, 1, 15, 1, 500)},
        {"a measured empty folder", ids({"me"}), SelectionSizeSummary(1, 0, 1, 0, 0, 500)},
        {"a measured folder with a file in a sub-folder", ids({"m7"}), SelectionSizeSummary(1, 2, 1, 7, 0, 500)},
        {"a hidden row and an id of no row", ids({"h", "nowhere"}), SelectionSizeSummary(0, 0, 0, 0, 0, 500)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(viewModel().selectionSummary(c.selected, 500), c.expected);
    }
    EXPECT_EQ(viewModel().selectionSummary(ids({"f10"}), std::nullopt).destinationFreeBytes, std::nullopt);
}

TEST_F(DeviceBrowserFolderSizeTest, MeasuringWalksEachFolderTreeAndShowsTheTotalAsTheFolderSize)
{
    connect();
    QSignalSpy calculating(&viewModel(), &DeviceBrowserViewModel::calculatingFolderSizeIDsChanged);
    runTask(viewModel().calculateFolderSizes({photos, fileItem("a", "a.txt", 10), empty}));
    EXPECT_EQ(newCalls(), (QStringList{"list p", "list t", "list e"}));
    EXPECT_EQ(row("Photos")->size, std::optional<qint64>(7));
    EXPECT_EQ(row("Empty")->size, std::optional<qint64>(0));
    EXPECT_EQ(calculating.count(), 2); // the folders in together, then out together
    EXPECT_TRUE(viewModel().calculatingFolderSizeIDs().isEmpty());
    EXPECT_EQ(viewModel().selectionSummary({RemoteObjectID("p"), RemoteObjectID("e")}, std::nullopt),
              SelectionSizeSummary(2, 2, 2, 7, 0, std::nullopt));
    // Every folder listed on the way is cached.
    EXPECT_EQ(probe().cachedPage(rootPath().appending("Photos").appending("Trip"))->items.size(), 1);
    EXPECT_FALSE(viewModel().errorBanner());
}

TEST_F(DeviceBrowserFolderSizeTest, FoldersMeasuredOrBeingMeasuredAreNotMeasuredAgain)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "p");
    auto first = startTask(viewModel().calculateFolderSizes({photos}));
    ASSERT_TRUE(hang->isReached());
    EXPECT_EQ(viewModel().calculatingFolderSizeIDs(), QSet<RemoteObjectID>{RemoteObjectID("p")});
    runTask(viewModel().precalculateFolderSizes({photos, empty}));
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return first->done; }, 5s));
    runTask(viewModel().calculateFolderSizes({photos, empty, fileItem("a", "a.txt", 10)}));
    EXPECT_EQ(newCalls(), (QStringList{"list p", "list e", "list t"}));
}

// A folder the user asks for is measured by that request, also while a quiet pass holds it and
// may yet be stopped before it gets there, and the request's failure is shown, not only logged.
TEST_F(DeviceBrowserFolderSizeTest, AFolderAskedForIsWalkedByTheRequestEvenWhileAQuietPassWaitsForIt)
{
    const RemoteItem music = folderItem("m", "Music");
    session->tree().add(music);
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the listing fails" : "the listing answers");
        connect();
        if (fails) {
            session->script("list", Reply::fail(QuillbarrowError::pathNotFound()), "m");
        }
        auto hang = std::make_shared<Hang>();
        session->script("list", Reply::proceed().heldBy(hang), "e");
        auto quiet = startTask(viewModel().precalculateFolderSizes({empty, music}));
        ASSERT_TRUE(hang->isReached());
        auto asked = startTask(viewModel().calculateFolderSizes({music}));
        ASSERT_TRUE(processEventsUntil([&] { return asked->done; }, 5s));
        EXPECT_EQ(row("Music")->size, fails ? std::nullopt : std::optional<qint64>(0));
        EXPECT_EQ(viewModel().errorBanner().has_value(), fails);
        hang->release();
        ASSERT_TRUE(processEventsUntil([&] { return quiet->done; }, 5s));
        EXPECT_TRUE(viewModel().calculatingFolderSizeIDs().isEmpty());
        destroyViewModel();
    }
}

// Passes that overlap (a selection's while an earlier one still waits on the device) walk each
// folder once between them, and every size shows in its row, in the order asked for.
TEST_F(DeviceBrowserFolderSizeTest, OverlappingPassesWalkEachFolderOnceAndShowEverySizeInOrder)
{
    const RemoteItem music = folderItem("m", "Music");
    session->tree().add(music);
    session->tree().add(fileItem("s", "song.mp3", 40, "s1", QStringLiteral("m")));
    struct Case {
        const char* what;
        FileSort sort;
        bool ascending;
        // The first pass is held at its first folder until every later one has started.
        QList<QList<RemoteItem>> passes;
        QStringList rows;
    };
    const Case cases[] = {
        {"by name, a later pass over folders still waiting", FileSort::name, true,
         {{empty, music, photos}, {photos, music}},
         {"Empty", "Music", "Photos", "a.txt"}},
        // Sorted by size, the sizes fill in the rows where they stood.
        {"by size, a folder given twice and one being measured", FileSort::size, false,
         {{photos, empty}, {music, photos, music}, {empty, music}},
         {"Empty", "Music", "Photos", "a.txt"}},
        {"by size ascending, one pass of its own each", FileSort::size, true,
         {{music}, {photos}, {empty}},
         {"Empty", "Music", "Photos", "a.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        connect();
        viewModel().setSort(c.sort, c.ascending);
        auto hang = std::make_shared<Hang>();
        session->script("list", Reply::proceed().heldBy(hang), c.passes.front().front().id.rawValue());
        QList<std::shared_ptr<TaskOutcome<void>>> passes;
        for (const QList<RemoteItem>& folders : c.passes) {
            passes.append(startTask(viewModel().precalculateFolderSizes(folders)));
        }
        ASSERT_TRUE(hang->isReached());
        hang->release();
        ASSERT_TRUE(processEventsUntil(
            [&] { return std::all_of(passes.begin(), passes.end(), [](const auto& pass) { return pass->done; }); },
            5s));
        QStringList calls = newCalls();
        calls.sort();
        EXPECT_EQ(calls, (QStringList{"list e", "list m", "list p", "list t"}));
        EXPECT_EQ(itemNames(viewModel().items()), c.rows);
        EXPECT_EQ(row("Photos")->size, std::optional<qint64>(7));
        EXPECT_EQ(row("Empty")->size, std::optional<qint64>(0));
        EXPECT_EQ(row("Music")->size, std::optional<qint64>(40));
        EXPECT_TRUE(viewModel().calculatingFolderSizeIDs().isEmpty());
        destroyViewModel();
    }
}

TEST_F(DeviceBrowserFolderSizeTest, QuietlyARealErrorIsLoggedOnceAndACancellationNotAtAll)
{
    connect();
    session->script("list", Reply::fail(QuillbarrowError::pathNotFound()), "p");
    session->script("list", Reply::fail(QuillbarrowError::userCancelled()), "e");
    const RemoteItem other = folderItem("t", "Trip");
    runTask(viewModel().precalculateFolderSizes({photos, empty, other}));
    EXPECT_EQ(log.infoLines().filter("folder-size"),
              QStringList{"automatic folder-size calculation failed for Photos: pathNotFound"});
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().selectionSummary({RemoteObjectID("p")}, std::nullopt).unknownFolderCount, 1);

    // Asked for explicitly, the same failure is the banner, and nothing is logged at info level.
    session->script("list", Reply::fail(QuillbarrowError::pathNotFound()), "p");
    runTask(viewModel().calculateFolderSizes({photos}));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("pathNotFound"));
    EXPECT_EQ(log.infoLines().filter("folder-size").size(), 1);
}

TEST_F(DeviceBrowserFolderSizeTest, AFolderThatListsItselfOrNeverEndsFailsInsteadOfWalkingForEver)
{
    timing.maximumFolderDepth = 3;
    session->tree().add(folderItem("l", "Loop"));
    session->tree().folders[RemoteObjectID("l")].append(folderItem("l", "Loop", "s1", QStringLiteral("l")));
    QString parent = QStringLiteral("p");
    for (int level = 1; level <= 5; ++level) {
        const QString id = QStringLiteral("deep%1").arg(level);
        session->tree().add(folderItem(id, id, "s1", parent));
        parent = id;
    }
    connect();
    runTask(viewModel().calculateFolderSizes({folderItem("l", "Loop")}), 5s);
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("The folder \"Loop\" is listed inside itself."));
    EXPECT_TRUE(viewModel().calculatingFolderSizeIDs().isEmpty());

    runTask(viewModel().calculateFolderSizes({photos}), 5s);
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("The folder \"deep4\" lies more than 3 levels deep."));
    EXPECT_EQ(viewModel().selectionSummary({RemoteObjectID("l"), RemoteObjectID("p")}, std::nullopt).unknownFolderCount,
              2);
}

TEST_F(DeviceBrowserFolderSizeTest, SizesMeasuredForASessionThatHasGoneAreDropped)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "p");
    auto measuring = startTask(viewModel().calculateFolderSizes({photos, empty}));
    ASSERT_TRUE(hang->isReached());
    probe().setSession(sessionFor(phone("d2"), treeWith({})));
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return measuring->done; }, 5s));
    EXPECT_EQ(viewModel().selectionSummary({RemoteObjectID("p")}, std::nullopt).unknownFolderCount, 1);
    EXPECT_FALSE(probe().cachedPage(rootPath().appending("Photos")));
    EXPECT_FALSE(viewModel().errorBanner());
    EXPECT_EQ(newCalls(), (QStringList{"list p"})); // the rest of the loop is dropped
}

TEST_F(DeviceBrowserFolderSizeTest, AfterConnectingTheShownFoldersAreMeasuredQuietlyAfterTheDelay)
{
    timing.automaticFolderSizeDelay = 5ms;
    connect();
    ASSERT_TRUE(processEventsUntil([&] { return row("Empty")->size.has_value() && row("Photos")->size.has_value(); },
                                   5s));
    EXPECT_EQ(clock->sleeps(), QList<qint64>{5});
    EXPECT_EQ(row("Photos")->size, std::optional<qint64>(7));
    EXPECT_EQ(newCalls(), (QStringList{"list e", "list p", "list t"})); // in table order
    EXPECT_TRUE(log.infoLines().filter("folder-size").isEmpty());
}

TEST_F(DeviceBrowserFolderSizeTest, TheAutomaticPassIsSkippedWhileTransfersAreActiveOrOnceTheUserMovedOn)
{
    timing.automaticFolderSizeDelay = 5ms;
    queueJob();
    connect();
    processEventsUntil([] { return false; }, 30ms);
    EXPECT_TRUE(newCalls().isEmpty());
    destroyViewModel();

    queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    timing.automaticFolderSizeDelay = 30ms;
    connect();
    runTask(viewModel().openFolder(empty));
    processEventsUntil([] { return false; }, 60ms);
    EXPECT_EQ(newCalls(), QStringList{"list e"}); // the opening's own listing only
}

TEST_F(DeviceBrowserFolderSizeTest, ACancelledPassLogsNothingAndLeavesTheFolderUnmeasured)
{
    timing.automaticFolderSizeDelay = 5ms;
    auto hang = std::make_shared<Hang>();
    session->script("list", Reply::proceed().heldBy(hang), "e");
    connect();
    ASSERT_TRUE(processEventsUntil([&] { return hang->isReached(); }, 5s));
    // The folder waiting behind the one measured counts as being measured too.
    EXPECT_EQ(viewModel().calculatingFolderSizeIDs(),
              (QSet<RemoteObjectID>{RemoteObjectID("e"), RemoteObjectID("p")}));
    runTask(viewModel().openFolder(photos));
    ASSERT_TRUE(processEventsUntil([&] { return viewModel().calculatingFolderSizeIDs().isEmpty(); }, 5s));
    processEventsUntil([] { return false; }, 20ms);
    EXPECT_TRUE(log.infoLines().filter("folder-size").isEmpty());
    EXPECT_FALSE(viewModel().errorBanner());
    hang->release();
    runTask(viewModel().navigate(rootPath()));
    EXPECT_EQ(viewModel().selectionSummary({RemoteObjectID("e"), RemoteObjectID("p")}, std::nullopt).unknownFolderCount,
              2);
}

// A big page's rows take its folders' sizes on the pool, sorted by name or by size: each fills in
// its row where it stood, every other row stays the item it was, and the browser names the row;
// until then the rows shown are not touched. Rows sorted anew while the pool waits show the new
// order only.
TEST_F(DeviceBrowserFolderSizeTest, TheMeasuredSizesOfABigPageReachItsRowsFromThePool)
{
    const RemoteItem music = folderItem("m", "Music");
    session->tree().add(music);
    session->tree().add(fileItem("s", "song.mp3", 40, "s1", QStringLiteral("m")));
    for (const RemoteItem& file : manyFiles()) {
        session->tree().add(file);
    }
    connect();
    const struct {
        const char* what;
        FileSort sort;
        RemoteItem folder;
        qint64 bytes;
        bool reversedMeanwhile;
    } cases[] = {
        {"by name", FileSort::name, empty, 0, false},
        {"by size", FileSort::size, photos, 7, false},
        {"by size, reversed while the pool waits", FileSort::size, music, 40, true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        viewModel().setSort(each.sort, true);
        ASSERT_TRUE(processEventsUntil([&] { return !probe().isSortingOnPool(); }));
        const QList<RemoteItem> before = viewModel().items();
        QList<QStringList> published;
        const QMetaObject::Connection publishing =
            QObject::connect(&viewModel(), &DeviceBrowserViewModel::itemsChanged, &viewModel(),
                             [&] { published.append(itemNames(viewModel().items())); });
        HeldWorkPool held;
        runTask(viewModel().calculateFolderSizes({each.folder}));
        EXPECT_EQ(viewModel().items().constData(), before.constData());
        if (each.reversedMeanwhile) {
            viewModel().setSort(each.sort, false);
        }
        held.release();
        ASSERT_TRUE(processEventsUntil([&] { return !probe().isSortingOnPool(); }));
        QObject::disconnect(publishing);
        const QList<RemoteItem> after = viewModel().items();
        EXPECT_EQ(row(each.folder.name)->size, std::optional<qint64>(each.bytes));
        EXPECT_EQ(published, QList<QStringList>{itemNames(after)}) << "rows shown in another order";
        if (each.reversedMeanwhile) {
            EXPECT_EQ(itemNames(after), itemNames(sortedForBrowser(after, each.sort, false)));
            EXPECT_EQ(viewModel().filledInRows(), std::nullopt);
            continue;
        }
        const qsizetype filled = itemNames(after).indexOf(each.folder.name);
        QList<RemoteItem> expected = before;
        expected[filled] = after[filled];
        EXPECT_EQ(after, expected) << "rows moved or changed";
        EXPECT_EQ(viewModel().filledInRows(), std::vector<qsizetype>{filled});
    }
}

// Sorted by size with "b" measured (filled in where its row stands), the folder shown is listed
// again: after a change the user made in it the rows stay where they stand, a new item taking the
// sort's place among them; when asked for, the rows are placed by the measured sizes. On a small
// page and on a big one, whose rows the pool works out.
TEST_F(DeviceBrowserFolderSizeTest, AListingNobodyAskedForKeepsTheRowsWhereTheyStand)
{
    connect();
    viewModel().setSort(FileSort::size, true);
    QString in;
    const QStringList bySize{"a", "c", "b", "z.txt"};
    const std::tuple<const char*, std::function<void()>, QStringList> cases[] = {
        {"a new folder", [&] { runTask(viewModel().createFolder("0")); }, {"0", "a", "b", "c", "z.txt"}},
        {"a delete", [&] { runTask(viewModel().deleteItems({*row("a")})); }, {"b", "c", "z.txt"}},
        {"a paste, then c measured",
         [&] {
             session->tree().add(fileItem(in + "m", "m.txt", 1, "s1", in));
             runTask(viewModel().reloadCurrentPage());
             runTask(viewModel().calculateFolderSizes({*row("c")}));
         },
         {"a", "b", "c", "m.txt", "z.txt"}},
        {"a refresh", [&] { runTask(viewModel().refresh()); }, bySize},
        {"a refresh listing a new file, then a rename",
         [&] {
             session->tree().add(fileItem(in + "n", "n.txt", 60, "s1", in));
             runTask(viewModel().refresh());
             runTask(viewModel().renameItem(*row("c"), "0c"));
         },
         {"a", "0c", "b", "z.txt", "n.txt"}},
        {"the sort", [&] { viewModel().setSort(FileSort::size); }, bySize},
        {"the hidden-name switch", [&] { viewModel().setShowHiddenFiles(false); }, bySize},
    };
    int folder = 0;
    for (const bool big : {false, true}) {
        for (const auto& [what, change, rows] : cases) {
            SCOPED_TRACE(std::string(what) + (big ? ", big page" : ""));
            in = QStringLiteral("case%1").arg(++folder);
            session->tree().add(folderItem(in, in));
            for (const auto& [name, bytes] : {std::pair("a", 100), {"b", 300}, {"c", 200}}) {
                session->tree().add(folderItem(in + name, name, "s1", in));
                session->tree().add(fileItem(in + name + "/data", "data", bytes, "s1", in + name));
            }
            session->tree().add(fileItem(in + "z", "z.txt", 50, "s1", in));
            // Files bigger than the case's come after its rows.
            for (int each = 0; big && each < DeviceBrowserViewModelProbe::bigListing; ++each) {
                session->tree().add(
                    fileItem(in + QString::number(each), QStringLiteral("f%1").arg(each), 100'000, "s1", in));
            }
            runTask(viewModel().navigate(rootPath()));
            runTask(viewModel().openFolder(*row(in)));
            runTask(viewModel().calculateFolderSizes({*row("b")}));
            ASSERT_TRUE(processEventsUntil([&] { return !probe().isSortingOnPool(); }));
            ASSERT_EQ(itemNames(viewModel().items()).mid(0, 4), (QStringList{"a", "b", "c", "z.txt"}));
            change();
            ASSERT_TRUE(
                processEventsUntil([&] { return !probe().isSortingOnPool() && !viewModel().isLoading(); }));
            EXPECT_EQ(itemNames(viewModel().items()).mid(0, rows.size()), rows);
            EXPECT_EQ(viewModel().items().size(),
                      rows.size() + (big ? DeviceBrowserViewModelProbe::bigListing : 0));
            EXPECT_FALSE(viewModel().errorBanner().has_value());
        }
    }
}
