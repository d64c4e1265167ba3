#include "BreadcrumbButton.h"

#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace quillbarrow {

BreadcrumbButton::BreadcrumbButton(const QString& text, QWidget* parent) : QToolButton(parent)
{
    setText(text);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void BreadcrumbButton::setSymbol(const QString& symbol)
{
    m_symbol = symbol;
    setProperty(SymbolIcons::symbolProperty, symbol);
    updateGeometry();
    update();
}

QColor BreadcrumbButton::labelColor() const
{
    return m_hovering ? Palette::accent(palette()) : Palette::secondary(palette());
}

QSize BreadcrumbButton::sizeHint() const
{
    if (!m_symbol.isEmpty()) {
        return QSize(16, 16);
    }
    // A line of its own with room for descenders (an underscore sits below the baseline). The
    // width is rounded up: a width rounded down to whole pixels is too narrow for the text, which
    // the label then cuts ("St…ge").
    return QSize(qCeil(QFontMetricsF(font()).horizontalAdvance(text())), fontMetrics().height() + 2);
}

void BreadcrumbButton::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setOpacity(isDown() ? pressedOpacity : 1.0);
    if (!m_symbol.isEmpty()) {
        const QRect square(QPoint(0, 0), QSize(16, 16));
        SymbolIcons::tinted(m_symbol, labelColor()).paint(&painter, square.translated(rect().center() - square.center()));
        return;
    }
    painter.setPen(labelColor());
    painter.drawText(rect(), Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideMiddle, width()));
}

void BreadcrumbButton::enterEvent(QEnterEvent* event)
{
    m_hovering = true;
    update();
    QToolButton::enterEvent(event);
}

void BreadcrumbButton::leaveEvent(QEvent* event)
{
    m_hovering = false;
    update();
    QToolButton::leaveEvent(event);
}

} // namespace quillbarrow
