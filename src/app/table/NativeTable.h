#pragma once

#include "table/ItemTableModel.h"
#include "table/NativeTableColumn.h"
#include "table/NativeTableView.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QMenu>
#include <QScrollBar>
#include <QSet>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quillbarrow {

// The table of one pane over rows of type `Item` (LocalItem or RemoteItem), bound to its owner:
//
// - Rows: setItems() with the view model's rows in its order (ItemTableModel applies them), and
//   the rows whose fields alone changed when the owner knows them. A re-listing of the same
//   folder that the model shows as a reset keeps the current row and the rows in sight: both are
//   found again by id (the first row in sight that is still listed stays first, as far scrolled
//   as it was).
// - Selection, both ways. The owner's selection (a set of ids, possibly naming rows that are not
//   listed) is shown by setSelection() and again after every setItems(); the table selects the
//   listed rows only and ignores the change notices its own selecting causes. After setItems()
//   the ids that no row carries any more are dropped from the binding and the smaller selection
//   is reported like a user's (isDroppingUnlistedSelection() tells the two apart). A selection the
//   user makes is written into the binding on the next turn of the event loop, as the ids of the
//   rows selected at that moment (several changes in one turn end in one write of the last), then
//   reported through the selection callback and selectionBindingChanged().
// - Sort, both ways. setSortColumn() shows the owner's column and direction as the header's sort
//   indicator (none without a sort callback or for an unknown or unsortable column); a click on a
//   sortable header calls the sort callback once with the column's identifier and the new
//   direction (a first click ascending, a second one reversed) and sorts nothing itself.
// - A double click on a row, or Return with one row selected, calls the primary action.
// - The context menu is built by the owner at every opening, for the clicked row alone when it
//   was not selected (it then becomes the selection), else for the whole selection.
// - Dragged rows carry what the pasteboard writer gives for each of them (by default a file
//   address for a computer row and the marker text for a phone row).
template <typename Item>
class NativeTable : public NativeTableView {
public:
    using Model = ItemTableModel<Item>;
    using ID = typename Model::ID;
    using SortCallback = std::function<void(const QString& identifier, bool ascending)>;
    using SelectionCallback = std::function<void(const QSet<ID>& selection)>;
    using ItemAction = std::function<void(const Item& item)>;
    // Builds the context menu for the given rows; nothing, or a menu without actions, shows none.
    using MenuBuilder = std::function<std::unique_ptr<QMenu>(const QSet<ID>& rows)>;

