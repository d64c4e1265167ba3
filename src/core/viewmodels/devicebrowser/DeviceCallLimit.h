#pragma once

#include "async/WithTimeLimit.h"
#include "domain/QuillbarrowError.h"

#include <QFuture>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

namespace quillbarrow {

namespace detail {

// Decides who receives a value that arrives after its caller stopped waiting: the call's own
// task when the value comes later, the caller when it was already there. Exactly one of them
// hands it to the handler, from whichever thread.
template <typename T>
class LateOutcome {
public:
    explicit LateOutcome(std::function<void(T)> handler) : m_handler(std::move(handler)) {}

    // Called by the call's task when the call has given a value.
    void arrived(const T& value)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_abandoned) {
                m_value.emplace(value); // the caller may still stop waiting before it reads it
                return;
            }
            if (m_handedOver) {
                return;
            }
            m_handedOver = true;
        }
        if (m_handler) {
            m_handler(value);
        }
    }

    // Called by the caller when it stops waiting.
    void abandon()
    {
        std::optional<T> value;
        {
            std::lock_guard lock(m_mutex);
            m_abandoned = true;
            if (!m_value || m_handedOver) {
                return;
            }
            m_handedOver = true;
            value.swap(m_value);
        }
        if (m_handler) {
            m_handler(std::move(*value));
        }
    }

private:
    std::mutex m_mutex;
    std::function<void(T)> m_handler;
    std::optional<T> m_value;
    bool m_abandoned = false;
    bool m_handedOver = false;
};

template <typename T>
QCoro::Task<T> reportWhenLate(QCoro::Task<T> call, std::shared_ptr<LateOutcome<T>> late)
{
    T value = co_await std::move(call);
    late->arrived(value);
    co_return value;
}

} // namespace detail

// Runs one device call against a time limit. Gives the call's value, or rethrows the call's own
// error unchanged; fails with transferInterrupted when the limit passes first or when `stop` is
// requested while waiting. Exactly one outcome reaches the caller. The call itself is not
// stopped: it runs on to its end, and a value that arrives after the caller stopped waiting goes
// to `onLateValue` (a late session is closed there) or is dropped. A caller already stopped on
// entry fails at once and the call is not made.
template <typename T>
QCoro::Task<T> callWithinLimit(std::function<QCoro::Task<T>()> call, std::chrono::milliseconds limit,
                               std::stop_token stop, std::function<void(T)> onLateValue = {})
{
    if (stop.stop_requested()) {
        throw QuillbarrowError::transferInterrupted();
    }
    auto late = std::make_shared<detail::LateOutcome<T>>(std::move(onLateValue));
    QFuture<T> future = toFuture(detail::reportWhenLate(call(), late));
    try {
        co_return co_await withTimeLimit(future, limit, std::move(stop));
    } catch (const TimeLimitExceeded&) {
    } catch (const WaitStopped&) {
    }
    late->abandon();
    throw QuillbarrowError::transferInterrupted();
}

} // namespace quillbarrow
