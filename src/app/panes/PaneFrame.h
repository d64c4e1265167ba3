#pragma once

#include "window/FocusedPane.h"
#include "window/PaneKeyMonitor.h"

#include <QPointer>
#include <QWidget>

class QDropEvent;
class QMimeData;

namespace quillbarrow {

class DropTargetOverlay;
class PaneHeader;
class WindowState;

// What both panes are built on: the side of the window they stand for; the header above a
// one-pixel rule and the content; the header's height shared with the other pane through the
// window state (each pane reports its framed height, never below the shared one, the window keeps
// the taller report and hands it back as the header's minimum, so both headers end at the same
// line and never shrink again); the keyboard focus taken on a click and shown by a faint accent
// tint; the pane's key monitor; and the drop target, whose overlay lies over the pane's content
// (its table) while an acceptable drag hovers over the pane. Drops over the pane's children reach
// it too: its tables take none of their own. Main thread.
class PaneFrame : public QWidget {
    Q_OBJECT

  public:
    PaneHeader* header() const { return m_header; }
    DropTargetOverlay* dropOverlay() const { return m_overlay; }
    bool isDropTargeted() const { return m_isDropTargeted; }
    // The widget that takes the keyboard for the pane: its table.
    virtual QWidget* keyboardTarget() const = 0;

  protected:
    PaneFrame(FocusedPane side, WindowState& state, QWidget* parent);

    // Lays out `header`, the rule and `content`, puts `overlay` over `content` and starts the key
    // monitor with `handler`; called once by the pane's constructor. The frame takes the widgets.
    void assemble(PaneHeader* header, QWidget* content, DropTargetOverlay* overlay, PaneKeyMonitor::Handler handler);
    // Takes the keyboard for this pane; the state changes only when the other pane held it.
    void focusPane();
    bool isFocusedPane() const;

    // Whether a drag carrying `data` may be dropped on the pane now.
    virtual bool acceptsDrag(const QMimeData* data) const = 0;
    // Whether what `data` carries is something the pane takes, read from the data itself. Another
    // application may hand its data over anew at every read, and it may be long, so a drag is read
    // once, as it enters; draggedContentTaken gives that answer for the rest of the drag.
    virtual bool readsAsTaken(const QMimeData* data) const = 0;
    bool draggedContentTaken(const QMimeData* data) const;
    // Acts on a drop of `data`; false when it is refused (nothing is done then).
    virtual bool acceptDrop(const QMimeData* data) = 0;
    // Shows the overlay while a drag it accepts hovers over the pane.
    virtual void updateDropOverlay();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    QPointer<WindowState> m_state;

  private:
    void reportHeaderHeight();
    bool takeAsCopy(QDropEvent* event);
    void setDropTargeted(bool targeted);

    FocusedPane m_side;
    PaneHeader* m_header = nullptr;
    DropTargetOverlay* m_overlay = nullptr;
    PaneKeyMonitor* m_keyMonitor = nullptr;
    bool m_isDropTargeted = false;
    // The drag over the pane, from its entry to its leaving or drop, and what readsAsTaken said.
    const QMimeData* m_hoveringData = nullptr;
    bool m_hoveringTaken = false;
    int m_naturalHeaderHeight = 0;
    qreal m_reportedHeaderHeight = 0;
};

} // namespace quillbarrow
