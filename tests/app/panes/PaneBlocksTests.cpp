#include "PaneTestSupport.h"
#include "panes/PaneHeader.h"
#include "panes/blocks/BreadcrumbButton.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/ElidedLabel.h"
#include "panes/blocks/EmptyStateView.h"
#include "panes/blocks/StatusCapsule.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

using testing::shownTip;

void enter(QWidget& widget)
{
    QEnterEvent event(QPointF(2, 2), QPointF(2, 2), widget.mapToGlobal(QPointF(2, 2)));
    QCoreApplication::sendEvent(&widget, &event);
}

void leave(QWidget& widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &event);
}

TEST(ToolbarIconButton, HoverFillsOnlyAnEnabledButtonAndPressingFillsMore)
{
    ToolbarIconButton button(QStringLiteral("arrow.clockwise"), QStringLiteral("Refresh (Ctrl+R)"));
    EXPECT_EQ(SymbolIcons::symbolOf(&button), QStringLiteral("arrow.clockwise"));
    EXPECT_EQ(button.toolTip(), QStringLiteral("Refresh (Ctrl+R)"));
    EXPECT_EQ(button.fillOpacity(), 0.0);
    enter(button);
    EXPECT_EQ(button.fillOpacity(), ToolbarIconButton::hoverFill);
    button.setDown(true);
    EXPECT_EQ(button.fillOpacity(), ToolbarIconButton::pressedFill);
    button.setDown(false);
    leave(button);
    EXPECT_EQ(button.fillOpacity(), 0.0);

    button.setEnabled(false);
    enter(button);
    EXPECT_FALSE(button.isHovering());
    EXPECT_EQ(button.fillOpacity(), 0.0);
    // Disabled while hovered: the fill goes at once.
    button.setEnabled(true);
    enter(button);
    button.setEnabled(false);
    EXPECT_EQ(button.fillOpacity(), 0.0);
    EXPECT_EQ(button.sizeHint(), QSize(16 + 12, 16 + 8));
}

TEST(BreadcrumbButton, TurnsToTheAccentColourWhileThePointerIsOverIt)
{
    BreadcrumbButton button(QStringLiteral("Documents"));
    const QColor secondary = button.labelColor();
    enter(button);
    EXPECT_EQ(button.labelColor(), Palette::accent(button.palette()));
    leave(button);
    EXPECT_EQ(button.labelColor(), secondary);
    button.setEnabled(false);
    enter(button);
    EXPECT_TRUE(button.isHovering()) << "a breadcrumb shows hover enabled or not";
}

TEST(BreadcrumbButton, IsWideEnoughForItsWholeTextAtFractionalFontSizes)
{
    // Fractional point sizes give fractional text widths; a width rounded down cut the label.
    for (const double pointSize : {7.65, 8.5, 9.35, 11.0}) {
        for (const QString& text : {QStringLiteral("Storage"), QStringLiteral("DCIM"), QStringLiteral("qt_temp-hOVGBr")}) {
            SCOPED_TRACE((text + u' ' + QString::number(pointSize)).toStdString());
            BreadcrumbButton crumb(text);
            QFont font = crumb.font();
            font.setPointSizeF(pointSize);
            crumb.setFont(font);
            const int width = crumb.sizeHint().width();
            EXPECT_EQ(crumb.fontMetrics().elidedText(text, Qt::ElideMiddle, width), text);
        }
    }
}

TEST(DropTargetOverlay, TakesNoSpaceUntilTargetedAndNeverTheClicksOrDrops)
{
    QWidget pane;
    pane.resize(400, 300);
    auto* below = new QPushButton(QStringLiteral("below"), &pane);
    below->setGeometry(pane.rect());
    DropTargetOverlay overlay(QStringLiteral("Drop Mac items here"),
                              QStringLiteral("They will be copied to the current Android folder"), &pane);
    pane.show();
    EXPECT_FALSE(overlay.isVisible());
    overlay.setTargeted(true);
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(overlay.geometry(), pane.rect());
    EXPECT_EQ(pane.childAt(200, 150), below) << "the overlay is transparent to the mouse and to drops";
    pane.resize(500, 320);
    EXPECT_EQ(overlay.geometry(), QRect(0, 0, 500, 320));
    EXPECT_EQ(overlay.cardRect().center(), overlay.rect().center());

    // Over the pane's table, it follows the table, and its outline keeps 10 pixels from its edges.
    below->setGeometry(0, 60, 500, 260);
    overlay.cover(below);
    EXPECT_EQ(overlay.geometry(), below->geometry());
    below->setGeometry(0, 80, 480, 240);
    EXPECT_EQ(overlay.geometry(), below->geometry());
    EXPECT_EQ(overlay.outlineRect(), QRect(10, 10, 460, 220));
    overlay.setTargeted(false);
    EXPECT_FALSE(overlay.isVisible());
}

