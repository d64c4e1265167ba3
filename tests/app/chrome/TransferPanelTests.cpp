#include "ChromeSamples.h"

#include "RunTask.h"
#include "chrome/TransferJobDelegate.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanel.h"
#include "chrome/TransferPanelSummary.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

QString lineOf(const TransferState& state, std::optional<qint64> total = 40'000'000)
{
    return TransferPanelSummary::stateLine(sampleJob(QStringLiteral("f"), state, total));
}

QLabel* label(QWidget& panel, const char* name)
{
    return panel.findChild<QLabel*>(QString::fromLatin1(name));
}

// The centre of a row's cancel button in viewport coordinates.
QPoint cancelButtonOf(TransferPanel& panel, int row)
{
    QListView* view = panel.listView();
    const QModelIndex index = panel.model()->index(row);
    return TransferJobDelegate::layout(view->visualRect(index), index, view->font()).cancelButton.center();
}

} // namespace

TEST(TransferPanelSummary, StateLinesSayWhatEachStateMeans)
{
    const QuillbarrowError error = QuillbarrowError::transferFailed(QStringLiteral("The device stopped answering."));
    const struct {
        TransferState state;
        std::optional<qint64> jobTotal;
        QString expected;
    } cases[] = {
        {TransferState::running(sampleProgress(12'000'000, 40'000'000, 3'870)), 40'000'000,
         QStringLiteral("12 MB of 40 MB \u2014 3.1 MB/s")},
        {TransferState::running(sampleProgress(12'000'000, std::nullopt, 4'000)), std::nullopt,
         QStringLiteral("12 MB \u2014 3 MB/s")},
        // A total of 0 still counts as present; the first instant counts as a millisecond.
        {TransferState::running(sampleProgress(0, 0, 0)), 0, QStringLiteral("Zero KB of Zero KB \u2014 Zero KB/s")},
        {TransferState::running(sampleProgress(5'000, 10'000, 0)), 10'000, QStringLiteral("5 KB of 10 KB \u2014 5 MB/s")},
        {TransferState::cancelling(sampleProgress(1, 2, 1)), 2, QStringLiteral("Cancelling\u2026")},
        {TransferState::failed(error), 1, QStringLiteral("Failed: The device stopped answering.")},
        {TransferState::queued(), 1, QStringLiteral("Waiting")},
        {TransferState::awaitingConfirmation(), 1, QStringLiteral("Needs confirmation")},
        {TransferState::completed(), 1, QStringLiteral("Completed")},
        {TransferState::cancelled(), 1, QStringLiteral("Cancelled")},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(lineOf(row.state, row.jobTotal), row.expected);
    }

    // A failure speaks of copying to the device only for an upload; other failure cases keep
    // their own sentence either way.
    const QuillbarrowError missing = QuillbarrowError::pathNotFound();
    const struct {
        TransferDirection direction;
        QuillbarrowError error;
        QString expected;
    } failures[] = {
        {TransferDirection::macToAndroid, error,
         QStringLiteral("Failed: The file couldn't be copied to the device. The device stopped answering.")},
        {TransferDirection::androidToMac, error, QStringLiteral("Failed: The device stopped answering.")},
        {TransferDirection::androidToMac, missing, QStringLiteral("Failed: ") + missing.userMessage()},
    };
    for (const auto& row : failures) {
        EXPECT_EQ(TransferPanelSummary::stateLine(sampleJob(QStringLiteral("f"), TransferState::failed(row.error), 1,
                                                            TransferPurpose::fileTransfer, row.direction)),
                  row.expected);
    }
}

TEST(TransferPanelSummary, CountsSeparateViewingFromTransfers)
{
    const QList<TransferJob> jobs{
        sampleJob(QStringLiteral("a"), TransferState::running(sampleProgress(1, 10, 1)), 10, TransferPurpose::openForViewing),
        sampleJob(QStringLiteral("b"), TransferState::queued(), 10, TransferPurpose::openForViewing),
        sampleJob(QStringLiteral("c"), TransferState::cancelling(sampleProgress(1, 10, 1)), 10,
                  TransferPurpose::openForViewing),
        sampleJob(QStringLiteral("d"), TransferState::running(sampleProgress(1, 10, 1)), 10),
        sampleJob(QStringLiteral("e"), TransferState::queued(), 10),
        sampleJob(QStringLiteral("f"), TransferState::awaitingConfirmation(), 10, TransferPurpose::openForViewing),
    };
    const TransferPanelSummary summary = TransferPanelSummary::of(jobs);
    const QList<std::pair<QString, bool>> expected{
        {QStringLiteral("4 opening for viewing"), false}, {QStringLiteral("1 transferring"), false},
        {QStringLiteral("1 waiting"), false},             {QStringLiteral("1 needs confirmation"), true},
        {QStringLiteral("1 cancelling"), false},
    };
    EXPECT_EQ(summary.countTexts(), expected);
    EXPECT_FALSE(summary.hasTerminalJobs);
}

TEST(TransferPanelSummary, OverallProgressKeepsFinishedJobsOfKnownSize)
{
    // A completed and a cancelled 100-byte job beside a queued one of unknown size: 50 %.
    const TransferPanelSummary half = TransferPanelSummary::of({
        sampleJob(QStringLiteral("a"), TransferState::completed(), 100),
        sampleJob(QStringLiteral("b"), TransferState::cancelled(), 100),
        sampleJob(QStringLiteral("c"), TransferState::queued(), std::nullopt),
    });
    ASSERT_TRUE(half.overallFraction);
    EXPECT_DOUBLE_EQ(*half.overallFraction, 0.5);
    EXPECT_EQ(TransferPanelSummary::percentText(*half.overallFraction), QStringLiteral("50%"));
    EXPECT_EQ(TransferPanelSummary::percentText(0.125), QStringLiteral("13%")); // halves away from zero

    // More bytes reported than the job's size adds only its size; its own bar is full.
    const TransferJob over =
        sampleJob(QStringLiteral("o"), TransferState::running(sampleProgress(300, 100, 1)), 100);
    const TransferPanelSummary clamped =
        TransferPanelSummary::of({over, sampleJob(QStringLiteral("q"), TransferState::queued(), 100)});
    EXPECT_DOUBLE_EQ(*clamped.overallFraction, 0.5);
    EXPECT_EQ(TransferPanelSummary::rowFraction(over), 1.0);

    EXPECT_FALSE(TransferPanelSummary::of({sampleJob(QStringLiteral("z"), TransferState::queued(), 0)}).overallFraction);
    // A running job without a progress total has no bar of its own.
    EXPECT_FALSE(TransferPanelSummary::rowFraction(
        sampleJob(QStringLiteral("n"), TransferState::running(sampleProgress(5, std::nullopt, 1)))));
    EXPECT_FALSE(TransferPanelSummary::rowFraction(
        sampleJob(QStringLiteral("n"), TransferState::running(sampleProgress(0, 0, 1)))));
}

TEST(TransferPanelSummary, IconsAndCancelButtonsFollowPurposeDirectionAndState)
{
    const QList<TransferJob> jobs = jobsInEveryState();
    const QStringList symbols{QStringLiteral("arrow.down.circle"), QStringLiteral("eye.circle"),
                              QStringLiteral("arrow.up.circle"),   QStringLiteral("arrow.down.circle"),
                              QStringLiteral("arrow.up.circle"),   QStringLiteral("arrow.down.circle"),
                              QStringLiteral("arrow.down.circle"), QStringLiteral("arrow.up.circle")};
    const QList<bool> cancellable{true, true, true, false, false, false, false, false};
    const QList<QColor> colours{Qt::blue, Qt::blue, Qt::blue, QColor(255, 149, 0), QColor(255, 149, 0),
                                Qt::green, Qt::red, QColor(255, 149, 0)};
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(jobs[i].displayName.toStdString());
        EXPECT_EQ(TransferPanelSummary::symbolName(jobs[i]), symbols[i]);
        EXPECT_EQ(TransferPanelSummary::showsCancelButton(jobs[i]), cancellable[i]);
        const QColor colour = TransferPanelSummary::stateColour(jobs[i].state.kind());
        const QColor expected = colours[i];
        // The hue family is what matters: blue, green, red or orange.
        EXPECT_NEAR(colour.hueF(), expected.hueF(), 0.1);
    }
    EXPECT_EQ(TransferPanelSummary::cancelHelpText(jobs[1]), QStringLiteral("Cancel opening"));
    EXPECT_EQ(TransferPanelSummary::cancelHelpText(jobs[0]), QStringLiteral("Cancel transfer"));
}

TEST(TransferJobListModel, AProgressStepChangesOnlyItsRow)
{
    TransferJobListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QList<TransferJob> jobs = jobsInEveryState();
    model.setJobs(jobs);
    ASSERT_EQ(model.rowCount(), jobs.size());

    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    jobs[0].state = TransferState::running(sampleProgress(20'000'000, 40'000'000, 5'000));
    model.setJobs(jobs);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(changes[0][1].toModelIndex().row(), 0);
    EXPECT_EQ(model.index(0).data(TransferJobListModel::StateLineRole).toString(),
              QStringLiteral("20 MB of 40 MB \u2014 4 MB/s"));

    // A queued job that starts keeps its row and identity.
    const TransferID waiting = jobs[2].id;
    jobs[2].state = TransferState::running(sampleProgress(0, 1'200, 0));
    model.setJobs(jobs);
    EXPECT_EQ(model.rowOf(waiting), 2);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(inserts.count(), 0);
}

TEST(TransferJobListModel, ClearingFinishedRemovesRangesAndKeepsOrder)
{
    TransferJobListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QList<TransferJob> jobs = jobsInEveryState();
    model.setJobs(jobs);
    QSignalSpy removals(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    QList<TransferJob> active;
    for (const TransferJob& job : jobs) {
        if (!job.state.isTerminal()) {
            active.append(job);
        }
    }
    model.setJobs(active);
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(removals.count(), 1); // rows 5 to 7 in one range
    EXPECT_EQ(removals[0][1].toInt(), 5);
    EXPECT_EQ(removals[0][2].toInt(), 7);
    ASSERT_EQ(model.rowCount(), active.size());
    for (int row = 0; row < model.rowCount(); ++row) {
        EXPECT_EQ(model.rowOf(active[row].id), row);
    }

    // New jobs are appended; a removed job's id is forgotten.
    TransferJob added = sampleJob(QStringLiteral("new.bin"), TransferState::queued(), 5, TransferPurpose::fileTransfer,
                                  TransferDirection::macToAndroid, 100);
    active.removeAt(1);
    active.append(added);
    model.setJobs(active);
    EXPECT_EQ(model.rowOf(jobs[1].id), -1);
    EXPECT_EQ(model.rowOf(added.id), static_cast<int>(active.size() - 1));
    EXPECT_EQ(model.index(1).data().toString(), active[1].displayName);
}

TEST(TransferPanel, HeaderAndBodyFollowTheJobs)
{
    TransferPanel panel(nullptr);
    panel.resize(700, 200);
    panel.show();
    EXPECT_TRUE(label(panel, "noTransfersText")->isVisible());
    EXPECT_TRUE(panel.findChild<QPushButton*>(QStringLiteral("clearFinished"))->isHidden());
    EXPECT_TRUE(label(panel, "overallPercent")->isHidden());
    EXPECT_TRUE(label(panel, "runningCount")->isHidden());

    panel.setJobs({sampleJob(QStringLiteral("done.txt"), TransferState::completed(), 10)});
    EXPECT_FALSE(panel.findChild<QPushButton*>(QStringLiteral("clearFinished"))->isHidden());
    EXPECT_FALSE(label(panel, "noTransfersText")->isVisible());
    EXPECT_TRUE(panel.listView()->isVisible());
    EXPECT_TRUE(label(panel, "overallPercent")->isHidden()); // no active job, no bar

    panel.setJobs(jobsInEveryState());
    EXPECT_EQ(label(panel, "runningCount")->text(), QStringLiteral("1 transferring"));
    EXPECT_EQ(label(panel, "viewingCount")->text(), QStringLiteral("1 opening for viewing"));
    EXPECT_EQ(label(panel, "confirmationCount")->text(), QStringLiteral("1 needs confirmation"));
    EXPECT_FALSE(label(panel, "overallPercent")->isHidden());
}

TEST(TransferPanel, ACancelButtonCancelsThatJobOnly)
{
    CoordinatorRig rig;
    const TransferID first = rig.enqueue(QStringLiteral("one.bin"));
    const TransferID second = rig.enqueue(QStringLiteral("two.bin"));
    const TransferID third = rig.enqueue(QStringLiteral("three.bin"));
    TransferPanel panel(&rig.coordinator);
    panel.resize(700, 300);
    panel.setPanelHeight(300);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ASSERT_EQ(panel.model()->rowCount(), 3);

    QTest::mouseClick(panel.listView()->viewport(), Qt::LeftButton, {}, cancelButtonOf(panel, 1));
    EXPECT_EQ(rig.queue->job(second)->state.kind(), TransferState::Kind::cancelled);
    EXPECT_EQ(rig.queue->job(first)->state.kind(), TransferState::Kind::queued);
    EXPECT_EQ(rig.queue->job(third)->state.kind(), TransferState::Kind::queued);

    // The panel follows the publication: the row keeps its place and loses its button.
    ASSERT_TRUE(processEventsUntil([&] {
        return panel.model()->index(1).data(TransferJobListModel::StateLineRole).toString() == QStringLiteral("Cancelled");
    }));
    EXPECT_FALSE(panel.model()->index(1).data(TransferJobListModel::CancellableRole).toBool());

    // "Clear Finished" drops the cancelled row and keeps the others in order.
    panel.findChild<QPushButton*>(QStringLiteral("clearFinished"))->click();
    ASSERT_TRUE(processEventsUntil([&] { return panel.model()->rowCount() == 2; }));
    EXPECT_EQ(panel.model()->rowOf(first), 0);
    EXPECT_EQ(panel.model()->rowOf(third), 1);
}

TEST(TransferPanel, HeightStaysWithinItsClamps)
{
    TransferPanel panel(nullptr);
    QSignalSpy heights(&panel, &TransferPanel::panelHeightChanged);
    TransferPanelResizeHandle handle(&panel);
    handle.resize(400, 8);
    QTest::mousePress(&handle, Qt::LeftButton, {}, QPoint(10, 4));
    QTest::mouseMove(&handle, QPoint(10, 4 - 100)); // up by 100
    EXPECT_EQ(panel.panelHeight(), 260);
    QTest::mouseMove(&handle, QPoint(10, 4 - 1000));
    EXPECT_EQ(panel.panelHeight(), TransferPanel::maximumHeight);
    QTest::mouseMove(&handle, QPoint(10, 4 + 1000));
    EXPECT_EQ(panel.panelHeight(), TransferPanel::minimumHeight);
    QTest::mouseRelease(&handle, Qt::LeftButton, {}, QPoint(10, 4 + 1000));
    EXPECT_EQ(panel.height(), TransferPanel::minimumHeight);
    EXPECT_EQ(heights.count(), 3);
}

// At any height and application font and however far the list is scrolled, the rows in view are
// whole ones, and the scroll bar shows only while some row is out of view.
TEST(TransferPanel, ShowsWholeRowsAndAScrollBarOnlyForRowsOutOfView)
{
    const int low = TransferPanel::minimumHeight;
    const int usual = TransferPanel::defaultHeight;
    // The panel's height, its jobs, and the application font's point size (0: as it is).
    const std::tuple<int, int, int> cases[] = {{low, 1, 0}, {low, 3, 0}, {usual, 1, 0}, {usual, 9, 0}, {300, 30, 0},
                                               {517, 12, 0}, {low, 1, 20}, {usual, 1, 20}, {usual, 4, 20}};
    const QFont applicationFont = QApplication::font();
    for (const auto& [height, count, pointSize] : cases) {
        SCOPED_TRACE(std::to_string(height) + " high, " + std::to_string(count) + " jobs, font " +
                     std::to_string(pointSize));
        QApplication::setFont(pointSize > 0 ? QFont(applicationFont.family(), pointSize) : applicationFont);
        QList<TransferJob> jobs;
        for (int index = 0; index < count; ++index) {
            jobs.append(sampleJob(QStringLiteral("file-%1.bin").arg(index), TransferState::completed()));
            jobs.last().sequence = index;
        }
        TransferPanel panel(nullptr);
        panel.setJobs(jobs);
        panel.setPanelHeight(height);
        panel.resize(700, height);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        QListView* list = panel.listView();
        EXPECT_LE(list->mapTo(&panel, QPoint(0, list->height())).y(), panel.height()) << "the list is not cut";
        for (const char* scrolled : {"at the top", "at the bottom"}) {
            SCOPED_TRACE(scrolled);
            list->doItemsLayout(); // the scroll bar as the next paint shows it
            int inView = 0;
            for (int row = 0; row < count; ++row) {
                const QRect rect = list->visualRect(panel.model()->index(row));
                if (rect.intersects(list->viewport()->rect())) {
                    EXPECT_TRUE(list->viewport()->rect().contains(rect)) << "row " << row << " cut";
                    ++inView;
                }
            }
            EXPECT_GE(inView, 1);
            EXPECT_EQ(list->verticalScrollBar()->isVisible(), inView < count);
            list->scrollToBottom();
        }
    }
    QApplication::setFont(applicationFont);
}

// At any font, the contents of two rows (lines of text, cancel buttons, bars) keep 4 points apart.
TEST(TransferJobDelegate, KeepsFourPointsBetweenTheContentsOfTwoRows)
{
    TransferPanel panel(nullptr);
    panel.setJobs({sampleJob(QStringLiteral("one.bin"), TransferState::running(sampleProgress(1, 4, 1))),
                   sampleJob(QStringLiteral("two.bin"), TransferState::running(sampleProgress(2, 4, 1)))});
    QListView* list = panel.listView();
    for (const int pointSize : {7, 9, 13, 20}) {
        SCOPED_TRACE(pointSize);
        list->setFont(QFont(list->font().family(), pointSize));
        list->doItemsLayout();
        const auto parts = [list](int row) {
            const QModelIndex index = list->model()->index(row, 0);
            return TransferJobDelegate::layout(list->visualRect(index), index, list->font());
        };
        const TransferJobDelegate::RowLayout first = parts(0), second = parts(1);
        ASSERT_FALSE(first.cancelButton.isEmpty() || first.bar.isEmpty());
        const int firstEnd = std::max({first.stateLine.bottom(), first.cancelButton.bottom(), first.bar.bottom()});
        const int secondStart = std::min({second.name.top(), second.cancelButton.top(), second.bar.top()});
        EXPECT_EQ(secondStart - firstEnd - 1, 4);
    }
}

TEST(TransferJobListModel, AListOutOfSequenceOrderIsMirroredWhole)
{
    TransferJobListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QList<TransferJob> jobs = jobsInEveryState();
    model.setJobs(jobs.mid(2));
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setJobs(jobs); // two older jobs before the rows shown
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(model.rowCount(), jobs.size());
    for (int row = 0; row < model.rowCount(); ++row) {
        EXPECT_EQ(model.rowOf(jobs[row].id), row);
    }
}

namespace {

// Records the regions the list's viewport paints after the rows last changed.
struct PaintRecorder final : QObject {
    QRegion painted;
    bool changed = false;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

// A long list of finished rows, then the one running and the one awaiting the user's answer: the
// panel scrolls to the row that needs the user (then to the running one), and every progress step
// of the last row repaints it.
TEST(TransferPanel, TheRowsThatNeedAttentionStayInViewAndRepaint)
{
    CoordinatorRig rig;
    QList<TransferID> ids;
    for (int index = 0; index < 14; ++index) {
        ids.append(rig.enqueue(QStringLiteral("part-%1.bin").arg(index), 40'000'000));
    }
    TransferPanel panel(&rig.coordinator);
    panel.resize(700, TransferPanel::defaultHeight);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const auto rowInView = [&panel](const TransferID& id) {
        QListView* view = panel.listView();
        return view->viewport()->rect().contains(view->visualRect(panel.model()->index(panel.model()->rowOf(id))));
    };
    for (qsizetype index = 0; index + 2 < ids.size(); ++index) {
        rig.queue->complete(ids[index]);
    }
    rig.queue->awaitConfirmation(ids[ids.size() - 2]);
    rig.queue->start(ids.last(), sampleStart);
    rig.coordinator.refreshTransferJobs();
    EXPECT_TRUE(processEventsUntil([&] { return rowInView(ids[ids.size() - 2]); }));
    EXPECT_FALSE(rowInView(ids.front()));

    rig.queue->resumeQueued(ids[ids.size() - 2]);
    rig.queue->cancel(ids[ids.size() - 2]);
    rig.coordinator.refreshTransferJobs();
    ASSERT_TRUE(processEventsUntil([&] { return rowInView(ids.last()); }));
    for (const qint64 done : {10'000'000, 20'000'000}) {
        PaintRecorder recorder;
        panel.listView()->viewport()->installEventFilter(&recorder);
        QObject::connect(panel.model(), &QAbstractItemModel::dataChanged, &recorder, [&recorder] {
            recorder.changed = true;
            recorder.painted = QRegion();
        });
        rig.queue->updateProgress(ids.last(), done, sampleStart.addSecs(1));
        rig.coordinator.refreshTransferJobs();
        const QRect lastRow = panel.listView()->visualRect(panel.model()->index(panel.model()->rowOf(ids.last())));
        EXPECT_TRUE(processEventsUntil([&] { return recorder.changed && recorder.painted.contains(lastRow); })) << done;
    }
}
