#pragma once

#include "style/ListingFormat.h"
#include "table/NativeTableItemTraits.h"
#include "table/NativeTableModel.h"
#include "table/NativeTablePasteboardItem.h"

#include <QHash>
#include <QList>
#include <QMimeData>
#include <QSet>
#include <QString>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace quillbarrow {

// The rows of a native table: the items a browser view model publishes, in its order, with
// their size and date texts formatted on first display and kept until the row changes.
//
// setItems() applies a listing. Another listing (another folder or session) is one model
// reset. The same listing published again is applied as a diff keyed by item id, in one pass:
// vanished rows are removed as ranges, bottom-up; when the surviving rows changed their order,
// one layout change moves them (persistent indexes follow); rows whose fields changed are
// announced by one dataChanged per block of neighbouring rows, with only the changed columns and
// roles; new rows are inserted as ranges, top-down. Selection, current row and scroll position
// therefore survive a re-listing. Every step moves each row at most once, so applying a listing
// is linear in its length however scattered the changes are. A view, though, pays for each
// removed or inserted range in proportion to all its rows: a re-listing that would take more than
// maximumDiffRanges of them is one model reset instead (NativeTable then puts the selection, the
// current row and the rows in sight back by id).
template <typename Item>
class ItemTableModel final : public NativeTableModel {
public:
    using Traits = NativeTableItemTraits<Item>;
    using ID = typename Traits::ID;
    // Gives what one dragged row carries (nothing: the row adds nothing to the drag). Called once
    // for each dragged row, in row order.
    using PasteboardWriter = std::function<std::optional<NativeTablePasteboardItem>(const Item&)>;
    // Told of the start of a drag, once, with every dragged item in row order, after the rows were
    // asked what they carry. The owner's work for the whole drag belongs here, not in the writer,
    // which a drag of many rows calls many times.
    using DragStartHandler = std::function<void(const QList<Item>& dragged)>;

    // The most ranges of removed and inserted rows a re-listing of the same folder is announced
    // in; beyond it, the new listing is one reset.
    static constexpr qsizetype maximumDiffRanges = 64;

