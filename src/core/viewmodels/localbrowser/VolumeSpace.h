#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// The space of the volume that holds a folder, asked anew at every call. Never fails: what the
// volume does not tell is nothing.
class VolumeSpace {
public:
    // The bytes the user can still write there.
    static std::optional<qint64> availableBytes(const QString& path);
    // The volume's whole size.
    static std::optional<qint64> capacityBytes(const QString& path);

    // Of the volume's two answers, the space left for the user's files comes first; without it,
    // the plain free space; without either, nothing. A negative answer is no answer.
    static std::optional<qint64> preferredAvailableBytes(std::optional<qint64> forUser, std::optional<qint64> free);
};

} // namespace quillbarrow
