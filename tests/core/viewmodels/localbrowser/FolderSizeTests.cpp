#include "LocalBrowserTestSupport.h"
#include "RunTask.h"

#include "viewmodels/localbrowser/LocalFileError.h"
#include "viewmodels/localbrowser/LocalFolderStatistics.h"
#include "viewmodels/localbrowser/VolumeSpace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbarrow::testing {
namespace {

using FolderSizeTest = LocalBrowserTest;

TEST_F(FolderSizeTest, StatisticsCountVisibleEntriesAndSumRegularFilesWithoutFollowingLinks)
{
    struct Case {
        const char* name;
        std::function<void(const QString&)> build;
        FolderStatistics expected;
    };
    const Case cases[] = {
        {"only hidden files",
         [this](const QString& root) {
             makeFile(root + QStringLiteral("/.a"), "12345");
             makeFile(root + QStringLiteral("/.cache/inner"), "123");
         },
         FolderStatistics(0, 0)},
        {"a 4-byte file in a sub-folder",
         [this](const QString& root) { makeFile(root + QStringLiteral("/sub/four"), "1234"); },
         FolderStatistics(4, 2)},
        {"a link back to its own folder",
         [this](const QString& root) {
             makeFile(root + QStringLiteral("/sub/four"), "1234");
             ASSERT_TRUE(QFile::link(path(root), path(root + QStringLiteral("/sub/loop"))));
         },
         FolderStatistics(4, 3)},
        {"a link to a large file",
         [this](const QString& root) {
             makeFile(QStringLiteral("large"), QByteArray(1000, 'x'));
             ASSERT_TRUE(QFile::link(path(QStringLiteral("large")), path(root + QStringLiteral("/link"))));
         },
         FolderStatistics(0, 1)},
        {"an empty folder", [this](const QString& root) { makeFolder(root); },
         FolderStatistics(0, 0)},
    };
    int index = 0;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const QString root = QStringLiteral("measured-%1").arg(index++);
        makeFolder(root);
        row.build(root);
        EXPECT_EQ(LocalFolderStatistics::measure(path(root)), row.expected);
    }
}

TEST_F(FolderSizeTest, AFolderThatCannotBeReadIsAFailureCarryingItsPath)
{
    makeFile(QStringLiteral("a-file"));
    for (const QString& name : {QStringLiteral("missing"), QStringLiteral("a-file")}) {
        try {
            LocalFolderStatistics::measure(path(name));
            ADD_FAILURE() << "no failure for " << name.toStdString();
        } catch (const LocalFileError& error) {
            EXPECT_EQ(error.path(), path(name));
            EXPECT_TRUE(error.code() == ENOENT || error.code() == ENOTDIR) << error.code();
        }
    }
}

TEST_F(FolderSizeTest, AFolderThatVanishedBeforeItsMeasurementGivesTheMessageAndNoSize)
{
    makeFile(QStringLiteral("shown/gone/file"), "12");
    const auto model = makeModel(url(QStringLiteral("shown")));
    model->refresh();
    waitForListing(*model);
    const LocalItem gone = shownItem(*model, QStringLiteral("gone"));
    ASSERT_TRUE(QDir(path(QStringLiteral("shown/gone"))).removeRecursively());

    model->calculateFolderSizes({gone});
    waitForMeasurements(*model);
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Could not calculate gone: No such file or directory"));
    EXPECT_EQ(shownItem(*model, QStringLiteral("gone")).size, std::nullopt);
    EXPECT_EQ(model->selectionSummary({gone.id}, std::nullopt).unknownFolderCount, 1);

    // Not cached: once it is back, it can be measured.
    makeFile(QStringLiteral("shown/gone/file"), "123");
    model->calculateFolderSizes({gone});
    waitForMeasurements(*model);
    EXPECT_EQ(shownItem(*model, QStringLiteral("gone")).size, 3);
}