    explicit NativeTable(QList<NativeTableColumn> columns = NativeTableColumn::standardColumns(),
                         QWidget* parent = nullptr)
        : NativeTableView(parent), m_model(new Model(columns, this))
    {
        setModel(m_model);
        applyColumns(columns);
        connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { noticeTableSelection(); });
        connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_placeBeforeReset = place(); });
        connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
                [this](int section, Qt::SortOrder order) { headerSortChanged(section, order); });
        connect(m_model, &NativeTableModel::sortRequested, this, [this](const QString& identifier, bool ascending) {
            if (m_onSortColumn) {
                m_onSortColumn(identifier, ascending);
            }
        });
        connect(this, &NativeTableView::primaryActionRequested, this, [this](int row) {
            if (m_onPrimaryAction && row >= 0 && row < m_model->rowCount()) {
                m_onPrimaryAction(m_model->item(row));
            }
        });
    }

    Model* itemModel() const { return m_model; }

    // ---- Rows ------------------------------------------------------------------------------------

    // With `changedRows`, see ItemTableModel::setItems().
    void setItems(const QList<Item>& items, const QString& listing,
                  const std::vector<qsizetype>* changedRows = nullptr)
    {
        const bool sameListing = m_model->listing() == listing;
        m_placeBeforeReset.reset();
        m_applyingSelection = true;
        const typename Model::ListingChange change = m_model->setItems(items, listing, changedRows);
        m_applyingSelection = false;
        // The selected rows, looked up once for both steps below when either needs them.
        std::optional<std::vector<int>> selectedRows;
        const auto rowsOfSelection = [&]() -> const std::vector<int>& {
            if (!selectedRows) {
                selectedRows = m_model->rowsOf(m_selection);
            }
            return *selectedRows;
        };
        // Rows that kept their places keep the selection shown as it was.
        if (change != Model::ListingChange::fieldsOnly) {
            showSelectedRows(rowsOfSelection());
        }
        if (sameListing && m_placeBeforeReset) {
            restorePlace(*m_placeBeforeReset);
        }
        m_placeBeforeReset.reset();
        // While the rows keep their ids, a selection of listed ids stays listed.
        if ((change == Model::ListingChange::rows || !m_selectionListed) && !m_selectionWritePending) {
            keepListedSelection(rowsOfSelection());
        }
    }
    // The listed items among `ids`, in row order.
    QList<Item> itemsWithIDs(const QSet<ID>& ids) const { return m_model->itemsWithIDs(ids); }
    // Rows as spans of neighbouring rows (the first and the last of each), in row order.
    using RowSpans = std::vector<std::pair<int, int>>;
    // The items of the rows shown selected, in row order: the listed items of the binding, or of
    // the table's own selection while its write into the binding is due. Reads no id.
    QList<Item> selectedRowItems() const { return itemsIn(selectedRowSpans()); }
    // The rows shown selected (see selectedRowItems()).
    RowSpans selectedRowSpans() const
    {
        RowSpans spans;
        const int rowCount = m_model->rowCount();
        for (const QItemSelectionRange& range : selectionModel()->selection()) {
            if (range.top() < rowCount) {
                spans.emplace_back(range.top(), std::min(range.bottom(), rowCount - 1));
            }
        }
        std::sort(spans.begin(), spans.end());
        RowSpans merged;
        for (const auto& span : spans) {
            if (!merged.empty() && span.first <= merged.back().second + 1) {
                merged.back().second = std::max(merged.back().second, span.second);
            } else {
                merged.push_back(span);
            }
        }
        return merged;
    }
    // The rows of the listed items among `ids`; every row, looking none up, when `ids` is the
    // model's set of every id (what a select-all hands out).
    RowSpans rowSpansOf(const QSet<ID>& ids) const
    {
        const int rowCount = m_model->rowCount();
        if (rowCount > 0 && ids.size() == rowCount && ids == m_model->allIDs()) {
            return {{0, rowCount - 1}};
        }
        RowSpans spans;
        for (const int row : m_model->rowsOf(ids)) {
            if (!spans.empty() && spans.back().second + 1 == row) {
                spans.back().second = row;
            } else {
                spans.emplace_back(row, row);
            }
        }
        return spans;
    }
    // The items of `spans`, in row order; every row gives the listing shown itself, shared, not a copy.
    QList<Item> itemsIn(const RowSpans& spans) const
    {
        if (spans.size() == 1 && spans.front().first == 0 &&
            spans.front().second == m_model->rowCount() - 1) {
            if (const QList<Item>* every = m_model->rowItems()) {
                return *every;
            }
        }
        QList<Item> items;
        qsizetype count = 0;
        for (const auto& [first, last] : spans) {
            count += last - first + 1;
        }
        items.reserve(count);
        forEachItemIn(spans, [&items](const Item& item) { items.append(item); });
        return items;
    }
    // Calls `each` with the item of every row of `spans`, in row order, copying none.
    template <typename Each> void forEachItemIn(const RowSpans& spans, const Each& each) const
    {
        for (const auto& [first, last] : spans) {
            for (int row = first; row <= last && row < m_model->rowCount(); ++row) {
                each(m_model->item(row));
            }
        }
    }

    // ---- Selection -------------------------------------------------------------------------------

    const QSet<ID>& selection() const { return m_selection; }
    void setSelection(QSet<ID> selection)
    {
        m_selection = std::move(selection);
        m_selectionListed = m_selection.isEmpty();
        applySelection();
    }
    void setOnSelectionChanged(SelectionCallback callback) { m_onSelectionChanged = std::move(callback); }
    // True while the selection callback reports rows that left the listing, not a user's choice.
    bool isDroppingUnlistedSelection() const { return m_droppingUnlisted; }

    // ---- Sort ------------------------------------------------------------------------------------

    void setSortColumn(std::optional<QString> identifier, bool ascending)
    {
        m_sortColumn = std::move(identifier);
        m_sortAscending = ascending;
        syncSortIndicator();
    }
    void setOnSortColumn(SortCallback callback)
    {
        m_onSortColumn = std::move(callback);
        syncSortIndicator();
    }

    // ---- Actions ---------------------------------------------------------------------------------

    void setOnPrimaryAction(ItemAction action) { m_onPrimaryAction = std::move(action); }
    void setMenuForSelection(MenuBuilder builder) { m_menuForSelection = std::move(builder); }
    void setPasteboardWriter(typename Model::PasteboardWriter writer) { m_model->setPasteboardWriter(std::move(writer)); }

    QMenu* prepareContextMenu(const QPoint& viewportPosition) override
    {
        QMenu* shell = contextMenuShell();
        shell->clear();
        QSet<ID> rows = currentSelection();
        const QModelIndex clicked = indexAt(viewportPosition);
        if (clicked.isValid() && clicked.row() < m_model->rowCount()) {
            const ID id = Model::Traits::id(m_model->item(clicked.row()));
            if (!rows.contains(id)) {
                // A click on a row outside the selection makes that row the selection, at once in
                // the table and on the next turn in the binding.
                selectRows({clicked.row()});
                rows = QSet<ID>{id};
                QMetaObject::invokeMethod(
                    this,
                    [this, rows] {
                        // The row may have left the listing since the click.
                        m_selectionListed = false;
                        writeSelection(rows);
                    },
                    Qt::QueuedConnection);
            }
        }
        if (!m_menuForSelection) {
            return nullptr;
        }
        const std::unique_ptr<QMenu> built = m_menuForSelection(rows);
        if (!built || built->actions().isEmpty()) {
            return nullptr;
        }
        // The built menu's actions move into the shell, which keeps them until the next opening.
        for (QAction* action : built->actions()) {
            built->removeAction(action);
            if (action->parent() == built.get()) {
                action->setParent(shell);
            }
            shell->addAction(action);
        }
        return shell;
    }

