#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace quillbarrow {

// One local item found below the clipboard's items when a paste into a device folder starts; it
// becomes one queued upload job. Mostly regular files; an item that cannot be sent (a named pipe,
// a socket, a device, a link that loops or leads nowhere) gets a job too, which planning fails
// with the reason, so that nothing is dropped without a word.
struct UploadCandidate {
    // The item's standardized path (absolute, "." and ".." resolved, links kept as spelled).
    QString path;
    // The file's size in bytes; absent when it cannot be read, and for items that are not files.
    std::optional<qint64> size;
};

} // namespace quillbarrow
