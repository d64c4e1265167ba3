#pragma once

#include "ResumeOnce.h"
#include "Sleep.h"

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

namespace detail {

// Suspends until either the future settles or a precise timer expires, whichever comes
// first; exactly one of them resumes the coroutine. True when the future won.
template <typename T>
class FutureRace {
public:
    FutureRace(QFuture<T> future, std::chrono::milliseconds limit)
        : m_future(std::move(future)), m_limit(limit), m_state(std::make_shared<State>())
    {
    }

    bool await_ready() const { return m_future.isFinished(); }

    void await_suspend(std::coroutine_handle<> handle)
    {
        State* state = m_state.get();
        state->once.arm(handle);
        state->watcher = std::make_unique<QFutureWatcher<T>>();
        QObject::connect(state->watcher.get(), &QFutureWatcherBase::finished,
                         [state] { state->once.fire(futureWon); });
        state->watcher->setFuture(m_future);
        state->timer = std::make_unique<QTimer>();
        state->timer->setSingleShot(true);
        state->timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(state->timer.get(), &QTimer::timeout, [state] { state->once.fire(timerWon); });
        state->timer->start(timerMilliseconds(m_limit));
    }

    bool await_resume()
    {
        if (!m_state->once.hasFired()) {
            return true;
        }
        // Resumption is posted, so neither object is inside a signal emission here.
        m_state->watcher.reset();
        m_state->timer.reset();
        return m_state->once.outcome() == futureWon;
    }

private:
    enum Outcome { futureWon = 1, timerWon = 2 };
    struct State {
        ResumeOnce once;
        std::unique_ptr<QFutureWatcher<T>> watcher;
        std::unique_ptr<QTimer> timer;
    };

    QFuture<T> m_future;
    std::chrono::milliseconds m_limit;
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
// TimeLimitExceeded; the call itself runs on and its outcome is dropped. Otherwise gives the
// future's result or rethrows its own exception.
template <typename T>
QCoro::Task<T> withTimeLimit(QFuture<T> future, std::chrono::milliseconds limit)
{
    const bool settled = co_await detail::FutureRace<T>(future, limit);
    if (!settled) {
        throw TimeLimitExceeded(limit);
    }
    if constexpr (std::is_void_v<T>) {
        future.waitForFinished(); // rethrows the call's exception
    } else {
        co_return future.result();
    }
}

template <typename T>
QCoro::Task<T> withTimeLimit(QCoro::Task<T> task, std::chrono::milliseconds limit)
{
    QFuture<T> future = toFuture(std::move(task));
    if constexpr (std::is_void_v<T>) {
        co_await withTimeLimit(std::move(future), limit);
    } else {
        co_return co_await withTimeLimit(std::move(future), limit);
    }
}

} // namespace quillbarrow
