#pragma once

#include <QtGlobal>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace quillbarrow {

// The progress throttle of one transfer. A report passes when it is the first, when it comes at
// least `minimumInterval` after the last one let through, when its byte count is at least
// `minimumByteDelta` past that one's, or when it reaches the job's expected size (when that is
// greater than 0; once a report beyond the size has passed, later ones beyond it pass only on
// time or bytes). Both thresholds are inclusive. Thread-safe: the transfer's thread asks it.
class TransferProgressUpdateGate {
public:
    // A monotonic time source: elapsed time since some fixed start.
    using Clock = std::function<std::chrono::nanoseconds()>;

    static constexpr std::chrono::nanoseconds standardMinimumInterval = std::chrono::milliseconds(120);
    static constexpr qint64 standardMinimumByteDelta = 4'194'304;

    // Reads the steady clock.
    static Clock systemClock();

    TransferProgressUpdateGate(std::chrono::nanoseconds minimumInterval, qint64 minimumByteDelta,
                               Clock clock = systemClock());

    // `expectedTotal` is the size the job expects, not the total the device reports.
    bool shouldPublish(qint64 bytesCompleted, std::optional<qint64> expectedTotal);

private:
    const std::chrono::nanoseconds m_minimumInterval;
    const qint64 m_minimumByteDelta;
    const Clock m_clock;
    std::mutex m_lock;
    std::chrono::nanoseconds m_lastPublishTime{0};
    // -1 until the first report has passed.
    qint64 m_lastPublishedBytes = -1;
};

} // namespace quillbarrow
