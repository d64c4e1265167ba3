#pragma once

#include "Sleep.h"
#include "WaitRegistration.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QPromise>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <coroutine>
#include <exception>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <type_traits>

namespace quillbarrow {

// Thrown by withTimeLimit when the limit passes before the call settles.
class TimeLimitExceeded : public std::runtime_error {
public:
    explicit TimeLimitExceeded(std::chrono::milliseconds limit)
        : std::runtime_error("The call did not finish within " + std::to_string(limit.count()) + " ms."),
          m_limit(limit)
    {
    }
    std::chrono::milliseconds limit() const { return m_limit; }

private:
    std::chrono::milliseconds m_limit;
};

// Thrown by withTimeLimit when the caller's stop token is requested before the call settles.
class WaitStopped : public std::runtime_error {
public:
    WaitStopped() : std::runtime_error("The wait was stopped before the call settled.") {}
};

namespace detail {

// Suspends until the future settles, a precise timer expires or a stop is requested, whichever
// comes first; exactly one of them resumes the coroutine, which learns which one it was.
template <typename T>
class FutureRace {
public:
    enum Outcome { futureWon = 1, timerWon = 2, stopped = 3 };

    FutureRace(QFuture<T> future, std::chrono::milliseconds limit, std::stop_token stop)
        : m_future(std::move(future)), m_limit(limit), m_stop(std::move(stop)), m_state(std::make_shared<State>())
    {
    }

    bool await_ready() const { return m_future.isFinished() || m_stop.stop_requested(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        State* state = m_state.get();
        std::shared_ptr<ResumeOnce> once = state->wait.arm(handle);
        state->watcher = std::make_unique<QFutureWatcher<T>>();
        QObject::connect(state->watcher.get(), &QFutureWatcherBase::finished, [once] { once->fire(futureWon); });
        state->watcher->setFuture(m_future);
        state->timer = std::make_unique<QTimer>();
        state->timer->setSingleShot(true);
        state->timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(state->timer.get(), &QTimer::timeout, [once] { once->fire(timerWon); });
        state->timer->start(timerMilliseconds(m_limit));
        state->wait.fireOnStop(m_stop, stopped);
    }

    Outcome await_resume()
    {
        if (!m_state->wait.isArmed()) {
            // Ready without suspending: a settled future wins over a stop request.
            return m_future.isFinished() ? futureWon : stopped;
        }
        // Resumption is posted, so neither object is inside a signal emission here; the stop
        // callback's removal waits for one running on another thread.
        m_state->wait.finish();
        m_state->watcher.reset();
        m_state->timer.reset();
        return static_cast<Outcome>(m_state->wait.once()->outcome());
    }

private:
    struct State {
        WaitRegistration wait;
        std::unique_ptr<QFutureWatcher<T>> watcher;
        std::unique_ptr<QTimer> timer;
    };

    QFuture<T> m_future;
    std::chrono::milliseconds m_limit;
    std::stop_token m_stop;
    std::shared_ptr<State> m_state;
};

template <typename T>
QCoro::Task<> settlePromise(QCoro::Task<T> task, std::shared_ptr<QPromise<T>> promise)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
        } else {
            promise->addResult(co_await task);
        }
    } catch (...) {
        promise->setException(std::current_exception());
    }
    promise->finish();
}

} // namespace detail

// Runs a task on to its end on its own and hands back a future of its outcome (result or
// the task's own exception), so that it can be raced against a time limit.
template <typename T>
QFuture<T> toFuture(QCoro::Task<T> task)
{
    auto promise = std::make_shared<QPromise<T>>();
    promise->start();
    QFuture<T> future = promise->future();
    auto settling = detail::settlePromise(std::move(task), promise);
    Q_UNUSED(settling) // detached: the coroutine frame frees itself when it ends
    return future;
}

// Waits for the future for at most `limit`. When the limit passes first, throws
// TimeLimitExceeded; when `stop` is requested first (or already was), throws WaitStopped at once.
// In both cases the call itself runs on and its outcome is dropped. Otherwise gives the future's
// result or rethrows its own exception.
template <typename T>
QCoro::Task<T> withTimeLimit(QFuture<T> future, std::chrono::milliseconds limit, std::stop_token stop = {})
{
    using Race = detail::FutureRace<T>;
    const typename Race::Outcome outcome = co_await Race(future, limit, std::move(stop));
    if (outcome == Race::timerWon) {
        throw TimeLimitExceeded(limit);
    }
    if (outcome == Race::stopped) {
        throw WaitStopped();
    }
    if constexpr (std::is_void_v<T>) {
        future.waitForFinished(); // rethrows the call's exception
    } else {
        co_return future.result();
    }
}

template <typename T>
QCoro::Task<T> withTimeLimit(QCoro::Task<T> task, std::chrono::milliseconds limit, std::stop_token stop = {})
{
    QFuture<T> future = toFuture(std::move(task));
    if constexpr (std::is_void_v<T>) {
        co_await withTimeLimit(std::move(future), limit, std::move(stop));
    } else {
        co_return co_await withTimeLimit(std::move(future), limit, std::move(stop));
    }
}

} // namespace quillbarrow
