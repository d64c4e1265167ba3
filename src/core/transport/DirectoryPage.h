#pragma once

#include "domain/BrowserSort.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/RemotePath.h"
#include "domain/StorageRoot.h"

#include <QList>

#include <memory>
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
    // The ranking of the items' names, set by the device browser once it has worked it out (on
    // the work pool for a big listing), so that every later sort of the page compares numbers. Not
    // part of the listing's value.
    std::shared_ptr<const BrowserRanking> ranking;
};

bool operator==(const DirectoryPage& a, const DirectoryPage& b);

} // namespace quillbarrow
