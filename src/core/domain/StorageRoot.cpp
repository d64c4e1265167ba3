#include "StorageRoot.h"

#include "HashFeed.h"
#include "NfcText.h"

namespace quillbarrow {

StorageRoot::StorageRoot(StorageID id, QString name, std::optional<qint64> capacity,
                         std::optional<qint64> freeSpace)
    : id(std::move(id)), name(std::move(name)), capacity(capacity), freeSpace(freeSpace)
{
}

bool operator==(const StorageRoot& a, const StorageRoot& b)
{
    return a.id == b.id && NfcText::equal(a.name, b.name) && a.capacity == b.capacity &&
           a.freeSpace == b.freeSpace;
}

std::size_t qHash(const StorageRoot& storage, std::size_t seed)
{
    return HashFeed(seed).add(storage.id).text(storage.name).add(storage.capacity).add(storage.freeSpace).result();
}

} // namespace quillbarrow
