#include "RunTask.h"
#include "async/AsyncGate.h"
#include "async/OneShot.h"
#include "async/Sleep.h"
#include "async/TaskSlot.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace quillbarrow;
using namespace std::chrono_literals;
using quillbarrow::testing::processEventsUntil;
using quillbarrow::testing::runTask;

namespace {

QCoro::Task<> holdGate(AsyncGate* gate, int id, std::vector<int>* order, std::chrono::milliseconds hold)
{
    AsyncGate::Lease lease = co_await gate->acquire();
    EXPECT_TRUE(static_cast<bool>(lease));
    order->push_back(id);
    co_await sleepFor(hold);
    order->push_back(-id);
}

QCoro::Task<bool> tryGate(AsyncGate* gate, std::stop_token stop, bool* resumed)
{
    AsyncGate::Lease lease = co_await gate->acquire(stop);
    *resumed = true;
    co_return static_cast<bool>(lease);
}

QCoro::Task<std::optional<int>> awaitAnswer(OneShot<int> answer, std::stop_token stop)
{
    co_return co_await answer.wait(stop);
}

QCoro::Task<bool> sleepTask(std::chrono::milliseconds duration, std::stop_token stop)
{
    co_return co_await sleepFor(duration, stop);
}

} // namespace

TEST(AsyncGate, HandsOverInFirstInFirstOutOrderAcrossWaits)
{
    AsyncGate gate;
    std::vector<int> order;
    auto first = holdGate(&gate, 1, &order, 5ms);
    auto second = holdGate(&gate, 2, &order, 1ms);
    auto third = holdGate(&gate, 3, &order, 0ms);
    auto fourth = holdGate(&gate, 4, &order, 0ms);
    Q_UNUSED(first) Q_UNUSED(second) Q_UNUSED(third) Q_UNUSED(fourth)
    EXPECT_TRUE(processEventsUntil([&] { return order.size() == 8; }));
    EXPECT_EQ(order, (std::vector<int>{1, -1, 2, -2, 3, -3, 4, -4}));
    EXPECT_FALSE(gate.isHeld());
}

TEST(AsyncGate, ReleaseDoesNotLetALaterArrivalBargeIn)
{
    AsyncGate gate;
    std::vector<int> order;
    auto first = holdGate(&gate, 1, &order, 2ms);
    auto second = holdGate(&gate, 2, &order, 0ms);
    // A third arrives exactly when the first releases: it must still queue behind the second.
    QTimer::singleShot(2, [&] { auto third = holdGate(&gate, 3, &order, 0ms); Q_UNUSED(third) });
    Q_UNUSED(first) Q_UNUSED(second)
    EXPECT_TRUE(processEventsUntil([&] { return order.size() == 6; }));
    EXPECT_EQ(order, (std::vector<int>{1, -1, 2, -2, 3, -3}));
}

TEST(AsyncGate, StopWithdrawsAWaiterWithoutErrorAndKeepsTheQueue)
{
    AsyncGate gate;
    std::vector<int> order;
    auto holder = holdGate(&gate, 1, &order, 5ms);
    std::stop_source stop;
    bool resumed = false;
    bool acquired = true;
    auto waiting = [&]() -> QCoro::Task<> { acquired = co_await tryGate(&gate, stop.get_token(), &resumed); };
    auto withdrawn = waiting();
    auto after = holdGate(&gate, 2, &order, 0ms);
    Q_UNUSED(holder) Q_UNUSED(withdrawn) Q_UNUSED(after)
    EXPECT_EQ(gate.waiterCount(), 2u);
    stop.request_stop();
    EXPECT_TRUE(processEventsUntil([&] { return resumed; }));
    EXPECT_FALSE(acquired);
    EXPECT_TRUE(processEventsUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, -1, 2, -2}));
}

TEST(AsyncGate, DestroyedGateGivesQueuedWaitersAnEmptyLease)
{
    auto gate = std::make_unique<AsyncGate>();
    AsyncGate::Lease held;
    auto take = [&]() -> QCoro::Task<> { held = co_await gate->acquire(); };
    runTask(take());
    ASSERT_TRUE(static_cast<bool>(held));
    bool resumed = false;
    bool acquired = true;
    auto waiting = [&]() -> QCoro::Task<> { acquired = co_await tryGate(gate.get(), {}, &resumed); };
    auto waiter = waiting();
    Q_UNUSED(waiter)
    gate.reset();
    EXPECT_TRUE(processEventsUntil([&] { return resumed; }));
    EXPECT_FALSE(acquired);
    held.release(); // releasing after the gate is gone is harmless
}

TEST(OneShot, DeliversTheFirstAnswerOnly)
{
    OneShot<int> answer;
    QTimer::singleShot(1, [answer] {
        EXPECT_TRUE(answer.fulfil(7));
        EXPECT_FALSE(answer.fulfil(8));
    });
    EXPECT_EQ(runTask(awaitAnswer(answer, {})), std::optional<int>(7));
    // An answer given before anyone waits is kept.
    OneShot<int> early;
    early.fulfil(3);
    EXPECT_EQ(runTask(awaitAnswer(early, {})), std::optional<int>(3));
}

TEST(OneShot, StopOrAbandonEndTheWaitWithoutAValue)
{
    OneShot<int> answer;
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(1ms);
        stop.request_stop();
    });
    EXPECT_EQ(runTask(awaitAnswer(answer, stop.get_token())), std::nullopt);
    stopper.join();

    OneShot<int> abandoned;
    QTimer::singleShot(1, [abandoned] { abandoned.abandon(); });
    EXPECT_EQ(runTask(awaitAnswer(abandoned, {})), std::nullopt);
    EXPECT_FALSE(abandoned.fulfil(1));
}

TEST(Sleep, EndsEarlyWithoutErrorWhenStopIsRequested)
{
    std::stop_source stop;
    QTimer::singleShot(1, [&] { stop.request_stop(); });
    EXPECT_FALSE(runTask(sleepTask(std::chrono::hours(1), stop.get_token()), 10s));
    EXPECT_TRUE(runTask(sleepTask(1ms, {})));
    std::stop_source already;
    already.request_stop();
    EXPECT_FALSE(runTask(sleepTask(std::chrono::hours(1), already.get_token())));
}

TEST(TaskSlot, StartingANewTaskStopsThePreviousOne)
{
    TaskSlot slot;
    const std::stop_token first = slot.start();
    const quint64 firstGeneration = slot.generation();
    EXPECT_TRUE(slot.isCurrent(firstGeneration));
    const std::stop_token second = slot.start();
    EXPECT_TRUE(first.stop_requested());
    EXPECT_FALSE(second.stop_requested());
    EXPECT_FALSE(slot.isCurrent(firstGeneration));
    slot.cancel();
    EXPECT_TRUE(second.stop_requested());
    EXPECT_FALSE(slot.isCurrent(slot.generation()));
}
