#pragma once

#include <QtGlobal>
#include <mutex>
#include <optional>

namespace quillbarrow {

// The byte ceiling of one transfer, with the largest byte count reported so far and the last. A download
// opened for viewing has a ceiling; every other transfer has none. Safe to use from the transfer's
// thread while the workflow reads the observed count afterwards.
class TransferByteLimit {
public:
    explicit TransferByteLimit(std::optional<qint64> maximumBytes);

    // Records a reported count; false when it exceeds the ceiling (equal passes).
    bool record(qint64 bytesCompleted);
    std::optional<qint64> maximumBytes() const { return m_maximumBytes; }
    qint64 observedBytes() const;
    // The count of the last report: once a transfer has ended, the bytes it says it moved.
    qint64 lastBytes() const;

private:
    const std::optional<qint64> m_maximumBytes;
    mutable std::mutex m_lock;
    qint64 m_observedBytes = 0;
    qint64 m_lastBytes = 0;
};

} // namespace quillbarrow
