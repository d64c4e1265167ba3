#pragma once

#include "WaitClock.h"

namespace quillbarrow {

// Real time: the steady clock, and the event loop's precise timers for the waits.
class SteadyWaitClock final : public WaitClock {
public:
    TimePoint now() const override;
    QCoro::Task<bool> sleep(std::chrono::nanoseconds duration, std::stop_token stop) override;
};

} // namespace quillbarrow
