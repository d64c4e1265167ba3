#include "NativeTableView.h"

#include "table/NativeTableDelegate.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

namespace quillbarrow {

NativeTableView::NativeTableView(QWidget* parent)
    : QTableView(parent), m_contextMenuShell(new QMenu(this)), m_delegate(new NativeTableDelegate(this))
{
    setItemDelegate(m_delegate);
    setObjectName(QStringLiteral("nativeTable"));
    m_contextMenuShell->setObjectName(QStringLiteral("nativeTableContextMenu"));
    setAlternatingRowColors(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setIconSize(QSize(16, 16));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    // Tab leaves the table for the next part of the window instead of walking its cells.
    setTabKeyNavigation(false);

    QHeaderView* rows = verticalHeader();
    rows->setVisible(false);
    // A fixed height lets the view place 100,000 rows without measuring any of them.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(rowHeight);
    rows->setDefaultSectionSize(rowHeight);

    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(true);
    connect(header, &QHeaderView::sectionResized, this, &NativeTableView::keepMinimumWidth);
    // A double click on the header or below the last row has no index and opens nothing.
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            Q_EMIT primaryActionRequested(index.row());
        }
    });
}

void NativeTableView::applyColumns(const QList<NativeTableColumn>& columns)
{
    for (int column = 0; column < columns.size(); ++column) {
        if (columns[column].content == NativeTableColumn::Content::name) {
            m_delegate->setMiddleElidedColumn(column);
            m_nameColumn = column;
        }
    }
    m_minimumWidths.clear();
    m_preferredWidths.clear();
    int smallest = rowHeight;
    for (const NativeTableColumn& column : columns) {
        m_minimumWidths.append(column.minimumWidth);
        m_preferredWidths.append(std::max(column.width, column.minimumWidth));
        smallest = smallest == rowHeight ? column.minimumWidth : std::min(smallest, column.minimumWidth);
    }
    QHeaderView* header = horizontalHeader();
    header->setMinimumSectionSize(smallest);
    for (int column = 0; column < columns.size(); ++column) {
        header->setSectionResizeMode(column, QHeaderView::Interactive);
        // The stretched last column starts at its minimum: the header never draws it narrower
        // than the size it was given, and the stretch widens it to the table's edge anyway.
        const bool stretched = header->stretchLastSection() && column == columns.size() - 1;
        header->resizeSection(column, stretched ? columns[column].minimumWidth : m_preferredWidths[column]);
    }
    m_nameShrunkBy = 0;
    fitColumnsToWidth();
}

void NativeTableView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    fitColumnsToWidth();
}

void NativeTableView::fitColumnsToWidth()
{
    QHeaderView* header = horizontalHeader();
    const int count = header->count();
    if (m_fitting || m_nameColumn < 0 || m_nameColumn >= count) {
        return;
    }
    // The stretched last column counts with the width it would like; short of room it takes
    // what is left once the name column is at its minimum.
    int needed = 0;
    for (int column = 0; column < count; ++column) {
        const bool stretched = header->stretchLastSection() && column == count - 1 && column != m_nameColumn;
        needed += stretched && column < m_preferredWidths.size() ? m_preferredWidths[column] : header->sectionSize(column);
    }
    const int available = viewport()->width();
    const int current = header->sectionSize(m_nameColumn);
    int target = current;
    if (needed > available) {
        target = std::max(minimumColumnWidth(m_nameColumn), current - (needed - available));
    } else if (m_nameShrunkBy > 0) {
        target = current + std::min(m_nameShrunkBy, available - needed);
    }
    if (target == current) {
        return;
    }
    m_nameShrunkBy = std::max(0, m_nameShrunkBy + current - target);
    m_fitting = true;
    header->resizeSection(m_nameColumn, target);
    m_fitting = false;
}

int NativeTableView::minimumColumnWidth(int column) const
{
    return column >= 0 && column < m_minimumWidths.size() ? m_minimumWidths[column] : 0;
}

void NativeTableView::keepMinimumWidth(int column, int oldWidth, int newWidth)
{
    Q_UNUSED(oldWidth)
    // The last column stretches to the table's edge; the header keeps it at the smallest minimum.
    const bool stretched = horizontalHeader()->stretchLastSection() && column == horizontalHeader()->count() - 1;
    if (!stretched && newWidth < minimumColumnWidth(column)) {
        horizontalHeader()->resizeSection(column, minimumColumnWidth(column));
    }
}

void NativeTableView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
        Q_EMIT mouseDown();
    }
    QTableView::mousePressEvent(event);
}

void NativeTableView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QModelIndexList selected = selectionModel() != nullptr ? selectionModel()->selectedRows() : QModelIndexList();
        if (selected.size() == 1) {
            Q_EMIT primaryActionRequested(selected.front().row());
            event->accept();
        } else {
            event->ignore(); // the key goes on to the pane and the window
        }
        return;
    }
    default:
        break;
    }
    QTableView::keyPressEvent(event);
    // A move that stays on the row the keyboard is on (Home on the first row, the first arrow
    // press) selects that row when nothing is selected, as any other move would.
    static const QList<int> movingKeys{Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp,
                                       Qt::Key_PageDown};
    if (movingKeys.contains(event->key()) && !event->modifiers().testFlag(Qt::ControlModifier) &&
        selectionModel() != nullptr && !selectionModel()->hasSelection() && currentIndex().isValid()) {
        selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

QModelIndex NativeTableView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // The table's rows are its items: Home and End go to the first and the last row (not to the
    // first and last column of the row), with or without Ctrl.
    if ((cursorAction == MoveHome || cursorAction == MoveEnd) && model() != nullptr && model()->rowCount() > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const int row = cursorAction == MoveHome ? 0 : model()->rowCount() - 1;
        return model()->index(row, column);
    }
    // With nothing selected the first arrow press selects the row the keyboard is on (the first
    // row when there is none), rather than the one after a current row nobody can see.
    if ((cursorAction == MoveDown || cursorAction == MoveUp) && model() != nullptr && model()->rowCount() > 0 &&
        selectionModel() != nullptr && !selectionModel()->hasSelection()) {
        return currentIndex().isValid() ? currentIndex() : model()->index(0, 0);
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

QMenu* NativeTableView::prepareContextMenu(const QPoint& viewportPosition)
{
    Q_UNUSED(viewportPosition)
    m_contextMenuShell->clear();
    return nullptr;
}

void NativeTableView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = prepareContextMenu(event->pos())) {
        // popup(), not exec(): nothing waits on the menu.
        menu->popup(event->globalPos());
    }
    event->accept();
}

} // namespace quillbarrow
