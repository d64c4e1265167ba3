#pragma once

#include "FileSort.h"
#include "RemoteItemKind.h"

#include <QCollator>
#include <QCollatorSortKey>
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
    // The name's collation key when the caller keeps one from an earlier sort (see
    // browserNameKeys); null to have it worked out for this sort.
    const QCollatorSortKey* nameKey = nullptr;
};

// How the browsers compare names: natural order (file2 before file10), letter case ignored, in
// the default locale.
QCollator naturalNameCollator();

// The collation keys of `names`, one per name in the same order, as the browser order compares
// them. Working them out is most of a sort's cost: a caller that sorts the same names again keeps
// them and lends them through BrowserSortFields::nameKey.
std::vector<QCollatorSortKey> browserNameKeys(std::span<const QString* const> names);

// The browser order as a permutation: the positions of `items` in sorted order. See sortedForBrowser.
std::vector<qsizetype> browserOrder(std::span<const BrowserSortFields> items, FileSort sort, bool ascending);

// The one order both browsers and the device backends list items in. Stable. Folders come first,
// then files, then unknown items, whatever the direction; inside a group the items go by the key
// (names by natural, case-insensitive comparison in the default locale; a missing date counts as
// the distant past and a missing size as the lowest size), the direction reversing only the key;
// equal keys fall back to name ascending. Works for any item with `kind`, `name`, `modifiedAt` and
// `size` (RemoteItem, LocalItem); the input is not changed.
// When `nameKeys` is given, it receives the names' collation keys in the sorted order.
template <typename Item>
QList<Item> sortedForBrowser(const QList<Item>& items, FileSort sort, bool ascending,
                             std::vector<QCollatorSortKey>* nameKeys = nullptr)
{
    std::vector<BrowserSortFields> fields;
    fields.reserve(static_cast<std::size_t>(items.size()));
    for (const Item& item : items) {
        fields.push_back(BrowserSortFields{item.kind, &item.name, &item.modifiedAt, &item.size});
    }
    std::vector<QCollatorSortKey> keys;
    if (nameKeys != nullptr) {
        std::vector<const QString*> names;
        names.reserve(fields.size());
        for (const BrowserSortFields& field : fields) {
            names.push_back(field.name);
        }
        keys = browserNameKeys(names);
        for (std::size_t index = 0; index < fields.size(); ++index) {
            fields[index].nameKey = &keys[index];
        }
    }
    QList<Item> sorted;
    sorted.reserve(items.size());
    if (nameKeys != nullptr) {
        nameKeys->clear();
        nameKeys->reserve(keys.size());
    }
    for (const qsizetype index : browserOrder(fields, sort, ascending)) {
        sorted.append(items[index]);
        if (nameKeys != nullptr) {
            nameKeys->push_back(keys[static_cast<std::size_t>(index)]);
        }
    }
    return sorted;
}

} // namespace quillbarrow
