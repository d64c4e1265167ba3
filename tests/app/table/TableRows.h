#pragma once

#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace quillbarrow::testing {

// Rows for the table tests: a file named `name` of `size` bytes in /data, or a folder.
inline LocalItem localFile(const QString& name, std::optional<qint64> size = 100,
                           std::optional<QDateTime> modifiedAt = std::nullopt)
{
    return LocalItem(QUrl::fromLocalFile(QStringLiteral("/data/") + name), name, RemoteItemKind::file, size, modifiedAt,
                     false);
}

inline LocalItem localFolder(const QString& name, std::optional<qint64> size = std::nullopt)
{
    return LocalItem(QUrl::fromLocalFile(QStringLiteral("/data/") + name), name, RemoteItemKind::folder, size,
                     std::nullopt, false);
}

inline RemoteItem remoteItem(const QString& id, const QString& name, RemoteItemKind kind = RemoteItemKind::file,
                             std::optional<qint64> size = 10)
{
    return RemoteItem(RemoteObjectID(id), StorageID(QStringLiteral("65537")), std::nullopt, name, kind, size,
                      std::nullopt, std::nullopt);
}

// Files named by the given names, each 100 bytes.
inline QList<LocalItem> localFiles(const QStringList& names)
{
    QList<LocalItem> items;
    for (const QString& name : names) {
        items.append(localFile(name));
    }
    return items;
}

inline QUrl localID(const QString& name)
{
    return QUrl::fromLocalFile(QStringLiteral("/data/") + name);
}

} // namespace quillbarrow::testing
