#include "LibMTPSessionHandle.h"

#include <utility>

namespace quillbarrow {

LibMTPSessionHandle::LibMTPSessionHandle(CMTPDeviceHandle* pointer, std::shared_ptr<LibMTPBridge> bridge)
    : m_pointer(pointer), m_bridge(std::move(bridge))
{
}

LibMTPSessionHandle::~LibMTPSessionHandle()
{
    close();
}

CMTPDeviceHandle* LibMTPSessionHandle::pointer() const
{
    return m_pointer.load();
}

void LibMTPSessionHandle::close()
{
    // Taking the pointer out first makes the close happen once even if two threads race here.
    CMTPDeviceHandle* const open = m_pointer.exchange(nullptr);
    if (open != nullptr && m_bridge) {
        m_bridge->closeDevice(open);
    }
}

} // namespace quillbarrow
