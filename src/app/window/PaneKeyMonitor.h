#pragma once

#include "FocusedPane.h"
#include "PaneKeyCommand.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;
class QWindow;

namespace quillbarrow {

class WindowState;

// The keyboard commands of one pane. The monitor watches the key presses of the pane's own
// window, before any widget of the window sees them, and offers each press that is one of the
// panes' commands (PaneKeyCommand) to the pane's handler, but only
//   - while the pane's table has the window's keyboard,
//   - while the window state says this pane is the focused one, and
//   - while the window shows no modal dialog (a sheet),
// so a press meant for anything else that has the keyboard (the device list, a strip's or the
// banner's button, the path editor, a dialog) never runs a pane command. A press the handler takes
// (it returns true) is consumed: no widget sees it, so the table does not also act on it. Any
// other press goes on to the window's focus widget as usual.
//
// Presses aimed at another window never reach the handler: each window's panes answer only
// their own window's keys. The monitor follows the pane into whatever window it is shown in,
// and ends with the pane. Tests press keys on the window (QTest::keyClick on its windowHandle()),
// the way the platform delivers them. Main thread.
class PaneKeyMonitor final : public QObject {
    Q_OBJECT

public:
    // True when the pane acted on the command.
    using Handler = std::function<bool(PaneKeyCommand)>;

    // Lives as a child of `pane`; `table` is the widget of the pane that takes its keyboard.
    PaneKeyMonitor(QWidget* pane, QWidget* table, FocusedPane side, WindowState* state, Handler handler);
    ~PaneKeyMonitor() override;

    // Replaces the handler; the monitor is not installed again.
    void setHandler(Handler handler);

    // Key presses of `window` must pass untouched: a modal dialog of the window (or of the whole
    // application) is showing, or a text field or text editor of the window has the keyboard.
    static bool shouldIgnoreKeyEvent(const QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Watches the window the pane is in now, and stops watching the one it left.
    void followWindow();

    QWidget* m_pane;
    QPointer<QWidget> m_table;
    FocusedPane m_side;
    QPointer<WindowState> m_state;
    Handler m_handler;
    QPointer<QWindow> m_window;
};

} // namespace quillbarrow
