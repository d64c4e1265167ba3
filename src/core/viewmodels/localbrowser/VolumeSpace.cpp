#include "VolumeSpace.h"

#include <QStorageInfo>

namespace quillbarrow {

namespace {

std::optional<qint64> answer(qint64 bytes)
{
    return bytes >= 0 ? std::optional<qint64>(bytes) : std::nullopt;
}

} // namespace

VolumeSpace VolumeSpace::of(const QString& path)
{
    if (path.isEmpty()) {
        return {};
    }
    const QStorageInfo volume(path);
    if (!volume.isValid() || !volume.isReady()) {
        return {};
    }
    return VolumeSpace{preferredAvailableBytes(answer(volume.bytesAvailable()), answer(volume.bytesFree())),
                       answer(volume.bytesTotal())};
}

std::optional<qint64> VolumeSpace::preferredAvailableBytes(std::optional<qint64> forUser, std::optional<qint64> free)
{
    if (forUser && *forUser >= 0) {
        return forUser;
    }
    if (free && *free >= 0) {
        return free;
    }
    return std::nullopt;
}

} // namespace quillbarrow