TEST_F(FolderSizeTest, AnUnreadableSubFolderFailsTheWholeMeasurement)
{
    if (rerunUnprivileged()) {
        return;
    }
    makeFile(QStringLiteral("outer/readable/file"), "12");
    makeFile(QStringLiteral("outer/locked/secret"), "123");
    ASSERT_EQ(::chmod(QFile::encodeName(path(QStringLiteral("outer/locked"))).constData(), 0), 0);
    try {
        const FolderStatistics statistics = LocalFolderStatistics::measure(path(QStringLiteral("outer")));
        ADD_FAILURE() << "a partial size was given: " << statistics.bytes << " bytes";
    } catch (const LocalFileError& error) {
        EXPECT_EQ(error.code(), EACCES);
        EXPECT_EQ(error.path(), path(QStringLiteral("outer/locked")));
        EXPECT_EQ(error.localizedDescription(), QStringLiteral("Permission denied (%1)").arg(path(QStringLiteral("outer/locked"))));
    }

    // Through the model: the message names the folder; the quiet measurement says nothing.
    const auto model = makeModel(url(QString()));
    model->refresh();
    waitForListing(*model);
    model->precalculateFolderSizesIfAccessible({shownItem(*model, QStringLiteral("outer"))});
    waitForMeasurements(*model);
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    model->calculateFolderSizes({shownItem(*model, QStringLiteral("outer"))});
    waitForMeasurements(*model);
    EXPECT_EQ(model->errorMessage(), QStringLiteral("Could not calculate outer: Permission denied (%1)")
                                         .arg(path(QStringLiteral("outer/locked"))));
    EXPECT_EQ(shownItem(*model, QStringLiteral("outer")).size, std::nullopt);
}

TEST_F(FolderSizeTest, AFolderIsMeasuredOnceAndNeverTwiceAtATime)
{
    makeFile(QStringLiteral("shown/photos/a.jpg"), "1234");
    makeFile(QStringLiteral("shown/photos/b.jpg"), "123456");
    makeFile(QStringLiteral("shown/readme"), "1");
    const auto model = makeModel(url(QStringLiteral("shown")));
    model->refresh();
    waitForListing(*model);
    const LocalItem photos = shownItem(*model, QStringLiteral("photos"));
    const LocalItem readme = shownItem(*model, QStringLiteral("readme"));

    QList<QSet<QUrl>> measuring;
    QObject::connect(model.get(), &LocalBrowserViewModel::calculatingFolderSizeIDsChanged, model.get(),
                     [&] { measuring.append(model->calculatingFolderSizeIDs()); });
    // No result can come back between these calls: they run in one turn of the main thread.
    model->calculateFolderSizes({photos, readme, photos});
    model->calculateFolderSizes({photos});
    model->precalculateFolderSizesIfAccessible({photos});
    waitForMeasurements(*model);
    EXPECT_EQ(measuring, (QList<QSet<QUrl>>{{photos.id}, {}}));
    EXPECT_EQ(shownItem(*model, QStringLiteral("photos")).size, 10);
    EXPECT_EQ(model->errorMessage(), std::nullopt);

    // Measured once: later calls, a new listing and the sort all keep the measured size.
    model->calculateFolderSizes({photos});
    EXPECT_EQ(measuring.size(), 2);
    makeFile(QStringLiteral("shown/photos/c.jpg"), "123456789");
    model->refresh();
    waitForListing(*model);
    EXPECT_EQ(shownItem(*model, QStringLiteral("photos")).size, 10);
}

TEST_F(FolderSizeTest, AMeasuredFolderSortsByItsMeasuredSize)
{
    makeFile(QStringLiteral("shown/big/data"), QByteArray(100, 'x'));
    makeFolder(QStringLiteral("shown/empty"));
    makeFolder(QStringLiteral("shown/unmeasured"));
    const auto model = makeModel(url(QStringLiteral("shown")));
    model->setSort(FileSort::size, false);
    model->refresh();
    waitForListing(*model);
    model->calculateFolderSizes({shownItem(*model, QStringLiteral("empty")), shownItem(*model, QStringLiteral("big"))});
    waitForMeasurements(*model);
    EXPECT_EQ(names(model->items()),
              (QStringList{QStringLiteral("big"), QStringLiteral("empty"), QStringLiteral("unmeasured")}));
    model->setSort(FileSort::size, true);
    EXPECT_EQ(names(model->items()),
              (QStringList{QStringLiteral("unmeasured"), QStringLiteral("empty"), QStringLiteral("big")}));
}

