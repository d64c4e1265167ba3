#include "SteadyWaitClock.h"

#include "async/Sleep.h"

namespace quillbarrow {

WaitClock::TimePoint SteadyWaitClock::now() const
{
    return std::chrono::steady_clock::now();
}

QCoro::Task<bool> SteadyWaitClock::sleep(std::chrono::nanoseconds duration, std::stop_token stop)
{
    co_return co_await sleepFor(duration, std::move(stop));
}

} // namespace quillbarrow
