#pragma once

#include "DeviceConnectionEvent.h"
#include "async/AsyncChannel.h"
#include "domain/AndroidDevice.h"

#include <QCoro/QCoroTask>
#include <QList>

namespace quillbarrow {

// Which devices are attached, and their arrivals and departures.
class DeviceMonitoring {
public:
    virtual ~DeviceMonitoring() = default;

    // The devices attached now; empty when the monitor cannot look. Never throws.
    virtual QCoro::Task<QList<AndroidDevice>> currentDevices() = 0;

    // A new stream of its own for each call, returned at once. It buffers without bound (a
    // late reader gets every event in order), never finishes by itself, yields the connected
    // and changed events of one pass before its disconnected ones, and stops being fed when
    // the consumer drops it.
    virtual AsyncChannel<DeviceConnectionEvent> events() = 0;
};

} // namespace quillbarrow