// While a drag hovers, the rows under the overlay show: as they are in its margin, under the faint
// accent fill inside its outline.
TEST(DropTargetOverlay, LetsTheRowsShowThroughItsTint)
{
    QWidget rows;
    rows.resize(400, 300);
    rows.setAutoFillBackground(true);
    const QColor row(200, 40, 40);
    rows.setPalette(QPalette(row));
    DropTargetOverlay overlay(QStringLiteral("Drop Mac items here"), QString(), &rows);
    rows.show();
    overlay.setTargeted(true);
    const QImage image = rows.grab().toImage();
    const QColor accent = Palette::accent(overlay.palette());
    const double tint = DropTargetOverlay::fillOpacity;
    const QColor tinted = QColor::fromRgbF(row.redF() * (1 - tint) + accent.redF() * tint,
                                           row.greenF() * (1 - tint) + accent.greenF() * tint,
                                           row.blueF() * (1 - tint) + accent.blueF() * tint);
    const std::pair<QPoint, QColor> probes[] = {{{4, 170}, row}, {{40, 170}, tinted}, {{200, 280}, tinted}};
    for (const auto& [point, expected] : probes) {
        const QColor seen = image.pixelColor(point);
        EXPECT_LE(std::max({std::abs(seen.red() - expected.red()), std::abs(seen.green() - expected.green()),
                            std::abs(seen.blue() - expected.blue())}), 2)
            << point.x() << "," << point.y() << ": " << seen.name().toStdString();
    }
}

TEST(EmptyStateView, ALongDescriptionWrapsWithinItsWidthCentred)
{
    EmptyStateView view(QStringLiteral("No storage available"), QStringLiteral("externaldrive.badge.questionmark"),
                        QStringLiteral("Keep the device unlocked and verify that File Transfer / MTP mode is selected. ")
                            .repeated(4));
    view.resize(900, 600);
    view.show();
    EXPECT_TRUE(view.descriptionLabel()->wordWrap());
    EXPECT_LE(view.descriptionLabel()->width(), EmptyStateView::descriptionWidth);
    EXPECT_TRUE(view.descriptionLabel()->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(view.symbolLabel()->property(SymbolIcons::symbolProperty).toString(),
              QStringLiteral("externaldrive.badge.questionmark"));
    EXPECT_FALSE(view.symbolLabel()->pixmap().isNull());
}

TEST(StatusCapsule, ShowsItsTextAndSymbol)
{
    StatusCapsule capsule;
    capsule.setStatus(QStringLiteral("Updating after transfer…"), QStringLiteral("clock.arrow.circlepath"));
    EXPECT_EQ(capsule.text(), QStringLiteral("Updating after transfer…"));
    EXPECT_EQ(capsule.property(SymbolIcons::symbolProperty).toString(), QStringLiteral("clock.arrow.circlepath"));
    EXPECT_GE(capsule.sizeHint().width(), capsule.fontMetrics().horizontalAdvance(capsule.text()) + 20);
}

// A name cut to fit is shown whole in the tooltip, as written, even when it looks like markup.
TEST(ElidedLabel, ACutTextIsItsTooltipAsWritten)
{
    for (const QString& text : {QStringLiteral("Holiday photos from the summer"),
                                QStringLiteral("<b>Card</b> &amp; <i>photos</i> from the summer")}) {
        ElidedLabel label;
        label.resize(label.minimumSizeHint());
        label.setText(text);
        ASSERT_NE(label.shownText(), text);
        EXPECT_EQ(shownTip(label.toolTip()), text);
    }
}

// A pane's title too long for the pane (a device's name) ends in an ellipsis; the whole title is
// still its text and shows in the tooltip, also after it changes, and a title that fits has none.
TEST(PaneHeader, ATitleTooLongForThePaneShowsWholeInItsTooltip)
{
    const QString longName = QStringLiteral("Galaxy Tab S9 Ultra of the design department, second floor");
    PaneHeader header(QStringLiteral("iphone.gen3"), QStringLiteral("Android"), QString(), QStringLiteral("Copy to Mac"),
                      QStringLiteral("arrow.left"), QString());
    header.resize(360, 200);
    header.show();
    EXPECT_TRUE(header.titleLabel()->toolTip().isEmpty());
    header.setTitle(longName);
    QApplication::processEvents(); // the title row's new layout
    EXPECT_LE(header.width(), 360);
    EXPECT_EQ(header.titleLabel()->text(), longName);
    EXPECT_EQ(shownTip(header.titleLabel()->toolTip()), longName);
    header.setTitle(QStringLiteral("Pixel 8"));
    QApplication::processEvents();
    EXPECT_TRUE(header.titleLabel()->toolTip().isEmpty());
}

} // namespace
} // namespace quillbarrow
