#include "DeviceBrowserTestSupport.h"
#include "HeldWorkPool.h"
#include "RunTask.h"

#include <QMetaProperty>
#include <QSignalSpy>

#include <functional>
#include <stop_token>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

RemoteItem unknownItem(const QString& id, const QString& name)
{
    return RemoteItem(RemoteObjectID(id), StorageID(QStringLiteral("s1")), std::nullopt, name, RemoteItemKind::unknown,
                      std::nullopt, std::nullopt, std::nullopt);
}

class DeviceBrowserStateTest : public DeviceBrowserTest {};

} // namespace

TEST_F(DeviceBrowserStateTest, EveryPublishedPropertyIsAQtPropertyWithAChangeSignal)
{
    const QMetaObject* meta = viewModel().metaObject();
    QStringList published;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        EXPECT_TRUE(property.hasNotifySignal()) << property.name();
        published.append(QString::fromLatin1(property.name()));
    }
    EXPECT_EQ(published, (QStringList{"devices", "selectedDevice", "storages", "currentPage", "items", "breadcrumb",
                                      "isLoading", "isWaitingForTransfer", "isShowingStalePage", "connectionPhase",
                                      "pendingStorageID", "errorBanner", "favoriteLocations",
                                      "calculatingFolderSizeIDs", "sort", "sortAscending", "showHiddenFiles",
                                      "transferJobs", "connectionStatusMessage"}));
    // Only the three settings of the table are writable from outside.
    QStringList writable;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        if (meta->property(i).isWritable()) {
            writable.append(QString::fromLatin1(meta->property(i).name()));
        }
    }
    EXPECT_EQ(writable, (QStringList{"sort", "sortAscending", "showHiddenFiles"}));
}

TEST_F(DeviceBrowserStateTest, ANewViewModelIsIdleSortsByNameAndHidesDotNames)
{
    DeviceBrowserViewModel& model = viewModel();
    EXPECT_EQ(model.connectionPhase(), DeviceConnectionPhase::idle);
    EXPECT_EQ(model.connectionStatusMessage(), QStringLiteral("Ready"));
    EXPECT_EQ(model.sort(), FileSort::name);
    EXPECT_TRUE(model.sortAscending());
    EXPECT_FALSE(model.showHiddenFiles());
    EXPECT_TRUE(model.devices().isEmpty());
    EXPECT_FALSE(model.selectedDevice());
    EXPECT_FALSE(model.currentPage());
    EXPECT_TRUE(model.items().isEmpty());
    EXPECT_FALSE(model.errorBanner());
    EXPECT_FALSE(model.isLoading());
    EXPECT_EQ(model.currentSession(), nullptr);
    // It starts nothing by itself.
    EXPECT_TRUE(backend->calls().isEmpty());
}

TEST_F(DeviceBrowserStateTest, StatusTextOfEachPhase)
{
    const QString ellipsis(QChar(0x2026));
    struct Row {
        DeviceConnectionPhase phase;
        bool deviceSelected;
        QString text;
    };
    const QList<Row> rows{
        {DeviceConnectionPhase::idle, true, QStringLiteral("Ready")},
        {DeviceConnectionPhase::detecting, false, QStringLiteral("Looking for an Android device") + ellipsis},
        {DeviceConnectionPhase::opening, true, QStringLiteral("Connecting to Pixel 8a") + ellipsis},
        {DeviceConnectionPhase::opening, false, QStringLiteral("Connecting to Android device") + ellipsis},
        {DeviceConnectionPhase::loadingStorage, true, QStringLiteral("Loading Pixel 8a storage") + ellipsis},
        {DeviceConnectionPhase::loadingStorage, false, QStringLiteral("Loading Android device storage") + ellipsis},
        {DeviceConnectionPhase::loadingContents, true, QStringLiteral("Loading device contents") + ellipsis},
        {DeviceConnectionPhase::connected, true, QStringLiteral("Connected")},
    };
    DeviceBrowserViewModelProbe access = probe();
    for (const Row& row : rows) {
        access.setSelectedDevice(row.deviceSelected ? std::optional(phone(QStringLiteral("d1"), QStringLiteral("Pixel 8a")))
                                                    : std::nullopt);
        access.setConnectionPhase(row.phase);
        EXPECT_EQ(viewModel().connectionStatusMessage(), row.text) << qPrintable(toText(row.phase));
    }
    EXPECT_FALSE(viewModel().connectionStatusMessage().contains(QStringLiteral("...")));
}

