#include "BrowserSort.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <limits>
#include <numeric>

namespace quillbarrow {

namespace {

int kindRank(RemoteItemKind kind)
{
    switch (kind) {
    case RemoteItemKind::folder:
        return 0;
    case RemoteItemKind::file:
        return 1;
    case RemoteItemKind::unknown:
        break;
    }
    return 2;
}

// Everything one comparison needs, as numbers worked out once per item, so that a sort of a
// hundred thousand items reads no name, date or size inside its comparisons.
struct SortEntry {
    // By the sort key: the name's rank, the date in milliseconds, or the size.
    qint64 key;
    qsizetype nameRank;
    // In the input: items equal in every field keep their order.
    qsizetype position;
    int group;
    // False only for a missing size, which is lower than any present one.
    bool hasKey;
};

qint64 dateKey(const std::optional<QDateTime>& date)
{
    // A missing (or unusable) date stands for the distant past.
    if (!date || !date->isValid()) {
        return std::numeric_limits<qint64>::min();
    }
    return date->toMSecsSinceEpoch();
}

SortEntry entryOf(const BrowserSortFields& item, qsizetype nameRank, qsizetype position, FileSort sort)
{
    SortEntry entry{0, nameRank, position, kindRank(item.kind), true};
    switch (sort) {
    case FileSort::name:
        entry.key = nameRank;
        break;
    case FileSort::modifiedDate:
        entry.key = dateKey(*item.modifiedAt);
        break;
    case FileSort::size:
        entry.hasKey = item.size->has_value();
        entry.key = item.size->value_or(0);
        break;
    }
    return entry;
}

} // namespace

QCollator naturalNameCollator()
{
    // Qt collates the C locale by code point, ignoring numeric mode and letter case: "Pictures"
    // before "alpha", "IMG_10" before "IMG_2". English takes the root collation untailored.
    const QLocale locale;
    QCollator collator{locale.language() == QLocale::C ? QLocale(QLocale::English) : locale};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

std::vector<qsizetype> browserNameRanks(std::span<const QString* const> names)
{
    const QCollator collator = naturalNameCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString* name : names) {
        keys.push_back(collator.sortKey(*name));
    }
    std::vector<qsizetype> byName(names.size());
    std::iota(byName.begin(), byName.end(), qsizetype{0});
    std::sort(byName.begin(), byName.end(), [&](qsizetype left, qsizetype right) {
        return keys[static_cast<std::size_t>(left)].compare(keys[static_cast<std::size_t>(right)]) < 0;
    });
    std::vector<qsizetype> ranks(names.size());
    qsizetype rank = -1;
    for (std::size_t place = 0; place < byName.size(); ++place) {
        const auto name = static_cast<std::size_t>(byName[place]);
        if (place == 0 || keys[static_cast<std::size_t>(byName[place - 1])].compare(keys[name]) != 0) {
            ++rank;
        }
        ranks[name] = rank;
    }
    return ranks;
}

std::vector<qsizetype> browserOrder(std::span<const BrowserSortFields> items, FileSort sort, bool ascending)
{
    // Ranks lent by the caller are used only when every item has one: ranks of different
    // listings do not compare.
    const bool ranked = std::all_of(items.begin(), items.end(),
                                    [](const BrowserSortFields& item) { return item.nameRank >= 0; });
    std::vector<qsizetype> worked;
    if (!ranked) {
        std::vector<const QString*> names;
        names.reserve(items.size());
        for (const BrowserSortFields& item : items) {
            names.push_back(item.name);
        }
        worked = browserNameRanks(names);
    }

    std::vector<SortEntry> entries;
    entries.reserve(items.size());
    for (std::size_t index = 0; index < items.size(); ++index) {
        const qsizetype rank = ranked ? items[index].nameRank : worked[index];
        entries.push_back(entryOf(items[index], rank, static_cast<qsizetype>(index), sort));
    }
    // Every pair of entries compares unequal (their positions differ), so any sort gives the one
    // order a stable sort of the rule gives.
    std::sort(entries.begin(), entries.end(), [ascending](const SortEntry& a, const SortEntry& b) {
        if (a.group != b.group) {
            return a.group < b.group;
        }
        if (a.hasKey != b.hasKey) {
            return ascending ? !a.hasKey : a.hasKey;
        }
        if (a.key != b.key) {
            return ascending ? a.key < b.key : a.key > b.key;
        }
        if (a.nameRank != b.nameRank) {
            return a.nameRank < b.nameRank;
        }
        return a.position < b.position;
    });
    std::vector<qsizetype> order;
    order.reserve(entries.size());
    for (const SortEntry& entry : entries) {
        order.push_back(entry.position);
    }
    return order;
}

std::vector<qsizetype> keepingRowsInPlace(std::span<const qsizetype> order,
                                          std::span<const qsizetype> keptRows, qsizetype rowCount)
{
    const auto rows = static_cast<std::size_t>(std::max<qsizetype>(rowCount, 0));
    // The position standing in each row before, and the new items after each row (slot 0 for
    // those at the top, slot row + 1 for those after a row), counted first, then placed.
    std::vector<qsizetype> inRow(rows, -1);
    std::vector<qsizetype> slotOf(order.size(), -1);
    std::vector<qsizetype> newAfter(rows + 2, 0);
    qsizetype slot = 0;
    for (std::size_t each = 0; each < order.size(); ++each) {
        const qsizetype position = order[each];
        const qsizetype row = keptRows[static_cast<std::size_t>(position)];
        // A row claimed twice keeps the first that claimed it; the other counts as new.
        if (row >= 0 && row < rowCount && inRow[static_cast<std::size_t>(row)] < 0) {
            inRow[static_cast<std::size_t>(row)] = position;
            slot = row + 1;
            continue;
        }
        slotOf[each] = slot;
        ++newAfter[static_cast<std::size_t>(slot) + 1];
    }
    // newAfter[slot] becomes where that slot's new items start among all the new items; as they
    // are put there, it moves on to where they end.
    std::partial_sum(newAfter.begin(), newAfter.end(), newAfter.begin());
    std::vector<qsizetype> newItems(static_cast<std::size_t>(newAfter.back()));
    for (std::size_t each = 0; each < order.size(); ++each) {
        if (slotOf[each] >= 0) {
            newItems[static_cast<std::size_t>(newAfter[static_cast<std::size_t>(slotOf[each])]++)] =
                order[each];
        }
    }
    // The new items of the top, then each row's item followed by the new items after it.
    std::vector<qsizetype> placed;
    placed.reserve(order.size());
    std::size_t next = 0;
    const auto placeNewUpTo = [&](qsizetype end) {
        for (; next < static_cast<std::size_t>(end); ++next) {
            placed.push_back(newItems[next]);
        }
    };
    placeNewUpTo(newAfter[0]);
    for (std::size_t row = 0; row < rows; ++row) {
        if (inRow[row] >= 0) {
            placed.push_back(inRow[row]);
        }
        placeNewUpTo(newAfter[row + 1]);
    }
    return placed;
}

} // namespace quillbarrow
