#pragma once

#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "style/ListingFormat.h"
#include "table/NativeTableItemTraits.h"
#include "table/NativeTableModel.h"
#include "table/NativeTablePasteboardItem.h"

#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QMimeData>
#include <QSet>
#include <QString>

#include <algorithm>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>
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
//
// Reading and hashing 100,000 ids costs far more than the diff itself, so rows are first matched
// by where their id keeps its shared data (Traits::identity): a re-sort, a hidden-name switch or a
// measured size republishes the very items shown, and is matched without reading an id. Only the
// items that share no data with a shown row are looked up by value. The index by value (the row
// of each id and the set of them all) is kept up to date through a diff; after a reset it is built
// on the work pool, and a lookup that cannot wait for it looks a few ids up row by row, waits for
// the job when it runs already, or builds the index on the spot.
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
            row.texts = std::make_unique<Texts>(
                Texts{ListingFormat::sizeText(row.item.size), ListingFormat::dateText(row.item.modifiedAt)});
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

    // What applying a listing changed.
    enum class ListingChange {
        // Every row kept its id and place (only fields changed, if anything).
        fieldsOnly,
        // The same ids, in another order (and fields changed, if anything).
        orderOnly,
        // Rows left or arrived, or the model was reset.
        rows,
    };

    // Shows `items`, which belong to `listing` (a text naming the folder and session they list).
    ListingChange setItems(const QList<Item>& items, const QString& listing)
    {
        const bool sameListing = m_listing && *m_listing == listing;
        // The same rows again with new fields (a measured folder size, say) are the common case
        // of a busy folder: they are matched row by row, with no hashing of ids.
        if (sameListing && holdsSameIDs(items)) {
            if (announceChanges(items, [](std::size_t row) { return static_cast<int>(row); })) {
                readdress(items);
            }
            return ListingChange::fieldsOnly;
        }
        // Two rows with one id cannot be told apart by a diff; such a listing is shown as given.
        std::optional<Matching> matching = sameListing ? matchRows(items) : std::nullopt;
        if (!matching || changedRanges(items.size()) > maximumDiffRanges) {
            resetTo(items, listing);
            return ListingChange::rows;
        }
        // Where each shown row goes, for the index by value, read before the rows move.
        std::vector<int> newRows;
        newRows.reserve(m_rows.size());
        for (const Row& row : m_rows) {
            newRows.push_back(row.position);
        }
        removeVanished();
        reorderSurvivors(static_cast<int>(items.size()));
        announceChanges(items, [&](std::size_t row) { return m_rows[row].position; });
        insertArrivals(items);
        updateIDIndex(items, newRows, *matching);
        return matching->vanished.isEmpty() && matching->arrivals.empty() ? ListingChange::orderOnly
                                                                          : ListingChange::rows;
    }

    // The ids of every shown row; empty when two rows share an id.
    const QSet<ID>& allIDs() const { return idIndex().allIDs; }

    // The listing shown; nothing before the first setItems().
    const std::optional<QString>& listing() const { return m_listing; }
    const Item& item(int row) const { return rowAt(row).item; }
    // The row showing the item with that id; nothing when none does, or when two rows share it.
    std::optional<int> rowOf(const ID& id) const
    {
        const std::vector<int> rows = findRows({&id});
        return rows.empty() ? std::nullopt : std::optional<int>(rows.front());
    }
    // The rows showing the items with these ids, in row order; ids no row shows are left out.
    std::vector<int> rowsOf(const QSet<ID>& ids) const
    {
        QList<const ID*> sought;
        sought.reserve(ids.size());
        for (const ID& id : ids) {
            sought.append(&id);
        }
        return findRows(sought);
    }
    // The shown items whose id is among `ids`, in row order; ids not shown are ignored.
    QList<Item> itemsWithIDs(const QSet<ID>& ids) const
    {
        const std::vector<int> rows = rowsOf(ids);
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
    using Identity = typename Traits::Identity;
    // The indexes of the shown rows' ids.
    struct IDIndex {
        // By value.
        QHash<ID, int> rowOfID;
        QSet<ID> allIDs;
        // By where each id keeps its shared data.
        QHash<Identity, int> rowOfAddress;
        // Two rows share an id: the above are empty then, and no id is found.
        bool repeated = false;
    };
    // How a listing of the same folder matches the shown rows (each row's `position` is set too).
    struct Matching {
        // Where each listed item keeps its id's shared data, to its place in the listing.
        QHash<Identity, int> byAddress;
        // The ids of the shown rows the listing lacks.
        QList<ID> vanished;
        // The places of the listed items no shown row carries.
        std::vector<int> arrivals;
    };
    // How many ids a lookup seeks row by row while the index is being built.
    static constexpr qsizetype fewLookups = 4;
    // The index under way on the work pool.
    struct Indexing {
        QFuture<IDIndex> result;
        // Set by the job when it begins: a lookup waits for a job that runs, not for one in line.
        std::atomic<bool> started = false;
    };

    struct Row {
        explicit Row(Item value) : item(std::move(value)) {}
        Item item;
        // Formatted when the row is first shown; dropped when its fields change.
        // Held apart: only the rows drawn have them, and a re-sort moves every row.
        mutable std::unique_ptr<Texts> texts;
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
        startIndexing(items);
        endResetModel();
    }

    // ---- Finding rows by id ------------------------------------------------------------------

    // The rows of `ids`, in row order: by address, then by value. While the indexes are being
    // built, a few ids (the folder just opened, say, still selected from the folder before) are
    // looked for row by row rather than wait for them.
    std::vector<int> findRows(const QList<const ID*>& ids) const
    {
        std::vector<int> rows;
        if (m_idIndex && m_idIndex->repeated) {
            return rows;
        }
        rows.reserve(static_cast<std::size_t>(ids.size()));
        QList<const ID*> missed;
        for (const ID* id : ids) {
            if (const std::optional<int> row = rowSharing(*id)) {
                rows.push_back(*row);
            } else {
                missed.append(id);
            }
        }
        if (!missed.isEmpty() && !m_idIndex && missed.size() <= fewLookups) {
            for (qsizetype row = 0; row < logicalRowCount(); ++row) {
                const ID& shown = Traits::id(rowAt(row).item);
                if (std::any_of(missed.begin(), missed.end(), [&](const ID* id) { return *id == shown; })) {
                    rows.push_back(static_cast<int>(row));
                }
            }
        } else if (!missed.isEmpty()) {
            const IDIndex& index = idIndex();
            for (const ID* id : std::as_const(missed)) {
                const auto found = index.rowOfID.constFind(*id);
                if (found != index.rowOfID.constEnd()) {
                    rows.push_back(*found);
                }
            }
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // The row whose id shares its data with `id`, found without reading either; nothing while
    // the indexes are being built.
    std::optional<int> rowSharing(const ID& id) const
    {
        const Identity identity = Traits::identity(id);
        if (!m_idIndex || identity.first == nullptr) {
            return std::nullopt;
        }
        const auto found = m_idIndex->rowOfAddress.constFind(identity);
        return found == m_idIndex->rowOfAddress.constEnd() ? std::nullopt : std::optional<int>(*found);
    }

    template <typename IDAt>
    static QHash<Identity, int> addressesOf(qsizetype count, const IDAt& idAt)
    {
        QHash<Identity, int> rows;
        rows.reserve(count);
        for (qsizetype row = 0; row < count; ++row) {
            const Identity identity = Traits::identity(idAt(row));
            if (identity.first != nullptr) {
                rows.insert(identity, static_cast<int>(row));
            }
        }
        return rows;
    }

    template <typename IDAt>
    static IDIndex indexOf(qsizetype count, const IDAt& idAt)
    {
        IDIndex index;
        index.rowOfID.reserve(count);
        index.allIDs.reserve(count);
        for (qsizetype row = 0; row < count; ++row) {
            index.rowOfID.insert(idAt(row), static_cast<int>(row));
            index.allIDs.insert(idAt(row));
        }
        if (index.rowOfID.size() != count) {
            return IDIndex{{}, {}, {}, true};
        }
        index.rowOfAddress = addressesOf(count, idAt);
        return index;
    }

    // After rows took other copies of their items (same ids, same places): their addresses anew.
    void readdress(const QList<Item>& items)
    {
        if (!m_idIndex) {
            startIndexing(items);
        } else if (!m_idIndex->repeated) {
            m_idIndex->rowOfAddress =
                addressesOf(items.size(), [&items](qsizetype row) { return Traits::id(items[row]); });
        }
    }

    // The index by value: the one the work pool builds, waited for when it is under way, else
    // built here and now.
    const IDIndex& idIndex() const
    {
        if (!m_idIndex && m_indexing && m_indexing->started) {
            const std::shared_ptr<Indexing> indexing = m_indexing;
            try {
                indexing->result.waitForFinished();
            } catch (...) {
                // A failed job leaves the index to be built here.
            }
            takeIndex(m_indexGeneration, indexing->result);
        }
        if (!m_idIndex) {
            m_indexing.reset(); // the pool's, when it comes, is not needed any more
            ++m_indexGeneration;
            m_idIndex = indexOf(logicalRowCount(), [this](qsizetype row) { return Traits::id(rowAt(row).item); });
        }
        return *m_idIndex;
    }

    // Builds the index of `items` (the rows just shown) on the work pool.
    void startIndexing(const QList<Item>& items)
    {
        m_idIndex.reset();
        const quint64 generation = ++m_indexGeneration;
        auto indexing = std::make_shared<Indexing>();
        indexing->result = runOnThreadPool(workPool(), [items, indexing = std::weak_ptr<Indexing>(indexing)] {
            if (const std::shared_ptr<Indexing> state = indexing.lock()) {
                state->started = true;
            }
            return indexOf(items.size(), [&items](qsizetype row) { return Traits::id(items[row]); });
        });
        m_indexing = indexing;
        auto* watcher = new QFutureWatcher<IDIndex>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
            watcher->deleteLater();
            takeIndex(generation, watcher->future());
        });
        watcher->setFuture(indexing->result);
    }

    // Installs the pool's index, unless the rows changed since it was asked for or a lookup built
    // the index itself.
    void takeIndex(quint64 generation, QFuture<IDIndex> built) const
    {
        if (generation != m_indexGeneration || m_idIndex) {
            return;
        }
        m_indexing.reset();
        try {
            m_idIndex = built.result();
        } catch (...) {
            // A dropped job leaves the index to the first lookup.
        }
    }

    // Matches the shown rows with a listing of the same folder: by shared data first, then the
    // items that share none by value. Nothing when the listing carries an id twice (or the index
    // knows the shown rows do): such a listing is shown as given.
    std::optional<Matching> matchRows(const QList<Item>& items)
    {
        Matching matching;
        const auto count = static_cast<int>(items.size());
        matching.byAddress.reserve(count);
        for (int position = 0; position < count; ++position) {
            const Identity identity = Traits::identity(Traits::id(items[position]));
            if (identity.first == nullptr) {
                continue;
            }
            if (matching.byAddress.contains(identity)) {
                return std::nullopt; // one item listed twice
            }
            matching.byAddress.insert(identity, position);
        }
        std::vector<bool> claimed(static_cast<std::size_t>(count), false);
        for (Row& row : m_rows) {
            const Identity identity = Traits::identity(Traits::id(row.item));
            row.position = identity.first == nullptr ? -1 : matching.byAddress.value(identity, -1);
            if (row.position >= 0) {
                claimed[static_cast<std::size_t>(row.position)] = true;
            }
        }
        QSet<ID> arriving;
        for (int position = 0; position < count; ++position) {
            if (claimed[static_cast<std::size_t>(position)]) {
                continue;
            }
            const IDIndex& index = idIndex();
            if (index.repeated) {
                return std::nullopt;
            }
            const ID& id = Traits::id(items[position]);
            const int row = index.rowOfID.value(id, -1);
            if (row >= 0) {
                if (m_rows[static_cast<std::size_t>(row)].position >= 0) {
                    return std::nullopt; // its row is claimed already: the id is listed twice
                }
                m_rows[static_cast<std::size_t>(row)].position = position;
            } else if (arriving.contains(id)) {
                return std::nullopt;
            } else {
                arriving.insert(id);
                matching.arrivals.push_back(position);
            }
        }
        for (const Row& row : m_rows) {
            if (row.position < 0) {
                matching.vanished.append(Traits::id(row.item));
            }
        }
        return matching;
    }

    // Brings the indexes along with a diff: each id to the row it moved to (`newRows` by the row
    // it was on), the vanished out, the arrivals in. Every row now holds the listing's own item,
    // so the addresses are the listing's.
    void updateIDIndex(const QList<Item>& items, const std::vector<int>& newRows, Matching& matching)
    {
        if (!m_idIndex || m_idIndex->repeated) {
            startIndexing(items);
            return;
        }
        IDIndex& index = *m_idIndex;
        index.rowOfAddress = std::move(matching.byAddress);
        for (auto entry = index.rowOfID.begin(); entry != index.rowOfID.end(); ++entry) {
            entry.value() = newRows[static_cast<std::size_t>(entry.value())];
        }
        for (const ID& id : matching.vanished) {
            index.rowOfID.remove(id);
            index.allIDs.remove(id);
        }
        for (const int position : matching.arrivals) {
            index.rowOfID.insert(Traits::id(items[position]), position);
            index.allIDs.insert(Traits::id(items[position]));
        }
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

    // Whether `items` list exactly the shown rows' ids in the shown order.
    bool holdsSameIDs(const QList<Item>& items) const
    {
        if (static_cast<std::size_t>(items.size()) != m_rows.size()) {
            return false;
        }
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            const ID& shown = Traits::id(m_rows[row].item);
            const ID& listed = Traits::id(items[static_cast<qsizetype>(row)]);
            const Identity identity = Traits::identity(shown);
            if (!(identity.first != nullptr && identity == Traits::identity(listed)) && !(shown == listed)) {
                return false;
            }
        }
        return true;
    }

    // Takes the new fields of every surviving row (the item at `positionOf(row)` in `items`) and
    // announces the changed cells, one dataChanged per block of neighbouring changed rows. Each row
    // takes the listing's own item even when nothing changed, so that the next listing finds it by
    // address; true when a row's id now keeps its data elsewhere.
    template <typename PositionOf>
    bool announceChanges(const QList<Item>& items, const PositionOf& positionOf)
    {
        bool moved = false;
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
            const Identity was = Traits::identity(Traits::id(shown.item));
            const bool sameData = was.first != nullptr && was == Traits::identity(Traits::id(fresh));
            moved = moved || !sameData;
            if (shown.item == fresh) {
                if (!sameData) {
                    shown.item = fresh;
                }
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
        return moved;
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
    // Nothing while the pool builds it after a reset (see idIndex()).
    mutable std::optional<IDIndex> m_idIndex;
    // Counts the indexes asked of the pool; only the newest may land.
    mutable quint64 m_indexGeneration = 0;
    mutable std::shared_ptr<Indexing> m_indexing;
    std::optional<QString> m_listing;
    PasteboardWriter m_pasteboardWriter;
    DragStartHandler m_onDragStart;
};

} // namespace quillbarrow
