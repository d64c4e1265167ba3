#include "DirectoryPage.h"

namespace quillbarrow {

DirectoryPage::DirectoryPage(StorageRoot storage, RemotePath path, std::optional<RemoteObjectID> parentID,
                             QList<RemoteItem> items)
    : storage(std::move(storage)), path(std::move(path)), parentID(std::move(parentID)), items(std::move(items))
{
}

bool operator==(const DirectoryPage& a, const DirectoryPage& b)
{
    return a.storage == b.storage && a.path == b.path && a.parentID == b.parentID && a.items == b.items;
}

} // namespace quillbarrow
