#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// The space of the volume that holds a folder, as read at one moment. What the volume does not
// tell is nothing.
struct VolumeSpace {
    // The bytes the user can still write there.
    std::optional<qint64> availableBytes;
    // The volume's whole size.
    std::optional<qint64> capacityBytes;

    // Reads both now, with one look at the mount table and the volume: a slow or dead mount can
    // hold the caller for long, so call it off the main thread. Never fails.
    static VolumeSpace of(const QString& path);

    // Of the volume's two answers, the space left for the user's files comes first; without it,
    // the plain free space; without either, nothing. A negative answer is no answer.
    static std::optional<qint64> preferredAvailableBytes(std::optional<qint64> forUser, std::optional<qint64> free);
};

} // namespace quillbarrow
