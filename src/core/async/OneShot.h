#pragma once

#include "WaitRegistration.h"

#include <coroutine>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace quillbarrow {

// One answer for one waiting coroutine: the workflow awaits `wait(stop)`, a slot calls
// `fulfil(value)` once. Copies share the same answer. Abandoning, or a stop request while
// waiting, resumes the waiter without a value (and without error).
template <typename T>
class OneShot {
    struct State {
        std::mutex mutex;
        std::optional<T> value;
        bool settled = false;
        std::shared_ptr<ResumeOnce> waiter;

        bool settle(std::optional<T> result)
        {
            std::shared_ptr<ResumeOnce> toFire;
            {
                std::lock_guard lock(mutex);
                if (settled) {
                    return false;
                }
                settled = true;
                value = std::move(result);
                toFire = waiter;
            }
            if (toFire) {
                toFire->fire(1);
            }
            return true;
        }
    };

public:
    class WaitAwaiter {
    public:
        WaitAwaiter(std::shared_ptr<State> state, std::stop_token stop)
            : m_state(std::move(state)), m_stop(std::move(stop))
        {
        }

        bool await_ready()
        {
            std::lock_guard lock(m_state->mutex);
            return m_state->settled || m_stop.stop_requested();
        }

        bool await_suspend(std::coroutine_handle<> handle)
        {
            const std::shared_ptr<ResumeOnce>& once = m_wait.arm(handle);
            {
                std::lock_guard lock(m_state->mutex);
                if (m_state->settled) {
                    return false;
                }
                m_state->waiter = once;
            }
            m_wait.fireOnStop(m_stop, 2);
            return true;
        }

        std::optional<T> await_resume()
        {
            m_wait.finish();
            std::lock_guard lock(m_state->mutex);
            if (m_wait.isArmed() && m_state->waiter == m_wait.once()) {
                m_state->waiter.reset();
            }
            return m_state->settled ? m_state->value : std::nullopt;
        }

    private:
        std::shared_ptr<State> m_state;
        std::stop_token m_stop;
        WaitRegistration m_wait;
    };

    OneShot() : m_state(std::make_shared<State>()) {}

    // False when an answer (or abandonment) came first: the first one wins.
    bool fulfil(T value) const { return m_state->settle(std::optional<T>(std::move(value))); }
    // Resumes the waiter without a value.
    bool abandon() const { return m_state->settle(std::nullopt); }
    bool isSettled() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->settled;
    }

    WaitAwaiter wait(std::stop_token stop = {}) const { return WaitAwaiter(m_state, std::move(stop)); }

private:
    std::shared_ptr<State> m_state;
};

} // namespace quillbarrow
