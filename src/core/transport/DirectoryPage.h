#pragma once

#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/RemotePath.h"
#include "domain/StorageRoot.h"

#include <QList>

#include <optional>

namespace quillbarrow {

// The contents of one device folder or storage root, as one listing returned it. Items come
// sorted by name ascending with folders first (the browser order).
struct DirectoryPage {
    DirectoryPage(StorageRoot storage, RemotePath path, std::optional<RemoteObjectID> parentID,
                  QList<RemoteItem> items);

    StorageRoot storage;
    RemotePath path;
    // The listed folder's own object; absent for a storage root.
    std::optional<RemoteObjectID> parentID;
    QList<RemoteItem> items;
};

bool operator==(const DirectoryPage& a, const DirectoryPage& b);

} // namespace quillbarrow
