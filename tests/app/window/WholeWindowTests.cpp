// The whole window over the mock device and real temporary folders, driven only as a person would:
// clicks on rows and buttons, keys pressed on the window, drops carrying what the source pane's
// drag carries, sheets answered by their buttons. Each case ends by reading both sides' trees and
// the transfer panel.

#include "WholeWindowRig.h"
#include "chrome/ConflictResolutionSheet.h"
#include "chrome/ConflictSheetPresenter.h"
#include "chrome/TransferPanel.h"
#include "domain/QuillbarrowError.h"
#include "panes/LocalPaneView.h"
#include "panes/PaneHeader.h"
#include "shell/MainWindow.h"
#include "table/LocalItemTable.h"
#include "transport/MockDeviceSession.h"
#include "viewmodels/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QLabel>
#include <QPushButton>

namespace quillbarrow::testing {
namespace {

// How a person starts a copy from one pane to the other.
enum class Way { button };

const char* nameOf(Way way)
{
    switch (way) {
    case Way::button:
        return "button";
    }
    return "?";
}

// Lists compared as text, so that a failure prints them readably.
QString lines(const QStringList& list)
{
    return list.join(QLatin1Char('\n'));
}

class WholeWindow : public WholeWindowTest {
  protected:
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
        }
    }

    // Waits until the panel's coordinator lists `count` jobs, none of them active, and no
    // question is open.
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

    QByteArray deviceBytes(const QString& name)
    {
        const std::optional<RemoteItem> item = deviceRootItem(name);
        return item ? mockSession().content(item->id).value_or(QByteArray("<no bytes>"))
                    : QByteArray("<missing>");
    }
};

TEST_F(WholeWindow, AFolderTreeGoesToTheDeviceWithEveryFileAndByte)
{
    for (const Way way : {Way::button}) {
        SCOPED_TRACE(nameOf(way));
        write(work, sampleTree(QStringLiteral("Tree")));
        local().refresh();
        sendToDevice({QStringLiteral("Tree")}, way);
        ASSERT_TRUE(waitForFinishedJobs(4));
        const std::optional<RemoteItem> sent = deviceRootItem(QStringLiteral("Tree"));
        ASSERT_TRUE(sent.has_value());
        EXPECT_EQ(lines(deviceTree(mockSession(), *sent)),
                  lines(localTree(work.filePath(QStringLiteral("Tree")))));
        // One row per file, folders' files first, as the device lists them.
        EXPECT_TRUE(waitForPanelRows(
            {QStringLiteral("list.csv: Completed"), QStringLiteral("pixel.bin: Completed"),
             QStringLiteral("empty.txt: Completed"), QStringLiteral("notes.txt: Completed")}))
            << lines(panelRows()).toStdString();
        // The Android side shows the new folder once it has listed its folder again.
        EXPECT_TRUE(processEventsUntil([this] {
            const QList<RemoteItem>& items = device().items();
            return std::any_of(items.begin(), items.end(),
                               [](const RemoteItem& item) { return item.name == QStringLiteral("Tree"); });
        }));
    }
}

// Four files whose names the device's folder holds already: the first kept beside the old one,
// the second replacing it, the third skipped with "apply to all", which skips the fourth without
// a question. Nothing of the old files is lost but the one replaced.
TEST_F(WholeWindow, TheConflictSheetsAnswersDecideWhatLandsOnTheDevice)
{
    const QStringList names{QStringLiteral("four.txt"), QStringLiteral("one.txt"),
                            QStringLiteral("three.txt"), QStringLiteral("two.txt")};
    QList<TreeEntry> olds;
    QList<TreeEntry> news;
    for (const QString& name : names) {
        olds.append({name, QByteArray("old ") + name.toUtf8()});
        news.append({name, QByteArray("new ") + name.toUtf8()});
    }
    writeOnDevice(olds);
    write(work, news);
    local().refresh();
    sendToDevice(names, Way::button);

    answerConflict(QStringLiteral("four.txt"), "keepBothButton");
    answerConflict(QStringLiteral("one.txt"), "replaceButton");
    answerConflict(QStringLiteral("three.txt"), "skipButton", true);
    ASSERT_TRUE(waitForFinishedJobs(2));
    EXPECT_FALSE(window->conflictSheet()->sheet()); // "two.txt" was not asked about

    EXPECT_EQ(lines(deviceRootNames()),
              QStringLiteral("DCIM\nDownload\nfour 2.txt\nfour.txt\none.txt\nthree.txt\ntwo.txt"));
    EXPECT_EQ(deviceBytes(QStringLiteral("four.txt")), QByteArray("old four.txt"));
    EXPECT_EQ(deviceBytes(QStringLiteral("four 2.txt")), QByteArray("new four.txt"));
    EXPECT_EQ(deviceBytes(QStringLiteral("one.txt")), QByteArray("new one.txt"));
    EXPECT_EQ(deviceBytes(QStringLiteral("three.txt")), QByteArray("old three.txt"));
    EXPECT_EQ(deviceBytes(QStringLiteral("two.txt")), QByteArray("old two.txt"));
    // Rows keep the computer's names, the kept copy's too.
    EXPECT_TRUE(
        waitForPanelRows({QStringLiteral("four.txt: Completed"), QStringLiteral("one.txt: Completed")}))
        << lines(panelRows()).toStdString();
    // The computer's files are as they were.
    for (const TreeEntry& entry : news) {
        QFile file(work.filePath(entry.path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), *entry.bytes);
    }
}

