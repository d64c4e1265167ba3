#include "TransferByteLimit.h"

#include <algorithm>

namespace quillbarrow {

TransferByteLimit::TransferByteLimit(std::optional<qint64> maximumBytes) : m_maximumBytes(maximumBytes) {}

bool TransferByteLimit::record(qint64 bytesCompleted)
{
    {
        std::lock_guard lock(m_lock);
        m_observedBytes = std::max(m_observedBytes, bytesCompleted);
        m_lastBytes = bytesCompleted;
    }
    return !m_maximumBytes || bytesCompleted <= *m_maximumBytes;
}

qint64 TransferByteLimit::observedBytes() const
{
    std::lock_guard lock(m_lock);
    return m_observedBytes;
}

qint64 TransferByteLimit::lastBytes() const
{
    std::lock_guard lock(m_lock);
    return m_lastBytes;
}

} // namespace quillbarrow
