#pragma once

#include "StorageID.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// One storage area of a phone. Identified by `id`; equality and hashing cover every field, so a
// storage whose free space changed is a different value. Sizes are in bytes, absent when the
// device did not report them.
struct StorageRoot {
    StorageRoot(StorageID id, QString name, std::optional<qint64> capacity, std::optional<qint64> freeSpace);

    StorageID id;
    QString name;
    std::optional<qint64> capacity;
    std::optional<qint64> freeSpace;
};

bool operator==(const StorageRoot& a, const StorageRoot& b);
std::size_t qHash(const StorageRoot& storage, std::size_t seed = 0);

} // namespace quillbarrow
