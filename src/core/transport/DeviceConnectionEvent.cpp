#include "DeviceConnectionEvent.h"

namespace quillbarrow {

DeviceConnectionEvent::DeviceConnectionEvent(Kind kind, std::variant<AndroidDevice, DeviceID> payload)
    : m_kind(kind), m_payload(std::move(payload))
{
}

DeviceConnectionEvent DeviceConnectionEvent::connected(AndroidDevice device)
{
    return DeviceConnectionEvent(Kind::connected, std::move(device));
}

DeviceConnectionEvent DeviceConnectionEvent::disconnected(DeviceID id)
{
    return DeviceConnectionEvent(Kind::disconnected, std::move(id));
}

DeviceConnectionEvent DeviceConnectionEvent::changed(AndroidDevice device)
{
    return DeviceConnectionEvent(Kind::changed, std::move(device));
}

const AndroidDevice* DeviceConnectionEvent::device() const
{
    return std::get_if<AndroidDevice>(&m_payload);
}

DeviceID DeviceConnectionEvent::deviceID() const
{
    if (const AndroidDevice* record = device()) {
        return record->id;
    }
    return std::get<DeviceID>(m_payload);
}

bool operator==(const DeviceConnectionEvent& a, const DeviceConnectionEvent& b)
{
    return a.m_kind == b.m_kind && a.m_payload == b.m_payload;
}

} // namespace quillbarrow
