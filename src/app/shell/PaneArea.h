#pragma once

#include <QPointer>
#include <QWidget>

namespace quillbarrow {

class Divider;
class WindowState;

// The two panes side by side: the Mac pane on the left, a one-pixel line with its split grip,
// and the Android pane taking the rest. The left pane's width follows the window state's split
// fraction by WindowState::paneSplitLeftWidth (each pane keeps at least 360 once the area is
// wide enough, both get half below that); dragging the grip moves the fraction within 0.2 and
// 0.8. Lays out again whenever the fraction or the area's size changes.
class PaneArea final : public QWidget {
    Q_OBJECT

public:
    PaneArea(WindowState* state, QWidget* macPane, QWidget* androidPane, QWidget* parent = nullptr);

    QWidget* macPane() const { return m_macPane; }
    QWidget* androidPane() const { return m_androidPane; }
    Divider* divider() const { return m_divider; }
    // Puts another widget in a pane's place (a later pane replacing its stand-in); the old one
    // is deleted.
    void setMacPane(QWidget* pane);
    void setAndroidPane(QWidget* pane);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutPanes();
    // The width the split's rule divides: the area less the line.
    qreal availableWidth() const;

    QPointer<WindowState> m_state;
    QWidget* m_macPane;
    QWidget* m_androidPane;
    Divider* m_divider;
};

} // namespace quillbarrow
