#include "TableRows.h"
#include "RunTask.h"
#include "table/NativeTable.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quillbarrow {
namespace {

using testing::localFile;
using testing::localFiles;
using testing::localID;
using testing::processEventsUntil;
using testing::remoteItem;

using LocalTable = NativeTable<LocalItem>;

const QString listing = QStringLiteral("/data");

QStringList numberedNames(int count)
{
    QStringList names;
    for (int index = 0; index < count; ++index) {
        names.append(QStringLiteral("file %1").arg(index, 3, 10, QLatin1Char('0')));
    }
    return names;
}

QList<int> selectedRows(const LocalTable& table)
{
    QList<int> rows;
    for (const QModelIndex& index : table.selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QPoint rowCentre(const LocalTable& table, int row)
{
    return table.visualRect(table.model()->index(row, 0)).center();
}

// A double click as a window system delivers it: a click, then the double-click event.
void doubleClick(QWidget* widget, QPoint position)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, position);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, position);
}

class NativeTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table = std::make_unique<LocalTable>();
        tester = std::make_unique<QAbstractItemModelTester>(table->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        table->resize(640, 300);
        table->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(table.get()));
        table->setOnSelectionChanged([this](const QSet<QUrl>& selection) { writes.append(selection); });
    }

    std::unique_ptr<LocalTable> table;
    std::unique_ptr<QAbstractItemModelTester> tester;
    QList<QSet<QUrl>> writes;
};

TEST_F(NativeTableTest, TheOwnersSelectionIsShownForTheListedRowsOnlyAndNotReportedBack)
{
    table->setItems(localFiles({"a", "b", "c", "d"}), listing);
    table->setSelection({localID("b"), localID("d"), localID("not listed")});
    EXPECT_EQ(selectedRows(*table), (QList<int>{1, 3}));
    QCoreApplication::processEvents();
    EXPECT_TRUE(writes.isEmpty());
    // The unlisted id stays in the binding.
    EXPECT_TRUE(table->selection().contains(localID("not listed")));

    table->setSelection({});
    EXPECT_TRUE(selectedRows(*table).isEmpty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(writes.isEmpty());
}

TEST_F(NativeTableTest, AUsersSelectionReachesTheBindingOnTheNextTurn)
{
    table->setItems(localFiles({"a", "b", "c"}), listing);
    QSignalSpy written(table.get(), &NativeTableView::selectionBindingChanged);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCentre(*table, 2));
    EXPECT_EQ(selectedRows(*table), QList<int>{2});
    EXPECT_TRUE(table->selection().isEmpty()) << "written during the selection change";
    QCoreApplication::processEvents();
    EXPECT_EQ(table->selection(), QSet<QUrl>{localID("c")});
    EXPECT_EQ(writes, (QList<QSet<QUrl>>{{localID("c")}}));
    EXPECT_EQ(written.count(), 1);
}

// Two selection changes before the next turn end as the last one, in one write: the binding never
// disagrees with what the table shows.
TEST_F(NativeTableTest, SelectionChangesWithinOneTurnEndAsTheLastOne)
{
    table->setItems(localFiles({"a", "b", "c"}), listing);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCentre(*table, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(*table, 1));
    QCoreApplication::processEvents();
    EXPECT_EQ(table->selection(), (QSet<QUrl>{localID("a"), localID("b")}));
    EXPECT_EQ(writes.size(), 1);
}

