#include "chrome/KeyboardFocusRing.h"

#include "style/Palette.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

namespace quillbarrow {

namespace {
// Wide enough to be told from the style's one-pixel outlines, inside the widget so that no
// neighbour and no clipping cuts it.
constexpr qreal ringWidth = 3;
constexpr qreal ringRadius = 4;
} // namespace

KeyboardFocusRing::KeyboardFocusRing(QWidget* painted, QWidget* focused)
    : QObject(painted), m_painted(painted), m_focused(focused)
{
    m_painted->installEventFilter(this);
    if (focused != painted) {
        focused->installEventFilter(this);
    }
    // A scroll area moves its viewport's pixels when it scrolls and repaints only the strip that
    // comes into view, which would carry the ring's top and bottom edges along with the rows.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(focused)) {
        for (const QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()}) {
            connect(bar, &QScrollBar::valueChanged, painted, qOverload<>(&QWidget::update));
        }
    }
}

void KeyboardFocusRing::attachToButtons(QWidget* sheet)
{
    const QList<QPushButton*> buttons = sheet->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        new KeyboardFocusRing(button, button);
    }
}

bool KeyboardFocusRing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_focused && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        m_painted->update();
    }
    if (m_delivering || watched != m_painted || event->type() != QEvent::Paint || m_focused == nullptr ||
        !m_focused->hasFocus()) {
        return false;
    }
    // The widget draws itself first, through whatever else watches it (a scroll area draws its
    // rows from a filter of its viewport), then the ring goes on top, still inside the paint event.
    m_delivering = true;
    QCoreApplication::sendEvent(m_painted, event);
    m_delivering = false;
    QPainter painter(m_painted);
    paintRing(painter);
    return true;
}

void KeyboardFocusRing::paintRing(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::accent(m_painted->palette()), ringWidth));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = ringWidth / 2;
    painter.drawRoundedRect(QRectF(m_painted->rect()).adjusted(inset, inset, -inset, -inset), ringRadius, ringRadius);
}

} // namespace quillbarrow
