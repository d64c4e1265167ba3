#pragma once

#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "table/NativeTablePasteboardItem.h"

#include <QUrl>
#include <QtGlobal>

#include <utility>

namespace quillbarrow {

// What a native table needs to know of a row type beyond its shown fields (`name`, `kind`,
// `size`, `modifiedAt`): its identity, and what a dragged row carries by default.
//
// identity() tells where an id keeps its shared data (Qt's implicit sharing): two ids that share
// it are one id, so a table matches the copies of an item by that address without reading the
// id. Nothing (a null address) for an id that holds no shared data; equal ids need not share.
template <typename Item>
struct NativeTableItemTraits;

// Rows of the computer: identified by their file address, dragged out as that address.
template <>
struct NativeTableItemTraits<LocalItem> {
    using ID = QUrl;
    using Identity = std::pair<const void*, qsizetype>;
    static const QUrl& id(const LocalItem& item) { return item.id; }
    // The address's private data, which copies of it share until one of them is changed.
    static Identity identity(const QUrl& id) { return {const_cast<QUrl&>(id).data_ptr(), 0}; }
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
    using Identity = std::pair<const void*, qsizetype>;
    static const RemoteObjectID& id(const RemoteItem& item) { return item.id; }
    // The characters of the raw text: one buffer of one length is one text.
    static Identity identity(const RemoteObjectID& id)
    {
        const QString& raw = id.rawValue();
        return raw.isEmpty() ? Identity{} : Identity{raw.constData(), raw.size()};
    }
    static NativeTablePasteboardItem pasteboardItem(const RemoteItem&)
    {
        return NativeTablePasteboardItem::plainText(NativeTablePasteboardItem::androidDragMarker());
    }
};

} // namespace quillbarrow