TEST_F(DeviceBrowserStateTest, TheStatusTextIsAnnouncedWithThePhaseAndTheDevice)
{
    QSignalSpy status(&viewModel(), &DeviceBrowserViewModel::connectionStatusMessageChanged);
    QSignalSpy phase(&viewModel(), &DeviceBrowserViewModel::connectionPhaseChanged);
    probe().setConnectionPhase(DeviceConnectionPhase::idle); // unchanged, still announced
    probe().setSelectedDevice(phone(QStringLiteral("d1")));
    EXPECT_EQ(phase.count(), 1);
    EXPECT_EQ(status.count(), 2);
}

TEST_F(DeviceBrowserStateTest, SetSortWithTheCurrentValuesPublishesNothing)
{
    probe().setCurrentPage(page({fileItem(QStringLiteral("1"), QStringLiteral("b"), 1),
                                 fileItem(QStringLiteral("2"), QStringLiteral("a"), 2)}));
    const QList<RemoteItem> before = viewModel().items();
    QSignalSpy sort(&viewModel(), &DeviceBrowserViewModel::sortChanged);
    QSignalSpy ascending(&viewModel(), &DeviceBrowserViewModel::sortAscendingChanged);
    QSignalSpy items(&viewModel(), &DeviceBrowserViewModel::itemsChanged);
    viewModel().setSort(FileSort::name, true);
    EXPECT_EQ(sort.count(), 0);
    EXPECT_EQ(ascending.count(), 0);
    EXPECT_EQ(items.count(), 0);
    EXPECT_EQ(viewModel().items(), before);
}

TEST_F(DeviceBrowserStateTest, SetSortPublishesBothValuesAndTheRowsOnce)
{
    probe().setCurrentPage(page({fileItem(QStringLiteral("1"), QStringLiteral("a"), 30),
                                 fileItem(QStringLiteral("2"), QStringLiteral("b"), 10),
                                 fileItem(QStringLiteral("3"), QStringLiteral("c"), 20)}));
    struct Row {
        FileSort sort;
        bool ascending;
        QStringList names;
    };
    // From name ascending: a new direction alone, then a new key alone, then both.
    const QList<Row> rows{{FileSort::name, false, {"c", "b", "a"}},
                          {FileSort::size, false, {"a", "c", "b"}},
                          {FileSort::name, true, {"a", "b", "c"}}};
    for (const Row& row : rows) {
        QSignalSpy sort(&viewModel(), &DeviceBrowserViewModel::sortChanged);
        QSignalSpy ascending(&viewModel(), &DeviceBrowserViewModel::sortAscendingChanged);
        QSignalSpy items(&viewModel(), &DeviceBrowserViewModel::itemsChanged);
        viewModel().setSort(row.sort, row.ascending);
        EXPECT_EQ(sort.count(), 1);
        EXPECT_EQ(ascending.count(), 1);
        EXPECT_EQ(items.count(), 1);
        EXPECT_EQ(itemNames(viewModel().items()), row.names);
        EXPECT_EQ(viewModel().sort(), row.sort);
        EXPECT_EQ(viewModel().sortAscending(), row.ascending);
    }
}