// Selecting every row writes the ids of the rows listed at that moment, whatever came before.
TEST_F(NativeTableTest, SelectingEveryRowWritesTheIdsListedNow)
{
    const struct {
        const char* what;
        QStringList names;
        QString listedIn;
    } listings[] = {
        {"a first listing", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, listing},
        {"the same re-sorted", {QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")}, listing},
        {"one gone, one new", {QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("b")}, listing},
        {"one more", {QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("b"), QStringLiteral("e")}, listing},
        {"another folder", {QStringLiteral("x"), QStringLiteral("y")}, QStringLiteral("/other")},
    };
    for (const auto& each : listings) {
        table->setSelection({});
        table->setItems(localFiles(each.names), each.listedIn);
        writes.clear();
        table->selectAll();
        QCoreApplication::processEvents();
        QSet<QUrl> expected;
        for (const QString& name : each.names) {
            expected.insert(localID(name));
        }
        EXPECT_EQ(table->selection(), expected) << each.what;
        EXPECT_EQ(writes, QList<QSet<QUrl>>{expected}) << each.what;
    }
}

// The items of the rows shown selected come in row order, each once, however the ranges were
// made; every row selected hands out the listing shown itself. The rows of ids are those listed.
TEST_F(NativeTableTest, TheSelectedRowsGiveTheirItemsInRowOrderEachOnce)
{
    const QList<LocalItem> shown = localFiles({"a", "b", "c", "d", "e"});
    table->setItems(shown, listing);
    using Spans = LocalTable::RowSpans;
    const struct {
        const char* what;
        Spans selected;
        Spans rows;
    } cases[] = {
        {"every row", {{0, 4}}, {{0, 4}}},
        {"two rows apart, the later first", {{3, 3}, {1, 1}}, {{1, 1}, {3, 3}}},
        {"overlapping ranges", {{1, 3}, {2, 4}}, {{1, 4}}},
        {"neighbouring ranges", {{0, 1}, {2, 2}}, {{0, 2}}},
        {"none", {}, {}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        table->selectionModel()->clearSelection();
        for (const auto& [first, last] : each.selected) {
            table->selectionModel()->select(
                QItemSelection(table->model()->index(first, 0), table->model()->index(last, 2)),
                QItemSelectionModel::Select);
        }
        EXPECT_EQ(table->selectedRowSpans(), each.rows);
        QList<LocalItem> expected;
        for (const auto& [first, last] : each.rows) {
            expected.append(shown.mid(first, last - first + 1));
        }
        const QList<LocalItem> items = table->selectedRowItems();
        EXPECT_EQ(items, expected);
        EXPECT_EQ(items.constData() == shown.constData(), expected.size() == shown.size());
    }
    EXPECT_EQ(table->rowSpansOf({localID("d"), localID("b"), localID("c"), localID("gone")}),
              (Spans{{1, 3}}));
    EXPECT_EQ(table->rowSpansOf(table->itemModel()->allIDs()), (Spans{{0, 4}}));
    EXPECT_EQ(table->rowSpansOf({localID("gone")}), Spans{});
}

// A re-listing of the folder shown keeps the selection, the current row and the rows in sight,
// whether the model announces it as ranges or, for changes scattered over more ranges than a
// view takes cheaply (hidden files switched off in a listing sorted by date), as one reset.
// Each is read anew (no id shares data with a row shown), and shows the rows that changed.
TEST_F(NativeTableTest, ARelistingKeepsSelectionCurrentRowAndScrollPosition)
{
    const struct {
        const char* what;
        std::function<QStringList(QStringList)> relist;
        int resets;
    } cases[] = {
        {"a row gone and one new, below the view",
         [](QStringList names) {
             names.removeAt(380);
             names.insert(390, QStringLiteral("file 389b"));
             return names;
         },
         0},
        {"every third row gone, a hundred ranges and more",
         [](const QStringList& names) {
             QStringList kept;
             for (qsizetype index = 0; index < names.size(); ++index) {
                 if (index % 3 != 1) {
                     kept.append(names[index]);
                 }
             }
             return kept;
         },
         1},
        {"rows gone and new ones between them, all over the listing",
         [](QStringList names) {
             for (qsizetype index = 5; index < names.size(); index += 8) {
                 names[index] += QStringLiteral("b"); // a row gone, a new one in its stead
             }
             return names;
         },
         1},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        table->setItems({}, QStringLiteral("/before"));
        table->setItems(localFiles(numberedNames(400)), listing);
        const QSet<QUrl> selected{localID("file 099"), localID("file 150")};
        table->setSelection(selected);
        table->selectionModel()->setCurrentIndex(table->model()->index(150, 0), QItemSelectionModel::NoUpdate);
        table->verticalScrollBar()->setValue(95 * NativeTableView::rowHeight + 7);
        ASSERT_EQ(table->rowAt(0), 95);
        // Scrolled sideways too, in a pane narrower than its columns.
        table->resize(40, table->height());
        QCoreApplication::processEvents();
        table->horizontalScrollBar()->setValue(table->horizontalScrollBar()->maximum());
        const int sideways = table->horizontalScrollBar()->value();
        ASSERT_GT(sideways, 0);
        QSignalSpy reset(table->model(), &QAbstractItemModel::modelReset);
        QSignalSpy written(table.get(), &NativeTableView::selectionBindingChanged);

        const QStringList names = each.relist(numberedNames(400));
        QList<LocalItem> relisted = localFiles(names);
        relisted[names.indexOf(QStringLiteral("file 150"))] = localFile(QStringLiteral("file 150"), 12345);
        table->setItems(relisted, listing);
        QCoreApplication::processEvents();

        EXPECT_EQ(reset.count(), each.resets);
        ASSERT_EQ(table->model()->rowCount(), names.size());
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            ASSERT_EQ(table->itemModel()->item(row), relisted[row]) << row;
        }
        EXPECT_EQ(selectedRows(*table), (QList<int>{static_cast<int>(names.indexOf(QStringLiteral("file 099"))),
                                                    static_cast<int>(names.indexOf(QStringLiteral("file 150")))}));
        EXPECT_EQ(table->selection(), selected);
        EXPECT_EQ(written.count(), 0);
        EXPECT_EQ(table->currentIndex().row(), names.indexOf(QStringLiteral("file 150")));
        const int top = table->rowAt(0);
        ASSERT_GE(top, 0);
        EXPECT_EQ(table->itemModel()->item(top).name, QStringLiteral("file 095"));
        EXPECT_EQ(table->verticalScrollBar()->value() - table->verticalHeader()->sectionPosition(top), 7);
        EXPECT_EQ(table->horizontalScrollBar()->value(), sideways);
    }
}

TEST_F(NativeTableTest, AnotherFolderSelectsTheRowsOfTheBindingThatItLists)
{
    table->setItems(localFiles({"a", "b"}), listing);
    table->setSelection({localID("b")});
    table->setItems(localFiles({"b", "c"}), QStringLiteral("/other"));
    EXPECT_EQ(selectedRows(*table), QList<int>{0});
    EXPECT_EQ(table->selection(), QSet<QUrl>{localID("b")});
    QCoreApplication::processEvents();
    EXPECT_TRUE(writes.isEmpty());
}

// Rows that leave the listing leave the selection: the binding is written with the rows that
// survive, once, and reported as such (not as the user's choice), so a count or a copy never
// acts on rows nobody sees. An id the owner put in the binding that no row lists leaves it too,
// whether the next listing changes the rows, only their order, or only their fields.
TEST_F(NativeTableTest, RowsThatLeaveTheListingLeaveTheSelection)
{
    const QSet<QUrl> ab{localID("a"), localID("b")};
    const QSet<QUrl> unlisted{localID("b"), localID("gone")};
    const struct {
        const char* what;
        QSet<QUrl> chosen;
        QList<LocalItem> relisted;
        QString relistedIn;
        QSet<QUrl> survivors;
    } cases[] = {
        {"a folder entered", ab, localFiles({"x", "y"}), QStringLiteral("/data/sub"), {}},
        {"one of two deleted", ab, localFiles({"a", "c"}), listing, {localID("a")}},
        {"one renamed", ab, localFiles({"a", "b2", "c"}), listing, {localID("a")}},
        {"both still listed", ab, localFiles({"c", "b", "a"}), listing, ab},
        {"unlisted, new sizes only", unlisted, {localFile("a", 1), localFile("b", 2), localFile("c", 3)}, listing,
         {localID("b")}},
        {"unlisted, re-sorted", unlisted, localFiles({"c", "b", "a"}), listing, {localID("b")}},
        {"unlisted, one row more", unlisted, localFiles({"a", "b", "c", "d"}), listing, {localID("b")}},
    };
    for (const auto& each : cases) {
        table->setItems(localFiles({"a", "b", "c"}), listing);
        table->setSelection(each.chosen);
        writes.clear();
        bool reportedAsUsers = false;
        table->setOnSelectionChanged([&](const QSet<QUrl>& selection) {
            writes.append(selection);
            reportedAsUsers = reportedAsUsers || !table->isDroppingUnlistedSelection();
        });
        table->setItems(each.relisted, each.relistedIn);
        QCoreApplication::processEvents();

        EXPECT_EQ(table->selection(), each.survivors) << each.what;
        EXPECT_EQ(static_cast<qsizetype>(selectedRows(*table).size()), each.survivors.size()) << each.what;
        const QList<QSet<QUrl>> expectedWrites =
            each.survivors == each.chosen ? QList<QSet<QUrl>>() : QList<QSet<QUrl>>{each.survivors};
        EXPECT_EQ(writes, expectedWrites) << each.what;
        EXPECT_FALSE(reportedAsUsers) << each.what;
        table->setItems({}, QStringLiteral("/reset"));
    }
}

TEST_F(NativeTableTest, ADoubleClickOnARowOrReturnOnOneSelectedRowOpensIt)
{
    QList<QString> opened;
    table->setOnPrimaryAction([&opened](const LocalItem& item) { opened.append(item.name); });
    table->setItems(localFiles({"a", "b"}), listing);

    doubleClick(table->viewport(), rowCentre(*table, 1));
    EXPECT_EQ(opened, QList<QString>{"b"});
    // Below the last row and on the header: nothing.
    doubleClick(table->viewport(), QPoint(20, 250));
    doubleClick(table->horizontalHeader()->viewport(), QPoint(20, 5));
    EXPECT_EQ(opened.size(), 1);

    table->setSelection({localID("a")});
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(table.get(), &press);
    EXPECT_EQ(opened, (QList<QString>{"b", "a"}));
    EXPECT_TRUE(press.isAccepted());

    table->setSelection({localID("a"), localID("b")});
    QKeyEvent second(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(table.get(), &second);
    EXPECT_EQ(opened.size(), 2);
    EXPECT_FALSE(second.isAccepted()) << "Return with two rows goes on to the pane";
}

// The keys a person moves through a listing with: each moves the current row and makes it the
// selection (with Shift, the selection stretches from where it was).
TEST_F(NativeTableTest, HomeEndAndThePageKeysMoveTheCurrentRowAndTheSelection)
{
    table->setItems(localFiles(numberedNames(200)), listing);
    const int page = table->viewport()->height() / NativeTableView::rowHeight;
    ASSERT_GT(page, 2);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int from;
        int to;
        int selectedCount;
    } cases[] = {
        {Qt::Key_End, Qt::NoModifier, 5, 199, 1},
        {Qt::Key_Home, Qt::NoModifier, 150, 0, 1},
        {Qt::Key_PageDown, Qt::NoModifier, 195, 199, 1},
        {Qt::Key_PageDown, Qt::NoModifier, 5, -1, 1},
        {Qt::Key_PageUp, Qt::NoModifier, 150, -1, 1},
        {Qt::Key_End, Qt::ShiftModifier, 190, 199, 10},
        {Qt::Key_Home, Qt::ShiftModifier, 3, 0, 4},
    };
    for (const auto& each : cases) {
        // To the starting row as a person would get there: the first row, then down.
        table->setFocus();
        QTest::keyClick(table.get(), Qt::Key_Home);
        for (int step = 0; step < each.from; ++step) {
            QTest::keyClick(table.get(), Qt::Key_Down);
        }
        ASSERT_EQ(table->currentIndex().row(), each.from);
        QTest::keyClick(table.get(), each.key, each.modifiers);
        const int row = table->currentIndex().row();
        if (each.to >= 0) {
            EXPECT_EQ(row, each.to) << "key " << each.key;
        } else {
            // A page away, in the key's direction.
            EXPECT_GT(std::abs(row - each.from), page / 2) << "key " << each.key;
            EXPECT_EQ(row > each.from, each.key == Qt::Key_PageDown) << "key " << each.key;
        }
        EXPECT_TRUE(table->selectionModel()->isRowSelected(row, {})) << "key " << each.key;
        EXPECT_EQ(static_cast<int>(selectedRows(*table).size()), each.selectedCount) << "key " << each.key;
        EXPECT_TRUE(table->viewport()->rect().intersects(table->visualRect(table->currentIndex())))
            << "key " << each.key;
        QCoreApplication::processEvents();
        EXPECT_EQ(static_cast<int>(table->selection().size()), each.selectedCount) << "key " << each.key;
    }
}

// With nothing selected, the first arrow press selects the row the keyboard is on (none yet: the
// first row), never the row after an invisible current one.
TEST_F(NativeTableTest, TheFirstArrowPressSelectsTheRowTheKeyboardIsOn)
{
    const struct {
        Qt::Key key;
        std::optional<int> current;
        int selected;
    } cases[] = {{Qt::Key_Down, std::nullopt, 0}, {Qt::Key_Down, 0, 0}, {Qt::Key_Up, 3, 3}, {Qt::Key_Down, 3, 3}};
    for (const auto& each : cases) {
        table->setItems(localFiles({"a", "b", "c", "d", "e"}), QStringLiteral("/case"));
        table->setFocus();
        table->selectionModel()->clear();
        if (each.current) {
            table->selectionModel()->setCurrentIndex(table->model()->index(*each.current, 0), QItemSelectionModel::NoUpdate);
        }
        QTest::keyClick(table.get(), each.key);
        EXPECT_EQ(selectedRows(*table), QList<int>{each.selected}) << "key " << each.key;
        table->setItems({}, QStringLiteral("/reset"));
    }
}

TEST_F(NativeTableTest, EveryLeftOrRightPressIsReportedBeforeTheTableHandlesIt)
{
    table->setItems(localFiles({"a"}), listing);
    QSignalSpy downs(table.get(), &NativeTableView::mouseDown);
    bool selectedWhenReported = true;
    QObject::connect(table.get(), &NativeTableView::mouseDown,
                     [&] { selectedWhenReported = !table->selectionModel()->selectedRows().isEmpty(); });
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, rowCentre(*table, 0));
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, rowCentre(*table, 0));
    EXPECT_FALSE(selectedWhenReported);
    QTest::mousePress(table->viewport(), Qt::RightButton, {}, QPoint(20, 250));
    QTest::mouseRelease(table->viewport(), Qt::RightButton, {}, QPoint(20, 250));
    QTest::mousePress(table->viewport(), Qt::MiddleButton, {}, QPoint(20, 250));
    QTest::mouseRelease(table->viewport(), Qt::MiddleButton, {}, QPoint(20, 250));
    EXPECT_EQ(downs.count(), 2);
}

