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
// their size and date texts formatted on first display and kept until the row changes. The
// model keeps the very list it is given (Qt shares it, nothing is copied) and, per row, where its
// item is and its texts; a listing the model lets go is freed on the work pool.
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
// current row and the rows in sight back by id). The very list shown, published again, changes
// nothing at all.
//
// Reading and hashing 100,000 ids costs far more than the diff itself, so rows are first matched
// by where their id keeps its shared data (Traits::identity): a re-sort, a hidden-name switch or a
// measured size republishes the very items shown, and is matched without reading an id. Only the
// items that share no data with a shown row are looked up by value, among the shown rows that
// share none either. The index of those addresses comes with each diff; the index by value (the
// row of each id and the set of them all) is kept up to date through a diff. After a reset both
// are built on the work pool, and a lookup that cannot wait for them looks a few ids up row by
// row, waits for the job when it runs already, or builds the index on the spot.
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

    ~ItemTableModel() override
    {
        letGo(std::move(m_rows), std::move(m_items), std::move(m_idIndex), std::move(m_rowOfAddress),
              std::move(m_formerRows));
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
        const Item& item = *row.item;
        if (role == Qt::DisplayRole && !row.texts) {
            row.texts = std::make_unique<Texts>(
                Texts{ListingFormat::sizeText(item.size), ListingFormat::dateText(item.modifiedAt)});
        }
        static const Texts none;
        const Texts& texts = row.texts ? *row.texts : none;
        return cellData(index.column(), role, item.name, item.kind == RemoteItemKind::folder, texts.size,
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
            const Item& item = *rowAt(row).item;
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
    // The model keeps `items` itself: the owner may change its own copy later (Qt then copies
    // it), never the items the model was given.
    ListingChange setItems(const QList<Item>& items, const QString& listing)
    {
        const bool sameListing = m_listing && *m_listing == listing;
        // The very list shown, published again (a refresh that found every item as it was).
        if (sameListing && items.size() == m_items.size() && items.constData() == m_items.constData()) {
            return ListingChange::fieldsOnly;
        }
        // The same rows again with new fields (a measured folder size, say) are the common case
        // of a busy folder: they are matched row by row, with no hashing of ids.
        if (sameListing && holdsSameIDs(items)) {
            QList<Item> shown = std::exchange(m_items, items);
            if (announceChanges([](std::size_t row) { return static_cast<qsizetype>(row); })) {
                readdress();
            }
            letGo(std::move(shown));
            return ListingChange::fieldsOnly;
        }
        // Two rows with one id cannot be told apart by a diff; such a listing is shown as given.
        // Rows arriving in an empty table (a folder shown while it is listed) have nothing to
        // keep: one reset shows them, and their indexes are built on the pool.
        std::optional<Matching> matching = sameListing && !m_rows.empty() ? matchRows(items) : std::nullopt;
        if (!matching) {
            resetTo(items, listing);
            return ListingChange::rows;
        }
        if (changedRanges(items.size()) > maximumDiffRanges) {
            // The rows are found by the addresses just worked out, not only once the pool is done.
            resetTo(items, listing, std::move(matching->byAddress), std::move(matching->formerRows));
            return ListingChange::rows;
        }
        // Where each shown row goes, for the index by value, read before the rows move.
        std::vector<int> newRows;
        newRows.reserve(m_rows.size());
        for (const Row& row : m_rows) {
            newRows.push_back(row.position);
        }
        // The shown rows point into this list until they take the new listing's items.
        QList<Item> shown = std::exchange(m_items, items);
        removeVanished();
        reorderSurvivors(static_cast<int>(items.size()));
        announceChanges([&](std::size_t row) { return static_cast<qsizetype>(m_rows[row].position); });
        insertArrivals();
        updateIDIndex(newRows, *matching);
        letGo(std::move(shown));
        return matching->vanished.isEmpty() && matching->arrivals.empty() ? ListingChange::orderOnly
                                                                          : ListingChange::rows;
    }

    // The ids of every shown row; empty when two rows share an id.
    const QSet<ID>& allIDs() const { return idIndex().allIDs; }

    // The listing shown; nothing before the first setItems().
    const std::optional<QString>& listing() const { return m_listing; }
    const Item& item(int row) const { return *rowAt(row).item; }
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
        // Every row (a select-all hands out the set of them all, shared): the listing shown itself,
        // whose order is the rows', rather than a copy of each of its items.
        if (ids.size() == logicalRowCount() && m_layout == Layout::plain && !ids.isEmpty() && ids == allIDs()) {
            return m_items;
        }
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
    // The index of the shown rows' ids by value.
    struct IDIndex {
        QHash<ID, int> rowOfID;
        QSet<ID> allIDs;
        // Two rows share an id: the above are empty then, and no id is found.
        bool repeated = false;
        // Let go of on the work pool: by slices, like the listing.
        friend void sliced(IDIndex& index)
        {
            release::sliced(index.rowOfID);
            release::sliced(index.allIDs);
        }
        friend qsizetype elementsOf(const IDIndex& index) { return release::elementsOf(index.rowOfID); }
    };
    // What the work pool works out after the rows changed: the index by value when asked for, and
    // where each id keeps its shared data.
    struct Indexes {
        std::optional<IDIndex> byValue;
        std::optional<QHash<Identity, int>> rowOfAddress;
    };
    // A row of the listing shown before whose id shares its data with no item listed now: its id
    // (held, so that its data stays where it is) and its row now, -1 when it is not listed.
    struct FormerRow {
        ID id;
        int row = -1;
    };
    // How a listing of the same folder matches the shown rows (each row's `position` is set too).
    struct Matching {
        // Where each listed item keeps its id's shared data, to its place in the listing.
        QHash<Identity, int> byAddress;
        // The ids of the shown rows the listing lacks.
        QList<ID> vanished;
        // The shown rows no listed item shares its id's data with (see m_formerRows).
        QHash<Identity, FormerRow> formerRows;
        // The places of the listed items no shown row carries.
        std::vector<int> arrivals;
    };
    // How many ids a lookup seeks row by row while the index is being built.
    static constexpr qsizetype fewLookups = 4;
    // The index under way on the work pool.
    struct Indexing {
        // Held by pointer: what the model takes out of it leaves nothing behind in the future.
        QFuture<std::shared_ptr<Indexes>> result;
        // Set by the job when it begins: a lookup waits for a job that runs, not for one in line.
        std::atomic<bool> started = false;
    };

    struct Row {
        explicit Row(const Item* shown) : item(shown) {}
        // In m_items; while a diff is applied, possibly in the listing shown before.
        const Item* item;
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

    // The item at `position` of the listing shown.
    const Item* listed(qsizetype position) const { return m_items.constData() + position; }

    // Shows `items` anew. `addresses` (the rows of the items' ids by where they keep their data),
    // when given, spare the pool that part of the indexes.
    void resetTo(const QList<Item>& items, const QString& listing,
                 std::optional<QHash<Identity, int>> addresses = std::nullopt,
                 QHash<Identity, FormerRow> formerRows = {})
    {
        beginResetModel();
        std::vector<Row> rows = std::exchange(m_rows, {});
        QList<Item> shown = std::exchange(m_items, items);
        m_rows.reserve(static_cast<std::size_t>(m_items.size()));
        for (qsizetype position = 0; position < m_items.size(); ++position) {
            m_rows.emplace_back(listed(position));
        }
        m_listing = listing;
        std::optional<IDIndex> index = std::exchange(m_idIndex, std::nullopt);
        const bool addressed = addresses.has_value();
        addresses = std::exchange(m_rowOfAddress, std::move(addresses));
        QHash<Identity, FormerRow> former = std::exchange(m_formerRows, std::move(formerRows));
        startIndexing(true, !addressed);
        endResetModel();
        letGo(std::move(rows), std::move(shown), std::move(index), std::move(addresses), std::move(former));
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
                continue;
            }
            // An id taken from a row of the listing before: where that row went, if anywhere.
            const auto former = m_formerRows.constFind(Traits::identity(*id));
            if (former == m_formerRows.constEnd()) {
                missed.append(id);
            } else if (former->row >= 0) {
                rows.push_back(former->row);
            }
        }
        if (!missed.isEmpty() && !m_idIndex && missed.size() <= fewLookups) {
            for (qsizetype row = 0; row < logicalRowCount(); ++row) {
                const ID& shown = Traits::id(*rowAt(row).item);
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
        if (!m_rowOfAddress || identity.first == nullptr) {
            return std::nullopt;
        }
        const auto found = m_rowOfAddress->constFind(identity);
        return found == m_rowOfAddress->constEnd() ? std::nullopt : std::optional<int>(*found);
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
            return IDIndex{{}, {}, true};
        }
        return index;
    }

    // After rows took other copies of their items (same ids, same places): their addresses anew,
    // on the pool; meanwhile ids are found by value.
    void readdress()
    {
        letGo(std::exchange(m_rowOfAddress, std::nullopt));
        startIndexing(!m_idIndex);
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
            m_idIndex = indexOf(logicalRowCount(), [this](qsizetype row) { return Traits::id(*rowAt(row).item); });
        }
        return *m_idIndex;
    }

    // Works out on the work pool the index of the shown rows' ids by value (when `byValue`) and
    // where their ids keep their data (when `byAddress`).
    void startIndexing(bool byValue, bool byAddress = true)
    {
        const quint64 generation = ++m_indexGeneration;
        auto indexing = std::make_shared<Indexing>();
        indexing->result = runOnThreadPool(
            workPool(), [items = m_items, byValue, byAddress, indexing = std::weak_ptr<Indexing>(indexing)] {
                if (const std::shared_ptr<Indexing> state = indexing.lock()) {
                    state->started = true;
                }
                const auto idAt = [&items](qsizetype row) { return Traits::id(items[row]); };
                return std::make_shared<Indexes>(
                    Indexes{byValue ? std::optional<IDIndex>(indexOf(items.size(), idAt)) : std::nullopt,
                            byAddress ? std::optional(addressesOf(items.size(), idAt)) : std::nullopt});
            });
        m_indexing = indexing;
        auto* watcher = new QFutureWatcher<std::shared_ptr<Indexes>>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
            watcher->deleteLater();
            takeIndex(generation, watcher->future());
        });
        watcher->setFuture(indexing->result);
    }

    // Installs what the pool worked out, unless the rows changed since it was asked for; an index
    // by value that a lookup built meanwhile stays.
    void takeIndex(quint64 generation, QFuture<std::shared_ptr<Indexes>> built) const
    {
        std::shared_ptr<Indexes> indexes;
        try {
            indexes = built.result();
        } catch (...) {
            // A dropped job leaves the index by value to the first lookup, and ids are found by value.
        }
        // Taken out, so that a second look at the job (a lookup waited for it) finds nothing.
        std::optional<IDIndex> byValue = indexes ? std::exchange(indexes->byValue, std::nullopt) : std::nullopt;
        std::optional<QHash<Identity, int>> byAddress =
            indexes ? std::exchange(indexes->rowOfAddress, std::nullopt) : std::nullopt;
        if (generation != m_indexGeneration) {
            letGo(std::move(byValue), std::move(byAddress));
            return;
        }
        m_indexing.reset();
        if (!m_idIndex) {
            std::swap(m_idIndex, byValue);
        }
        if (byAddress) {
            std::swap(m_rowOfAddress, byAddress);
        }
        letGo(std::move(byValue), std::move(byAddress));
    }

    // Matches the shown rows with a listing of the same folder: by shared data first, then the
    // items that share none by value, among the shown rows that share none either. Nothing when
    // the listing carries an id twice (or the index knows the shown rows do): such a listing is
    // shown as given.
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
        std::vector<std::size_t> looseRowNumbers;
        for (std::size_t number = 0; number < m_rows.size(); ++number) {
            Row& row = m_rows[number];
            const Identity identity = Traits::identity(Traits::id(*row.item));
            row.position = identity.first == nullptr ? -1 : matching.byAddress.value(identity, -1);
            if (row.position >= 0) {
                claimed[static_cast<std::size_t>(row.position)] = true;
            } else {
                looseRowNumbers.push_back(number);
            }
        }
        const auto unclaimedRows = static_cast<qsizetype>(looseRowNumbers.size());
        // The rows left, by id: the index when it is there, else those rows alone.
        std::optional<QHash<ID, int>> looseRows;
        const auto rowWithID = [&](const ID& id) -> int {
            if (m_idIndex) {
                return m_idIndex->rowOfID.value(id, -1);
            }
            if (unclaimedRows == 0) {
                return -1;
            }
            if (!looseRows) {
                looseRows.emplace();
                looseRows->reserve(unclaimedRows);
                for (const std::size_t row : looseRowNumbers) {
                    looseRows->insert(Traits::id(*m_rows[row].item), static_cast<int>(row));
                }
            }
            return looseRows->value(id, -1);
        };
        QSet<ID> arriving;
        for (int position = 0; position < count; ++position) {
            if (claimed[static_cast<std::size_t>(position)]) {
                continue;
            }
            if (m_idIndex && m_idIndex->repeated) {
                return std::nullopt;
            }
            const ID& id = Traits::id(items[position]);
            const int row = rowWithID(id);
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
        if (looseRows && looseRows->size() != unclaimedRows) {
            return std::nullopt; // two shown rows share an id
        }
        matching.formerRows.reserve(unclaimedRows);
        for (const std::size_t number : looseRowNumbers) {
            const Row& row = m_rows[number];
            const ID& id = Traits::id(*row.item);
            if (row.position < 0) {
                matching.vanished.append(id);
            }
            if (Traits::identity(id).first != nullptr) {
                matching.formerRows.insert(Traits::identity(id), FormerRow{id, row.position});
            }
        }
        return matching;
    }

    // Brings the indexes along with a diff: the addresses are the listing's own now; each id to the
    // row it moved to (`newRows` by the row it was on), the vanished out, the arrivals in. An index
    // by value that was not there is left to the pool, from the next turn of the event loop on:
    // listings applied one after another in one turn ask for it once.
    void updateIDIndex(const std::vector<int>& newRows, Matching& matching)
    {
        letGo(std::exchange(m_rowOfAddress, std::move(matching.byAddress)),
              std::exchange(m_formerRows, std::move(matching.formerRows)));
        ++m_indexGeneration; // what the pool works out for the rows before is of no use now
        m_indexing.reset();
        if (!m_idIndex || m_idIndex->repeated) {
            letGo(std::exchange(m_idIndex, std::nullopt));
            scheduleIndexing();
            return;
        }
        IDIndex& index = *m_idIndex;
        for (auto entry = index.rowOfID.begin(); entry != index.rowOfID.end(); ++entry) {
            entry.value() = newRows[static_cast<std::size_t>(entry.value())];
        }
        for (const ID& id : matching.vanished) {
            index.rowOfID.remove(id);
            index.allIDs.remove(id);
        }
        for (const int position : matching.arrivals) {
            index.rowOfID.insert(Traits::id(*listed(position)), position);
            index.allIDs.insert(Traits::id(*listed(position)));
        }
    }

    void scheduleIndexing()
    {
        if (m_indexingScheduled) {
            return;
        }
        m_indexingScheduled = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_indexingScheduled = false;
                if (!m_idIndex && !m_indexing) {
                    startIndexing(true, !m_rowOfAddress);
                }
            },
            Qt::QueuedConnection);
    }

    // How many ranges a diff would remove and insert: the runs of old rows the new listing lacks
    // and the runs of new rows. Reads each row's position in the new listing.
    qsizetype changedRanges(qsizetype listedCount) const
    {
        qsizetype ranges = 0;
        std::vector<bool> kept(static_cast<std::size_t>(listedCount), false);
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
    void reorderSurvivors(int listedCount)
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
        std::vector<int> slotOwner(static_cast<std::size_t>(listedCount), -1);
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
            const ID& shown = Traits::id(*m_rows[row].item);
            const ID& listedID = Traits::id(items[static_cast<qsizetype>(row)]);
            const Identity identity = Traits::identity(shown);
            if (!(identity.first != nullptr && identity == Traits::identity(listedID)) && !(shown == listedID)) {
                return false;
            }
        }
        return true;
    }

    // Every surviving row takes the item at `positionOf(row)` of the listing now shown, and the
    // changed cells are announced, one dataChanged per block of neighbouring changed rows. True
    // when a row's id now keeps its data elsewhere.
    template <typename PositionOf>
    bool announceChanges(const PositionOf& positionOf)
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
        // The shown rows' items lie scattered after a re-sort: each is asked for from memory a few
        // rows before it is compared.
        constexpr std::size_t readAhead = 8;
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            if (row + readAhead < m_rows.size()) {
                prefetch(*m_rows[row + readAhead].item);
            }
            Row& shown = m_rows[row];
            const Item* fresh = listed(positionOf(row));
            if (shown.item == fresh) {
                flush();
                continue;
            }
            const Identity was = Traits::identity(Traits::id(*shown.item));
            moved = moved || !(was.first != nullptr && was == Traits::identity(Traits::id(*fresh)));
            Change change = changeBetween(*shown.item, *fresh);
            shown.item = fresh;
            if (change.roles.isEmpty()) {
                flush(); // nothing the table shows changed
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

    // Asks for the fields changeBetween() reads, ahead of the comparison.
    static void prefetch(const Item& item)
    {
        __builtin_prefetch(&item.name);
        __builtin_prefetch(&item.modifiedAt);
    }

    // Equal texts, without reading the characters of copies that share them.
    static bool sameText(const QString& a, const QString& b)
    {
        return a.size() == b.size() && (a.constData() == b.constData() || a == b);
    }

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
        if (!sameText(before.name, after.name)) {
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
    void insertArrivals()
    {
        const auto total = static_cast<int>(m_items.size());
        if (static_cast<int>(m_rows.size()) == total) {
            return; // no arrivals: the survivors are the whole listing
        }
        m_staged.clear();
        m_staged.reserve(static_cast<std::size_t>(total));
        m_pending = 0;
        m_layout = Layout::stagedFirst;
        // Every survivor holds the listing's own item at its position by now: a survivor stands
        // where the next unplaced one points.
        const auto survivorAt = [this](int position) {
            return m_pending < static_cast<qsizetype>(m_rows.size()) &&
                   m_rows[static_cast<std::size_t>(m_pending)].item == listed(position);
        };
        int position = 0;
        while (position < total) {
            if (survivorAt(position)) {
                m_staged.push_back(std::move(m_rows[static_cast<std::size_t>(m_pending)]));
                ++m_pending;
                ++position;
                continue;
            }
            const int first = position;
            int last = position;
            while (last + 1 < total && !survivorAt(last + 1)) {
                ++last;
            }
            beginInsertRows(QModelIndex(), first, last);
            for (int arrival = first; arrival <= last; ++arrival) {
                m_staged.emplace_back(listed(arrival));
            }
            endInsertRows();
            position = last + 1;
        }
        m_rows = std::move(m_staged);
        m_staged.clear();
        m_pending = 0;
        m_layout = Layout::plain;
    }

    // The listing shown; the rows point into it.
    QList<Item> m_items;
    std::vector<Row> m_rows;
    std::vector<Row> m_staged;
    Layout m_layout = Layout::plain;
    qsizetype m_pending = 0;
    // Nothing while the pool builds it after a reset (see idIndex()).
    mutable std::optional<IDIndex> m_idIndex;
    // Where each shown id keeps its shared data, to its row; nothing while the pool works it out.
    mutable std::optional<QHash<Identity, int>> m_rowOfAddress;
    // The rows of the listing shown before that took no listed item's shared data, by where their
    // ids keep it: an id the owner took from such a row (a selected or current row) is found, or
    // known to be gone, without the index by value. Kept until the next re-listing.
    QHash<Identity, FormerRow> m_formerRows;
    // Counts the changes of the rows since an index was asked of the pool; only the newest lands.
    mutable quint64 m_indexGeneration = 0;
    bool m_indexingScheduled = false;
    mutable std::shared_ptr<Indexing> m_indexing;
    std::optional<QString> m_listing;
    PasteboardWriter m_pasteboardWriter;
    DragStartHandler m_onDragStart;
};

} // namespace quillbarrow
