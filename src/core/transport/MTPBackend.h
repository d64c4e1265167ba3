#pragma once

#include "DeviceMonitoring.h"
#include "DeviceSession.h"
#include "OpenSessionOptions.h"
#include "domain/DeviceID.h"

#include <QCoro/QCoroTask>

#include <memory>

namespace quillbarrow {

// A device backend: monitoring plus opening sessions. Sessions are shared: the device browser
// owns the open one and lends it to the transfer coordinator for each paste or open.
class MTPBackend : public DeviceMonitoring {
public:
    // Throws QuillbarrowError; a device the backend cannot find is deviceNotFound.
    virtual QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID, OpenSessionOptions options) = 0;

    // The same with helper suppression not asked for.
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID);
};

} // namespace quillbarrow
