#pragma once

#include "StringIdentifier.h"

namespace quillbarrow {

struct DeviceIDTag {
    static constexpr const char* typeName = "DeviceID";
};

// Identifies one phone; made by the device backends.
using DeviceID = StringIdentifier<DeviceIDTag>;

} // namespace quillbarrow
