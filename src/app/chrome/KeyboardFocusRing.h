#pragma once

#include <QObject>
#include <QPointer>

class QLabel;
class QPainter;
class QPushButton;
class QWidget;

namespace quillbarrow {

// Marks the widget that has the keyboard with a ring in the accent colour, drawn over `painted`
// after it has drawn itself, for as long as `focused` has the keyboard. The style's own mark is
// not enough: Fusion draws none until the user has pressed Tab, and draws a focused default
// button exactly like an unfocused one, so "Replace" or "Cancel" looked the same either way.
// `painted` is the widget itself, or the viewport of a scroll area whose keyboard is `focused`,
// or the parent of a check box, round which the ring is drawn a little outside, clear of its
// indicator. Lives as a child of `painted`. Main thread.
//
// In a sheet the ring is also what Return acts on: a push button with the ring is pressed by
// Return, so the key never answers with another button than the one marked. Elsewhere in the
// sheet (a text field, a check box) Return goes on to the sheet's default button.
class KeyboardFocusRing final : public QObject {
    Q_OBJECT

public:
    KeyboardFocusRing(QWidget* painted, QWidget* focused);

    // Gives every button and check box of `sheet` a ring of its own, and makes Return press the
    // push button that has the keyboard.
    static void attachToButtons(QWidget* sheet);
    // The keyboard and a strip of the window (a message and its Dismiss): the message can be
    // selected with the mouse and copied (SelectedTextCopier) without taking the keyboard from the
    // pane that has it, and Dismiss is a window button (attachToWindowButton).
    static void attachToStrip(QLabel* message, QPushButton* dismiss);
    // A button of the window outside the panes (a strip's, the banner's): a click leaves the
    // keyboard in the pane that has it; Tab reaches the button (the window walks to it after the
    // tables), which then wears the ring and is pressed by Return as well as Space.
    static void attachToWindowButton(QPushButton* button);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintRing(QPainter& painter) const;
    // Return or Enter pressed on a push button that has the keyboard: pressed there.
    bool pressesRingedButton(QEvent* event) const;

    QWidget* m_painted;
    QPointer<QWidget> m_focused;
    // True while the paint event is handed on to the widget itself.
    bool m_delivering = false;
    // Set for the push buttons of a sheet.
    bool m_pressOnReturn = false;
    // Set when `painted` is the parent and the ring goes round `focused`.
    bool m_around = false;
};

} // namespace quillbarrow
