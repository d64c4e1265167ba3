#include "LibMTPBackend.h"
#include "LibMTPDeviceSession.h"

namespace quillbarrow {

LibMTPBackend::SessionFactory LibMTPBackend::defaultSessionFactory()
{
    return [](AndroidDevice device, CMTPDeviceHandle* handle, std::shared_ptr<LibMTPBridge> bridge,
              LibMTPSessionServices services) -> std::shared_ptr<DeviceSession> {
        return std::make_shared<LibMTPDeviceSession>(std::move(device), handle, std::move(bridge),
                                                     std::move(services));
    };
}

} // namespace quillbarrow