TEST_F(NativeTableTest, ColumnsHaveTheirTitlesWidthsAndMinimums)
{
    QHeaderView* header = table->horizontalHeader();
    EXPECT_EQ(header->sectionSize(0), 320);
    EXPECT_EQ(header->sectionSize(1), 100);
    EXPECT_FALSE(header->sectionsMovable());
    EXPECT_EQ(table->verticalHeader()->defaultSectionSize(), 22);
    EXPECT_TRUE(table->alternatingRowColors());
    EXPECT_EQ(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    header->resizeSection(0, 30);
    EXPECT_EQ(header->sectionSize(0), 120);
    header->resizeSection(1, 10);
    EXPECT_EQ(header->sectionSize(1), 60);
}

// A pane narrower than the columns takes the room from the name column (down to its minimum),
// so the size and date stay in sight; widened again, the name column gets its width back.
TEST_F(NativeTableTest, ANarrowTableShrinksTheNameColumnFirstAndGivesItBack)
{
    QHeaderView* header = table->horizontalHeader();
    const auto fits = [&] {
        return header->sectionSize(0) + header->sectionSize(1) + table->minimumColumnWidth(2) <=
               table->viewport()->width();
    };
    table->resize(360, 300);
    ASSERT_TRUE(processEventsUntil(fits));
    EXPECT_LT(header->sectionSize(0), 320);
    EXPECT_GE(header->sectionSize(0), 120);
    EXPECT_EQ(header->sectionSize(1), 100);
    EXPECT_LE(header->length(), table->viewport()->width()); // nothing beyond the edge
    EXPECT_GE(header->sectionSize(2), 80);

    table->resize(200, 300); // too narrow even with the minimum: the name stops at its minimum
    ASSERT_TRUE(processEventsUntil([&] { return header->sectionSize(0) == 120; }));

    table->resize(900, 300);
    EXPECT_TRUE(processEventsUntil([&] { return header->sectionSize(0) == 320; })) << header->sectionSize(0);
    EXPECT_GE(header->sectionSize(2), 160); // the last column stretches to the edge
}

// ---- Sort ----------------------------------------------------------------------------------------

QPoint sectionCentre(const QHeaderView& header, int section)
{
    return QPoint(header.sectionViewportPosition(section) + header.sectionSize(section) / 2, header.height() / 2);
}

TEST_F(NativeTableTest, AHeaderClickReportsTheColumnAndTheNextDirectionOnce)
{
    QList<std::pair<QString, bool>> requests;
    table->setOnSortColumn([&](const QString& identifier, bool ascending) { requests.append({identifier, ascending}); });
    table->setSortColumn(QStringLiteral("name"), true);
    QHeaderView* header = table->horizontalHeader();
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sectionCentre(*header, 1));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0], std::make_pair(QStringLiteral("size"), true));
    // The owner answers with that sort: the indicator is already there, nothing is reported.
    table->setSortColumn(QStringLiteral("size"), true);
    EXPECT_EQ(requests.size(), 1);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sectionCentre(*header, 1));
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[1], std::make_pair(QStringLiteral("size"), false));
    table->setSortColumn(QStringLiteral("size"), false);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(requests.size(), 2);
}

