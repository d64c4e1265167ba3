#pragma once

#include <QCoro/QCoroTask>

#include <chrono>
#include <stop_token>

namespace quillbarrow {

// The present moment and the waits of a main-thread coroutine, behind one interface so that
// tests can drive time themselves.
class WaitClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~WaitClock() = default;

    virtual TimePoint now() const = 0;
    // True when the whole duration passed; false when a stop request ended the wait early
    // (never an error).
    virtual QCoro::Task<bool> sleep(std::chrono::nanoseconds duration, std::stop_token stop) = 0;
};

} // namespace quillbarrow
