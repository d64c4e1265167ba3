#pragma once

#include "domain/AndroidDevice.h"

#include <cstdint>
#include <utility>

namespace quillbarrow {

// One MTP device that libmtp detected: the record the rest of the system sees, plus where the
// device sits on the bus, which is what the bridge's open operations need.
struct LibMTPDeviceEntry {
    LibMTPDeviceEntry(AndroidDevice device, std::uint32_t busLocation, std::uint8_t deviceNumber)
        : device(std::move(device)), busLocation(busLocation), deviceNumber(deviceNumber)
    {
    }

    AndroidDevice device;
    std::uint32_t busLocation;
    std::uint8_t deviceNumber;

    friend bool operator==(const LibMTPDeviceEntry&, const LibMTPDeviceEntry&) = default;
};

} // namespace quillbarrow
