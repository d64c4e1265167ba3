#include "StorageBar.h"

#include "style/Palette.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quillbarrow {

StorageBar::StorageBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("storageBar"));
    setFixedHeight(6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StorageBar::setUsage(std::optional<double> usedFraction, const QString& accessibleName,
                          const QString& accessibleValue)
{
    m_usedFraction = usedFraction;
    setAccessibleName(accessibleName);
    setAccessibleDescription(accessibleValue);
    update();
}

int StorageBar::usedWidth() const
{
    return m_usedFraction ? static_cast<int>(std::lround(*m_usedFraction * width())) : 0;
}

void StorageBar::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 3, 3);
    if (!m_usedFraction) {
        painter.fillPath(shape, Palette::secondary(palette(), 0.16));
        return;
    }
    painter.setClipPath(shape);
    const int used = usedWidth();
    painter.fillRect(QRect(0, 0, used, height()), Palette::storageUsed());
    painter.fillRect(QRect(used, 0, width() - used, height()), Palette::storageFree());
}

} // namespace quillbarrow
