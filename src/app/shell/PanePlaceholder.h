#pragma once

#include "FocusedPane.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;

namespace quillbarrow {

class WindowState;

// An honest stand-in for a part of the window that is not built yet: its title and a line
// saying what will be there, on an empty area. A stand-in for one of the two panes also takes
// part in pane focus like a pane: a click in it makes it the focused pane, and while it is
// focused it is tinted with the accent colour and shows "focused" beside its title.
class PanePlaceholder final : public QWidget {
    Q_OBJECT

public:
    PanePlaceholder(const QString& title, const QString& note, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    void setNote(const QString& note);
    // Makes this the stand-in of the pane `side`, following the window's focused pane.
    void followFocus(WindowState* state, FocusedPane side);
    bool isFocusedPane() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void showFocus();

    QLabel* m_title;
    QLabel* m_focused;
    QLabel* m_note;
    QPointer<WindowState> m_state;
    std::optional<FocusedPane> m_side;
};

} // namespace quillbarrow
