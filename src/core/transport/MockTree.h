#pragma once

#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/StorageID.h"
#include "domain/StorageRoot.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// The storages, folders and files of one pretend device, held in memory. A value: a session
// works on its own copy, so its changes never reach the backend or any other session.
class MockTree {
public:
    // Items are kept under their ids (a later item with the same id replaces an earlier one).
    MockTree(QList<StorageRoot> storages, const QList<RemoteItem>& items);

    // One "Internal shared storage" with DCIM/Camera/IMG_0001.jpg and Download/sample.apk,
    // every item stamped with the moment of the call.
    static MockTree sample(const StorageID& storageID);

    const QList<StorageRoot>& storages() const { return m_storages; }
    std::optional<StorageRoot> storage(const StorageID& storageID) const;
    // Every item, in the order the tree received them.
    QList<RemoteItem> items() const;
    std::optional<RemoteItem> item(const RemoteObjectID& id) const;

    // The items on `storageID` directly inside `parentID` (absent: the storage root), in the
    // browser order by name ascending.
    QList<RemoteItem> children(const std::optional<RemoteObjectID>& parentID, const StorageID& storageID) const;
    // All items below `id` on any storage: its children first, then each child's descendants.
    QList<RemoteObjectID> descendantIDs(const RemoteObjectID& id) const;

    // Add an item under a new upper-case UUID, with its path below the parent's path (the
    // storage root when the parent is unknown or has no path). Nothing is checked.
    RemoteItem addFolder(const QString& name, const std::optional<RemoteObjectID>& parentID,
                         const StorageID& storageID);
    RemoteItem addFile(const QString& name, const std::optional<RemoteObjectID>& parentID,
                       const StorageID& storageID, std::optional<qint64> size);

    // Throws pathNotFound for an unknown item and nameConflict when another item of the same
    // folder already has the name; renaming to the current name is fine. The paths of the
    // items below a renamed folder follow the new name.
    void rename(const RemoteObjectID& itemID, const QString& newName);
    // Removes the item and everything below it; pathNotFound for an unknown item.
    void deleteItem(const RemoteObjectID& itemID);

private:
    RemoteItem addItem(const QString& name, const std::optional<RemoteObjectID>& parentID, const StorageID& storageID,
                       RemoteItemKind kind, std::optional<qint64> size);
    void store(const RemoteItem& item);

    QList<StorageRoot> m_storages;
    QHash<RemoteObjectID, RemoteItem> m_items;
    // Insertion order, so that walks and listings with equal names come out the same every time.
    QList<RemoteObjectID> m_order;
};

} // namespace quillbarrow
