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
};

// How the browsers compare names: natural order (file2 before file10), letter case ignored, in
// the default locale.
QCollator naturalNameCollator();

// The browser order as a permutation: the positions of `items` in sorted order. See sortedForBrowser.
std::vector<qsizetype> browserOrder(std::span<const BrowserSortFields> items, FileSort sort, bool ascending);

// The one order both browsers and the device backends list items in. Stable. Folders come first,
// then files, then unknown items, whatever the direction; inside a group the items go by the key
// (names by natural, case-insensitive comparison in the default locale; a missing date counts as
// the distant past and a missing size as the lowest size), the direction reversing only the key;
// equal keys fall back to name ascending. Works for any item with `kind`, `name`, `modifiedAt` and
// `size` (RemoteItem, LocalItem); the input is not changed.
template <typename Item>
QList<Item> sortedForBrowser(const QList<Item>& items, FileSort sort, bool ascending)
{
    std::vector<BrowserSortFields> fields;
    fields.reserve(static_cast<std::size_t>(items.size()));
    for (const Item& item : items) {
        fields.push_back(BrowserSortFields{item.kind, &item.name, &item.modifiedAt, &item.size});
    }
    QList<Item> sorted;
    sorted.reserve(items.size());
    for (const qsizetype index : browserOrder(fields, sort, ascending)) {
        sorted.append(items[index]);
    }
    return sorted;
}

} // namespace quillbarrow
