#pragma once

#include "StagingLock.h"

#include <QString>
#include <optional>

namespace quillbarrow {

// Where a download is written while it runs, and how it takes its final name. A download goes to
// a hidden name beside its destination and is moved to the destination only once complete, so a
// partial file is never seen under the final name, and an item being replaced stays until the new
// file is in place.
class DownloadStaging {
public:
    // The lock a running download holds on its staging file, so that no sweep removes it.
    using Hold = StagingLock;

    // A new hidden name for a staging file (never listed by the local browser).
    static QString stagingName();
    // A new hidden path in the destination's folder (on the same file system, so the final move
    // is a rename).
    static QString stagingPath(const QString& destination);
    // The words a failure to save `name` in `folder` begins with.
    static QString failureLead(const QString& name, const QString& folder);
    // Moves the complete download at `staging` to `destination`. Without `replace`, an item that
    // appeared at the destination meanwhile is left alone and the move fails. With it, the old
    // item (a folder too) is moved aside, put back when the move fails, and deleted once the new
    // file is in place. On failure the staged file is removed and a description is returned; it
    // names where the old item is when it could not be put back.
    static std::optional<QString> place(const QString& staging, const QString& destination, bool replace);
    // Removes the staging items in `folder` that `record` notes and no transfer holds: those a
    // download or a local copy killed with its process left. Blocking: reads the folder.
    static void removeStale(const QString& folder, StagingRecord& record);
};

} // namespace quillbarrow
