#pragma once

#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "domain/OrderedPairing.h"
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
// Hashing 100,000 ids costs far more than the diff itself, so rows are first matched by where
// their id keeps its shared data (Traits::identity): a re-sort, a hidden-name switch or a
// measured size republishes the very items shown, and is matched without reading an id. A
// listing read anew (a refresh) shares no data with the rows shown, but comes in their order: it
// is walked beside them, one comparison per row; only the few items that came, went or moved are
// hashed, and looked up in the index by value (see matchRows()). Both indexes (the row of each
// id by value with the set of them all, and the row of each address) are brought along through a
// re-listing of the same folder, a diff or a reset alike; the addresses of rows read anew, and an
// index by value of their own ids, are then worked out on the work pool, while lookups go by
// value. After another listing both are built on the work pool, and a lookup that cannot wait
// for them looks a few ids up row by row, waits for the job when it runs already, or builds the
// index on the spot.
//
// An owner that knows the only change is some rows' fields (measured folder sizes filled in where
// the rows stand) says which rows: the others are then taken as they are, unread, so that a few
// sizes arriving at a big folder cost the window little more than their own rows.
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
        letGo(std::move(m_rows), std::move(m_items), std::move(m_idIndex), std::move(m_rowOfAddress));
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
        // Typing a name makes the view read the name cell of row after row, up to all of them:
        // the name is the item's own text, so only a size or date cell formats its row's texts.
        if (role == Qt::DisplayRole && !row.texts && index.column() < columns().size() &&
            columns()[index.column()].content != NativeTableColumn::Content::name) {
            row.texts = std::make_unique<Texts>(
                Texts{ListingFormat::sizeText(item.size), ListingFormat::dateText(item.modifiedAt)});
        }
        static const Texts none;
        const Texts& texts = row.texts ? *row.texts : none;
        return cellData(index.column(), role, item.name, item.kind == RemoteItemKind::folder, texts.size,
                        texts.date);
    }

    // Qt's search as a name is typed (the names that begin with the text typed, from the row the
    // keyboard is on, round to it) reads the names from the items, with no cell's data made for
    // them, asking memory for the names some rows ahead: typing a name in 100,000 rows stays as
    // quick as a key. Any other search is the one of every model.
    QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits = 1,
                          Qt::MatchFlags flags = Qt::MatchFlags(Qt::MatchStartsWith | Qt::MatchWrap)) const override
    {
        const int column = start.column();
        if (role != Qt::DisplayRole || !start.isValid() || start.model() != this ||
            (flags & Qt::MatchTypeMask) != Qt::MatchStartsWith || flags.testFlag(Qt::MatchRecursive) ||
            column >= columns().size() || columns()[column].content != NativeTableColumn::Content::name) {
            return NativeTableModel::match(start, role, value, hits, flags);
        }
        const QString text = value.toString();
        const Qt::CaseSensitivity sensitivity =
            flags.testFlag(Qt::MatchCaseSensitive) ? Qt::CaseSensitive : Qt::CaseInsensitive;
        const qsizetype count = logicalRowCount();
        constexpr qsizetype readAhead = 8;
        QModelIndexList found;
        const auto scan = [&](qsizetype from, qsizetype to) {
            for (qsizetype row = from; row < to && (hits < 0 || found.size() < hits); ++row) {
                if (row + readAhead < to) {
                    __builtin_prefetch(rowAt(row + readAhead).item->name.constData());
                }
                if (rowAt(row).item->name.startsWith(text, sensitivity)) {
                    found.append(index(static_cast<int>(row), column));
                }
            }
        };
        scan(start.row(), count);
        if (flags.testFlag(Qt::MatchWrap)) {
            scan(0, start.row());
        }
        return found;
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
    // it), never the items the model was given. With `changedRows` (in row order), `items` are
    // the items shown, row for row, but for the fields of those rows: only they are compared.
    ListingChange setItems(const QList<Item>& items, const QString& listing,
                           const std::vector<qsizetype>* changedRows = nullptr)
    {
        const bool sameListing = m_listing && *m_listing == listing;
        // The very list shown, published again (a refresh that found every item as it was).
        if (sameListing && items.size() == m_items.size() && items.constData() == m_items.constData()) {
            return ListingChange::fieldsOnly;
        }
        if (changedRows != nullptr && sameListing && m_layout == Layout::plain &&
            static_cast<std::size_t>(items.size()) == m_rows.size()) {
            takeChangedFields(items, *changedRows);
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
        // Where each shown row goes, for the indexes, read before the rows move.
        std::vector<int> newRows;
        newRows.reserve(m_rows.size());
        for (const Row& row : m_rows) {
            newRows.push_back(row.position);
        }
        const bool scattered = changedRanges(items.size()) > maximumDiffRanges;
        // The shown rows point into this list until they take the new listing's items.
        QList<Item> shown = std::exchange(m_items, items);
        if (scattered) {
            beginResetModel();
            std::vector<Row> rows = placeRows();
            updateIndexes(newRows, *matching);
            endResetModel();
            letGo(std::move(rows), std::move(shown));
            return ListingChange::rows;
        }
        removeVanished();
        reorderSurvivors(static_cast<int>(items.size()));
        announceChanges([&](std::size_t row) { return static_cast<qsizetype>(m_rows[row].position); });
        insertArrivals();
        updateIndexes(newRows, *matching);
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
    // The items of every row, in row order: the listing shown itself; nothing while a diff is being
    // applied.
    const QList<Item>* rowItems() const
    {
        return m_layout == Layout::plain && static_cast<std::size_t>(m_items.size()) == m_rows.size()
                   ? &m_items
                   : nullptr;
    }
    // The rows showing the items with these ids, in row order; ids no row shows are left out.
    std::vector<int> rowsOf(const QSet<ID>& ids) const
    {
        // More ids than rows (a big folder's selection, say, in the few rows of the next folder):
        // each row is looked up among the ids instead.
        if (ids.size() > logicalRowCount()) {
            std::vector<int> rows;
            if (idIndex().repeated) {
                return rows;
            }
            for (qsizetype row = 0; row < logicalRowCount(); ++row) {
                if (ids.contains(Traits::id(*rowAt(row).item))) {
                    rows.push_back(static_cast<int>(row));
                }
            }
            return rows;
        }
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
    // How a listing of the same folder matches the shown rows (each row's `position` is set too).
    struct Matching {
        // The ids of the shown rows the listing lacks.
        QList<ID> vanished;
        // The places of the listed items no shown row carries.
        std::vector<int> arrivals;
        // Some shown row takes an item whose id is its own by value only (a listing read anew).
        bool readAnew = false;
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

    // Shows `items` of another listing (or of one the ids cannot tell apart), their indexes built
    // on the pool.
    void resetTo(const QList<Item>& items, const QString& listing)
    {
        beginResetModel();
        QList<Item> shown = std::exchange(m_items, items);
        std::vector<Row> rows = placeRows();
        m_listing = listing;
        std::optional<IDIndex> index = std::exchange(m_idIndex, std::nullopt);
        std::optional<QHash<Identity, int>> addresses = std::exchange(m_rowOfAddress, std::nullopt);
        startIndexing(true, true);
        endResetModel();
        letGo(std::move(rows), std::move(shown), std::move(index), std::move(addresses));
    }

    // Makes one row for each item of m_items, in its order; gives the rows there were.
    std::vector<Row> placeRows()
    {
        std::vector<Row> rows = std::exchange(m_rows, {});
        m_rows.reserve(static_cast<std::size_t>(m_items.size()));
        for (qsizetype position = 0; position < m_items.size(); ++position) {
            m_rows.emplace_back(listed(position));
        }
        return rows;
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
    // on the pool, and an index by value of the copies' ids; meanwhile ids are found by value.
    void readdress()
    {
        letGo(std::exchange(m_rowOfAddress, std::nullopt));
        startIndexing(true);
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
        // The pool's index by value also replaces one brought along through listings read anew,
        // whose ids are those of listings let go of: they are freed with it.
        if (byValue) {
            std::swap(m_idIndex, byValue);
        }
        if (byAddress) {
            std::swap(m_rowOfAddress, byAddress);
        }
        letGo(std::move(byValue), std::move(byAddress));
    }

    // Whether two ids keep their text in the same shared data: then they are one id, unread.
    static bool sharesData(const ID& a, const ID& b)
    {
        const Identity identity = Traits::identity(a);
        return identity.first != nullptr && identity == Traits::identity(b);
    }
    // Asks for the shared data of `id` (and what is made with it) ahead of a comparison.
    static void prefetchID(const ID& id)
    {
        const auto* data = static_cast<const char*>(Traits::identity(id).first);
        if (data != nullptr) {
            __builtin_prefetch(data);
            __builtin_prefetch(data + 64);
        }
    }

    // Matches the shown rows with a listing of the same folder, in three steps:
    // 1. Rows and items are walked in order (pairInOrder()): a refresh lists the folder in the
    //    order shown but for the few items that came, went or moved, so nearly every row is found
    //    by one comparison, hashing nothing, and reading no id when the two share its data.
    // 2. The items left that share their id's data with a shown row (the very items shown, in
    //    another order: a re-sort) are found through the index of addresses, reading no id.
    // 3. The rest are looked up in the index by value. A listed id whose row was matched already
    //    is listed twice: nothing is given then, and the listing is shown as given (so too when
    //    the shown rows repeat an id).
    std::optional<Matching> matchRows(const QList<Item>& items)
    {
        if (m_idIndex && m_idIndex->repeated) {
            return std::nullopt;
        }
        Matching matching;
        for (Row& row : m_rows) {
            row.position = -1;
        }
        const auto rowID = [this](qsizetype row) -> const ID& {
            return Traits::id(*m_rows[static_cast<std::size_t>(row)].item);
        };
        // Ids read anew keep their data where the reading made it, in no order shown: those a few
        // steps ahead on both sides are asked for from memory before they are compared.
        constexpr qsizetype readAhead = 8;
        const auto rowCount = static_cast<qsizetype>(m_rows.size());
        const OrderedPairing walked = pairInOrder(
            rowCount, items.size(),
            [&](qsizetype row, qsizetype position) {
                const ID& listedID = Traits::id(items[position]);
                if (sharesData(rowID(row), listedID)) {
                    return true;
                }
                if (row + readAhead < rowCount && position + readAhead < items.size()) {
                    prefetchID(rowID(row + readAhead));
                    prefetchID(Traits::id(items[position + readAhead]));
                }
                return rowID(row) == listedID;
            },
            [&](qsizetype row, qsizetype position) {
                m_rows[static_cast<std::size_t>(row)].position = static_cast<int>(position);
                matching.readAnew = matching.readAnew || !sharesData(rowID(row), Traits::id(items[position]));
            });
        std::vector<qsizetype> byValue;
        for (const qsizetype position : walked.unpairedSecond) {
            const std::optional<int> shown = rowSharing(Traits::id(items[position]));
            if (!shown) {
                byValue.push_back(position);
                continue;
            }
            Row& row = m_rows[static_cast<std::size_t>(*shown)];
            if (row.position >= 0) {
                return std::nullopt; // one item listed twice
            }
            row.position = static_cast<int>(position);
        }
        if (!byValue.empty()) {
            const IDIndex& index = idIndex();
            if (index.repeated) {
                return std::nullopt;
            }
            QSet<ID> arriving;
            for (const qsizetype position : byValue) {
                const ID& id = Traits::id(items[position]);
                const int found = index.rowOfID.value(id, -1);
                if (found < 0) {
                    if (arriving.contains(id)) {
                        return std::nullopt;
                    }
                    arriving.insert(id);
                    matching.arrivals.push_back(static_cast<int>(position));
                    continue;
                }
                Row& row = m_rows[static_cast<std::size_t>(found)];
                if (row.position >= 0) {
                    return std::nullopt; // its row is matched already: the id is listed twice
                }
                row.position = static_cast<int>(position);
                matching.readAnew = matching.readAnew || !sharesData(Traits::id(*row.item), id);
            }
        }
        for (const qsizetype number : walked.unpairedFirst) {
            if (m_rows[static_cast<std::size_t>(number)].position < 0) {
                matching.vanished.append(rowID(number));
            }
        }
        return matching;
    }

    // Brings the indexes along with a re-listing of the same folder (`newRows`: the place in it of
    // each row shown before, -1 for one gone). The index by value keeps its ids, equal to the
    // listed ones, with their rows moved, the vanished out and the arrivals in. So does the index
    // of addresses while every row kept its id's data. Rows matched by value only have new
    // addresses: the pool works them out, with an index by value of the listing's own ids, so that
    // the ids of the listing let go of are freed; until then ids are found by value. An index
    // missing after a diff is left to the pool, from the next turn of the event loop on: listings
    // applied one after another in one turn ask for it once.
    void updateIndexes(const std::vector<int>& newRows, const Matching& matching)
    {
        ++m_indexGeneration; // what the pool works out for the rows before is of no use now
        m_indexing.reset();
        const auto moveRows = [&newRows](auto& rowOf) {
            for (auto entry = rowOf.begin(); entry != rowOf.end(); ++entry) {
                entry.value() = newRows[static_cast<std::size_t>(entry.value())];
            }
        };
        bool byValue = matching.readAnew;
        if (m_idIndex && !m_idIndex->repeated) {
            IDIndex& index = *m_idIndex;
            moveRows(index.rowOfID);
            for (const ID& id : matching.vanished) {
                index.rowOfID.remove(id);
                index.allIDs.remove(id);
            }
            for (const int position : matching.arrivals) {
                index.rowOfID.insert(Traits::id(*listed(position)), position);
                index.allIDs.insert(Traits::id(*listed(position)));
            }
        } else {
            letGo(std::exchange(m_idIndex, std::nullopt));
            byValue = true;
        }
        const bool byAddress = matching.readAnew || !m_rowOfAddress;
        if (byAddress) {
            letGo(std::exchange(m_rowOfAddress, std::nullopt));
        } else {
            moveRows(*m_rowOfAddress);
            for (const ID& id : matching.vanished) {
                m_rowOfAddress->remove(Traits::identity(id));
            }
            for (const int position : matching.arrivals) {
                const Identity identity = Traits::identity(Traits::id(*listed(position)));
                if (identity.first != nullptr) {
                    m_rowOfAddress->insert(identity, position);
                }
            }
        }
        if (byValue || byAddress) {
            scheduleIndexing(byValue, byAddress);
        }
    }

    void scheduleIndexing(bool byValue, bool byAddress)
    {
        m_pendingByValue = m_pendingByValue || byValue;
        m_pendingByAddress = m_pendingByAddress || byAddress;
        if (m_indexingScheduled) {
            return;
        }
        m_indexingScheduled = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_indexingScheduled = false;
                const bool value = std::exchange(m_pendingByValue, false) || !m_idIndex;
                const bool address = std::exchange(m_pendingByAddress, false) || !m_rowOfAddress;
                // A job under way was started for the rows shown now, and builds both.
                if (!m_indexing && (value || address)) {
                    startIndexing(value, address);
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

    // Takes `items`, the items shown but for the fields of `changedRows`, and announces the cells
    // that changed, one dataChanged per block of neighbouring rows.
    void takeChangedFields(const QList<Item>& items, const std::vector<qsizetype>& changedRows)
    {
        Q_ASSERT(holdsSameIDs(items));
        QList<Item> shown = std::exchange(m_items, items);
        std::vector<std::pair<int, Change>> changes;
        changes.reserve(changedRows.size());
        for (const qsizetype row : changedRows) {
            Q_ASSERT(row >= 0 && row < static_cast<qsizetype>(m_rows.size()));
            Change change = changeBetween(*m_rows[static_cast<std::size_t>(row)].item, *listed(row));
            if (!change.roles.isEmpty()) {
                changes.emplace_back(static_cast<int>(row), std::move(change));
            }
        }
        // Every row now points into the listing taken; the ids kept their data, and the indexes hold.
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            m_rows[row].item = listed(static_cast<qsizetype>(row));
        }
        std::size_t first = 0;
        while (first < changes.size()) {
            std::size_t last = first;
            Change block = changes[first].second;
            while (last + 1 < changes.size() && changes[last + 1].first == changes[last].first + 1) {
                ++last;
                const Change& next = changes[last].second;
                block.firstColumn = std::min(block.firstColumn, next.firstColumn);
                block.lastColumn = std::max(block.lastColumn, next.lastColumn);
                for (const int role : next.roles) {
                    if (!block.roles.contains(role)) {
                        block.roles.append(role);
                    }
                }
            }
            for (std::size_t changed = first; changed <= last; ++changed) {
                m_rows[static_cast<std::size_t>(changes[changed].first)].texts.reset();
            }
            Q_EMIT dataChanged(index(changes[first].first, block.firstColumn),
                               index(changes[last].first, block.lastColumn), block.roles);
            first = last + 1;
        }
        letGo(std::move(shown));
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
    // Nothing while the pool builds it after a reset (see idIndex()). After a listing read anew
    // its ids may be those of the listing before (equal by value) until the pool's index lands.
    mutable std::optional<IDIndex> m_idIndex;
    // Where each shown id keeps its shared data, to its row; nothing while the pool works it out.
    mutable std::optional<QHash<Identity, int>> m_rowOfAddress;
    // Counts the changes of the rows since an index was asked of the pool; only the newest lands.
    mutable quint64 m_indexGeneration = 0;
    bool m_indexingScheduled = false;
    // What the scheduled indexing is to build besides an index that is missing.
    bool m_pendingByValue = false;
    bool m_pendingByAddress = false;
    mutable std::shared_ptr<Indexing> m_indexing;
    std::optional<QString> m_listing;
    PasteboardWriter m_pasteboardWriter;
    DragStartHandler m_onDragStart;
};

} // namespace quillbarrow
