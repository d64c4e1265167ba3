#include "Sleep.h"

#include <limits>

namespace quillbarrow {

int timerMilliseconds(std::chrono::nanoseconds duration)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
    if (ms <= 0) {
        return 0;
    }
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(ms);
}

SleepAwaiter::SleepAwaiter(std::chrono::nanoseconds duration, std::stop_token stop)
    : m_duration(duration), m_stop(std::move(stop)), m_state(std::make_shared<State>())
{
}

bool SleepAwaiter::await_ready() const noexcept
{
    return m_stop.stop_requested() || m_duration <= std::chrono::nanoseconds::zero();
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    State* state = m_state.get();
    std::shared_ptr<ResumeOnce> once = state->wait.arm(handle);
    state->timer = std::make_unique<QTimer>();
    state->timer->setSingleShot(true);
    state->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(state->timer.get(), &QTimer::timeout, [once] { once->fire(elapsed); });
    state->timer->start(timerMilliseconds(m_duration));
    state->wait.fireOnStop(m_stop, stopped);
}

bool SleepAwaiter::await_resume()
{
    if (!m_state->wait.isArmed()) {
        // Completed without suspending: zero duration, or stop already requested.
        return !m_stop.stop_requested();
    }
    // The resumption is posted, so neither the timer nor the stop callback is running here
    // on this thread; the stop callback's destructor waits for one running elsewhere.
    m_state->wait.finish();
    m_state->timer.reset();
    return m_state->wait.once()->outcome() == elapsed;
}

SleepAwaiter sleepFor(std::chrono::nanoseconds duration, std::stop_token stop)
{
    return SleepAwaiter(duration, std::move(stop));
}

} // namespace quillbarrow
