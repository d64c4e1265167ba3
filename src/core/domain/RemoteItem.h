#pragma once

#include "ListingSession.h"
#include "RemoteItemKind.h"
#include "RemoteObjectID.h"
#include "RemotePath.h"
#include "StorageID.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// One file or folder object on the phone, as a listing or an operation reported it. Identified by
// `id`; equality and hashing cover every field but `listedIn`, which says where the item was
// seen, not what it is.
struct RemoteItem {
    RemoteItem(RemoteObjectID id, StorageID storageID, std::optional<RemoteObjectID> parentID, QString name,
               RemoteItemKind kind, std::optional<qint64> size, std::optional<QDateTime> modifiedAt,
               std::optional<RemotePath> path);

    RemoteObjectID id;
    StorageID storageID;
    // The containing folder; absent for an object in the storage root.
    std::optional<RemoteObjectID> parentID;
    QString name;
    RemoteItemKind kind;
    // Bytes; absent when the listing has no size for the object.
    std::optional<qint64> size;
    // UTC; absent when the device did not report it.
    std::optional<QDateTime> modifiedAt;
    // The object's own path, where the operation that produced the item gives one.
    std::optional<RemotePath> path;
    // The session whose listing gave the item, set by the device browser; absent for an item no
    // browser listed (one an operation returned, or one the transfer engine listed for itself).
    std::optional<ListingSession> listedIn;
};

bool operator==(const RemoteItem& a, const RemoteItem& b);
std::size_t qHash(const RemoteItem& item, std::size_t seed = 0);

} // namespace quillbarrow