// The first upload is held on the device until the test lets it go: cancelled from its row, it
// shows "Cancelling…" until the transfer stops, then "Cancelled"; the next file completes and the
// last, gone from the disk meanwhile, fails with the reason. "Clear Finished" empties the panel.
TEST_F(WholeWindow, CancelInThePanelStopsTheRunningUploadAndEveryRowEndsInItsState)
{
    write(work, {{QStringLiteral("a.txt"), QByteArray("aaaaa")},
                 {QStringLiteral("b.txt"), QByteArray("bbbbb")},
                 {QStringLiteral("c.txt"), QByteArray("ccccc")}});
    local().refresh();
    mockSession().holdTransfers();
    sendToDevice({QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")}, Way::button);
    ASSERT_TRUE(processEventsUntil([this] { return mockSession().heldTransferCount() == 1; }));
    ASSERT_TRUE(processEventsUntil([this] {
        const QStringList rows = panelRows();
        return rows.size() == 3 && rows[0].startsWith(QStringLiteral("a.txt: Zero KB of 5 bytes")) &&
               rows[1] == QStringLiteral("b.txt: Waiting") && rows[2] == QStringLiteral("c.txt: Waiting");
    })) << lines(panelRows()).toStdString();
    auto* transferring = window->transferPanel()->findChild<QLabel*>(QStringLiteral("runningCount"));
    ASSERT_NE(transferring, nullptr);
    EXPECT_EQ(transferring->text(), QStringLiteral("1 transferring"));

    clickCancelInPanel(QStringLiteral("a.txt"));
    EXPECT_TRUE(waitForPanelRows({QStringLiteral("a.txt: Cancelling\u2026"), QStringLiteral("b.txt: Waiting"),
                                  QStringLiteral("c.txt: Waiting")}))
        << lines(panelRows()).toStdString();
    ASSERT_TRUE(QFile::remove(work.filePath(QStringLiteral("c.txt"))));
    mockSession().releaseTransfers();

    ASSERT_TRUE(waitForFinishedJobs(3));
    EXPECT_TRUE(waitForPanelRows(
        {QStringLiteral("a.txt: Cancelled"), QStringLiteral("b.txt: Completed"),
         QStringLiteral("c.txt: Failed: ") + QuillbarrowError::pathNotFound().userMessage()}))
        << lines(panelRows()).toStdString();
    EXPECT_EQ(lines(deviceRootNames()), QStringLiteral("DCIM\nDownload\nb.txt"));
    EXPECT_EQ(deviceBytes(QStringLiteral("b.txt")), QByteArray("bbbbb"));

    auto* clear = window->transferPanel()->findChild<QPushButton*>(QStringLiteral("clearFinished"));
    ASSERT_TRUE(processEventsUntil([clear] { return clear->isVisible(); }));
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(waitForPanelRows({}));
    auto* empty = window->transferPanel()->findChild<QLabel*>(QStringLiteral("noTransfersText"));
    EXPECT_TRUE(processEventsUntil([empty] { return empty->isVisible(); }));
}

} // namespace
} // namespace quillbarrow::testing
