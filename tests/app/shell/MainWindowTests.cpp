#include "RunTask.h"
#include "ShellTestSupport.h"

#include "chrome/TransferPanel.h"
#include "shell/Divider.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "window/WindowState.h"
#include "viewmodels/transfers/TransferCoordinator.h"

#include <QLabel>
#include <QPushButton>
#include <QWindow>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

// Drags a grip by `offset` in two steps, as a person would, and lets go. The positions are the
// window's: the grip itself moves while it is dragged.
void drag(QWidget* grip, QPoint offset)
{
    QWindow* window = grip->window()->windowHandle();
    const QPoint start = grip->mapTo(grip->window(), grip->rect().center());
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(window, start + offset / 2);
    QTest::mouseMove(window, start + offset);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, start + offset);
}

} // namespace

TEST(MainWindow, TheSplitGripMovesThePanesWithinTheirClamps)
{
    ShellFixture fixture;
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(waitUntilShown(window));
    PaneArea* area = window->paneArea();
    auto* grip = area->findChild<QWidget*>(QStringLiteral("paneSplitGrip"));
    ASSERT_NE(grip, nullptr);
    EXPECT_EQ(grip->cursor().shape(), Qt::SplitHCursor);
    const int available = area->width() - 1;
    ASSERT_GT(available, 720);
    EXPECT_EQ(area->macPane()->width(), qRound(available * 0.5));
    EXPECT_EQ(area->androidPane()->width(), available - area->macPane()->width());

    drag(grip, QPoint(100, 0));
    EXPECT_NEAR(window->state().paneSplitFraction(), 0.5 + 100.0 / available, 1e-9);
    EXPECT_EQ(area->macPane()->width(), qRound(WindowState::paneSplitLeftWidth(area->width(),
                                                                               window->state().paneSplitFraction())));
    EXPECT_FALSE(window->state().paneSplitDragStart());

    drag(grip, QPoint(-5000, 0));
    EXPECT_DOUBLE_EQ(window->state().paneSplitFraction(), 0.2);
    EXPECT_EQ(area->macPane()->width(), qRound(std::max(available * 0.2, 360.0)));
    EXPECT_GE(area->androidPane()->width(), 360);
}

TEST(MainWindow, ThePanelGripResizesTheTransferPanelWithinItsClamps)
{
    ShellFixture fixture;
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(waitUntilShown(window));
    auto* grip = window->findChild<QWidget*>(QStringLiteral("transferPanelGrip"));
    ASSERT_NE(grip, nullptr);
    EXPECT_EQ(grip->cursor().shape(), Qt::SplitVCursor);
    EXPECT_EQ(window->transferPanel()->height(), 160);

    drag(grip, QPoint(0, -60));
    EXPECT_EQ(window->transferPanel()->height(), 220);
    drag(grip, QPoint(0, -2000));
    EXPECT_EQ(window->transferPanel()->height(), 520);
    drag(grip, QPoint(0, 2000));
    EXPECT_EQ(window->transferPanel()->height(), 80);
}

TEST(MainWindow, TheTransferErrorStripShowsTheUserMessageUntilDismissed)
{
    ShellFixture fixture;
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(waitUntilShown(window));
    auto* strip = window->findChild<QWidget*>(QStringLiteral("transferErrorStrip"));
    ASSERT_NE(strip, nullptr);
    EXPECT_FALSE(strip->isVisible());

    const QuillbarrowError error = QuillbarrowError::fileOpenFailed(QStringLiteral("a.txt"), QStringLiteral("No viewer."));
    fixture.app->coordinator().reportError(error);
    EXPECT_TRUE(strip->isVisible());
    EXPECT_EQ(strip->findChild<QLabel*>(QStringLiteral("transferErrorMessage"))->text(), error.userMessage());
    EXPECT_EQ(strip->findChild<QLabel*>(QStringLiteral("transferErrorIcon"))->property("symbolName").toString(),
              QStringLiteral("exclamationmark.octagon.fill"));
    // The strip sits above the panes.
    EXPECT_LT(strip->geometry().bottom(), window->paneArea()->geometry().top());

    QTest::mouseClick(strip->findChild<QPushButton*>(QStringLiteral("dismissTransferErrorButton")), Qt::LeftButton);
    EXPECT_FALSE(fixture.app->coordinator().lastError());
    EXPECT_FALSE(strip->isVisible());
}

TEST(MainWindow, OnlyTheFocusedPaneSaysFocused)
{
    ShellFixture fixture;
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(waitUntilShown(window));
    const auto focusedLabel = [](QWidget* pane) { return pane->findChild<QLabel*>(QStringLiteral("focusedLabel")); };
    QWidget* mac = window->paneArea()->macPane();
    QWidget* android = window->paneArea()->androidPane();
    EXPECT_TRUE(focusedLabel(mac)->isVisible());
    EXPECT_FALSE(focusedLabel(android)->isVisible());

    QTest::mouseClick(android, Qt::LeftButton);
    EXPECT_EQ(window->state().focusedPane(), FocusedPane::android);
    EXPECT_FALSE(focusedLabel(mac)->isVisible());
    EXPECT_TRUE(focusedLabel(android)->isVisible());
    EXPECT_EQ(focusedLabel(android)->text(), QStringLiteral("focused"));
}
