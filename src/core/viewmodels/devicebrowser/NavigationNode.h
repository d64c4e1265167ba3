#pragma once

#include "domain/RemoteObjectID.h"
#include "domain/RemotePath.h"

#include <optional>

namespace quillbarrow {

// One level of the device browser's navigation stack: the folder's path and its device object,
// the parent to list when the level is shown again (none at a storage root).
struct NavigationNode {
    NavigationNode(RemotePath path, std::optional<RemoteObjectID> parentID)
        : path(std::move(path)), parentID(std::move(parentID))
    {
    }

    RemotePath path;
    std::optional<RemoteObjectID> parentID;

    friend bool operator==(const NavigationNode&, const NavigationNode&) = default;
};

} // namespace quillbarrow
