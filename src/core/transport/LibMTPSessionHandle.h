#pragma once

#include "LibMTPBridge.h"

#include <atomic>
#include <memory>

namespace quillbarrow {

// Owns one opened device handle of the bridge and closes it exactly once: through close(), or
// when the owner goes away without closing. Shared by the session and the jobs it runs on its
// workers, so a handle is never closed under a transfer that is still using it.
//
// Thread-safe: pointer() and close() may be called from any thread.
class LibMTPSessionHandle {
public:
    LibMTPSessionHandle(CMTPDeviceHandle* pointer, std::shared_ptr<LibMTPBridge> bridge);
    ~LibMTPSessionHandle();
    LibMTPSessionHandle(const LibMTPSessionHandle&) = delete;
    LibMTPSessionHandle& operator=(const LibMTPSessionHandle&) = delete;

    // The open handle; null once closed (or when none was given).
    CMTPDeviceHandle* pointer() const;
    // Closes the handle when it is still open; later calls do nothing. Blocks while the bridge
    // closes the device.
    void close();

private:
    std::atomic<CMTPDeviceHandle*> m_pointer;
    std::shared_ptr<LibMTPBridge> m_bridge;
};

} // namespace quillbarrow
