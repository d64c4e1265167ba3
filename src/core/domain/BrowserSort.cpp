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

// Everything the comparison needs, worked out once per item so that a sort of thousands of items
// does no collation work inside the comparisons.
struct SortKey {
    int rank;
    const QCollatorSortKey* name;
    qint64 date;
    std::optional<qint64> size;
};

qint64 dateKey(const std::optional<QDateTime>& date)
{
    // A missing (or unusable) date stands for the distant past.
    if (!date || !date->isValid()) {
        return std::numeric_limits<qint64>::min();
    }
    return date->toMSecsSinceEpoch();
}

template <typename T>
int threeWay(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int compareSizes(const std::optional<qint64>& a, const std::optional<qint64>& b)
{
    // A missing size is lower than any present one; two missing sizes are equal.
    if (a.has_value() != b.has_value()) {
        return a.has_value() ? 1 : -1;
    }
    return a ? threeWay(*a, *b) : 0;
}

int compareByKey(const SortKey& a, const SortKey& b, FileSort sort)
{
    switch (sort) {
    case FileSort::name:
        return a.name->compare(*b.name);
    case FileSort::modifiedDate:
        return threeWay(a.date, b.date);
    case FileSort::size:
        return compareSizes(a.size, b.size);
    }
    return 0;
}

} // namespace

QCollator naturalNameCollator()
{
    QCollator collator{QLocale()};
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

std::vector<QCollatorSortKey> browserNameKeys(std::span<const QString* const> names)
{
    const QCollator collator = naturalNameCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString* name : names) {
        keys.push_back(collator.sortKey(*name));
    }
    return keys;
}

std::vector<qsizetype> browserOrder(std::span<const BrowserSortFields> items, FileSort sort, bool ascending)
{
    // Only the names without a lent key are collated here.
    std::vector<const QString*> missing;
    for (const BrowserSortFields& item : items) {
        if (item.nameKey == nullptr) {
            missing.push_back(item.name);
        }
    }
    const std::vector<QCollatorSortKey> worked = browserNameKeys(missing);

    std::vector<SortKey> keys;
    keys.reserve(items.size());
    std::size_t next = 0;
    for (const BrowserSortFields& item : items) {
        const QCollatorSortKey* name = item.nameKey != nullptr ? item.nameKey : &worked[next++];
        keys.push_back(SortKey{kindRank(item.kind), name, dateKey(*item.modifiedAt), *item.size});
    }

    std::vector<qsizetype> order(items.size());
    std::iota(order.begin(), order.end(), qsizetype{0});
    std::stable_sort(order.begin(), order.end(), [&](qsizetype left, qsizetype right) {
        const SortKey& a = keys[static_cast<std::size_t>(left)];
        const SortKey& b = keys[static_cast<std::size_t>(right)];
        if (a.rank != b.rank) {
            return a.rank < b.rank;
        }
        if (const int byKey = compareByKey(a, b, sort); byKey != 0) {
            return ascending ? byKey < 0 : byKey > 0;
        }
        return a.name->compare(*b.name) < 0;
    });
    return order;
}

} // namespace quillbarrow
