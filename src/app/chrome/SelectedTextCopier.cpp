#include "chrome/SelectedTextCopier.h"

#include "window/PaneKeyMonitor.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWindow>

namespace quillbarrow {

SelectedTextCopier::SelectedTextCopier(QLabel* message) : QObject(message), m_message(message)
{
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->setFocusPolicy(Qt::NoFocus);
    // A label's own menu opens only over a link.
    message->setContextMenuPolicy(Qt::CustomContextMenu);
    message->installEventFilter(this);
    connect(message, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        QMenu* menu = buildContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_message->mapToGlobal(position));
    });
}

QMenu* SelectedTextCopier::buildContextMenu()
{
    auto* menu = new QMenu(m_message);
    menu->setObjectName(QStringLiteral("messageContextMenu"));
    // The entry of the platform's text widgets: their words (and translation), icon and shortcut hint.
    QString title = QCoreApplication::translate("QWidgetTextControl", "&Copy");
    if (!QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus) &&
        QGuiApplication::styleHints()->showShortcutsInContextMenus()) {
        title += u'\t' + QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText);
    }
    QAction* copy = menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), title);
    copy->setObjectName(QStringLiteral("copyMessageAction"));
    const QString selected = m_message->selectedText();
    copy->setEnabled(!selected.isEmpty());
    connect(copy, &QAction::triggered, menu, [selected] { QGuiApplication::clipboard()->setText(selected); });
    return menu;
}

void SelectedTextCopier::watchApplication(bool watch)
{
    if (watch == m_watching) {
        return;
    }
    m_watching = watch;
    watch ? qApp->installEventFilter(this) : qApp->removeEventFilter(this);
}

bool SelectedTextCopier::copiesSelection(QObject* watched, QEvent* event) const
{
    if (event->type() != QEvent::KeyPress || !static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy) ||
        !m_message->isVisible() || !m_message->hasSelectedText()) {
        return false;
    }
    // The window receives a press before any of its widgets, the pane's key handling included.
    const QWidget* window = m_message->window();
    if (watched != static_cast<QObject*>(window->windowHandle()) ||
        PaneKeyMonitor::shouldIgnoreKeyEvent(window)) {
        return false;
    }
    QGuiApplication::clipboard()->setText(m_message->selectedText());
    return true;
}

bool SelectedTextCopier::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_message) {
        // A press on the message may start a selection.
        if (event->type() == QEvent::MouseButtonPress) {
            watchApplication(true);
        }
        return false;
    }
    if (copiesSelection(watched, event)) {
        return true;
    }
    // A press elsewhere ends the selection; one on the message's own menu does not. Ignored presses
    // travel up to the message's parents: where the press lands tells, not who receives it.
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        const auto* widget = static_cast<QWidget*>(watched);
        const QPoint at =
            m_message->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        const bool onMessage = m_message->isVisible() && m_message->rect().contains(at);
        if (!onMessage && widget->window()->windowType() != Qt::Popup) {
            m_message->setSelection(0, 0);
            watchApplication(false);
        }
    }
    return false;
}

} // namespace quillbarrow
