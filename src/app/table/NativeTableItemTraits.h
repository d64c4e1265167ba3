#pragma once

#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "table/NativeTablePasteboardItem.h"

#include <QUrl>

namespace quillbarrow {

// What a native table needs to know of a row type beyond its shown fields (`name`, `kind`,
// `size`, `modifiedAt`): its identity, and what a dragged row carries by default.
template <typename Item>
struct NativeTableItemTraits;

// Rows of the computer: identified by their file address, dragged out as that address.
template <>
struct NativeTableItemTraits<LocalItem> {
    using ID = QUrl;
    static const QUrl& id(const LocalItem& item) { return item.id; }
    static NativeTablePasteboardItem pasteboardItem(const LocalItem& item)
    {
        return NativeTablePasteboardItem::fileUrl(item.id);
    }
};

// Rows of the phone: identified by their object id; a drag carries the marker text (the items
// themselves travel on the in-app clipboard).
template <>
struct NativeTableItemTraits<RemoteItem> {
    using ID = RemoteObjectID;
    static const RemoteObjectID& id(const RemoteItem& item) { return item.id; }
    static NativeTablePasteboardItem pasteboardItem(const RemoteItem&)
    {
        return NativeTablePasteboardItem::plainText(NativeTablePasteboardItem::androidDragMarker());
    }
};

} // namespace quillbarrow
