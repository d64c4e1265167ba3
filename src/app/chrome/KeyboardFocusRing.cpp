#include "chrome/KeyboardFocusRing.h"

#include "chrome/SelectedTextCopier.h"
#include "style/Palette.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
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
// Between a check box and the ring round it.
constexpr qreal ringGap = 1;
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
        (new KeyboardFocusRing(button, button))->m_pressOnReturn = true;
    }
    // A sheet may open with the keyboard on its check box: Space would tick it unseen.
    const QList<QCheckBox*> boxes = sheet->findChildren<QCheckBox*>();
    for (QCheckBox* box : boxes) {
        (new KeyboardFocusRing(box->parentWidget(), box))->m_around = true;
    }
}

void KeyboardFocusRing::attachToStrip(QLabel* message, QPushButton* dismiss)
{
    new SelectedTextCopier(message);
    attachToWindowButton(dismiss);
}

void KeyboardFocusRing::attachToWindowButton(QPushButton* button)
{
    button->setFocusPolicy(Qt::TabFocus);
    (new KeyboardFocusRing(button, button))->m_pressOnReturn = true;
}

bool KeyboardFocusRing::pressesRingedButton(QEvent* event) const
{
    if (!m_pressOnReturn || event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto* press = static_cast<QKeyEvent*>(event);
    const bool returnKey = press->key() == Qt::Key_Return || press->key() == Qt::Key_Enter;
    if (!returnKey || (press->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        return false;
    }
    // Without this a dialog hands Return to its default button, whichever has the ring.
    auto* button = qobject_cast<QPushButton*>(m_focused.data());
    if (button == nullptr || !button->isEnabled() || !button->hasFocus()) {
        return false;
    }
    button->click();
    return true;
}

bool KeyboardFocusRing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_focused && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        m_painted->update();
    }
    if (watched == m_focused && pressesRingedButton(event)) {
        return true;
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
    QRectF ring(m_painted->rect());
    if (m_around) {
        const qreal outset = ringWidth + ringGap;
        ring = QRectF(m_focused->geometry()).adjusted(-outset, -outset, outset, outset);
    }
    painter.drawRoundedRect(ring.adjusted(inset, inset, -inset, -inset), ringRadius, ringRadius);
}

} // namespace quillbarrow
