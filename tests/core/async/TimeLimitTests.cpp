#include "RunTask.h"
#include "async/SerialExecutor.h"
#include "async/WithTimeLimit.h"

#include <QCoro/QCoroFuture>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <thread>

using namespace quillbarrow;
using namespace std::chrono_literals;
using quillbarrow::testing::runTask;

namespace {

QCoro::Task<int> limited(QFuture<int> future, std::chrono::milliseconds limit)
{
    co_return co_await withTimeLimit(std::move(future), limit);
}

QCoro::Task<int> slowTask(std::stop_token stop, std::atomic<bool>* finished)
{
    co_await sleepFor(30ms, stop);
    finished->store(true);
    co_return 5;
}

struct RaceResult {
    int resumptions = 0;
    bool timedOut = false;
    int value = 0;
};

QCoro::Task<> raceOnce(QFuture<int> future, RaceResult* result)
{
    try {
        result->value = co_await withTimeLimit(std::move(future), 1ms);
    } catch (const TimeLimitExceeded&) {
        result->timedOut = true;
    }
    ++result->resumptions;
}

struct DeviceGone : std::runtime_error {
    DeviceGone() : std::runtime_error("device gone") {}
};

QCoro::Task<> limitedVoid(QFuture<void> future)
{
    co_await withTimeLimit(std::move(future), 5s);
}

QCoro::Task<> failingTask()
{
    co_await sleepFor(1ms, {});
    throw DeviceGone();
}

QCoro::Task<> limitedVoidTask()
{
    co_await withTimeLimit(failingTask(), 5s);
}

} // namespace

// The call's own error reaches the caller unchanged, whatever the call's result type: a void call
// that failed must never pass for one that succeeded.
TEST(WithTimeLimit, PassesTheCallsOwnErrorThroughForEveryKindOfCall)
{
    SerialExecutor executor;
    const auto throwsValue = []() -> int { throw DeviceGone(); };
    const auto throwsNothing = [] { throw DeviceGone(); };
    EXPECT_THROW(runTask(limited(executor.run(throwsValue), 5s)), DeviceGone) << "a call with a result";
    EXPECT_THROW(runTask(limitedVoid(executor.run(throwsNothing))), DeviceGone) << "a call without a result";
    EXPECT_THROW(runTask(limitedVoidTask()), DeviceGone) << "a task without a result";
    bool ran = false;
    EXPECT_NO_THROW(runTask(limitedVoid(executor.run([&ran] { ran = true; }))));
    EXPECT_TRUE(ran);
}

TEST(WithTimeLimit, GivesTheResultWhenTheCallIsInTime)
{
    SerialExecutor executor;
    EXPECT_EQ(runTask(limited(executor.run([] { return 3; }), 5s)), 3);
}

TEST(WithTimeLimit, ExpiredLimitThrowsWhileTheCallRunsOn)
{
    SerialExecutor executor;
    std::latch release(1);
    std::atomic<bool> ran{false};
    QFuture<int> future = executor.run([&] {
        release.wait();
        ran = true;
        return 1;
    });
    EXPECT_THROW(runTask(limited(future, 10ms)), TimeLimitExceeded);
    EXPECT_FALSE(ran.load());
    release.count_down();
    future.waitForFinished();
    EXPECT_TRUE(ran.load()); // the call was not cancelled by the limit
    EXPECT_EQ(future.result(), 1);
}

TEST(WithTimeLimit, LimitsATaskWhichThenRunsToItsEnd)
{
    std::atomic<bool> finished{false};
    std::stop_source never;
    auto task = slowTask(never.get_token(), &finished);
    auto limitedTask = withTimeLimit(std::move(task), 2ms);
    EXPECT_THROW(runTask(std::move(limitedTask)), TimeLimitExceeded);
    EXPECT_TRUE(quillbarrow::testing::processEventsUntil([&] { return finished.load(); }));
}

TEST(WithTimeLimit, ARaceAtTheLimitResumesExactlyOnce)
{
    // The call settles on another thread at about the moment the timer fires; whichever
    // wins, the awaiting coroutine must run on exactly once.
    for (int round = 0; round < 40; ++round) {
        QPromise<int> promise;
        promise.start();
        RaceResult result;
        std::thread settler([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(900 + 10 * round));
            promise.addResult(9);
            promise.finish();
        });
        runTask(raceOnce(promise.future(), &result));
        settler.join();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(result.resumptions, 1) << "round " << round;
        EXPECT_TRUE(result.timedOut || result.value == 9) << "round " << round;
    }
}

namespace {

QCoro::Task<int> limitedUntilStopped(QFuture<int> future, std::chrono::milliseconds limit, std::stop_token stop)
{
    co_return co_await withTimeLimit(std::move(future), limit, std::move(stop));
}

} // namespace

TEST(WithTimeLimit, AStopRequestEndsTheWaitAtOnceWhileTheCallRunsOn)
{
    QPromise<int> promise;
    promise.start();
    std::stop_source stop;
    QTimer::singleShot(1, [&] { stop.request_stop(); });
    // The limit is far away: only the stop request can end the wait within the watchdog.
    EXPECT_THROW(runTask(limitedUntilStopped(promise.future(), 1h, stop.get_token()), 5s), WaitStopped);
    EXPECT_FALSE(promise.future().isFinished());
    promise.addResult(4);
    promise.finish();
}

TEST(WithTimeLimit, AnAlreadyStoppedCallerFailsWithoutWaiting)
{
    QPromise<int> promise;
    promise.start();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(runTask(limitedUntilStopped(promise.future(), 1h, stop.get_token()), 5s), WaitStopped);
    promise.finish();
}

TEST(WithTimeLimit, ASettledCallWinsOverAStopRequest)
{
    QPromise<int> promise;
    promise.start();
    promise.addResult(8);
    promise.finish();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(runTask(limitedUntilStopped(promise.future(), 1h, stop.get_token())), 8);
}
