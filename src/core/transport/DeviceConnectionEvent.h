#pragma once

#include "domain/AndroidDevice.h"
#include "domain/DeviceID.h"

#include <variant>

namespace quillbarrow {

// One change in the set of attached devices.
class DeviceConnectionEvent {
public:
    enum class Kind { connected, disconnected, changed };

    // A device whose identifier was not attached before is now attached.
    static DeviceConnectionEvent connected(AndroidDevice device);
    // The device with this identifier is gone.
    static DeviceConnectionEvent disconnected(DeviceID id);
    // A device that stays attached under the same identifier now has a different record.
    static DeviceConnectionEvent changed(AndroidDevice device);

    Kind kind() const { return m_kind; }
    // The record of a connected or changed event; nullptr for a disconnection.
    const AndroidDevice* device() const;
    // The identifier the event is about, whatever its kind.
    DeviceID deviceID() const;

    friend bool operator==(const DeviceConnectionEvent& a, const DeviceConnectionEvent& b);

private:
    DeviceConnectionEvent(Kind kind, std::variant<AndroidDevice, DeviceID> payload);

    Kind m_kind;
    std::variant<AndroidDevice, DeviceID> m_payload;
};

} // namespace quillbarrow
