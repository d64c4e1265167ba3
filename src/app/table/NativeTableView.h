#pragma once

#include "table/NativeTableColumn.h"

#include <QList>
#include <QPointer>
#include <QTableView>

class QMenu;

namespace quillbarrow {
class NativeTableDelegate;
}

namespace quillbarrow {

// The widget both panes list a folder in: a multi-column table with alternating rows 22 pixels
// high, whole-row multiple (or empty) selection, columns the user can resize but not reorder,
// no grid and no row numbers. Rows are dragged out for copying only.
//
// What it reports: every left or right mouse press (mouseDown, before the table handles it: the
// panes take the keyboard focus with it), a double click on a row or Return while exactly one
// row is selected (primaryActionRequested). The arrows, Home, End, Page Up and Page Down move the
// current row and the selection (with Shift they extend it; with nothing selected the first arrow
// press selects the row the keyboard is on); Tab moves on to the next part of the
// window, never from cell to cell. The context menu comes from prepareContextMenu(), which
// NativeTable<Item> builds for the clicked rows at every opening.
class NativeTableView : public QTableView {
    Q_OBJECT

public:
    static constexpr int rowHeight = 22;

    explicit NativeTableView(QWidget* parent = nullptr);

    // Fills the one menu the table shows for the rows under `viewportPosition`; nothing when
    // there is nothing to show. Never shows the menu (contextMenuEvent does).
    virtual QMenu* prepareContextMenu(const QPoint& viewportPosition);
    // The menu shown on right-click: made once, emptied and refilled at every opening.
    QMenu* contextMenuShell() const { return m_contextMenuShell; }

    // The smallest width the user can give column `column`.
    int minimumColumnWidth(int column) const;

Q_SIGNALS:
    void mouseDown();
    void primaryActionRequested(int row);
    // The table wrote a selection the user made into its selection binding.
    void selectionBindingChanged();

protected:
    // Sets each column's width and remembers its minimum; call after the model is set.
    void applyColumns(const QList<NativeTableColumn>& columns);

    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void keepMinimumWidth(int column, int oldWidth, int newWidth);
    // Gives the name column up to the width the table lacks (never below its minimum), so that
    // every column stays in sight in a narrow pane, and hands back what it took once there is
    // room again.
    void fitColumnsToWidth();

    QMenu* m_contextMenuShell;
    NativeTableDelegate* m_delegate;
    QList<int> m_minimumWidths;
    QList<int> m_preferredWidths;
    int m_nameColumn = -1;
    // How much narrower than its set width the name column is drawn to fit.
    int m_nameShrunkBy = 0;
    bool m_fitting = false;
};

} // namespace quillbarrow
