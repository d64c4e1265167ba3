#include "ToolbarIconButton.h"

#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QCursor>
#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace quillbarrow {

namespace {
constexpr int horizontalPadding = 6;
constexpr int verticalPadding = 4;
} // namespace

ToolbarIconButton::ToolbarIconButton(const QString& symbol, const QString& toolTip, QWidget* parent)
    : QToolButton(parent)
{
    setSymbol(symbol);
    setToolTip(toolTip);
    setAutoRaise(true);
    setIconSize(QSize(16, 16));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void ToolbarIconButton::setSymbol(const QString& symbol)
{
    SymbolIcons::apply(this, symbol);
    update();
}

void ToolbarIconButton::followPointer()
{
    m_hovering = isEnabled() && rect().contains(mapFromGlobal(QCursor::pos()));
    update();
}

double ToolbarIconButton::fillOpacity() const
{
    if (isDown()) {
        return pressedFill;
    }
    return m_hovering ? hoverFill : 0.0;
}

QSize ToolbarIconButton::sizeHint() const
{
    QSize content = iconSize();
    if (toolButtonStyle() != Qt::ToolButtonIconOnly && !text().isEmpty()) {
        content.rwidth() += fontMetrics().horizontalAdvance(text()) + 4;
        content.setHeight(std::max(content.height(), fontMetrics().height()));
    }
    return content + QSize(2 * horizontalPadding, 2 * verticalPadding);
}

void ToolbarIconButton::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QStylePainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (const double fill = fillOpacity(); fill > 0) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter.fillPath(shape, Palette::primary(palette(), fill));
    }
    QStyleOptionToolButton option;
    initStyleOption(&option);
    // The label is drawn as enabled and faded as a whole, so a disabled symbol keeps its shape.
    option.state |= QStyle::State_Enabled;
    option.state &= ~(QStyle::State_MouseOver | QStyle::State_Sunken | QStyle::State_On | QStyle::State_Raised);
    option.rect = rect().adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    painter.setOpacity(isEnabled() ? 1.0 : disabledOpacity);
    painter.drawControl(QStyle::CE_ToolButtonLabel, option);
}

void ToolbarIconButton::enterEvent(QEnterEvent* event)
{
    m_hovering = isEnabled();
    update();
    QToolButton::enterEvent(event);
}

void ToolbarIconButton::leaveEvent(QEvent* event)
{
    m_hovering = false;
    update();
    QToolButton::leaveEvent(event);
}

void ToolbarIconButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        m_hovering = isEnabled() && underMouse();
        update();
    }
    QToolButton::changeEvent(event);
}

} // namespace quillbarrow
