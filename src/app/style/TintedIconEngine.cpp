#include "TintedIconEngine.h"

#include <QPainter>
#include <QPixmap>

#include <utility>

namespace quillbarrow {

TintedIconEngine::TintedIconEngine(QIcon shape, QColor color, QColor selectedColor)
    : m_shape(std::move(shape)), m_color(color), m_selectedColor(selectedColor)
{
}

QColor TintedIconEngine::colorFor(QIcon::Mode mode) const
{
    if (mode == QIcon::Selected) {
        return m_selectedColor;
    }
    QColor color = m_color;
    if (mode == QIcon::Disabled) {
        color.setAlphaF(color.alphaF() * 0.4f);
    }
    return color;
}

void TintedIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state)
{
    const qreal scale = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
}

QPixmap TintedIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    return scaledPixmap(size, mode, state, 1.0);
}

QPixmap TintedIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale)
{
    // The shape in its normal mode: the tint alone marks a disabled icon.
    QPixmap shape = m_shape.pixmap(size, scale, QIcon::Normal, state);
    if (shape.isNull()) {
        return shape;
    }
    QPixmap tinted(shape.size());
    tinted.setDevicePixelRatio(shape.devicePixelRatio());
    tinted.fill(Qt::transparent);
    QPainter painter(&tinted);
    painter.drawPixmap(0, 0, shape);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), colorFor(mode));
    painter.end();
    return tinted;
}

QSize TintedIconEngine::actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    return m_shape.actualSize(size, mode, state);
}

QList<QSize> TintedIconEngine::availableSizes(QIcon::Mode mode, QIcon::State state)
{
    return m_shape.availableSizes(mode, state);
}

QIconEngine* TintedIconEngine::clone() const
{
    return new TintedIconEngine(m_shape, m_color, m_selectedColor);
}

QString TintedIconEngine::key() const
{
    return QStringLiteral("quillbarrow.tinted");
}

} // namespace quillbarrow
