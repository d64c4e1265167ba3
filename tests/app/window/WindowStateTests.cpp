#include "window/WindowState.h"

#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

using namespace quillbarrow;

namespace {

struct SplitCase {
    qreal paneAreaWidth;
    qreal fraction;
    qreal expectedLeft;
};

} // namespace

TEST(WindowState, StartsWithTheMacPaneFocusedTheSplitInHalfAndThePanel160High)
{
    const WindowState state;
    EXPECT_EQ(state.focusedPane(), FocusedPane::mac);
    EXPECT_EQ(state.paneSplitFraction(), 0.5);
    EXPECT_EQ(state.transferPanelHeight(), 160);
    EXPECT_EQ(state.paneHeaderHeight(), 0);
    EXPECT_FALSE(state.showingNewFolderLocal() || state.showingNewFolderAndroid() ||
                 state.showingServiceRestartConfirmation());
    EXPECT_FALSE(state.localRenameTarget() || state.androidRenameTarget());
    EXPECT_TRUE(state.localDeleteTargets().isEmpty() && state.androidDeleteTargets().isEmpty());
}

TEST(WindowState, LeftPaneWidthFollowsTheSplitRule)
{
    const SplitCase cases[] = {
        {721, 0.8, 360},    // 720 available: exactly half, whatever the fraction
        {721, 0.2, 360},
        {722, 0.8, 361},    // one wider: the fraction applies, clamped so the right keeps 360
        {722, 0.2, 360},    // ... and the left keeps 360
        {1001, 0.8, 640},   // min(max(800, 360), 640)
        {1001, 0.3, 360},   // 300 is below the smallest pane
        {1001, 0.5, 500},
        {0, 0.5, 0},        // nothing available: no negative widths
        {1, 0.8, 0},
    };
    for (const SplitCase& each : cases) {
        EXPECT_DOUBLE_EQ(WindowState::paneSplitLeftWidth(each.paneAreaWidth, each.fraction), each.expectedLeft)
            << "width " << each.paneAreaWidth << ", fraction " << each.fraction;
    }
}

TEST(WindowState, SplitDragMeasuresFromItsStartAndStopsAtTheClamps)
{
    WindowState state;
    state.dragPaneSplit(100, 1000);
    EXPECT_DOUBLE_EQ(state.paneSplitFraction(), 0.6);
    EXPECT_EQ(state.paneSplitDragStart(), std::optional<qreal>(0.5));
    // Each change is measured from the drag's start, not from the previous change.
    state.dragPaneSplit(200, 1000);
    EXPECT_DOUBLE_EQ(state.paneSplitFraction(), 0.7);
    state.dragPaneSplit(5000, 1000);
    EXPECT_DOUBLE_EQ(state.paneSplitFraction(), 0.8);
    state.endPaneSplitDrag();
    EXPECT_FALSE(state.paneSplitDragStart());

    // The next drag starts where the last one left the fraction.
    state.dragPaneSplit(-100, 1000);
    EXPECT_DOUBLE_EQ(state.paneSplitFraction(), 0.7);
    state.dragPaneSplit(-5000, 1000);
    EXPECT_DOUBLE_EQ(state.paneSplitFraction(), 0.2);
    state.endPaneSplitDrag();

    // A total width of 0 divides by 1.
    state.dragPaneSplit(0.25, 0);
    EXPECT_DOUBLE_EQ(state.paneSplitFraction(), 0.45);
}

TEST(WindowState, PanelDragUpwardsMakesItTallerWithin80And520)
{
    WindowState state;
    QSignalSpy heights(&state, &WindowState::transferPanelHeightChanged);
    state.dragTransferPanel(-40);
    EXPECT_DOUBLE_EQ(state.transferPanelHeight(), 200);
    state.dragTransferPanel(-1000);
    EXPECT_DOUBLE_EQ(state.transferPanelHeight(), 520);
    state.dragTransferPanel(1000);
    EXPECT_DOUBLE_EQ(state.transferPanelHeight(), 80);
    state.dragTransferPanel(30);
    EXPECT_DOUBLE_EQ(state.transferPanelHeight(), 130);
    state.endTransferPanelDrag();
    state.dragTransferPanel(-10);
    EXPECT_DOUBLE_EQ(state.transferPanelHeight(), 140);
    EXPECT_EQ(heights.count(), 5);
}

TEST(WindowState, HeaderHeightIsTheTallestReport)
{
    WindowState state;
    state.reportPaneHeaderHeight(FocusedPane::mac, 120);
    state.reportPaneHeaderHeight(FocusedPane::android, 134);
    EXPECT_EQ(state.paneHeaderHeight(), 134);
    state.reportPaneHeaderHeight(FocusedPane::mac, 134);
    EXPECT_EQ(state.paneHeaderHeight(), 134);
}

TEST(WindowState, FocusingAPaneWritesOnlyWhenTheOtherHoldsIt)
{
    WindowState state;
    QSignalSpy changes(&state, &WindowState::focusedPaneChanged);
    state.focusPane(FocusedPane::mac);
    EXPECT_EQ(changes.count(), 0);
    state.focusPane(FocusedPane::android);
    state.focusPane(FocusedPane::android);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(state.focusedPane(), FocusedPane::android);
}

TEST(WindowState, DeleteAlertTitlesNameOneItemOrCountSeveral)
{
    WindowState state;
    const auto local = [](const QString& name) {
        return LocalItem(QUrl::fromLocalFile(QStringLiteral("/tmp/") + name), name, RemoteItemKind::file, 1,
                         std::nullopt, false);
    };
    state.setLocalDeleteTargets({local(QStringLiteral("Report.pdf"))});
    EXPECT_EQ(state.localDeleteAlertTitle(), QStringLiteral("Delete Report.pdf?"));
    state.setLocalDeleteTargets({local(QStringLiteral("a")), local(QStringLiteral("b")), local(QStringLiteral("c"))});
    EXPECT_EQ(state.localDeleteAlertTitle(), QStringLiteral("Delete 3 items?"));
    const RemoteItem remote(RemoteObjectID(QStringLiteral("7")), StorageID(QStringLiteral("s")), std::nullopt,
                            QStringLiteral("IMG_0001.jpg"), RemoteItemKind::file, 10, std::nullopt, std::nullopt);
    state.setAndroidDeleteTargets({remote});
    EXPECT_EQ(state.androidDeleteAlertTitle(), QStringLiteral("Delete IMG_0001.jpg?"));
    state.setAndroidDeleteTargets({remote, remote});
    EXPECT_EQ(state.androidDeleteAlertTitle(), QStringLiteral("Delete 2 items?"));
}
