#include "TransferProgressUpdateGate.h"

namespace quillbarrow {

namespace {

// True when `bytes` lies at least `delta` past `last`. Byte counts may be anywhere in the qint64
// range, so the advance is never formed as a signed difference that could overflow: once `bytes`
// is known not to be below `last`, their distance fits an unsigned 64-bit number exactly.
bool advancedBy(qint64 bytes, qint64 last, qint64 delta)
{
    if (bytes < last) {
        return false;
    }
    if (delta <= 0) {
        return true;
    }
    const quint64 advance = static_cast<quint64>(bytes) - static_cast<quint64>(last);
    return advance >= static_cast<quint64>(delta);
}

} // namespace

TransferProgressUpdateGate::Clock TransferProgressUpdateGate::systemClock()
{
    return [] { return std::chrono::steady_clock::now().time_since_epoch(); };
}

TransferProgressUpdateGate::TransferProgressUpdateGate(std::chrono::nanoseconds minimumInterval,
                                                       qint64 minimumByteDelta, Clock clock)
    : m_minimumInterval(minimumInterval), m_minimumByteDelta(minimumByteDelta), m_clock(std::move(clock))
{
}

bool TransferProgressUpdateGate::shouldPublish(qint64 bytesCompleted, std::optional<qint64> expectedTotal)
{
    const std::chrono::nanoseconds now = m_clock();
    std::lock_guard lock(m_lock);
    const bool first = m_lastPublishedBytes < 0;
    // A report beyond the expected size passes for that reason only when it is the first to reach
    // it: a device that sends more than it listed would otherwise have every later report published.
    const bool reachedTotal = expectedTotal && *expectedTotal > 0 && bytesCompleted >= *expectedTotal &&
                              (bytesCompleted == *expectedTotal || first || m_lastPublishedBytes < *expectedTotal);
    const bool intervalPassed = now - m_lastPublishTime >= m_minimumInterval;
    const bool bytesPassed = advancedBy(bytesCompleted, m_lastPublishedBytes, m_minimumByteDelta);
    if (!(first || reachedTotal || intervalPassed || bytesPassed)) {
        return false;
    }
    m_lastPublishTime = now;
    m_lastPublishedBytes = bytesCompleted;
    return true;
}

} // namespace quillbarrow
