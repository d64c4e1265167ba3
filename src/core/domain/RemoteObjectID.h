#pragma once

#include "StringIdentifier.h"

namespace quillbarrow {

struct RemoteObjectIDTag {
    static constexpr const char* typeName = "RemoteObjectID";
};

// Identifies one file or folder object on a phone; the libmtp session writes the MTP object
// handle in decimal, every other component treats it as opaque.
using RemoteObjectID = StringIdentifier<RemoteObjectIDTag>;

} // namespace quillbarrow
