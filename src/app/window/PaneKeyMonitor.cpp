#include "PaneKeyMonitor.h"

#include "WindowState.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>
#include <QWindow>

namespace quillbarrow {

namespace {

bool isTextInput(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) != nullptr || qobject_cast<const QTextEdit*>(widget) != nullptr ||
           qobject_cast<const QPlainTextEdit*>(widget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(widget) != nullptr;
}

} // namespace

PaneKeyMonitor::PaneKeyMonitor(QWidget* pane, QWidget* table, FocusedPane side, WindowState* state,
                               Handler handler)
    : QObject(pane), m_pane(pane), m_table(table), m_side(side), m_state(state), m_handler(std::move(handler))
{
    // The window may be made or changed later: the pane's show and reparenting say when.
    m_pane->installEventFilter(this);
    followWindow();
}

PaneKeyMonitor::~PaneKeyMonitor()
{
    if (m_window != nullptr) {
        m_window->removeEventFilter(this);
    }
}

void PaneKeyMonitor::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

bool PaneKeyMonitor::shouldIgnoreKeyEvent(const QWidget* window)
{
    if (window == nullptr) {
        return false;
    }
    // A dialog that blocks the whole application, or a sheet of this window; a sheet of another
    // window leaves this one's keys alone.
    if (const QWidget* modal = QApplication::activeModalWidget();
        modal != nullptr && modal->windowModality() == Qt::ApplicationModal) {
        return true;
    }
    const QList<QWidget*> children = window->findChildren<QWidget*>();
    for (const QWidget* child : children) {
        if (child->isWindow() && child->isVisible() && child->windowModality() != Qt::NonModal) {
            return true;
        }
    }
    const QWidget* focus = window->focusWidget();
    return focus != nullptr && isTextInput(focus);
}

void PaneKeyMonitor::followWindow()
{
    QWindow* window = m_pane->window()->windowHandle();
    if (window == m_window) {
        return;
    }
    if (m_window != nullptr) {
        m_window->removeEventFilter(this);
    }
    m_window = window;
    if (m_window != nullptr) {
        m_window->installEventFilter(this);
    }
}

bool PaneKeyMonitor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pane) {
        if (event->type() == QEvent::Show || event->type() == QEvent::ParentChange) {
            followWindow();
        }
        return false;
    }
    if (watched != m_window || event->type() != QEvent::KeyPress || !m_handler || m_state == nullptr) {
        return false;
    }
    // Whatever else has the keyboard (the device list, a strip's or the banner's button) takes the
    // press as its own: Return presses the button, Up and Down choose a device.
    const QWidget* window = m_pane->window();
    if (m_table == nullptr || window->focusWidget() != m_table || m_state->focusedPane() != m_side ||
        shouldIgnoreKeyEvent(window)) {
        return false;
    }
    const auto* press = static_cast<QKeyEvent*>(event);
    const std::optional<PaneKeyCommand> command = paneKeyCommand(press->key(), press->modifiers());
    return command && m_handler(*command);
}

} // namespace quillbarrow
