#include "PaneHeaderDivider.h"

#include "style/Palette.h"

#include <QPainter>

namespace quillbarrow {

PaneHeaderDivider::PaneHeaderDivider(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("paneHeaderDivider"));
    setFixedHeight(5);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PaneHeaderDivider::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.fillRect(QRect(0, 2, width(), 1), Palette::secondary(palette(), opacity));
}

} // namespace quillbarrow
