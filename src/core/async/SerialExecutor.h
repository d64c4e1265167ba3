#pragma once

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <exception>
#include <memory>
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

    // Blocks until every job submitted so far has run.
    void waitForIdle();

private:
    QThreadPool m_pool;
};

} // namespace quillbarrow
