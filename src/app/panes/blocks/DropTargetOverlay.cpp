#include "DropTargetOverlay.h"

#include "style/Fonts.h"
#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace quillbarrow {

namespace {
constexpr qreal outlineWidth = 2;
constexpr int cardPadding = 16;
constexpr int cardSpacing = 4;
constexpr int symbolSize = 22;
} // namespace

DropTargetOverlay::DropTargetOverlay(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent), m_title(title), m_subtitle(subtitle)
{
    setObjectName(QStringLiteral("dropTargetOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setProperty(SymbolIcons::symbolProperty, QStringLiteral("tray.and.arrow.down"));
    setVisible(false);
    if (parent != nullptr) {
        parent->installEventFilter(this);
        followArea();
    }
}

void DropTargetOverlay::cover(QWidget* area)
{
    m_area = area;
    area->installEventFilter(this);
    followArea();
}

void DropTargetOverlay::followArea()
{
    QWidget* parent = parentWidget();
    if (parent == nullptr) {
        return;
    }
    const QRect covered = m_area ? QRect(m_area->mapTo(parent, QPoint(0, 0)), m_area->size()) : parent->rect();
    setGeometry(covered);
}

void DropTargetOverlay::setTargeted(bool targeted)
{
    m_isTargeted = targeted;
    setVisible(targeted);
    if (targeted) {
        raise();
    }
}

void DropTargetOverlay::setTexts(const QString& title, const QString& subtitle)
{
    m_title = title;
    m_subtitle = subtitle;
    update();
}

bool DropTargetOverlay::eventFilter(QObject* watched, QEvent* event)
{
    const bool moved = event->type() == QEvent::Resize || event->type() == QEvent::Move;
    if (moved && (watched == parentWidget() || (m_area && watched == m_area))) {
        followArea();
    }
    return QWidget::eventFilter(watched, event);
}

QRect DropTargetOverlay::outlineRect() const
{
    return rect().adjusted(inset, inset, -inset, -inset);
}

QRect DropTargetOverlay::cardRect() const
{
    const QFontMetrics headline(Fonts::headline());
    const QFontMetrics caption(Fonts::caption());
    const int width = std::max({symbolSize, headline.horizontalAdvance(m_title), caption.horizontalAdvance(m_subtitle)});
    const int height = symbolSize + cardSpacing + headline.height() + cardSpacing + caption.height();
    QRect card(0, 0, width + 2 * cardPadding, height + 2 * cardPadding);
    card.moveCenter(rect().center());
    return card;
}

void DropTargetOverlay::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    if (!m_isTargeted) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal halfPen = outlineWidth / 2;
    const QRectF area = QRectF(outlineRect()).adjusted(halfPen, halfPen, -halfPen, -halfPen);
    QPainterPath outline;
    outline.addRoundedRect(area, 8, 8);
    painter.fillPath(outline, Palette::accent(palette(), fillOpacity));
    QPen dashes(Palette::accent(palette()), outlineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    dashes.setDashPattern({8.0 / 2, 5.0 / 2}); // in units of the pen width
    painter.setPen(dashes);
    painter.drawPath(outline);

    const QRect card = cardRect();
    QPainterPath cardShape;
    cardShape.addRoundedRect(QRectF(card), 8, 8);
    QColor material = palette().color(QPalette::Window);
    material.setAlphaF(0.92f);
    painter.fillPath(cardShape, material);

    const QFontMetrics headline(Fonts::headline());
    const QFontMetrics caption(Fonts::caption());
    int y = card.top() + cardPadding;
    SymbolIcons::tinted(QStringLiteral("tray.and.arrow.down"), palette().color(QPalette::WindowText))
        .paint(&painter, QRect(card.center().x() - symbolSize / 2, y, symbolSize, symbolSize));
    y += symbolSize + cardSpacing;
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(Fonts::headline());
    painter.drawText(QRect(card.left(), y, card.width(), headline.height()), Qt::AlignCenter, m_title);
    y += headline.height() + cardSpacing;
    painter.setPen(Palette::secondary(palette()));
    painter.setFont(Fonts::caption());
    painter.drawText(QRect(card.left(), y, card.width(), caption.height()), Qt::AlignCenter, m_subtitle);
}

} // namespace quillbarrow
