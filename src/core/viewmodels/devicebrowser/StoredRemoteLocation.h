#pragma once

#include "domain/RemotePath.h"
#include "domain/StorageID.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <optional>

namespace quillbarrow {

// A device folder as the user defaults keep it: the storage and the folder names from its root.
// Stored as compact JSON, {"storageID":"…","components":["…",…]}, members in this order; read
// back, both members are required, other members are ignored and anything malformed reads as
// nothing stored.
struct StoredRemoteLocation {
    StoredRemoteLocation(StorageID storageID, QStringList components);
    explicit StoredRemoteLocation(const RemotePath& path);

    RemotePath path() const;

    QByteArray toJson() const;
    static std::optional<StoredRemoteLocation> fromJson(const QByteArray& json);
    // A JSON array of locations, in list order.
    static QByteArray listToJson(const QList<StoredRemoteLocation>& locations);
    // Empty when the data is not an array of well-formed locations (one bad element spoils all).
    static QList<StoredRemoteLocation> listFromJson(const QByteArray& json);

    StorageID storageID;
    QStringList components;
};

// Same storage text and the same names in the same places (canonically equivalent texts are equal).
bool operator==(const StoredRemoteLocation& a, const StoredRemoteLocation& b);

} // namespace quillbarrow
