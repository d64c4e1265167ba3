#pragma once

#include "StorageID.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// Where a folder lies on the phone: its storage and the folder names from the storage root down
// to it (none at the root). The key of the device browser's directory cache.
struct RemotePath {
    RemotePath(StorageID storageID, QStringList components);

    bool isRoot() const { return components.isEmpty(); }
    // The last folder name, or "Storage" at the root.
    QString name() const;
    // "/" followed by the names joined with "/"; the storage is not part of the text.
    QString description() const;
    // The same storage with one more name at the end; the name is not checked.
    RemotePath appending(const QString& component) const;
    // The parent folder; nothing at the root.
    std::optional<RemotePath> deletingLastComponent() const;

    StorageID storageID;
    QStringList components;
};

bool operator==(const RemotePath& a, const RemotePath& b);
std::size_t qHash(const RemotePath& path, std::size_t seed = 0);

} // namespace quillbarrow
