#include "StatusCapsule.h"

#include "style/Fonts.h"
#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace quillbarrow {

namespace {
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 6;
constexpr int symbolSize = 12;
constexpr int gap = 5;
} // namespace

StatusCapsule::StatusCapsule(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusCapsule"));
    setFont(Fonts::caption());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusCapsule::setStatus(const QString& text, const QString& symbol)
{
    m_text = text;
    m_symbol = symbol;
    setProperty(SymbolIcons::symbolProperty, symbol);
    updateGeometry();
    adjustSize();
    update();
}

QSize StatusCapsule::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(m_text);
    const int height = std::max(symbolSize, fontMetrics().height());
    return QSize(symbolSize + gap + textWidth + 2 * horizontalPadding, height + 2 * verticalPadding);
}

void StatusCapsule::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath capsule;
    capsule.addRoundedRect(area, area.height() / 2, area.height() / 2);
    QColor material = palette().color(QPalette::Window);
    material.setAlphaF(0.92f);
    painter.fillPath(capsule, material);
    painter.setPen(QPen(Palette::secondary(palette(), 0.2), 1));
    painter.drawPath(capsule);

    const QColor secondary = Palette::secondary(palette());
    const int middle = height() / 2;
    SymbolIcons::tinted(m_symbol, secondary)
        .paint(&painter, QRect(horizontalPadding, middle - symbolSize / 2, symbolSize, symbolSize));
    painter.setPen(secondary);
    const int textLeft = horizontalPadding + symbolSize + gap;
    painter.drawText(QRect(textLeft, 0, width() - textLeft - horizontalPadding, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     m_text);
}

} // namespace quillbarrow
