#include "RemoteItem.h"

#include "HashFeed.h"
#include "NfcText.h"

namespace quillbarrow {

RemoteItem::RemoteItem(RemoteObjectID id, StorageID storageID, std::optional<RemoteObjectID> parentID,
                       QString name, RemoteItemKind kind, std::optional<qint64> size,
                       std::optional<QDateTime> modifiedAt, std::optional<RemotePath> path)
    : id(std::move(id)), storageID(std::move(storageID)), parentID(std::move(parentID)), name(std::move(name)),
      kind(kind), size(size), modifiedAt(std::move(modifiedAt)), path(std::move(path))
{
}

bool operator==(const RemoteItem& a, const RemoteItem& b)
{
    return a.id == b.id && a.storageID == b.storageID && a.parentID == b.parentID &&
           NfcText::equal(a.name, b.name) && a.kind == b.kind && a.size == b.size &&
           a.modifiedAt == b.modifiedAt && a.path == b.path;
}

std::size_t qHash(const RemoteItem& item, std::size_t seed)
{
    return HashFeed(seed)
        .add(item.id)
        .add(item.storageID)
        .add(item.parentID)
        .text(item.name)
        .add(item.kind)
        .add(item.size)
        .add(item.modifiedAt)
        .add(item.path)
        .result();
}

} // namespace quillbarrow
