// Stands in for the libmtp device session until it is part of the build: an open that succeeds
// is closed again and reported as a failed session, so no handle is left open and no caller is
// told that a session exists. Replaced by LibMTPSessionFactory.cpp.

#include "LibMTPBackend.h"
#include "domain/QuillbarrowError.h"

namespace quillbarrow {

LibMTPBackend::SessionFactory LibMTPBackend::defaultSessionFactory()
{
    return [](AndroidDevice, CMTPDeviceHandle* handle,
              std::shared_ptr<LibMTPBridge> bridge) -> std::shared_ptr<DeviceSession> {
        bridge->closeDevice(handle);
        throw QuillbarrowError::sessionFailed(
            QStringLiteral("This build cannot browse libmtp devices yet: its device session is missing."));
    };
}

} // namespace quillbarrow