// A big folder's rows take measured sizes on the pool: each fills in its folder's row where it
// stands, the other rows stay the very items they were, and the browser names the rows filled in. A
// round overtaken by a header click is dropped, the new rows showing every size; a size measured
// while a round waits comes with the next one.
TEST_F(FolderSizeTest, TheSizesOfABigFolderFillInItsRowsWhereTheyStandFromThePool)
{
    for (int index = 0; index < 1'000; ++index) {
        makeFile(QStringLiteral("big/file %1").arg(index, 4, 10, QLatin1Char('0')));
    }
    const QHash<QString, qint64> bytes{{"f1", 300}, {"f2", 100}, {"f3", 200}};
    for (const auto& [folder, size] : bytes.asKeyValueRange()) {
        makeFile("big/" + folder + "/data", QByteArray(size, 'x'));
    }
    const struct {
        const char* what;
        bool ascending;
        QStringList measured;
        bool waits, resorted;
        QStringList foldersAfter;
    } cases[] = {
        {"by size, descending, one folder", false, {"f2"}, false, false, {"f1", "f2", "f3"}},
        {"by size, ascending, one folder after another", true, {"f1", "f3"}, false, false, {"f1", "f2", "f3"}},
        {"measured while the round waits", false, {"f3", "f1"}, true, false, {"f1", "f2", "f3"}},
        {"re-sorted while the round waits", false, {"f1"}, true, true, {"f2", "f3", "f1"}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        // Declared before the model: its signals reach the hold below until it is gone.
        QSemaphore started, held;
        bool holding = false;
        const auto model = makeModel(url(QStringLiteral("big")));
        model->setMeasuredRowsInterval(std::chrono::milliseconds(0));
        model->setSort(FileSort::size, each.ascending);
        model->refresh();
        waitForListing(*model);
        const QList<LocalItem> before = model->items();
        ASSERT_EQ(names(before.mid(0, 3)), (QStringList{"f1", "f2", "f3"}));
        QList<QStringList> published;
        QObject::connect(model.get(), &LocalBrowserViewModel::itemsChanged, model.get(),
                         [&] { published.append(names(model->items().mid(0, 3))); });
        const auto measure = [&](const QString& folder) {
            model->calculateFolderSizes({shownItem(*model, folder)});
        };
        if (!each.waits) {
            for (const QString& folder : each.measured) {
                measure(folder);
                waitForMeasurements(*model);
            }
        } else {
            // Once the first folder is measured, its round waits behind a job holding the pool's
            // thread while the rest are measured or the size header is clicked.
            QObject::connect(model.get(), &LocalBrowserViewModel::calculatingFolderSizeIDsChanged,
                             model.get(), [&] {
                                 if (!holding && model->calculatingFolderSizeIDs().isEmpty()) {
                                     holding = true;
                                     m_pool.start([&] { started.release(), held.acquire(); }, 1);
                                     started.acquire();
                                     for (const QString& folder : each.measured.mid(1)) {
                                         measure(folder);
                                     }
                                 }
                             });
            measure(each.measured.first());
            ASSERT_TRUE(processEventsUntil([&] { return holding; }));
            if (each.resorted) {
                model->setSort(FileSort::size, !each.ascending);
                published.clear();
            }
            held.release();
        }
        const auto measuredShown = [&] {
            return std::ranges::all_of(
                each.measured, [&](const QString& name) { return shownItem(*model, name).size.has_value(); });
        };
        ASSERT_TRUE(processEventsUntil(measuredShown, std::chrono::seconds(2)));
        m_pool.waitForDone();
        processEventsUntil([] { return false; }, std::chrono::milliseconds(5));

        const QList<LocalItem> after = model->items();
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(names(after.mid(0, 3)), each.foldersAfter);
        for (const QStringList& order : published) {
            EXPECT_EQ(order, each.foldersAfter) << "rows published in another order";
        }
        for (const LocalItem& folder : after.mid(0, 3)) {
            EXPECT_EQ(folder.size,
                      each.measured.contains(folder.name) ? std::optional(bytes[folder.name]) : std::nullopt)
                << folder.name.toStdString();
        }
        if (each.resorted) {
            EXPECT_EQ(model->filledInRows(), std::nullopt) << "the rows of a header click are no rows filled in";
            continue;
        }
        EXPECT_EQ(after.mid(3), before.mid(3)) << "the files moved";
        EXPECT_EQ(model->filledInRows(), std::vector<qsizetype>{names(after).indexOf(each.measured.last())});
    }
}

// Sorted by size with "b" measured (filled in where its row stands), the folder is listed again:
// after a change the user made in it the rows stay where they stand, a new item taking the sort's
// place among them; when asked for, the rows are placed by the measured sizes.
TEST_F(FolderSizeTest, AListingNobodyAskedForKeepsTheRowsWhereTheyStand)
{
    QString shown;
    const QStringList bySize{"a", "c", "b", "z.txt"};
    const std::tuple<const char*, std::function<void(LocalBrowserViewModel&)>, QStringList> cases[] = {
        {"a new folder", [](auto& model) { model.createFolder("0"); }, {"0", "a", "b", "c", "z.txt"}},
        {"a delete", [](auto& model) { model.deleteItems({shownItem(model, "a")}); }, {"b", "c", "z.txt"}},
        {"a copy into it, then c measured",
         [&](auto& model) {
             makeFile(shown + "/m.txt", "1");
             model.reloadCurrentDirectory();
             waitForListing(model);
             model.calculateFolderSizes({shownItem(model, "c")});
         },
         {"a", "b", "c", "m.txt", "z.txt"}},
        {"a refresh", [](auto& model) { model.refresh(); }, bySize},
        {"a refresh listing a new file, then a rename",
         [&](auto& model) {
             makeFile(shown + "/n.txt", QByteArray(60, 'x'));
             model.refresh();
             waitForListing(model);
             model.rename(shownItem(model, "c"), "0c");
         },
         {"a", "0c", "b", "z.txt", "n.txt"}},
        {"a refresh that a reload overtakes",
         [&](auto& model) {
             // The pool held, lest the refresh's listing be read and shown before the reload starts.
             QSemaphore held;
             m_pool.start([&held] { held.acquire(); });
             model.refresh();
             model.reloadCurrentDirectory();
             held.release();
             m_pool.waitForDone();
         },
         bySize},
        {"the sort", [](auto& model) { model.setSort(FileSort::size); }, bySize},
        {"the hidden-file switch", [](auto& model) { model.setShowHiddenFiles(false); }, bySize},
    };
    int folder = 0;
    for (const auto& [what, change, rows] : cases) {
        SCOPED_TRACE(what);
        shown = QStringLiteral("shown%1").arg(++folder);
        for (const auto& [name, bytes] : {std::pair("a", 100), {"b", 300}, {"c", 200}, {"z.txt", 50}}) {
            makeFile(shown + '/' + name + (name[0] == 'z' ? "" : "/data"), QByteArray(bytes, 'x'));
        }
        const auto model = makeModel(url(shown));
        model->setSort(FileSort::size, true);
        model->refresh();
        waitForListing(*model);
        model->calculateFolderSizes({shownItem(*model, "b")});
        waitForMeasurements(*model);
        ASSERT_EQ(names(model->items()), (QStringList{"a", "b", "c", "z.txt"}));
        change(*model);
        waitForListing(*model);
        waitForMeasurements(*model);
        EXPECT_EQ(names(model->items()), rows);
        EXPECT_EQ(model->errorMessage(), std::nullopt);
    }
}

TEST_F(FolderSizeTest, TheSelectionSummaryCountsMeasuredFoldersByTheirContents)
{
    makeFile(QStringLiteral("shown/ten"), QByteArray(10, 'x'));
    makeFile(QStringLiteral("shown/twenty"), QByteArray(20, 'x'));
    makeFile(QStringLiteral("shown/.hidden"), QByteArray(40, 'x'));
    for (const char* name : {"a", "b", "c", "d"}) {
        makeFile(QStringLiteral("shown/folder/") + QLatin1StringView(name), QByteArray(25, 'x'));
    }
    const auto model = makeModel(url(QStringLiteral("shown")));
    model->refresh();
    waitForListing(*model);
    const QSet<QUrl> selection{url(QStringLiteral("shown/ten")), url(QStringLiteral("shown/twenty")),
                               url(QStringLiteral("shown/folder")), url(QStringLiteral("shown/.hidden")),
                               url(QStringLiteral("elsewhere"))};

    EXPECT_EQ(model->selectionSummary(selection, 500), SelectionSizeSummary(3, 3, 1, 30, 1, 500));
    model->calculateFolderSizes({shownItem(*model, QStringLiteral("folder"))});
    waitForMeasurements(*model);
    // The folder holds 4 files of 25 bytes: its entries replace it in the item count.
    EXPECT_EQ(model->selectionSummary(selection, std::nullopt), SelectionSizeSummary(3, 6, 1, 130, 0, std::nullopt));
    EXPECT_EQ(model->selectionSummary({url(QStringLiteral("elsewhere"))}, 7), SelectionSizeSummary(0, 0, 0, 0, 0, 7));
}

TEST_F(FolderSizeTest, FreeSpaceIsTheVolumesSpaceForTheUserThenItsFreeSpace)
{
    EXPECT_EQ(VolumeSpace::preferredAvailableBytes(100, 200), 100);
    EXPECT_EQ(VolumeSpace::preferredAvailableBytes(0, 200), 0);
    EXPECT_EQ(VolumeSpace::preferredAvailableBytes(std::nullopt, 200), 200);
    EXPECT_EQ(VolumeSpace::preferredAvailableBytes(-1, 200), 200);
    EXPECT_EQ(VolumeSpace::preferredAvailableBytes(std::nullopt, std::nullopt), std::nullopt);

    // The space comes with the folder's listing, read off the main thread: nothing before it.
    const auto model = makeModel(url(QStringLiteral("home")));
    EXPECT_EQ(model->currentDirectoryAvailableBytes(), std::nullopt);
    EXPECT_EQ(model->currentDirectoryCapacityBytes(), std::nullopt);
    model->refresh();
    waitForListing(*model);
    const QStorageInfo volume(path(QStringLiteral("home")));
    const std::optional<qint64> available = model->currentDirectoryAvailableBytes();
    const std::optional<qint64> capacity = model->currentDirectoryCapacityBytes();
    ASSERT_TRUE(available && capacity);
    EXPECT_EQ(*capacity, volume.bytesTotal());
    EXPECT_GT(*available, 0);
    EXPECT_LE(*available, *capacity);

    const auto nowhere = makeModel(url(QStringLiteral("no/such/folder")));
    nowhere->refresh();
    waitForListing(*nowhere);
    EXPECT_EQ(nowhere->currentDirectoryAvailableBytes(), std::nullopt);
    EXPECT_EQ(nowhere->currentDirectoryCapacityBytes(), std::nullopt);
}

TEST_F(FolderSizeTest, TheSpaceOfAnotherFolderIsNeverTheAnswerForTheFolderShown)
{
    const auto model = makeModel(url(QStringLiteral("home")));
    model->refresh();
    waitForListing(*model);
    ASSERT_TRUE(model->currentDirectoryAvailableBytes());

    // The worker is held, as by a slow disk, while home is listed again and a folder that does
    // not exist yet is opened: neither the space read before nor the one read with the listing
    // that was overtaken answers for it.
    QSemaphore gate;
    m_pool.start([&gate] { gate.acquire(); });
    model->refresh();
    model->navigateTo(url(QStringLiteral("later")));
    EXPECT_EQ(model->currentDirectoryAvailableBytes(), std::nullopt);
    EXPECT_EQ(model->currentDirectoryCapacityBytes(), std::nullopt);
    gate.release();
    waitForListing(*model);
    m_pool.waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(model->currentDirectoryAvailableBytes(), std::nullopt);
    EXPECT_EQ(model->currentDirectoryCapacityBytes(), std::nullopt);

    // Once the folder is there, its next listing brings its space.
    makeFolder(QStringLiteral("later"));
    model->refresh();
    waitForListing(*model);
    EXPECT_EQ(model->currentDirectoryCapacityBytes(), QStorageInfo(path(QStringLiteral("later"))).bytesTotal());
}

// A volume of the test's own (a small memory file system in a mount namespace of this process),
// where nothing else writes: a listing after a write shows exactly the space the write took.
TEST_F(FolderSizeTest, EachListingReadsTheSpaceAgain)
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    makeFolder(QStringLiteral("volume"));
    const QByteArray target = QFile::encodeName(path(QStringLiteral("volume")));
    ASSERT_EQ(::mount("quillbarrow-test", target.constData(), "tmpfs", 0, "size=1m"), 0);
    const auto model = makeModel(url(QStringLiteral("volume")));
    model->refresh();
    waitForListing(*model);
    EXPECT_EQ(model->currentDirectoryAvailableBytes(), 1024 * 1024);
    EXPECT_EQ(model->currentDirectoryCapacityBytes(), 1024 * 1024);

    makeFile(QStringLiteral("volume/pasted"), QByteArray(256 * 1024, 'x'));
    model->refresh();
    waitForListing(*model);
    EXPECT_EQ(model->currentDirectoryAvailableBytes(), 768 * 1024);
    EXPECT_EQ(model->currentDirectoryCapacityBytes(), 1024 * 1024);
    m_pool.waitForDone();
    EXPECT_EQ(::umount(target.constData()), 0);
}