TEST_F(DeviceBrowserStateTest, EachSettingAssignmentIsPublishedAndResortsEvenWhenUnchanged)
{
    probe().setCurrentPage(page({fileItem(QStringLiteral("1"), QStringLiteral("a"), 1)}));
    QSignalSpy sort(&viewModel(), &DeviceBrowserViewModel::sortChanged);
    QSignalSpy ascending(&viewModel(), &DeviceBrowserViewModel::sortAscendingChanged);
    QSignalSpy hidden(&viewModel(), &DeviceBrowserViewModel::showHiddenFilesChanged);
    QSignalSpy items(&viewModel(), &DeviceBrowserViewModel::itemsChanged);
    viewModel().setSort(FileSort::name);
    viewModel().setSortAscending(true);
    viewModel().setShowHiddenFiles(false);
    // Through the property system too, as a view binding would.
    EXPECT_TRUE(viewModel().setProperty("sort", QVariant::fromValue(FileSort::size)));
    EXPECT_EQ(sort.count(), 2);
    EXPECT_EQ(ascending.count(), 1);
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_EQ(items.count(), 4);
    EXPECT_EQ(viewModel().sort(), FileSort::size);
}

TEST_F(DeviceBrowserStateTest, HiddenNamesAreDroppedUnlessShown)
{
    probe().setCurrentPage(page({fileItem(QStringLiteral("1"), QStringLiteral(".nomedia"), 0),
                                 folderItem(QStringLiteral("2"), QStringLiteral("..data")),
                                 fileItem(QStringLiteral("3"), QStringLiteral("photo.jpg"), 5),
                                 fileItem(QStringLiteral("4"), QStringLiteral("a.b"), 5)}));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"a.b", "photo.jpg"}));
    viewModel().setShowHiddenFiles(true);
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"..data", ".nomedia", "a.b", "photo.jpg"}));
    viewModel().setShowHiddenFiles(false);
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"a.b", "photo.jpg"}));
}

TEST_F(DeviceBrowserStateTest, EveryResortOrdersTheCurrentPageByItsOwnNames)
{
    // The names' collation keys are kept from a page's first sort: each step must still order the
    // page shown now, through the hidden-name filter, and a new page of as many items must not
    // be sorted by the names of the one before.
    const QList<RemoteItem> first{fileItem(QStringLiteral("1"), QStringLiteral("file10"), 3),
                                  fileItem(QStringLiteral("2"), QStringLiteral(".hidden"), 1),
                                  fileItem(QStringLiteral("3"), QStringLiteral("File2"), 2)};
    const QList<RemoteItem> second{fileItem(QStringLiteral("1"), QStringLiteral("b"), 3),
                                   fileItem(QStringLiteral("2"), QStringLiteral("c"), 1),
                                   fileItem(QStringLiteral("3"), QStringLiteral("a"), 2)};
    struct Step {
        std::function<void()> act;
        QStringList names;
    };
    const QList<Step> steps{
        {[&] { probe().setCurrentPage(page(first)); }, {"File2", "file10"}},
        {[&] { viewModel().setSortAscending(false); }, {"file10", "File2"}},
        {[&] { viewModel().setShowHiddenFiles(true); }, {"file10", "File2", ".hidden"}},
        {[&] { viewModel().setSort(FileSort::size, true); }, {".hidden", "File2", "file10"}},
        {[&] { probe().setCurrentPage(page(second)); }, {"c", "a", "b"}},
        {[&] { viewModel().setSort(FileSort::name, false); }, {"c", "b", "a"}},
        {[&] { viewModel().setSortAscending(true); }, {"a", "b", "c"}},
    };
    for (qsizetype index = 0; index < steps.size(); ++index) {
        steps.at(index).act();
        EXPECT_EQ(itemNames(viewModel().items()), steps.at(index).names) << "step " << index;
    }
}