    explicit ItemTableModel(QList<NativeTableColumn> columns, QObject* parent = nullptr)
        : NativeTableModel(std::move(columns), parent),
          m_pasteboardWriter([](const Item& item) { return Traits::pasteboardItem(item); })
    {
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(logicalRowCount());
    }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!index.isValid() || index.row() >= logicalRowCount()) {
            return {};
        }
        const Row& row = rowAt(index.row());
        if (role == Qt::DisplayRole && !row.texts) {
            row.texts = Texts{ListingFormat::sizeText(row.item.size), ListingFormat::dateText(row.item.modifiedAt)};
        }
        static const Texts none;
        const Texts& texts = row.texts ? *row.texts : none;
        return cellData(index.column(), role, row.item.name, row.item.kind == RemoteItemKind::folder, texts.size,
                        texts.date);
    }

    QMimeData* mimeData(const QModelIndexList& indexes) const override
    {
        std::vector<int> rows;
        rows.reserve(static_cast<std::size_t>(indexes.size()));
        for (const QModelIndex& index : indexes) {
            if (index.isValid() && index.model() == this && index.row() < logicalRowCount()) {
                rows.push_back(index.row());
            }
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        QList<Item> dragged;
        QList<NativeTablePasteboardItem> carried;
        dragged.reserve(static_cast<qsizetype>(rows.size()));
        for (const int row : rows) {
            const Item& item = rowAt(row).item;
            dragged.append(item);
            if (std::optional<NativeTablePasteboardItem> piece = m_pasteboardWriter(item)) {
                carried.append(std::move(*piece));
            }
        }
        // Last, so that nothing the owner does at the start of the drag moves the rows read above.
        if (m_onDragStart && !dragged.isEmpty()) {
            m_onDragStart(dragged);
        }
        if (carried.isEmpty()) {
            return nullptr;
        }
        return NativeTablePasteboardItem::mimeData(carried);
    }

    void setPasteboardWriter(PasteboardWriter writer) { m_pasteboardWriter = std::move(writer); }
    void setOnDragStart(DragStartHandler handler) { m_onDragStart = std::move(handler); }

    // Shows `items`, which belong to `listing` (a text naming the folder and session they list).
    // True when every row kept its id and place (only fields changed, if anything).
    bool setItems(const QList<Item>& items, const QString& listing)
    {
        // The same rows again with new fields (a measured folder size, say) are the common case
        // of a busy folder: they are matched row by row, with no hashing of ids.
        if (holdsSameIDs(items, listing)) {
            announceChanges(items, [](std::size_t row) { return static_cast<int>(row); });
            return true;
        }
        QHash<ID, int> positions;
        positions.reserve(items.size());
        for (int index = 0; index < items.size(); ++index) {
            positions.insert(Traits::id(items[index]), index);
        }
        // Two rows with one id cannot be told apart by a diff; such a listing is shown as given.
        // Whether the rows keep their ids, only their order changing (a re-sort).
        bool sameIDs = false;
        if (!m_listing || *m_listing != listing || positions.size() != items.size()) {
            resetTo(items, listing);
        } else {
            // Each shown row looks its id up once; the steps below read the position it found.
            sameIDs = m_rows.size() == static_cast<std::size_t>(items.size()) &&
                      m_allIDs.size() == static_cast<qsizetype>(m_rows.size());
            for (Row& row : m_rows) {
                row.position = positions.value(Traits::id(row.item), -1);
                sameIDs = sameIDs && row.position >= 0;
            }
            if (changedRanges(items.size()) > maximumDiffRanges) {
                resetTo(items, listing);
            } else {
                removeVanished();
                reorderSurvivors(static_cast<int>(positions.size()));
                announceChanges(items, [&](std::size_t row) { return m_rows[row].position; });
                insertArrivals(items);
            }
        }
        m_rowOfID = positions.size() == items.size() ? std::move(positions) : QHash<ID, int>();
        if (m_rowOfID.isEmpty()) {
            m_allIDs.clear();
        } else if (!sameIDs) {
            // Built with the listing, so that selecting every row hands this set over instead of
            // hashing every id at that moment.
            m_allIDs.clear();
            m_allIDs.reserve(items.size());
            for (const Item& item : items) {
                m_allIDs.insert(Traits::id(item));
            }
        }
        return false;
    }

    // The ids of every shown row; empty when two rows share an id.
    const QSet<ID>& allIDs() const { return m_allIDs; }

    // The listing shown; nothing before the first setItems().
    const std::optional<QString>& listing() const { return m_listing; }
    const Item& item(int row) const { return rowAt(row).item; }
    std::optional<int> rowOf(const ID& id) const
    {
        const auto found = m_rowOfID.constFind(id);
        return found == m_rowOfID.constEnd() ? std::nullopt : std::optional<int>(*found);
    }
    // The shown items whose id is among `ids`, in row order; ids not shown are ignored.
    QList<Item> itemsWithIDs(const QSet<ID>& ids) const
    {
        std::vector<int> rows;
        rows.reserve(static_cast<std::size_t>(ids.size()));
        for (const ID& id : ids) {
            if (const std::optional<int> row = rowOf(id)) {
                rows.push_back(*row);
            }
        }
        std::sort(rows.begin(), rows.end());
        QList<Item> found;
        found.reserve(static_cast<qsizetype>(rows.size()));
        for (const int row : rows) {
            found.append(item(row));
        }
        return found;
    }

private:
    struct Texts {
        QString size;
        QString date;
    };
    struct Row {
        explicit Row(Item value) : item(std::move(value)) {}
        Item item;
        // Formatted when the row is first shown; dropped when its fields change.
        mutable std::optional<Texts> texts;
        // While a listing is applied: the row's place in it, -1 when it is not listed any more.
        int position = -1;
    };
    // While a diff is being announced the rows live in two vectors: those already placed
    // (`m_staged`) and the rest of the old rows (`m_rows`). Outside a diff only `m_rows` counts.
    enum class Layout {
        plain,
        // Rows: m_staged, then m_rows from m_pending on.
        stagedFirst,
        // Rows: m_rows up to m_pending, then m_staged read backwards.
        stagedLastReversed,
    };

    qsizetype logicalRowCount() const
    {
        switch (m_layout) {
        case Layout::plain:
            return static_cast<qsizetype>(m_rows.size());
        case Layout::stagedFirst:
            return static_cast<qsizetype>(m_staged.size() + m_rows.size()) - m_pending;
        case Layout::stagedLastReversed:
            return m_pending + static_cast<qsizetype>(m_staged.size());
        }
        return 0;
    }

    const Row& rowAt(qsizetype row) const
    {
        const auto staged = static_cast<qsizetype>(m_staged.size());
        switch (m_layout) {
        case Layout::plain:
            break;
        case Layout::stagedFirst:
            return row < staged ? m_staged[static_cast<std::size_t>(row)]
                                : m_rows[static_cast<std::size_t>(m_pending + row - staged)];
        case Layout::stagedLastReversed:
            return row < m_pending ? m_rows[static_cast<std::size_t>(row)]
                                   : m_staged[static_cast<std::size_t>(staged - 1 - (row - m_pending))];
        }
        return m_rows[static_cast<std::size_t>(row)];
    }

    void resetTo(const QList<Item>& items, const QString& listing)
    {
        beginResetModel();
        m_rows.clear();
        m_rows.reserve(static_cast<std::size_t>(items.size()));
        for (const Item& item : items) {
            m_rows.emplace_back(item);
        }
        m_listing = listing;
        endResetModel();
    }

    // How many ranges a diff would remove and insert: the runs of old rows the new listing lacks
    // and the runs of new rows. Reads each row's position in the new listing.
    qsizetype changedRanges(qsizetype listed) const
    {
        qsizetype ranges = 0;
        std::vector<bool> kept(static_cast<std::size_t>(listed), false);
        bool inRun = false;
        for (const Row& row : m_rows) {
            const bool vanished = row.position < 0;
            ranges += vanished && !inRun ? 1 : 0;
            inRun = vanished;
            if (!vanished) {
                kept[static_cast<std::size_t>(row.position)] = true;
            }
        }
        inRun = false;
        for (const bool survivor : kept) {
            ranges += !survivor && !inRun ? 1 : 0;
            inRun = !survivor;
        }
        return ranges;
    }

    // Removes the rows whose id the new listing lacks, as ranges from the bottom up.
    void removeVanished()
    {
        m_staged.clear();
        m_pending = static_cast<qsizetype>(m_rows.size());
        m_layout = Layout::stagedLastReversed;
        qsizetype row = m_pending - 1;
        bool removed = false;
        while (row >= 0) {
            if (m_rows[static_cast<std::size_t>(row)].position >= 0) {
                --row;
                continue;
            }
            const qsizetype last = row;
            while (row >= 0 && m_rows[static_cast<std::size_t>(row)].position < 0) {
                --row;
            }
            const qsizetype first = row + 1;
            // The survivors below the range move to the staged rows (read backwards), unchanged
            // as far as the views can tell.
            for (qsizetype moved = m_pending - 1; moved > last; --moved) {
                m_staged.push_back(std::move(m_rows[static_cast<std::size_t>(moved)]));
            }
            m_pending = last + 1;
            beginRemoveRows(QModelIndex(), static_cast<int>(first), static_cast<int>(last));
            m_pending = first;
            endRemoveRows();
            removed = true;
        }
        if (!removed) {
            m_layout = Layout::plain;
            return;
        }
        // No survivor below the removed rows leaves nothing staged, yet the removed rows still
        // have to go.
        m_rows.erase(m_rows.begin() + m_pending, m_rows.end());
        m_rows.reserve(m_rows.size() + m_staged.size());
        for (auto staged = m_staged.rbegin(); staged != m_staged.rend(); ++staged) {
            m_rows.push_back(std::move(*staged));
        }
        m_staged.clear();
        m_layout = Layout::plain;
    }

    // Puts the surviving rows in the new listing's relative order with one layout change.
    void reorderSurvivors(int listed)
    {
        const std::size_t count = m_rows.size();
        std::vector<int> target(count);
        bool ordered = true;
        for (std::size_t row = 0; row < count; ++row) {
            target[row] = m_rows[row].position;
            ordered = ordered && (row == 0 || target[row] > target[row - 1]);
        }
        if (ordered) {
            return;
        }
        // The rank of each survivor's new position among all survivors: its row after the move.
        std::vector<int> slotOwner(static_cast<std::size_t>(listed), -1);
        for (std::size_t row = 0; row < count; ++row) {
            slotOwner[static_cast<std::size_t>(target[row])] = static_cast<int>(row);
        }
        std::vector<int> newRow(count);
        std::vector<Row> reordered;
        reordered.reserve(count);
        for (const int owner : slotOwner) {
            if (owner >= 0) {
                newRow[static_cast<std::size_t>(owner)] = static_cast<int>(reordered.size());
                reordered.push_back(std::move(m_rows[static_cast<std::size_t>(owner)]));
            }
        }
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before) {
            after.append(index.isValid() && index.row() < static_cast<int>(count)
                             ? createIndex(newRow[static_cast<std::size_t>(index.row())], index.column())
                             : QModelIndex());
        }
        m_rows = std::move(reordered);
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // Whether `items` list exactly the shown rows' ids in the shown order, for the same listing.
    bool holdsSameIDs(const QList<Item>& items, const QString& listing) const
    {
        if (!m_listing || *m_listing != listing || static_cast<std::size_t>(items.size()) != m_rows.size() ||
            static_cast<std::size_t>(m_rowOfID.size()) != m_rows.size()) {
            return false;
        }
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            if (!(Traits::id(m_rows[row].item) == Traits::id(items[static_cast<qsizetype>(row)]))) {
                return false;
            }
        }
        return true;
    }

    // Takes the new fields of every surviving row (the item at `positionOf(row)` in `items`) and
    // announces the changed cells, one dataChanged per block of neighbouring changed rows.
    template <typename PositionOf>
    void announceChanges(const QList<Item>& items, const PositionOf& positionOf)
    {
        struct Block {
            int first = -1;
            int last = -1;
            int firstColumn = 0;
            int lastColumn = 0;
            QList<int> roles;
        };
        Block block;
        const auto flush = [&] {
            if (block.first >= 0) {
                Q_EMIT dataChanged(index(block.first, block.firstColumn), index(block.last, block.lastColumn),
                                   block.roles);
            }
            block = Block();
        };
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            Row& shown = m_rows[row];
            const Item& fresh = items[positionOf(row)];
            if (shown.item == fresh) {
                flush();
                continue;
            }
            Change change = changeBetween(shown.item, fresh);
            shown.item = fresh;
            if (change.roles.isEmpty()) {
                flush(); // only fields the table does not show changed
                continue;
            }
            shown.texts.reset();
            const int rowNumber = static_cast<int>(row);
            if (block.first < 0) {
                block = Block{rowNumber, rowNumber, change.firstColumn, change.lastColumn, change.roles};
                continue;
            }
            block.last = rowNumber;
            block.firstColumn = std::min(block.firstColumn, change.firstColumn);
            block.lastColumn = std::max(block.lastColumn, change.lastColumn);
            for (const int role : change.roles) {
                if (!block.roles.contains(role)) {
                    block.roles.append(role);
                }
            }
        }
        flush();
    }

    struct Change {
        int firstColumn = 0;
        int lastColumn = 0;
        QList<int> roles;
    };

    Change changeBetween(const Item& before, const Item& after) const
    {
        Change change;
        bool any = false;
        const auto touch = [&](NativeTableColumn::Content content, std::initializer_list<int> roles) {
            const std::optional<int> column = columnShowing(content);
            if (!column) {
                return;
            }
            change.firstColumn = any ? std::min(change.firstColumn, *column) : *column;
            change.lastColumn = any ? std::max(change.lastColumn, *column) : *column;
            any = true;
            for (const int role : roles) {
                if (!change.roles.contains(role)) {
                    change.roles.append(role);
                }
            }
        };
        if (before.name != after.name) {
            touch(NativeTableColumn::Content::name, {Qt::DisplayRole});
        }
        if ((before.kind == RemoteItemKind::folder) != (after.kind == RemoteItemKind::folder)) {
            touch(NativeTableColumn::Content::name, {Qt::DecorationRole});
        }
        if (before.size != after.size) {
            touch(NativeTableColumn::Content::size, {Qt::DisplayRole});
        }
        if (before.modifiedAt != after.modifiedAt) {
            touch(NativeTableColumn::Content::modified, {Qt::DisplayRole});
        }
        return change;
    }

    // Inserts the rows the old listing lacked, as ranges from the top down.
    void insertArrivals(const QList<Item>& items)
    {
        const auto total = static_cast<int>(items.size());
        if (static_cast<int>(m_rows.size()) == total) {
            return; // no arrivals: the survivors are the whole listing
        }
        m_staged.clear();
        m_staged.reserve(static_cast<std::size_t>(total));
        m_pending = 0;
        m_layout = Layout::stagedFirst;
        int position = 0;
        while (position < total) {
            // Every survivor sits at its own position in the new listing: survivors are placed
            // as they come, until the next run of arrivals.
            const ID& id = Traits::id(items[position]);
            if (m_pending < static_cast<qsizetype>(m_rows.size()) &&
                Traits::id(m_rows[static_cast<std::size_t>(m_pending)].item) == id) {
                m_staged.push_back(std::move(m_rows[static_cast<std::size_t>(m_pending)]));
                ++m_pending;
                ++position;
                continue;
            }
            const int first = position;
            int last = position;
            while (last + 1 < total &&
                   !(m_pending < static_cast<qsizetype>(m_rows.size()) &&
                     Traits::id(m_rows[static_cast<std::size_t>(m_pending)].item) == Traits::id(items[last + 1]))) {
                ++last;
            }
            beginInsertRows(QModelIndex(), first, last);
            for (int arrival = first; arrival <= last; ++arrival) {
                m_staged.emplace_back(items[arrival]);
            }
            endInsertRows();
            position = last + 1;
        }
        m_rows = std::move(m_staged);
        m_staged.clear();
        m_pending = 0;
        m_layout = Layout::plain;
    }

    std::vector<Row> m_rows;
    std::vector<Row> m_staged;
    Layout m_layout = Layout::plain;
    qsizetype m_pending = 0;
    QHash<ID, int> m_rowOfID;
    // The same ids as m_rowOfID, as a set.
    QSet<ID> m_allIDs;
    std::optional<QString> m_listing;
    PasteboardWriter m_pasteboardWriter;
    DragStartHandler m_onDragStart;
};

} // namespace quillbarrow
