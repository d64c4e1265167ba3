#pragma once

#include "WaitRegistration.h"

#include <QTimer>

#include <chrono>
#include <coroutine>
#include <memory>
#include <stop_token>

namespace quillbarrow {

// A stop-aware sleep for main-thread coroutines: `bool slept = co_await sleepFor(d, stop);`
// ends early, without error, when stop is requested; the result tells which happened.
class SleepAwaiter {
public:
    SleepAwaiter(std::chrono::nanoseconds duration, std::stop_token stop);

    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> handle);
    // True when the whole duration passed, false when stop ended the sleep.
    bool await_resume();

private:
    enum Outcome { elapsed = 1, stopped = 2 };
    struct State {
        WaitRegistration wait;
        std::unique_ptr<QTimer> timer;
    };

    std::chrono::nanoseconds m_duration;
    std::stop_token m_stop;
    std::shared_ptr<State> m_state;
};

SleepAwaiter sleepFor(std::chrono::nanoseconds duration, std::stop_token stop = {});

// Milliseconds for a Qt timer, rounded up so that a timer never fires before its duration.
int timerMilliseconds(std::chrono::nanoseconds duration);

} // namespace quillbarrow
