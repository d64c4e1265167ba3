#include "RunTask.h"
#include "async/SerialExecutor.h"

#include <QCoro/QCoroFuture>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <memory>
#include <mutex>
#include <semaphore>
#include <vector>

using namespace quillbarrow;
using quillbarrow::testing::runTask;

namespace {

struct DeviceGone : std::runtime_error {
    DeviceGone() : std::runtime_error("device gone") {}
};

// Holds an executor's worker busy until the last queued job goes away, then lets the executor go.
// The pool takes its line away from the worker before it deletes the jobs in it, so nothing
// queued can run first: no sleep decides who comes first.
struct QueueDropWatch {
    std::latch running{1};
    std::binary_semaphore dropped{0};
    std::atomic<bool> releasedByDrop = false;

    // Returns once the worker is held; the watchdog only keeps a faulty executor from hanging.
    void hold(SerialExecutor& executor)
    {
        executor.run([this] {
            running.count_down();
            releasedByDrop = dropped.try_acquire_for(std::chrono::seconds(30));
        });
        running.wait();
    }
    // Queues a job whose going away releases the worker, and destroys the executor with its line.
    void drop(std::unique_ptr<SerialExecutor>& executor)
    {
        executor->run([token = std::shared_ptr<void>(nullptr, [this](void*) { dropped.release(); })] {});
        executor.reset();
        EXPECT_TRUE(releasedByDrop);
    }
};

QCoro::Task<int> awaitOnExecutor(SerialExecutor* executor, QThread** resumedOn)
{
    auto job = [] { return 41 + 1; };
    QFuture<int> future = executor->run(job);
    const int value = co_await future;
    *resumedOn = QThread::currentThread();
    co_return value;
}

QCoro::Task<QString> catchJobError(SerialExecutor* executor, QThread** resumedOn)
{
    auto job = []() -> int { throw DeviceGone(); };
    QFuture<int> future = executor->run(job);
    try {
        co_await future;
    } catch (const DeviceGone& error) {
        *resumedOn = QThread::currentThread();
        co_return QString::fromUtf8(error.what());
    }
    co_return QString();
}

QCoro::Task<bool> voidJobError(SerialExecutor* executor)
{
    auto job = [] { throw DeviceGone(); };
    QFuture<void> future = executor->run(job);
    try {
        co_await future;
    } catch (const DeviceGone&) {
        co_return true;
    }
    co_return false;
}

} // namespace

TEST(SerialExecutor, RunsJobsInSubmissionOrderOnOneWorkerThread)
{
    SerialExecutor executor;
    std::mutex mutex;
    std::vector<int> order;
    std::vector<QThread*> threads;
    QList<QFuture<void>> futures;
    for (int i = 0; i < 50; ++i) {
        futures.append(executor.run([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.push_back(QThread::currentThread());
        }));
    }
    for (auto& future : futures) {
        future.waitForFinished();
    }
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[i], i);
        EXPECT_EQ(threads[i], threads[0]);
    }
    EXPECT_NE(threads[0], QThread::currentThread());
}

TEST(SerialExecutor, AwaitingCoroutineResumesOnMainThreadWithResult)
{
    SerialExecutor executor;
    QThread* resumedOn = nullptr;
    EXPECT_EQ(runTask(awaitOnExecutor(&executor, &resumedOn)), 42);
    EXPECT_EQ(resumedOn, QThread::currentThread());
}

TEST(SerialExecutor, AwaitingCoroutineGetsTheJobsOwnExceptionType)
{
    SerialExecutor executor;
    QThread* resumedOn = nullptr;
    EXPECT_EQ(runTask(catchJobError(&executor, &resumedOn)), QStringLiteral("device gone"));
    EXPECT_EQ(resumedOn, QThread::currentThread());
    EXPECT_TRUE(runTask(voidJobError(&executor)));
}

TEST(SerialExecutor, JobDroppedBeforeItRanSettlesWithAnError)
{
    QueueDropWatch watch;
    auto executor = std::make_unique<SerialExecutor>();
    watch.hold(*executor);
    QFuture<int> dropped = executor->run([] { return 7; });
    watch.drop(executor);
    ASSERT_TRUE(dropped.isFinished());
    // Qt flags a future that holds an exception as cancelled too; what matters is that it
    // carries an error to rethrow, so an awaiting coroutine gets JobDropped, not a crash.
    EXPECT_THROW(dropped.result(), JobDropped);
    auto awaitDropped = [](QFuture<int> future) -> QCoro::Task<bool> {
        try {
            co_await future;
        } catch (const JobDropped&) {
            co_return true;
        }
        co_return false;
    };
    EXPECT_TRUE(runTask(awaitDropped(dropped)));
}

namespace {

// What an awaited call() ended with, and on which thread the coroutine went on.
struct CallEnding {
    QString outcome;
    QThread* resumedOn = nullptr;
};

QCoro::Task<CallEnding> awaitCall(SerialExecutor* executor, std::function<int()> job)
{
    CallEnding ending;
    try {
        PoolCall<int> call = executor->call(job);
        ending.outcome = QString::number(co_await std::move(call));
    } catch (const DeviceGone& error) {
        ending.outcome = QString::fromUtf8(error.what());
    } catch (const JobDropped&) {
        ending.outcome = QStringLiteral("dropped");
    }
    ending.resumedOn = QThread::currentThread();
    co_return ending;
}

} // namespace

// An awaited call goes on on the main thread with the job's result, its own exception, or
// JobDropped when the executor goes away before the job ran.
TEST(SerialExecutor, AwaitedCallResumesOnTheMainThreadWithHowTheJobEnded)
{
    SerialExecutor executor;
    const CallEnding result = runTask(awaitCall(&executor, [] { return 42; }));
    EXPECT_EQ(result.outcome, QStringLiteral("42"));
    EXPECT_EQ(result.resumedOn, QThread::currentThread());
    const CallEnding failed = runTask(awaitCall(&executor, []() -> int { throw DeviceGone(); }));
    EXPECT_EQ(failed.outcome, QStringLiteral("device gone"));
    EXPECT_EQ(failed.resumedOn, QThread::currentThread());

    QueueDropWatch watch;
    auto doomed = std::make_unique<SerialExecutor>();
    watch.hold(*doomed);
    QCoro::Task<CallEnding> waiting = awaitCall(doomed.get(), [] { return 7; });
    watch.drop(doomed);
    const CallEnding dropped = runTask(std::move(waiting));
    EXPECT_EQ(dropped.outcome, QStringLiteral("dropped"));
    EXPECT_EQ(dropped.resumedOn, QThread::currentThread());
}
