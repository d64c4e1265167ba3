#include "BusySpinner.h"

#include "style/Palette.h"

#include <QPainter>

namespace quillbarrow {

BusySpinner::BusySpinner(int size, QWidget* parent) : QWidget(parent), m_size(size)
{
    setObjectName(QStringLiteral("busySpinner"));
    setFixedSize(size, size);
    m_turn.setInterval(83);
    connect(&m_turn, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

QSize BusySpinner::sizeHint() const
{
    return QSize(m_size, m_size);
}

void BusySpinner::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ring = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setPen(QPen(Palette::secondary(palette(), 0.2), 2));
    painter.drawEllipse(ring);
    painter.setPen(QPen(Palette::secondary(palette(), 0.8), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, -m_angle * 16, 100 * 16);
}

void BusySpinner::showEvent(QShowEvent* event)
{
    m_turn.start();
    QWidget::showEvent(event);
}

void BusySpinner::hideEvent(QHideEvent* event)
{
    m_turn.stop();
    QWidget::hideEvent(event);
}

} // namespace quillbarrow