TEST_F(NativeTableTest, WithoutASortCallbackOrAKnownColumnThereIsNoSortIndicator)
{
    QHeaderView* header = table->horizontalHeader();
    table->setSortColumn(QStringLiteral("name"), true);
    EXPECT_EQ(header->sortIndicatorSection(), -1) << "no sort callback";
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sectionCentre(*header, 1));
    EXPECT_EQ(header->sortIndicatorSection(), -1);

    int requests = 0;
    table->setOnSortColumn([&](const QString&, bool) { ++requests; });
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    table->setSortColumn(QStringLiteral("kind"), true);
    EXPECT_EQ(header->sortIndicatorSection(), -1) << "unknown column";
    table->setSortColumn(std::nullopt, true);
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    EXPECT_EQ(requests, 0);
}

TEST(NativeTableSort, AClickOnAnUnsortableColumnReportsNothing)
{
    QList<NativeTableColumn> columns = NativeTableColumn::standardColumns();
    columns[2].isSortable = false;
    LocalTable table(columns);
    table.resize(640, 200);
    table.show();
    int requests = 0;
    table.setOnSortColumn([&](const QString&, bool) { ++requests; });
    table.setSortColumn(QStringLiteral("name"), true);
    QHeaderView* header = table.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sectionCentre(*header, 2));
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    table.setSortColumn(QStringLiteral("modified"), true);
    EXPECT_EQ(header->sortIndicatorSection(), -1);
}

