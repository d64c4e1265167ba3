#include "MTPBackend.h"

namespace quillbarrow {

QCoro::Task<std::shared_ptr<DeviceSession>> MTPBackend::openSession(DeviceID deviceID)
{
    co_return co_await openSession(std::move(deviceID), OpenSessionOptions(false));
}

} // namespace quillbarrow
