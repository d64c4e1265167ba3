#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace quillbarrow {

// One local file found below the clipboard's items when a paste into a device folder starts; it
// becomes one queued upload job.
struct UploadCandidate {
    // The file's standardized path (absolute, "." and ".." resolved, links kept as spelled).
    QString path;
    // The file's size in bytes; absent when it cannot be read.
    std::optional<qint64> size;
};

} // namespace quillbarrow