// ---- Drag ------------------------------------------------------------------------------------------

TEST_F(NativeTableTest, DraggedComputerRowsCarryTheirFileAddressesAskingTheWriterOncePerRow)
{
    table->setItems(localFiles({"a", "b", "c", "d"}), listing);
    QList<QString> asked;
    table->setPasteboardWriter([&asked](const LocalItem& item) {
        asked.append(item.name);
        return NativeTableItemTraits<LocalItem>::pasteboardItem(item);
    });
    table->setSelection({localID("d"), localID("b"), localID("c")});
    const std::unique_ptr<QMimeData> data(table->model()->mimeData(table->selectionModel()->selectedIndexes()));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), (QList<QUrl>{localID("b"), localID("c"), localID("d")}));
    EXPECT_EQ(asked, (QList<QString>{"b", "c", "d"}));
    EXPECT_EQ(table->model()->supportedDragActions(), Qt::CopyAction);
}

TEST(NativeTableDrag, DraggedPhoneRowsCarryTheMarkerText)
{
    NativeTable<RemoteItem> table;
    table.setItems({remoteItem("1", "DCIM", RemoteItemKind::folder), remoteItem("2", "a.jpg"),
                    remoteItem("3", "b.jpg")},
                   QStringLiteral("phone"));
    int asked = 0;
    table.setPasteboardWriter([&asked](const RemoteItem& item) {
        ++asked;
        return NativeTableItemTraits<RemoteItem>::pasteboardItem(item);
    });
    const QModelIndexList rows{table.model()->index(0, 0), table.model()->index(1, 0), table.model()->index(2, 1)};
    const std::unique_ptr<QMimeData> data(table.model()->mimeData(rows));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text(), QStringLiteral("com.quillbarrow.android-drag/v1"));
    EXPECT_FALSE(data->hasUrls());
    EXPECT_EQ(asked, 3);
}

