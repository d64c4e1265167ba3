// The whole window over the mock device and real temporary folders, driven only as a person would:
// clicks on rows and buttons, keys pressed on the window, drops carrying what the source pane's
// drag carries, sheets answered by their buttons. Each case ends by reading both sides' trees and
// the transfer panel.

#include "WholeWindowRig.h"
#include "chrome/ConflictResolutionSheet.h"
#include "chrome/ConflictSheetPresenter.h"
#include "chrome/TransferJobDelegate.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanel.h"
#include "domain/QuillbarrowError.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "panes/PaneHeader.h"
#include "panes/PaneTestSupport.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "table/LocalItemTable.h"
#include "table/RemoteItemTable.h"
#include "transport/MockDeviceSession.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "window/WindowState.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPushButton>

namespace quillbarrow::testing {
namespace {

// How a person starts a copy from one pane to the other.
enum class Way { button, keys, drag };

const char* nameOf(Way way)
{
    switch (way) {
    case Way::button:
        return "the copy button";
    case Way::keys:
        return "Ctrl+C, then Ctrl+V in the other pane";
    case Way::drag:
        return "drag and drop";
    }
    return "?";
}

// Lists compared as text, so that a failure prints them readably.
std::string lines(const QStringList& list)
{
    return list.join(QLatin1Char('\n')).toStdString();
}

class WholeWindow : public WholeWindowTest {
  protected:
    void SetUp() override
    {
        WholeWindowTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        androidPane = qobject_cast<AndroidPaneView*>(window->paneArea()->androidPane());
        ASSERT_NE(androidPane, nullptr);
    }

    // Where a person clicks to give a pane the keyboard without choosing a row: the table's
    // empty space below its rows.
    static void clickBelowTheRows(QAbstractItemView* table)
    {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(table->viewport()->width() / 2, table->viewport()->height() - 4));
    }

    // Carries `data` over the other pane's table and lets go there.
    static void dropOn(QAbstractItemView* table, QMimeData* data)
    {
        QWidget* rows = table->viewport();
        const QPoint centre = rows->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rows, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDragMoveEvent move(centre + QPoint(3, 3), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rows, &move);
        EXPECT_TRUE(move.isAccepted());
        QDropEvent drop(QPointF(centre + QPoint(3, 3)), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rows, &drop);
        EXPECT_TRUE(drop.isAccepted());
    }

    // What a drag of the selected rows of `table` carries, made by the table's own model.
    template <typename Item>
    static std::unique_ptr<QMimeData> dragOf(NativeTable<Item>* table, const QList<Item>& selected)
    {
        QModelIndexList rows;
        for (const Item& item : selected) {
            rows.append(table->itemModel()->index(table->itemModel()->rowOf(item.id).value_or(-1), 0));
        }
        return std::unique_ptr<QMimeData>(table->itemModel()->mimeData(rows));
    }

    // Selects `names` in the Mac pane (the first by a click, the others by Ctrl+click) and sends
    // them to the device's shown folder the way given.
    void sendToDevice(const QStringList& names, Way way)
    {
        for (const QString& name : names) {
            ASSERT_TRUE(waitForLocalRow(name));
        }
        for (qsizetype index = 0; index < names.size(); ++index) {
            clickRow(macPane->table(), names[index], index == 0 ? Qt::NoModifier : Qt::ControlModifier);
        }
        ASSERT_TRUE(
            processEventsUntil([this, &names] { return macPane->selection().size() == names.size(); }));
        switch (way) {
        case Way::button: {
            QPushButton* copy = macPane->header()->copyButton();
            ASSERT_TRUE(processEventsUntil([copy] { return copy->isEnabled(); }));
            EXPECT_EQ(copy->text(), QStringLiteral("Copy to Android"));
            QTest::mouseClick(copy, Qt::LeftButton);
            break;
        }
        case Way::keys:
            pressKey(window, Qt::Key_C, Qt::ControlModifier);
            clickBelowTheRows(androidPane->table());
            EXPECT_EQ(window->state().focusedPane(), FocusedPane::android);
            pressKey(window, Qt::Key_V, Qt::ControlModifier);
            break;
        case Way::drag: {
            const std::unique_ptr<QMimeData> data = dragOf(macPane->table(), macPane->selectedItems());
            ASSERT_TRUE(data);
            dropOn(androidPane->table(), data.get());
            break;
        }
        }
    }

