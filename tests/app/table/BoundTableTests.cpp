#include "RunTask.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "panes/SelectionFacts.h"
#include "table/LocalItemTable.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quillbarrow {
namespace {

using testing::processEventsUntil;

// The computer pane's table over a real local browser, listing a temporary folder.
class LocalItemTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        write(QStringLiteral("b.txt"), 300);
        write(QStringLiteral("a.txt"), 200);
        write(QStringLiteral("c.txt"), 100);
        browser = std::make_unique<LocalBrowserViewModel>(QUrl::fromLocalFile(folder.path()),
                                                          AppLogger(QStringLiteral("LocalBrowserViewModel")),
                                                          std::make_shared<InMemoryUserDefaults>());
        browser->setWorkPool(&pool);
        table = std::make_unique<LocalItemTable>(*browser);
        tester = std::make_unique<QAbstractItemModelTester>(table->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        table->resize(640, 300);
        table->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(table.get()));
        browser->refresh();
        ASSERT_TRUE(processEventsUntil([&] { return !browser->isLoading() && table->model()->rowCount() == 3; }));
    }

    void write(const QString& name, int bytes) const
    {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(bytes, 'x'));
    }

    QStringList shownNames() const
    {
        QStringList names;
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            names.append(table->model()->index(row, 0).data().toString());
        }
        return names;
    }

    void clickHeader(int section) const
    {
        QHeaderView* header = table->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 20, header->height() / 2));
    }

    QTemporaryDir folder;
    QThreadPool pool;
    std::unique_ptr<LocalBrowserViewModel> browser;
    std::unique_ptr<LocalItemTable> table;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(LocalItemTableTest, AHeaderClickSortsThroughTheViewModelAndASecondClickReverses)
{
    EXPECT_EQ(shownNames(), (QStringList{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), 0);
    QSignalSpy reset(table->model(), &QAbstractItemModel::modelReset);
    QSignalSpy moved(table->model(), &QAbstractItemModel::layoutChanged);

    clickHeader(1);
    EXPECT_EQ(browser->sort(), FileSort::size);
    EXPECT_TRUE(browser->sortAscending());
    EXPECT_EQ(shownNames(), (QStringList{"c.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), 1);
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);

    clickHeader(1);
    EXPECT_EQ(browser->sort(), FileSort::size);
    EXPECT_FALSE(browser->sortAscending());
    EXPECT_EQ(shownNames(), (QStringList{"b.txt", "a.txt", "c.txt"}));
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // A re-sort moves the rows; it never resets the table.
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(moved.count(), 2);
}

TEST_F(LocalItemTableTest, ASortSetElsewhereIsShownInTheHeader)
{
    browser->setSort(FileSort::modifiedDate, false);
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), 2);
    EXPECT_EQ(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(LocalItemTableTest, ARefreshOfTheFolderKeepsTheSelectedRowsSelected)
{
    table->setSelection({QUrl::fromLocalFile(folder.filePath(QStringLiteral("b.txt")))});
    write(QStringLiteral("0 new.txt"), 10);
    QFile::remove(folder.filePath(QStringLiteral("c.txt")));
    QSignalSpy reset(table->model(), &QAbstractItemModel::modelReset);
    browser->refresh();
    ASSERT_TRUE(processEventsUntil([&] { return !browser->isLoading() && shownNames().contains("0 new.txt"); }));
    EXPECT_EQ(shownNames(), (QStringList{"0 new.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(reset.count(), 0);
    const QModelIndexList selected = table->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().data().toString(), QStringLiteral("b.txt"));
}

// A pane's selection weight takes in the folders of its selected rows measured since it was added
// up, as adding it up anew would; other rows make it add up anew.
TEST_F(LocalItemTableTest, ASelectionsWeightTakesInTheFoldersOfItsRowsMeasuredSince)
{
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("X")) && QDir(folder.path()).mkpath(QStringLiteral("Y")));
    write(QStringLiteral("X/x"), 40);
    write(QStringLiteral("Y/y"), 70);
    browser->refresh();
    ASSERT_TRUE(processEventsUntil([&] { return !browser->isLoading() && table->model()->rowCount() == 5; }));
    SelectionFacts<LocalBrowserViewModel, LocalItem> facts(*table, [this] { return table->selectedRowSpans(); });
    QObject::connect(browser.get(), &LocalBrowserViewModel::itemsChanged, table.get(), [&] {
        browser->filledInRows() ? facts.forgetSizes() : facts.forget();
    });
    const QSet<QUrl> selected{QUrl::fromLocalFile(folder.filePath(QStringLiteral("a.txt"))),
                              QUrl::fromLocalFile(folder.filePath(QStringLiteral("X")))};
    table->setSelection(selected);
    const auto measure = [&](const QString& name) {
        const LocalItem item = *table->itemModel()->itemsWithIDs({QUrl::fromLocalFile(folder.filePath(name))}).begin();
        browser->calculateFolderSizes({item});
        ASSERT_TRUE(processEventsUntil([&] { return browser->calculatingFolderSizeIDs().isEmpty(); }));
    };
    const struct {
        const char* what;
        std::function<void()> act;
    } steps[] = {
        {"added up", [] {}},
        {"a folder of a row not selected measured", [&] { measure(QStringLiteral("Y")); }},
        {"the folder of a selected row measured", [&] { measure(QStringLiteral("X")); }},
        {"the rows listed anew, one more",
         [&] {
             write(QStringLiteral("0.txt"), 1);
             browser->refresh();
             ASSERT_TRUE(processEventsUntil([&] { return table->model()->rowCount() == 6; }));
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(facts.summary(browser.get()), browser->selectionSummary(selected, std::nullopt));
        EXPECT_EQ(facts.items(), table->itemModel()->itemsWithIDs(selected));
    }
}

TEST_F(LocalItemTableTest, DraggedRowsCarryTheirFileAddresses)
{
    table->setSelection({QUrl::fromLocalFile(folder.filePath(QStringLiteral("a.txt"))),
                         QUrl::fromLocalFile(folder.filePath(QStringLiteral("c.txt")))});
    const std::unique_ptr<QMimeData> data(table->model()->mimeData(table->selectionModel()->selectedIndexes()));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(folder.filePath(QStringLiteral("a.txt"))),
                                         QUrl::fromLocalFile(folder.filePath(QStringLiteral("c.txt")))}));
}

} // namespace
} // namespace quillbarrow
