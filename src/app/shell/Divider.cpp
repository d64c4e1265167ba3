#include "Divider.h"

#include <QMouseEvent>
#include <QPainter>

namespace quillbarrow {

Divider::Divider(Qt::Orientation lineOrientation, int gripThickness, QWidget* parent)
    : QWidget(parent), m_lineOrientation(lineOrientation), m_gripThickness(gripThickness),
      m_grip(new DragGrip(lineOrientation, parent))
{
    if (lineOrientation == Qt::Vertical) {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    } else {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    connect(m_grip, &DragGrip::dragged, this, &Divider::dragged);
    connect(m_grip, &DragGrip::dragFinished, this, &Divider::dragFinished);
}

void Divider::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
}

void Divider::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    placeGrip();
}

void Divider::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeGrip();
}

void Divider::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeGrip();
}

void Divider::placeGrip()
{
    // Centred on the line: as much of the grip before it as after it (the odd pixel after).
    const int before = (m_gripThickness - 1) / 2;
    const QRect line = geometry();
    if (m_lineOrientation == Qt::Vertical) {
        m_grip->setGeometry(line.x() - before, line.y(), m_gripThickness, line.height());
    } else {
        m_grip->setGeometry(line.x(), line.y() - before, line.width(), m_gripThickness);
    }
    m_grip->raise();
}

DragGrip::DragGrip(Qt::Orientation lineOrientation, QWidget* parent) : QWidget(parent)
{
    setCursor(lineOrientation == Qt::Vertical ? Qt::SplitHCursor : Qt::SplitVCursor);
}

void DragGrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressPosition = event->globalPosition();
    Q_EMIT dragged(QPointF(0, 0));
}

void DragGrip::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressPosition) {
        Q_EMIT dragged(event->globalPosition() - *m_pressPosition);
    }
}

void DragGrip::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressPosition) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    Q_EMIT dragged(event->globalPosition() - *m_pressPosition);
    m_pressPosition.reset();
    Q_EMIT dragFinished();
}

} // namespace quillbarrow
