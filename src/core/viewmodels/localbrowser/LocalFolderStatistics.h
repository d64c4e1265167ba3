#pragma once

#include "domain/FolderStatistics.h"

#include <QString>

namespace quillbarrow {

// Measures a folder of the computer at every depth. Touches no shared state: any thread may call
// it.
class LocalFolderStatistics {
public:
    // The entries below the folder at `path` and the bytes of its regular files. Hidden entries
    // (a name that begins with ".") are neither counted nor entered. Every other entry counts
    // once, folders included; a link counts as an entry of 0 bytes and is never followed, and so
    // do other special files. A folder reached twice (a mount of a folder inside itself) is
    // entered once. Throws LocalFileError when the folder, or any folder inside it, or an entry's
    // details cannot be read: a partial sum is never given as the size.
    static FolderStatistics measure(const QString& path);
};

} // namespace quillbarrow
