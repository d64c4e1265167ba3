#pragma once

#include <QHashFunctions>
#include <QtGlobal>

#include <cstddef>

namespace quillbarrow {

// The result of measuring one folder recursively: the bytes of all files at any depth and the
// number of entries counted.
struct FolderStatistics {
    FolderStatistics(qint64 bytes, qint64 itemCount) : bytes(bytes), itemCount(itemCount) {}

    qint64 bytes;
    qint64 itemCount;

    friend bool operator==(const FolderStatistics&, const FolderStatistics&) = default;
};

inline std::size_t qHash(const FolderStatistics& statistics, std::size_t seed = 0) noexcept
{
    return qHashMulti(seed, statistics.bytes, statistics.itemCount);
}

} // namespace quillbarrow