    // Selects `names` in the Android pane and sends them to the Mac pane's folder the way given.
    void sendToMac(const QStringList& names, Way way)
    {
        for (const QString& name : names) {
            ASSERT_TRUE(waitForDeviceRow(name)) << name.toStdString();
        }
        for (qsizetype index = 0; index < names.size(); ++index) {
            clickRow(androidPane->table(), names[index], index == 0 ? Qt::NoModifier : Qt::ControlModifier);
        }
        ASSERT_TRUE(
            processEventsUntil([this, &names] { return androidPane->selection().size() == names.size(); }));
        switch (way) {
        case Way::button: {
            QPushButton* copy = androidPane->header()->copyButton();
            ASSERT_TRUE(processEventsUntil([copy] { return copy->isEnabled(); }));
            EXPECT_EQ(copy->text(), QStringLiteral("Copy to Mac"));
            QTest::mouseClick(copy, Qt::LeftButton);
            break;
        }
        case Way::keys:
            pressKey(window, Qt::Key_C, Qt::ControlModifier);
            clickBelowTheRows(macPane->table());
            EXPECT_EQ(window->state().focusedPane(), FocusedPane::mac);
            pressKey(window, Qt::Key_V, Qt::ControlModifier);
            break;
        case Way::drag: {
            const std::unique_ptr<QMimeData> data =
                dragOf(androidPane->table(), androidPane->selectedItems());
            ASSERT_TRUE(data);
            dropOn(macPane->table(), data.get());
            break;
        }
        }
    }

    // Waits until the Android pane lists `name`.
    bool waitForDeviceRow(const QString& name)
    {
        return processEventsUntil([this, &name] {
            const QList<RemoteItem>& items = device().items();
            return !device().isLoading() &&
                   std::any_of(items.begin(), items.end(),
                               [&name](const RemoteItem& item) { return item.name == name; });
        });
    }

    // Waits until the coordinator lists `count` jobs, none of them active, and no question is
    // open.
    bool waitForFinishedJobs(qsizetype count)
    {
        return processEventsUntil([this, count] {
            const QList<TransferJob>& jobs = coordinator().transferJobs();
            return jobs.size() == count && !coordinator().pendingConflict() &&
                   std::all_of(jobs.begin(), jobs.end(),
                               [](const TransferJob& job) { return job.state.isTerminal(); });
        });
    }

    // Waits until the panel shows exactly `rows`.
    bool waitForPanelRows(const QStringList& rows)
    {
        return processEventsUntil([this, &rows] { return panelRows() == rows; });
    }

    // Clicks "Clear Finished" and waits for the empty panel.
    void clearFinished()
    {
        auto* clear = window->transferPanel()->findChild<QPushButton*>(QStringLiteral("clearFinished"));
        ASSERT_TRUE(processEventsUntil([clear] { return clear->isVisible(); }));
        QTest::mouseClick(clear, Qt::LeftButton);
        ASSERT_TRUE(waitForPanelRows({}));
    }

    QByteArray deviceBytes(const QString& name)
    {
        const std::optional<RemoteItem> item = deviceRootItem(name);
        return item ? mockSession().content(item->id).value_or(QByteArray("<no bytes>"))
                    : QByteArray("<missing>");
    }

