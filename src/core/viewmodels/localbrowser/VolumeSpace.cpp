#include "VolumeSpace.h"

#include <QStorageInfo>

namespace quillbarrow {

namespace {

std::optional<qint64> answer(qint64 bytes)
{
    return bytes >= 0 ? std::optional<qint64>(bytes) : std::nullopt;
}

std::optional<QStorageInfo> readyVolume(const QString& path)
{
    if (path.isEmpty()) {
        return std::nullopt;
    }
    QStorageInfo volume(path);
    if (!volume.isValid() || !volume.isReady()) {
        return std::nullopt;
    }
    return volume;
}

} // namespace

std::optional<qint64> VolumeSpace::availableBytes(const QString& path)
{
    const std::optional<QStorageInfo> volume = readyVolume(path);
    if (!volume) {
        return std::nullopt;
    }
    return preferredAvailableBytes(answer(volume->bytesAvailable()), answer(volume->bytesFree()));
}

std::optional<qint64> VolumeSpace::capacityBytes(const QString& path)
{
    const std::optional<QStorageInfo> volume = readyVolume(path);
    if (!volume) {
        return std::nullopt;
    }
    return answer(volume->bytesTotal());
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