TEST_F(DeviceBrowserStateTest, FoldersThenFilesThenUnknownItemsInBothDirections)
{
    probe().setCurrentPage(page({unknownItem(QStringLiteral("u1"), QStringLiteral("u1")),
                                 fileItem(QStringLiteral("f1"), QStringLiteral("z.txt"), 1),
                                 folderItem(QStringLiteral("d1"), QStringLiteral("B")),
                                 unknownItem(QStringLiteral("u2"), QStringLiteral("m")),
                                 fileItem(QStringLiteral("f2"), QStringLiteral("c.txt"), 2),
                                 folderItem(QStringLiteral("d2"), QStringLiteral("a"))}));
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"a", "B", "c.txt", "z.txt", "m", "u1"}));
    viewModel().setSortAscending(false);
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"B", "a", "z.txt", "c.txt", "u1", "m"}));
}

TEST_F(DeviceBrowserStateTest, AMeasuredFolderShowsItsMeasuredSizeAndAFileKeepsTheDevicesSize)
{
    RemoteItem reportedFolder = folderItem(QStringLiteral("d1"), QStringLiteral("DCIM"));
    reportedFolder.size = 4096;
    const RemoteItem emptyFolder = folderItem(QStringLiteral("d2"), QStringLiteral("Empty"));
    const RemoteItem unmeasured = folderItem(QStringLiteral("d3"), QStringLiteral("Music"));
    const RemoteItem file = fileItem(QStringLiteral("f1"), QStringLiteral("song.mp3"), 300);
    DeviceBrowserViewModelProbe access = probe();
    access.setMeasuredSize(RemoteObjectID(QStringLiteral("d1")), FolderStatistics(10'000, 12));
    access.setMeasuredSize(RemoteObjectID(QStringLiteral("d2")), FolderStatistics(0, 0));
    access.setMeasuredSize(RemoteObjectID(QStringLiteral("f1")), FolderStatistics(99, 1));
    access.setCurrentPage(page({reportedFolder, emptyFolder, unmeasured, file}));

    QHash<QString, std::optional<qint64>> sizes;
    for (const RemoteItem& item : viewModel().items()) {
        sizes.insert(item.name, item.size);
    }
    EXPECT_EQ(sizes.value(QStringLiteral("DCIM")), std::optional<qint64>(10'000));
    EXPECT_EQ(sizes.value(QStringLiteral("Empty")), std::optional<qint64>(0));
    EXPECT_EQ(sizes.value(QStringLiteral("Music")), std::nullopt);
    EXPECT_EQ(sizes.value(QStringLiteral("song.mp3")), std::optional<qint64>(300));
    // The page itself keeps what the device reported.
    EXPECT_EQ(viewModel().currentPage()->items.first().size, std::optional<qint64>(4096));
    // Sorting by size uses the measured sizes (a missing size is the lowest).
    viewModel().setSort(FileSort::size, true);
    EXPECT_EQ(itemNames(viewModel().items()), (QStringList{"Music", "Empty", "DCIM", "song.mp3"}));
}

TEST_F(DeviceBrowserStateTest, WithoutAPageTheRowsAreEmpty)
{
    probe().setCurrentPage(page({fileItem(QStringLiteral("1"), QStringLiteral("a"), 1)}));
    ASSERT_EQ(viewModel().items().size(), 1);
    QSignalSpy items(&viewModel(), &DeviceBrowserViewModel::itemsChanged);
    probe().setCurrentPage(std::nullopt);
    EXPECT_TRUE(viewModel().items().isEmpty());
    EXPECT_EQ(items.count(), 1);
    probe().applySort(); // publishes again although nothing changed
    EXPECT_EQ(items.count(), 2);
}

TEST_F(DeviceBrowserStateTest, TeardownStopsTheThreeTasksInOrderAndLeavesTheSessionOpen)
{
    const AndroidDevice device = phone(QStringLiteral("d1"));
    std::shared_ptr<FakeDeviceSession> session = sessionFor(device, treeWith({}));
    DeviceBrowserViewModelProbe access = probe();
    access.setSession(session);
    QStringList stopped;
    using Callback = std::stop_callback<std::function<void()>>;
    // Registered in another order than the expected one, so that the order seen is the teardown's.
    Callback sizes(access.startAutomaticFolderSizeTask(), std::function<void()>([&] { stopped.append("sizes"); }));
    Callback monitor(access.startMonitorTask(), std::function<void()>([&] { stopped.append("monitor"); }));
    Callback stale(access.startStalePageRefreshTask(), std::function<void()>([&] { stopped.append("stale"); }));
    destroyViewModel();
    EXPECT_EQ(stopped, (QStringList{"monitor", "stale", "sizes"}));
    EXPECT_EQ(session->closeCount(), 0);
}

// A big page is sorted on the work pool, one sort at a time, and its rows follow once the sort is
// done. Meanwhile rows of the page in another order show (rows prepared for another sort, even when
// the page is shown again), never sorted on the window's thread; a sort overtaken by another sort
// or another page never shows. Big is 5000 items here, whatever threshold the code uses.
TEST_F(DeviceBrowserStateTest, ABigPageIsSortedOnThePoolAndOnlyItsLatestSortShows)
{
    const DirectoryPage big = page(manyFiles(5000));
    const DirectoryPage small = page({fileItem("s", "small.txt", 1)});
    const QString smallest = big.items.last().name;
    const auto showBig = [&] { probe().setCurrentPage(big); };
    const auto prepareBig = [&] {
        probe().setCurrentPage(std::nullopt);
        probe().putInCache(big);
        runTask(probe().prepareCachedRows(big));
    };
    const struct {
        const char* what;
        std::function<void()> before; // with the rows sorted by name
        std::function<void()> meanwhile; // while the pool sorts them by size
        QString firstMeanwhile;
        QString first;
        int published;
    } cases[] = {
        // Published: no rows, the rows prepared, the rows sorted.
        {"rows prepared for another sort, shown twice", prepareBig, [&] { showBig(); probe().applySort(); }, "f0000",
         smallest, 3},
        {"nothing", showBig, [] {}, "f0000", smallest, 1},
        {"the direction reversed", showBig, [&] { viewModel().setSortAscending(false); }, "f0000", "f0000", 1},
        {"another page shown", showBig, [&] { probe().setCurrentPage(small); }, "small.txt", "small.txt", 1},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        probe().setCurrentPage(small);
        viewModel().setSort(FileSort::name, true);
        each.before();
        QSignalSpy published(&viewModel(), &DeviceBrowserViewModel::itemsChanged);
        {
            const HeldWorkPool held;
            viewModel().setSort(FileSort::size, true);
            each.meanwhile();
            EXPECT_EQ(viewModel().items().first().name, each.firstMeanwhile);
        }
        ASSERT_TRUE(processEventsUntil([&] { return !probe().isSortingOnPool(); }));
        EXPECT_EQ(viewModel().items().first().name, each.first);
        EXPECT_EQ(published.count(), each.published);
    }
}

// A big page listed again unasked is placed among the rows seen on the pool, the rows seen untouched
// until then: the item gone leaves, the new one (the smallest) goes to the top.
TEST_F(DeviceBrowserStateTest, ABigPageListedAgainUnaskedIsPlacedAmongTheRowsSeenOnThePool)
{
    const DirectoryPage big = page(manyFiles(5000));
    probe().setCurrentPage(big);
    viewModel().setSort(FileSort::size, true);
    ASSERT_TRUE(processEventsUntil([&] { return !probe().isSortingOnPool(); }));
    const QList<RemoteItem> seen = viewModel().items();
    DirectoryPage again = big;
    again.items.removeAt(10);
    again.items.append(fileItem("n", "n.txt", 1));
    {
        const HeldWorkPool held;
        probe().setCurrentPage(again, RowPlacement::keepInPlace);
        EXPECT_EQ(viewModel().items().constData(), seen.constData());
    }
    ASSERT_TRUE(processEventsUntil([&] { return !probe().isSortingOnPool(); }));
    QStringList expected = itemNames(seen);
    expected.removeOne(big.items[10].name);
    expected.prepend("n.txt");
    EXPECT_EQ(itemNames(viewModel().items()), expected);
}