    AndroidPaneView* androidPane = nullptr;
};

// One row per file, the folders' files first, as the source lists them.
const QStringList sampleTreeRows{
    QStringLiteral("list.csv: Completed"), QStringLiteral("pixel.bin: Completed"),
    QStringLiteral("empty.txt: Completed"), QStringLiteral("notes.txt: Completed")};

TEST_F(WholeWindow, AFolderTreeGoesToTheDeviceWithEveryFileAndByte)
{
    write(work, sampleTree(QStringLiteral("Tree")));
    local().refresh();
    for (const Way way : {Way::button, Way::keys, Way::drag}) {
        SCOPED_TRACE(nameOf(way));
        sendToDevice({QStringLiteral("Tree")}, way);
        ASSERT_TRUE(waitForFinishedJobs(4));
        const std::optional<RemoteItem> sent = deviceRootItem(QStringLiteral("Tree"));
        ASSERT_TRUE(sent.has_value());
        EXPECT_EQ(lines(deviceTree(mockSession(), *sent)),
                  lines(localTree(work.filePath(QStringLiteral("Tree")))));
        EXPECT_TRUE(waitForPanelRows(sampleTreeRows)) << lines(panelRows());
        // The Android pane shows the new folder once it has listed its folder again.
        EXPECT_TRUE(waitForDeviceRow(QStringLiteral("Tree")));

        // Gone again, so that the next way meets no name that is taken.
        runTask(mockSession().deleteItem(sent->id));
        clearFinished();
    }
}

TEST_F(WholeWindow, ADeviceFolderTreeComesToTheMacWithEveryFileAndByte)
{
    writeOnDevice(sampleTree(QStringLiteral("Phone Tree")));
    // Made behind the pane's back: its refresh button lists the folder again.
    QTest::mouseClick(androidPane->header()->refreshButton(), Qt::LeftButton);
    const QString copied = work.filePath(QStringLiteral("Phone Tree"));
    for (const Way way : {Way::button, Way::keys, Way::drag}) {
        SCOPED_TRACE(nameOf(way));
        sendToMac({QStringLiteral("Phone Tree")}, way);
        ASSERT_TRUE(waitForFinishedJobs(4));
        EXPECT_EQ(lines(localTree(copied)),
                  lines(deviceTree(mockSession(), *deviceRootItem(QStringLiteral("Phone Tree")))));
        EXPECT_TRUE(waitForPanelRows(sampleTreeRows)) << lines(panelRows());
        // No partial or hidden files are left beside the copies.
        EXPECT_EQ(
            lines(QDir(copied).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)),
            "Photos\nempty.txt\nnotes.txt");
        // The Mac pane lists the new folder.
        EXPECT_TRUE(waitForLocalRow(QStringLiteral("Phone Tree")));

        ASSERT_TRUE(QDir(copied).removeRecursively());
        local().refresh();
        clearFinished();
    }
}