private:
    // Where the user is in the rows: the current row and the rows in sight, by id.
    struct Place {
        std::optional<ID> current;
        // From the top of the view down; the first is scrolled `offset` pixels out of sight.
        QList<ID> shown;
        int offset = 0;
        // Making a row current scrolls its first column into sight: the columns in sight are kept.
        int horizontal = 0;
    };

    Place place() const
    {
        Place here;
        here.horizontal = horizontalScrollBar()->value();
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.row() < m_model->rowCount()) {
            here.current = Model::Traits::id(m_model->item(current.row()));
        }
        const int top = rowAt(0);
        if (top < 0) {
            return here;
        }
        for (int row = top; row < m_model->rowCount(); ++row) {
            here.shown.append(Model::Traits::id(m_model->item(row)));
            if (rowViewportPosition(row) + QTableView::rowHeight(row) >= viewport()->height()) {
                break;
            }
        }
        here.offset = verticalScrollBar()->value() - verticalHeader()->sectionPosition(top);
        return here;
    }

    void restorePlace(const Place& place)
    {
        if (place.current) {
            if (const std::optional<int> row = m_model->rowOf(*place.current)) {
                selectionModel()->setCurrentIndex(m_model->index(*row, 0), QItemSelectionModel::NoUpdate);
            }
        }
        for (const ID& id : place.shown) {
            if (const std::optional<int> row = m_model->rowOf(id)) {
                // The scroll range follows the new rows only on a later layout: it is brought up to
                // date first, so that the value is not cut short.
                updateGeometries();
                verticalScrollBar()->setValue(verticalHeader()->sectionPosition(*row) + place.offset);
                break;
            }
        }
        horizontalScrollBar()->setValue(place.horizontal);
    }

    // What counts as selected now: the binding, or the table's own selection while a write of
    // it into the binding is due.
    QSet<ID> currentSelection() const { return m_selectionWritePending ? tableSelection() : m_selection; }

    QSet<ID> tableSelection() const
    {
        const int rowCount = m_model->rowCount();
        const QItemSelection selection = selectionModel()->selection();
        // Every row selected (select all): the model's set of every id, shared, not rebuilt.
        const bool everyRow = std::any_of(selection.begin(), selection.end(), [&](const QItemSelectionRange& range) {
            return range.top() == 0 && range.bottom() >= rowCount - 1;
        });
        if (everyRow && rowCount > 0 && m_model->allIDs().size() == rowCount) {
            return m_model->allIDs();
        }
        QSet<ID> ids;
        qsizetype selected = 0;
        for (const QItemSelectionRange& range : selection) {
            selected += range.height();
        }
        ids.reserve(selected);
        for (const QItemSelectionRange& range : selection) {
            for (int row = range.top(); row <= range.bottom() && row < rowCount; ++row) {
                ids.insert(Model::Traits::id(m_model->item(row)));
            }
        }
        return ids;
    }

    std::vector<int> selectedRowNumbers() const
    {
        std::vector<int> rows;
        const QItemSelection selection = selectionModel()->selection();
        for (const QItemSelectionRange& range : selection) {
            for (int row = range.top(); row <= range.bottom(); ++row) {
                rows.push_back(row);
            }
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        return rows;
    }

    // Selects exactly `rows` (sorted), in ranges, without reporting it as the user's change.
    void selectRows(const std::vector<int>& rows)
    {
        QItemSelection selection;
        const int lastColumn = m_model->columnCount() - 1;
        std::size_t start = 0;
        while (start < rows.size()) {
            std::size_t end = start;
            while (end + 1 < rows.size() && rows[end + 1] == rows[end] + 1) {
                ++end;
            }
            selection.select(m_model->index(rows[start], 0), m_model->index(rows[end], lastColumn));
            start = end + 1;
        }
        m_applyingSelection = true;
        selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_applyingSelection = false;
    }

    // Shows the binding: the listed rows among its ids, only when that differs from the table.
    void applySelection() { showSelectedRows(m_model->rowsOf(m_selection)); }
    // Selects `rows` (the binding's listed rows), only when that differs from the table.
    void showSelectedRows(const std::vector<int>& rows)
    {
        if (rows != selectedRowNumbers()) {
            selectRows(rows);
        }
    }

    // After the rows change, ids no listed row carries leave the binding (`rows`, its listed
    // rows), so its count never names rows nobody sees. Not while a user's change waits for its
    // write: that holds only listed rows.
    void keepListedSelection(const std::vector<int>& rows)
    {
        m_selectionListed = true;
        if (static_cast<qsizetype>(rows.size()) == m_selection.size()) {
            return;
        }
        QSet<ID> listed;
        listed.reserve(static_cast<qsizetype>(rows.size()));
        for (const int row : rows) {
            listed.insert(Model::Traits::id(m_model->item(row)));
        }
        m_droppingUnlisted = true;
        writeSelection(std::move(listed));
        m_droppingUnlisted = false;
    }

    void noticeTableSelection()
    {
        if (m_applyingSelection || m_selectionWritePending) {
            return;
        }
        // The write compares with the binding; a change that ends where it began writes nothing.
        m_selectionWritePending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_selectionWritePending = false;
                m_selectionListed = true; // read from the rows shown now
                writeSelection(tableSelection());
            },
            Qt::QueuedConnection);
    }

    void writeSelection(QSet<ID> selection)
    {
        if (selection == m_selection) {
            return;
        }
        // A selection of a big folder's rows is freed on the work pool.
        letGo(std::exchange(m_selection, std::move(selection)));
        if (m_onSelectionChanged) {
            m_onSelectionChanged(m_selection);
        }
        Q_EMIT selectionBindingChanged();
    }

    void syncSortIndicator()
    {
        int section = -1;
        Qt::SortOrder order = Qt::AscendingOrder;
        if (m_sortColumn && m_onSortColumn) {
            const std::optional<int> column = m_model->columnIndex(*m_sortColumn);
            if (column && m_model->columns()[*column].isSortable) {
                section = *column;
                order = m_sortAscending ? Qt::AscendingOrder : Qt::DescendingOrder;
            }
        }
        QHeaderView* header = horizontalHeader();
        if (header->sortIndicatorSection() == section && (section < 0 || header->sortIndicatorOrder() == order)) {
            return;
        }
        m_syncingSort = true;
        header->setSortIndicator(section, order);
        m_syncingSort = false;
    }

    void headerSortChanged(int section, Qt::SortOrder order)
    {
        if (m_syncingSort) {
            return;
        }
        const bool sortable = section >= 0 && section < m_model->columns().size() &&
                              m_model->columns()[section].isSortable;
        if (!sortable || !m_onSortColumn) {
            syncSortIndicator(); // nothing to report: the owner's indicator stays
            return;
        }
        // The indicator stays as the click left it until the owner's sort comes back.
        m_model->sort(section, order);
    }

    Model* m_model;
    // Taken when the model is about to reset, while setItems() runs.
    std::optional<Place> m_placeBeforeReset;
    QSet<ID> m_selection;
    // Every id of m_selection is known to be listed (the owner may name rows that are not).
    bool m_selectionListed = true;
    bool m_applyingSelection = false;
    bool m_selectionWritePending = false;
    bool m_droppingUnlisted = false;
    std::optional<QString> m_sortColumn;
    bool m_sortAscending = true;
    bool m_syncingSort = false;
    SortCallback m_onSortColumn;
    SelectionCallback m_onSelectionChanged;
    ItemAction m_onPrimaryAction;
    MenuBuilder m_menuForSelection;
};

} // namespace quillbarrow
