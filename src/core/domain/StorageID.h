#pragma once

#include "StringIdentifier.h"

namespace quillbarrow {

struct StorageIDTag {
    static constexpr const char* typeName = "StorageID";
};

// Identifies one storage area of a phone; made by the device backends.
using StorageID = StringIdentifier<StorageIDTag>;

} // namespace quillbarrow