// A double click on a device file downloads it for viewing and hands the copy to the desktop's
// application; the panel shows the job as a temporary view.
TEST_F(WholeWindow, ADoubleClickedDeviceFileOpensItsDownloadedCopy)
{
    auto opener = std::make_shared<RecordingOpener>();
    androidPane->setDefaultApplicationOpener(opener);
    writeOnDevice({{QStringLiteral("readme.txt"), QByteArray("Read me first.\n")}});
    QTest::mouseClick(androidPane->header()->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForDeviceRow(QStringLiteral("readme.txt")));
    RemoteItemTable* table = androidPane->table();
    const std::optional<int> row =
        table->itemModel()->rowOf(deviceRootItem(QStringLiteral("readme.txt"))->id);
    ASSERT_TRUE(row);
    const QPoint cell = table->visualRect(table->itemModel()->index(*row, 0)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell);

    ASSERT_TRUE(processEventsUntil([&opener] { return !opener->opened.isEmpty(); }));
    EXPECT_EQ(opener->opened.size(), 1);
    EXPECT_TRUE(opener->opened.front().startsWith(fixture->openedFiles.path() + QLatin1Char('/')))
        << opener->opened.front().toStdString();
    EXPECT_TRUE(opener->opened.front().endsWith(QStringLiteral("/readme.txt")));
    EXPECT_EQ(opener->contents.front(), QByteArray("Read me first.\n"));
    EXPECT_TRUE(waitForPanelRows({QStringLiteral("readme.txt: Completed")})) << lines(panelRows());
    EXPECT_TRUE(window->transferPanel()->model()->index(0).data(TransferJobListModel::ViewingRole).toBool());
    EXPECT_FALSE(coordinator().lastError().has_value());
    // Nothing came to the Mac folder.
    EXPECT_TRUE(work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// At the window's own width a temporary view's row shows the file's whole name before its tag, as
// any other row does; only a name longer than the row is shortened, in its middle.
TEST_F(WholeWindow, ATemporaryViewRowShowsTheWholeNameWhereverItFits)
{
    androidPane->setDefaultApplicationOpener(std::make_shared<RecordingOpener>());
    const QString longName = QStringLiteral("a%1z.txt").arg(QString(240, u'm'));
    const QStringList names{QStringLiteral("s1.dat"), QStringLiteral("IMG_0001.jpg"), longName};
    for (const QString& name : names) {
        writeOnDevice({{name, QByteArray("x")}});
    }
    QTest::mouseClick(androidPane->header()->refreshButton(), Qt::LeftButton);
    RemoteItemTable* table = androidPane->table();
    QListView* panel = window->transferPanel()->listView();
    for (const QString& name : names) {
        SCOPED_TRACE(name.left(20).toStdString());
        ASSERT_TRUE(waitForDeviceRow(name));
        clickRow(table, name);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {},
                           table->visualRect(table->currentIndex()).center());
        ASSERT_TRUE(processEventsUntil([panel] { return panel->model()->rowCount() == 1; }));
        const QModelIndex row = panel->model()->index(0, 0);
        ASSERT_TRUE(row.data(TransferJobListModel::ViewingRole).toBool());
        const TransferJobDelegate::RowLayout parts =
            TransferJobDelegate::layout(panel->visualRect(row), row, panel->font());
        if (name != longName) {
            EXPECT_EQ(parts.shownName, name);
        } else {
            EXPECT_TRUE(parts.shownName.startsWith(u'a') &&
                        parts.shownName.contains(QStringLiteral("m\u2026m")) &&
                        parts.shownName.endsWith(QStringLiteral("z.txt")))
                << parts.shownName.toStdString();
        }
        EXPECT_LE(parts.tag.right(), panel->visualRect(row).right()); // the tag stays in the row
        ASSERT_TRUE(processEventsUntil([this] {
            return std::ranges::all_of(coordinator().transferJobs(),
                                       [](const TransferJob& job) { return job.state.isTerminal(); });
        }));
        clearFinished();
    }
}

// The same story told in both directions. The parameter: whether the copy goes to the device
// (else to the Mac). Source and destination are the device's storage root and the Mac pane's
// folder.
class WholeWindowBothWays : public WholeWindow, public ::testing::WithParamInterface<bool> {
  protected:
    bool toDevice() const { return GetParam(); }

    void writeSource(const QList<TreeEntry>& entries) { writeSide(!toDevice(), entries); }
    void writeDestination(const QList<TreeEntry>& entries) { writeSide(toDevice(), entries); }

    // Selects `names` in the source pane and clicks its copy button.
    void sendByButton(const QStringList& names)
    {
        if (toDevice()) {
            sendToDevice(names, Way::button);
        } else {
            sendToMac(names, Way::button);
        }
    }

    void removeFromSource(const QString& name)
    {
        if (toDevice()) {
            ASSERT_TRUE(QFile::remove(work.filePath(name)));
        } else {
            runTask(mockSession().deleteItem(deviceRootItem(name)->id));
        }
    }

    // The destination's names, the mock's own folders left out.
    QStringList destinationNames()
    {
        if (!toDevice()) {
            return work.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        }
        QStringList names = deviceRootNames();
        names.removeAll(QStringLiteral("DCIM"));
        names.removeAll(QStringLiteral("Download"));
        return names;
    }

    QByteArray bytesOn(bool device, const QString& name)
    {
        if (device) {
            return deviceBytes(name);
        }
        QFile file(work.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

  private:
    void writeSide(bool device, const QList<TreeEntry>& entries)
    {
        if (device) {
            writeOnDevice(entries);
            // Made behind the pane's back: its refresh button lists the folder again.
            QTest::mouseClick(androidPane->header()->refreshButton(), Qt::LeftButton);
        } else {
            write(work, entries);
            local().refresh();
        }
    }
};

using WholeWindowConflicts = WholeWindowBothWays;
using WholeWindowCancel = WholeWindowBothWays;

// Four files whose names the destination folder holds already: the first kept beside the old one,
// the second replacing it, the third skipped with "apply to all", which skips the fourth without
// a question. Nothing of the old files is lost but the one replaced; the source stays as it was.
TEST_P(WholeWindowConflicts, TheSheetsAnswersDecideWhatLandsAndNothingElseIsLost)
{
    const QStringList names{QStringLiteral("four.txt"), QStringLiteral("one.txt"),
                            QStringLiteral("three.txt"), QStringLiteral("two.txt")};
    QList<TreeEntry> olds;
    QList<TreeEntry> news;
    for (const QString& name : names) {
        olds.append({name, QByteArray("old ") + name.toUtf8()});
        news.append({name, QByteArray("new ") + name.toUtf8()});
    }
    writeDestination(olds);
    writeSource(news);
    sendByButton(names);

    answerConflict(QStringLiteral("four.txt"), "keepBothButton");
    answerConflict(QStringLiteral("one.txt"), "replaceButton");
    answerConflict(QStringLiteral("three.txt"), "skipButton", true);
    ASSERT_TRUE(waitForFinishedJobs(2));
    EXPECT_FALSE(window->conflictSheet()->sheet()); // "two.txt" was not asked about

    EXPECT_EQ(lines(destinationNames()), "four 2.txt\nfour.txt\none.txt\nthree.txt\ntwo.txt");
    const struct {
        const char* name;
        const char* bytes;
    } expected[] = {
        {"four.txt", "old four.txt"},   {"four 2.txt", "new four.txt"}, {"one.txt", "new one.txt"},
        {"three.txt", "old three.txt"}, {"two.txt", "old two.txt"},
    };
    for (const auto& file : expected) {
        EXPECT_EQ(bytesOn(toDevice(), QString::fromUtf8(file.name)), QByteArray(file.bytes)) << file.name;
    }
    for (const TreeEntry& source : news) {
        EXPECT_EQ(bytesOn(!toDevice(), source.path), *source.bytes) << source.path.toStdString();
    }
    // Each row names the file as it was written: the kept copy by its new name.
    EXPECT_TRUE(
        waitForPanelRows({QStringLiteral("four 2.txt: Completed"), QStringLiteral("one.txt: Completed")}))
        << lines(panelRows());
}

// "Cancel" in the sheet stops the whole paste: the file without a conflict that came before the
// question is not copied either, and the old file stays.
TEST_P(WholeWindowConflicts, CancelInTheSheetStopsTheWholePaste)
{
    writeDestination({{QStringLiteral("one.txt"), QByteArray("old one")}});
    writeSource(
        {{QStringLiteral("a.txt"), QByteArray("new a")}, {QStringLiteral("one.txt"), QByteArray("new one")}});
    sendByButton({QStringLiteral("a.txt"), QStringLiteral("one.txt")});
    answerConflict(QStringLiteral("one.txt"), "cancelButton");
    ASSERT_TRUE(processEventsUntil([this] {
        const QList<TransferJob>& jobs = coordinator().transferJobs();
        return std::all_of(jobs.begin(), jobs.end(),
                           [](const TransferJob& job) { return job.state.isTerminal(); });
    }));
    EXPECT_EQ(lines(destinationNames()), "one.txt");
    EXPECT_EQ(bytesOn(toDevice(), QStringLiteral("one.txt")), QByteArray("old one"));
    EXPECT_FALSE(window->conflictSheet()->sheet());
    // Both rows stay, cancelled.
    EXPECT_TRUE(waitForPanelRows({QStringLiteral("a.txt: Cancelled"), QStringLiteral("one.txt: Cancelled")}))
        << lines(panelRows());
}

// The first transfer is held by the device until the test lets it go: cancelled from its row, it
// shows "Cancelling…" until the transfer stops, then "Cancelled", and leaves nothing at the
// destination; the next file completes and the last, gone from the source meanwhile, fails with
// the reason. "Clear Finished" empties the panel.
TEST_P(WholeWindowCancel, CancelInThePanelStopsTheRunningTransferAndEveryRowEndsInItsState)
{
    writeSource({{QStringLiteral("a.txt"), QByteArray("aaaaa")},
                 {QStringLiteral("b.txt"), QByteArray("bbbbb")},
                 {QStringLiteral("c.txt"), QByteArray("ccccc")}});
    mockSession().holdTransfers();
    sendByButton({QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")});
    ASSERT_TRUE(processEventsUntil([this] { return mockSession().heldTransferCount() == 1; }));
    ASSERT_TRUE(processEventsUntil([this] {
        const QStringList rows = panelRows();
        return rows.size() == 3 && rows[0].startsWith(QStringLiteral("a.txt: Zero KB of 5 bytes")) &&
               rows[1] == QStringLiteral("b.txt: Waiting") && rows[2] == QStringLiteral("c.txt: Waiting");
    })) << lines(panelRows());
    QWidget* panel = window->transferPanel();
    EXPECT_EQ(panel->findChild<QLabel*>(QStringLiteral("runningCount"))->text(),
              QStringLiteral("1 transferring"));
    EXPECT_EQ(panel->findChild<QLabel*>(QStringLiteral("waitingCount"))->text(), QStringLiteral("2 waiting"));

    clickCancelInPanel(QStringLiteral("a.txt"));
    EXPECT_TRUE(waitForPanelRows({QStringLiteral("a.txt: Cancelling\u2026"), QStringLiteral("b.txt: Waiting"),
                                  QStringLiteral("c.txt: Waiting")}))
        << lines(panelRows());
    EXPECT_EQ(panel->findChild<QLabel*>(QStringLiteral("cancellingCount"))->text(),
              QStringLiteral("1 cancelling"));
    removeFromSource(QStringLiteral("c.txt"));
    mockSession().releaseTransfers();

    ASSERT_TRUE(waitForFinishedJobs(3));
    // Either way the error names the file that went away.
    const QuillbarrowError gone =
        toDevice() ? QuillbarrowError::transferFailed(QStringLiteral("Could not send ") + work.filePath("c.txt") +
                                                      QStringLiteral(": it is no longer there."))
                   : QuillbarrowError::transferFailed(
                         QStringLiteral("Could not download /c.txt: it is no longer there."));
    // A download's failure does not speak of copying to the device, in its row or the strip.
    const QString told = toDevice() ? gone.userMessage() : gone.message();
    EXPECT_TRUE(waitForPanelRows({QStringLiteral("a.txt: Cancelled"), QStringLiteral("b.txt: Completed"),
                                  QStringLiteral("c.txt: Failed: ") + told}))
        << lines(panelRows());
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("transferErrorMessage"))->text(), told);
    EXPECT_EQ(lines(destinationNames()), "b.txt");
    EXPECT_EQ(bytesOn(toDevice(), QStringLiteral("b.txt")), QByteArray("bbbbb"));

    clearFinished();
    auto* empty = panel->findChild<QLabel*>(QStringLiteral("noTransfersText"));
    EXPECT_TRUE(processEventsUntil([empty] { return empty->isVisible(); }));
}

std::string directionName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "ToTheDevice" : "ToTheMac";
}

INSTANTIATE_TEST_SUITE_P(BothWays, WholeWindowConflicts, ::testing::Bool(), directionName);
INSTANTIATE_TEST_SUITE_P(BothWays, WholeWindowCancel, ::testing::Bool(), directionName);

} // namespace
} // namespace quillbarrow::testing
