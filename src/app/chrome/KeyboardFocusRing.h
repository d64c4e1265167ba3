#pragma once

#include <QObject>
#include <QPointer>

class QPainter;
class QWidget;

namespace quillbarrow {

// Marks the widget that has the keyboard with a ring in the accent colour, drawn over `painted`
// after it has drawn itself, for as long as `focused` has the keyboard. The style's own mark is
// not enough: Fusion draws none until the user has pressed Tab, and draws a focused default
// button exactly like an unfocused one, so "Replace" or "Cancel" looked the same either way.
// `painted` is the widget itself, or the viewport of a scroll area whose keyboard is `focused`.
// Lives as a child of `painted`. Main thread.
class KeyboardFocusRing final : public QObject {
    Q_OBJECT

public:
    KeyboardFocusRing(QWidget* painted, QWidget* focused);

    // Gives every push button of `sheet` a ring of its own.
    static void attachToButtons(QWidget* sheet);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintRing(QPainter& painter) const;

    QWidget* m_painted;
    QPointer<QWidget> m_focused;
    // True while the paint event is handed on to the widget itself.
    bool m_delivering = false;
};

} // namespace quillbarrow