TEST(NativeTableDrag, ARowTheWriterGivesNothingForAddsNothing)
{
    NativeTable<LocalItem> table;
    table.setItems(localFiles({"a", "b"}), listing);
    table.setPasteboardWriter([](const LocalItem&) { return std::optional<NativeTablePasteboardItem>(); });
    EXPECT_EQ(table.model()->mimeData({table.model()->index(0, 0)}), nullptr);
}

// ---- Context menu -----------------------------------------------------------------------------------

class NativeTableMenuTest : public NativeTableTest {
protected:
    void SetUp() override
    {
        NativeTableTest::SetUp();
        table->setItems(localFiles({"a", "b", "c"}), listing);
        table->setMenuForSelection([this](const QSet<QUrl>& rows) {
            builtFor.append(rows);
            auto menu = std::make_unique<QMenu>();
            QAction* open = menu->addAction(QStringLiteral("Open"));
            QObject::connect(open, &QAction::triggered, [this] { ++opened; });
            menu->addSeparator();
            menu->addAction(QStringLiteral("Disabled"))->setEnabled(false);
            return menu;
        });
    }

    QList<QSet<QUrl>> builtFor;
    int opened = 0;
};

TEST_F(NativeTableMenuTest, AClickOnAnUnselectedRowMakesItTheSelectionAndTheMenusRow)
{
    table->setSelection({localID("a"), localID("b")});
    QMenu* menu = table->prepareContextMenu(rowCentre(*table, 2));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(builtFor, (QList<QSet<QUrl>>{{localID("c")}}));
    EXPECT_EQ(selectedRows(*table), QList<int>{2});
    EXPECT_EQ(table->selection(), (QSet<QUrl>{localID("a"), localID("b")})) << "the binding follows a turn later";
    QCoreApplication::processEvents();
    EXPECT_EQ(table->selection(), QSet<QUrl>{localID("c")});
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(NativeTableMenuTest, AClickOnASelectedRowOrBelowTheRowsTakesTheWholeSelection)
{
    table->setSelection({localID("a"), localID("c")});
    table->prepareContextMenu(rowCentre(*table, 2));
    table->prepareContextMenu(QPoint(20, 250));
    table->setSelection({});
    table->prepareContextMenu(QPoint(20, 250));
    EXPECT_EQ(builtFor, (QList<QSet<QUrl>>{{localID("a"), localID("c")}, {localID("a"), localID("c")}, {}}));
    QCoreApplication::processEvents();
    EXPECT_TRUE(writes.isEmpty());
}

TEST_F(NativeTableMenuTest, TheShellTakesTheBuiltItemsWithTheirStatesAndKeepsTheirWork)
{
    QMenu* menu = table->prepareContextMenu(rowCentre(*table, 0));
    ASSERT_EQ(menu, table->contextMenuShell());
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Open"));
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_FALSE(actions[2]->isEnabled());
    actions[0]->trigger();
    EXPECT_EQ(opened, 1);
    // The next opening starts from an empty shell.
    table->prepareContextMenu(rowCentre(*table, 0));
    EXPECT_EQ(menu->actions().size(), 3);
}

TEST_F(NativeTableMenuTest, NoMenuOrAnEmptyMenuShowsNothing)
{
    table->setMenuForSelection([](const QSet<QUrl>&) { return std::unique_ptr<QMenu>(); });
    EXPECT_EQ(table->prepareContextMenu(rowCentre(*table, 0)), nullptr);
    table->setMenuForSelection([](const QSet<QUrl>&) { return std::make_unique<QMenu>(); });
    EXPECT_EQ(table->prepareContextMenu(rowCentre(*table, 0)), nullptr);
    EXPECT_TRUE(table->contextMenuShell()->actions().isEmpty());
}

} // namespace
} // namespace quillbarrow
