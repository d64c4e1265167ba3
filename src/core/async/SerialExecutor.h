#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QMetaObject>
#include <QPromise>
#include <QThreadPool>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace quillbarrow {

// Thrown into the future of a job that the executor dropped before it could run
// (the executor was destroyed with work still queued).
class JobDropped : public std::runtime_error {
public:
    JobDropped() : std::runtime_error("The job was dropped before it ran.") {}
};

// Runs a blocking job on a thread pool and gives a future that always settles: with the job's
// result, with the job's own exception (type kept), or, when the pool drops the job before it
// ran, with JobDropped; never as a bare cancelled future, which an awaiting coroutine can't
// survive.
template <typename Job>
auto runOnThreadPool(QThreadPool& pool, Job job, int priority = 0) -> QFuture<std::invoke_result_t<Job&>>
{
    using Result = std::invoke_result_t<Job&>;
    struct Settlement {
        QPromise<Result> promise;
        bool finished = false;
        ~Settlement()
        {
            if (!finished) {
                promise.setException(std::make_exception_ptr(JobDropped()));
                promise.finish();
            }
        }
    };
    auto settle = std::make_shared<Settlement>();
    QFuture<Result> future = settle->promise.future();
    settle->promise.start();
    pool.start(
        [settle, job = std::move(job)]() mutable {
            try {
                if constexpr (std::is_void_v<Result>) {
                    job();
                } else {
                    settle->promise.addResult(job());
                }
            } catch (...) {
                settle->promise.setException(std::current_exception());
            }
            settle->finished = true;
            settle->promise.finish();
        },
        priority);
    return future;
}

// A job on a thread pool, awaited by a main-thread coroutine: the coroutine resumes on the main
// thread, by one queued call, with the job's result, the job's own exception, or JobDropped when
// the pool drops the job before it ran. Cheaper than awaiting a QFuture, whose watcher costs
// several posted events per job: for the calls made once per file of a transfer.
template <typename Result>
class PoolCall {
public:
    template <typename Job>
    PoolCall(QThreadPool& pool, Job job) : m_pool(&pool), m_state(std::make_shared<State>())
    {
        m_state->job = std::move(job);
    }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiting)
    {
        // Resumes the waiting coroutine once, whether the job ran or was dropped.
        struct Settlement {
            Settlement(std::shared_ptr<State> state, std::coroutine_handle<> waiting)
                : state(std::move(state)), waiting(waiting)
            {
            }
            Settlement(const Settlement&) = delete;
            Settlement& operator=(const Settlement&) = delete;
            std::shared_ptr<State> state;
            std::coroutine_handle<> waiting;
            ~Settlement()
            {
                if (!state->ran) {
                    state->failure = std::make_exception_ptr(JobDropped());
                }
                QMetaObject::invokeMethod(QCoreApplication::instance(), [waiting = waiting] { waiting.resume(); },
                                          Qt::QueuedConnection);
            }
        };
        auto settlement = std::make_shared<Settlement>(m_state, waiting);
        m_pool->start([settlement] {
            State& state = *settlement->state;
            try {
                if constexpr (std::is_void_v<Result>) {
                    state.job();
                } else {
                    state.value.emplace(state.job());
                }
            } catch (...) {
                state.failure = std::current_exception();
            }
            state.job = nullptr; // what it holds goes on the worker, as with a future's job
            state.ran = true;
        });
    }

    Result await_resume()
    {
        if (m_state->failure) {
            std::rethrow_exception(m_state->failure);
        }
        if constexpr (!std::is_void_v<Result>) {
            return std::move(*m_state->value);
        }
    }

private:
    struct Empty {};
    struct State {
        std::function<Result()> job;
        std::optional<std::conditional_t<std::is_void_v<Result>, Empty, Result>> value;
        std::exception_ptr failure;
        bool ran = false;
    };

    QThreadPool* m_pool;
    std::shared_ptr<State> m_state;
};

// Runs blocking jobs one at a time, in submission order, on one private worker thread.
// The future of each job carries the job's result or the job's own exception (type kept),
// and always settles: a dropped job settles with JobDropped, never as a cancelled future.
class SerialExecutor {
public:
    SerialExecutor();
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    template <typename Job>
    auto run(Job job) -> QFuture<std::invoke_result_t<Job&>>
    {
        return runOnThreadPool(m_pool, std::move(job));
    }

    // The same, awaited directly (see PoolCall): for jobs that a coroutine awaits at once.
    template <typename Job>
    auto call(Job job) -> PoolCall<std::invoke_result_t<Job&>>
    {
        return PoolCall<std::invoke_result_t<Job&>>(m_pool, std::move(job));
    }

    // Blocks until every job submitted so far has run.
    void waitForIdle();

private:
    QThreadPool m_pool;
};

} // namespace quillbarrow