TEST_F(FolderSizeTest, FoldersStartedTogetherAreAnnouncedTogetherAndASizeShowsOnlyOnceItsFolderIsDone)
{
    makeFile(QStringLiteral("shown/a/1"), "1");
    makeFile(QStringLiteral("shown/b/1"), "22");
    makeFile(QStringLiteral("shown/c/1"), "333");
    makeFile(QStringLiteral("shown/file"), "4444");
    const auto model = makeModel(url(QStringLiteral("shown")));
    model->refresh();
    waitForListing(*model);

    // Each publication in order: the folders being measured, or the sizes shown.
    QList<QSet<QString>> measuring;
    QList<QStringList> shown;
    QStringList order;
    QObject::connect(model.get(), &LocalBrowserViewModel::calculatingFolderSizeIDsChanged, model.get(), [&] {
        QSet<QString> folders;
        for (const QUrl& folder : model->calculatingFolderSizeIDs()) {
            folders.insert(folder.fileName());
        }
        measuring.append(folders);
        order.append(QStringLiteral("measuring"));
    });
    QObject::connect(model.get(), &LocalBrowserViewModel::itemsChanged, model.get(), [&] {
        QStringList sizes;
        for (const LocalItem& item : model->items()) {
            sizes.append(item.name + u'=' + (item.size ? QString::number(*item.size) : QStringLiteral("-")));
            // Results land in the order of the folders measuring.
            if (item.kind == RemoteItemKind::folder && item.size) {
                EXPECT_FALSE(measuring.last().contains(item.name)) << item.name.toStdString();
            }
        }
        shown.append(sizes);
        order.append(QStringLiteral("items"));
    });
    model->calculateFolderSizes(model->items());
    waitForMeasurements(*model);

    ASSERT_GE(measuring.size(), 2);
    EXPECT_EQ(measuring.first(), (QSet<QString>{"a", "b", "c"}));
    EXPECT_EQ(measuring.last(), QSet<QString>());
    for (qsizetype index = 1; index < measuring.size(); ++index) {
        EXPECT_TRUE(measuring[index - 1].contains(measuring[index])) << "a folder started again";
        EXPECT_NE(measuring[index - 1], measuring[index]) << "a publication without news";
    }
    // Every batch of results: the folders done, then their sizes.
    EXPECT_EQ(order.first(), QStringLiteral("measuring"));
    EXPECT_EQ(order.size(), 2 * measuring.size() - 1);
    EXPECT_EQ(shown.last(), (QStringList{"a=1", "b=2", "c=3", "file=4"}));
}

} // namespace
} // namespace quillbarrow::testing
