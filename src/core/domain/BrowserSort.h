#pragma once

#include "FileSort.h"
#include "RemoteItemKind.h"

#include <QCollator>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <span>
#include <vector>

namespace quillbarrow {

// The fields the browser order looks at, borrowed from one item for the length of a sort.
struct BrowserSortFields {
    RemoteItemKind kind;
    const QString* name;
    const std::optional<QDateTime>* modifiedAt;
    const std::optional<qint64>* size;
    // The name's rank among the names of the listing the item belongs to (see browserNameRanks),
    // when the caller keeps one from an earlier sort; -1 to have the names collated for this sort.
    qsizetype nameRank = -1;
};

// How the browsers compare names: natural order (file2 before file10), letter case ignored, in
// the default locale; under the C or POSIX locale, which has no collation of its own, by the root
// collation that every named locale starts from.
QCollator naturalNameCollator();

// The rank of each of `names` in name order, one per name in the same order: 0 for the first name
// by the browsers' comparison, names that compare equal sharing one rank. Collating the names is
// most of a sort's cost: a caller that sorts the same items again keeps the ranks and lends them
// through BrowserSortFields::nameRank, and the sort then compares only numbers. Ranks of one
// listing stay right for any part of it.
std::vector<qsizetype> browserNameRanks(std::span<const QString* const> names);

// The browser order as a permutation: the positions of `items` in sorted order. See
// sortedForBrowser. The names are collated here unless every item lends its name's rank.
std::vector<qsizetype> browserOrder(std::span<const BrowserSortFields> items, FileSort sort, bool ascending);

// What the browser order needs to know of one listing's names, worked out once per listing (for a
// big listing, away from the window's thread): the rank of each name (browserNameRanks), in the
// listing's order, and whether the listing stands in the browser order by name ascending already,
// so that it can be shown so without a sort or a copy.
struct BrowserRanking {
    std::vector<qsizetype> nameRanks;
    bool inNameOrder = false;
};

// The ranking of `items` (each with `kind`, `name`, `modifiedAt` and `size`), in their order.
template <typename Item>
BrowserRanking browserRanking(const QList<Item>& items)
{
    std::vector<const QString*> names;
    names.reserve(static_cast<std::size_t>(items.size()));
    for (const Item& item : items) {
        names.push_back(&item.name);
    }
    BrowserRanking ranking{browserNameRanks(names), true};
    std::vector<BrowserSortFields> fields;
    fields.reserve(names.size());
    for (qsizetype index = 0; index < items.size(); ++index) {
        const Item& item = items[index];
        fields.push_back(BrowserSortFields{item.kind, &item.name, &item.modifiedAt, &item.size,
                                           ranking.nameRanks[static_cast<std::size_t>(index)]});
    }
    const std::vector<qsizetype> order = browserOrder(fields, FileSort::name, true);
    for (std::size_t place = 0; place < order.size() && ranking.inNameOrder; ++place) {
        ranking.inNameOrder = order[place] == static_cast<qsizetype>(place);
    }
    return ranking;
}

// The items a browser shows of a listing, by their place in it, each with the size shown (a
// measured folder's size patched in; `patched` when one differs from the listing's) and the size
// its place goes by. Rows stay where the user saw them: a folder measured since the order was last
// applied shows its size in its row, and keeps the place of the size it had then.
struct ShownItems {
    std::vector<qsizetype> places;
    std::vector<std::optional<qint64>> sizes;
    std::vector<std::optional<qint64>> orderSizes;
    bool patched = false;
    // An order size differs from the listing's.
    bool reordered = false;
};

// The items of `items` that `isHidden` does not hide (all when `showHidden`), with the sizes of the
// folders measured (`measured`: the FolderStatistics of item ids), placed by the sizes measured
// when the order was last applied (`ordered`). Reads `items` only.
template <typename Item, typename IsHidden, typename Measured>
ShownItems shownItems(const QList<Item>& items, bool showHidden, IsHidden isHidden, const Measured& measured,
                      const Measured& ordered)
{
    ShownItems shown;
    shown.places.reserve(static_cast<std::size_t>(items.size()));
    shown.sizes.reserve(static_cast<std::size_t>(items.size()));
    shown.orderSizes.reserve(static_cast<std::size_t>(items.size()));
    const auto patch = [](const Item& item, const Measured& folders, std::optional<qint64>& size,
                          bool& patched) {
        const auto found = folders.constFind(item.id);
        if (found != folders.constEnd() && item.size != found->bytes) {
            size = found->bytes;
            patched = true;
        }
    };
    for (qsizetype place = 0; place < items.size(); ++place) {
        const Item& item = items[place];
        if (!showHidden && isHidden(item)) {
            continue;
        }
        shown.places.push_back(place);
        shown.sizes.push_back(item.size);
        shown.orderSizes.push_back(item.size);
        if (item.kind == RemoteItemKind::folder) {
            patch(item, measured, shown.sizes.back(), shown.patched);
            patch(item, ordered, shown.orderSizes.back(), shown.reordered);
        }
    }
    return shown;
}

// The browser order of the shown items, by their order sizes; `nameRanks` (by place in `items`),
// when not empty, spares collating the names.
template <typename Item>
std::vector<qsizetype> browserOrder(const QList<Item>& items, const ShownItems& shown,
                                    const std::vector<qsizetype>& nameRanks, FileSort sort, bool ascending)
{
    std::vector<BrowserSortFields> fields;
    fields.reserve(shown.places.size());
    for (std::size_t place = 0; place < shown.places.size(); ++place) {
        const Item& item = items[shown.places[place]];
        fields.push_back(BrowserSortFields{
            item.kind, &item.name, &item.modifiedAt, &shown.orderSizes[place],
            nameRanks.empty() ? -1 : nameRanks[static_cast<std::size_t>(shown.places[place])]});
    }
    return browserOrder(fields, sort, ascending);
}

// How a listing of the folder shown places its rows. The order the sort gives is applied anew
// only when the user asks for it: a header click, the hidden-files switch, a refresh or another
// folder. A listing that follows a change the user made in the folder (a paste, a new folder, a
// rename, a delete) leaves the rows seen where they stand: the next key, click or copy then
// reaches the row the user saw there.
enum class RowPlacement {
    orderAnew,
    keepInPlace,
};

// The rows of a listing taken again unasked: of the items in browser `order` (positions), each that
// stood in a row before (`keptRows[position]`, that row; -1 for one that was not shown) keeps the
// order of those rows, and each other item takes the place `order` gives it among them: right
// after the kept item before it in `order` (at the top when there is none), after the other new
// items placed there before it. `rowCount` is the number of rows before. Gives positions, as
// `order` does; linear in the rows.
std::vector<qsizetype> keepingRowsInPlace(std::span<const qsizetype> order,
                                          std::span<const qsizetype> keptRows, qsizetype rowCount);

// The shown items in `order` (places in `shown`), each copied once with its shown size.
template <typename Item>
QList<Item> shownInOrder(const QList<Item>& items, const ShownItems& shown,
                         const std::vector<qsizetype>& order)
{
    QList<Item> rows;
    rows.reserve(static_cast<qsizetype>(order.size()));
    for (const qsizetype place : order) {
        rows.append(items[shown.places[static_cast<std::size_t>(place)]]);
        rows.last().size = shown.sizes[static_cast<std::size_t>(place)];
    }
    return rows;
}

// Fills the sizes of the folders of `rows` measured in `measured` (the FolderStatistics of item
// ids) into their rows, where they stand: what the rows would show if they were worked out anew
// in the same order. Gives the rows changed, in row order. `rows` is copied (if shared) only when
// some size changes.
template <typename Item, typename Measured>
std::vector<qsizetype> fillInMeasuredSizes(QList<Item>& rows, const Measured& measured)
{
    std::vector<qsizetype> changed;
    if (measured.isEmpty()) {
        return changed;
    }
    for (qsizetype row = 0; row < rows.size(); ++row) {
        const Item& item = std::as_const(rows)[row];
        if (item.kind != RemoteItemKind::folder) {
            continue;
        }
        const auto found = measured.constFind(item.id);
        if (found != measured.constEnd() && item.size != found->bytes) {
            rows[row].size = found->bytes;
            changed.push_back(row);
        }
    }
    return changed;
}

// The one order both browsers and the device backends list items in. Stable. Folders come first,
// then files, then unknown items, whatever the direction; inside a group the items go by the key
// (names by natural, case-insensitive comparison in the default locale; a missing date counts as
// the distant past and a missing size as the lowest size), the direction reversing only the key;
// equal keys fall back to name ascending. Works for any item with `kind`, `name`, `modifiedAt` and
// `size` (RemoteItem, LocalItem); the input is not changed.
// When `nameRanks` is given, it receives the names' ranks (see browserNameRanks) in the sorted
// order, for later sorts of the same items.
template <typename Item>
QList<Item> sortedForBrowser(const QList<Item>& items, FileSort sort, bool ascending,
                             std::vector<qsizetype>* nameRanks = nullptr)
{
    std::vector<BrowserSortFields> fields;
    fields.reserve(static_cast<std::size_t>(items.size()));
    for (const Item& item : items) {
        fields.push_back(BrowserSortFields{item.kind, &item.name, &item.modifiedAt, &item.size});
    }
    if (nameRanks != nullptr) {
        std::vector<const QString*> names;
        names.reserve(fields.size());
        for (const BrowserSortFields& field : fields) {
            names.push_back(field.name);
        }
        const std::vector<qsizetype> ranks = browserNameRanks(names);
        for (std::size_t index = 0; index < fields.size(); ++index) {
            fields[index].nameRank = ranks[index];
        }
        nameRanks->clear();
        nameRanks->reserve(ranks.size());
    }
    QList<Item> sorted;
    sorted.reserve(items.size());
    for (const qsizetype index : browserOrder(fields, sort, ascending)) {
        sorted.append(items[index]);
        if (nameRanks != nullptr) {
            nameRanks->push_back(fields[static_cast<std::size_t>(index)].nameRank);
        }
    }
    return sorted;
}

} // namespace quillbarrow
