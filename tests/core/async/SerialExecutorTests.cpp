#include "RunTask.h"
#include "async/SerialExecutor.h"

#include <QCoro/QCoroFuture>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <mutex>
#include <vector>

using namespace quillbarrow;
using quillbarrow::testing::runTask;

namespace {

struct DeviceGone : std::runtime_error {
    DeviceGone() : std::runtime_error("device gone") {}
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
    std::latch started(1);
    std::latch release(1);
    QFuture<int> dropped;
    {
        auto executor = std::make_unique<SerialExecutor>();
        auto blocker = executor->run([&] {
            started.count_down();
            release.wait();
        });
        started.wait();
        dropped = executor->run([] { return 7; });
        std::thread releaser([&] {
            QThread::msleep(5);
            release.count_down();
        });
        executor.reset(); // drops the queued job, waits for the running one
        releaser.join();
    }
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

    std::latch started(1);
    std::latch release(1);
    auto doomed = std::make_unique<SerialExecutor>();
    QFuture<void> blocker = doomed->run([&] {
        started.count_down();
        release.wait();
    });
    started.wait();
    QCoro::Task<CallEnding> waiting = awaitCall(doomed.get(), [] { return 7; });
    std::thread releaser([&] {
        QThread::msleep(5);
        release.count_down();
    });
    doomed.reset(); // drops the queued job, waits for the running one
    releaser.join();
    const CallEnding dropped = runTask(std::move(waiting));
    EXPECT_EQ(dropped.outcome, QStringLiteral("dropped"));
    EXPECT_EQ(dropped.resumedOn, QThread::currentThread());
}
