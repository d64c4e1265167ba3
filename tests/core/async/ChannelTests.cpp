#include "RunTask.h"
#include "async/AsyncChannel.h"
#include "async/Sleep.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace quillbarrow;
using namespace std::chrono_literals;
using quillbarrow::testing::processEventsUntil;
using quillbarrow::testing::runTask;

namespace {

QCoro::Task<std::vector<int>> readAll(AsyncChannel<int>* channel)
{
    std::vector<int> values;
    while (auto value = co_await channel->next()) {
        values.push_back(*value);
    }
    co_return values;
}

QCoro::Task<std::vector<int>> readCount(AsyncChannel<int>* channel, int count)
{
    std::vector<int> values;
    while (static_cast<int>(values.size()) < count) {
        auto value = co_await channel->next();
        if (!value) {
            break;
        }
        values.push_back(*value);
    }
    co_return values;
}

// A poller in the shape of the device monitors: pushes, then sleeps until the consumer leaves.
QCoro::Task<> poller(AsyncChannel<int>::Sender sender, int* polls, bool* ended)
{
    const std::stop_token stop = sender.stopToken();
    while (!stop.stop_requested()) {
        sender.push(++*polls);
        co_await sleepFor(1h, stop);
    }
    *ended = true;
}

QCoro::Task<bool> nextEndsOnStop(AsyncChannel<int>* channel, std::stop_token stop)
{
    auto value = co_await channel->next(stop);
    co_return !value.has_value();
}

} // namespace

TEST(AsyncChannel, ALateConsumerReceivesEveryValueInOrder)
{
    AsyncChannel<int> channel;
    auto sender = channel.sender();
    std::thread producer([sender] {
        for (int i = 0; i < 1000; ++i) {
            sender.push(i);
        }
        sender.finish();
    });
    producer.join(); // everything is pushed before anyone reads
    const std::vector<int> values = runTask(readAll(&channel));
    ASSERT_EQ(values.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(values[i], i);
    }
}

TEST(AsyncChannel, ValuesPushedFromAnotherThreadWakeAWaitingConsumer)
{
    AsyncChannel<int> channel;
    auto sender = channel.sender();
    std::thread producer([sender] {
        for (int i = 0; i < 200; ++i) {
            sender.push(i);
            if (i % 50 == 0) {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    const std::vector<int> values = runTask(readCount(&channel, 200));
    producer.join();
    ASSERT_EQ(values.size(), 200u);
    EXPECT_EQ(values.front(), 0);
    EXPECT_EQ(values.back(), 199);
}

TEST(AsyncChannel, DroppingTheChannelStopsItsProducer)
{
    int polls = 0;
    bool ended = false;
    bool terminated = false;
    AsyncChannel<int>::Sender sender = [&] {
        auto channel = std::make_unique<AsyncChannel<int>>();
        channel->setOnTermination([&] { terminated = true; });
        auto s = channel->sender();
        auto running = poller(s, &polls, &ended);
        Q_UNUSED(running)
        EXPECT_EQ(runTask(readCount(channel.get(), 1)), std::vector<int>{1});
        return s;
    }();
    EXPECT_TRUE(terminated);
    EXPECT_TRUE(sender.stopToken().stop_requested());
    EXPECT_FALSE(sender.push(99));
    EXPECT_FALSE(sender.isOpen());
    EXPECT_TRUE(processEventsUntil([&] { return ended; }));
    EXPECT_EQ(polls, 1);
}

TEST(AsyncChannel, StopEndsAWaitWithoutAValue)
{
    AsyncChannel<int> channel;
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(2ms);
        stop.request_stop();
    });
    EXPECT_TRUE(runTask(nextEndsOnStop(&channel, stop.get_token())));
    stopper.join();
    // The channel still works afterwards.
    channel.sender().push(4);
    EXPECT_EQ(runTask(readCount(&channel, 1)), std::vector<int>{4});
}

// Once the stream has ended, from either side, a push is refused and its value never reaches the
// consumer: a late producer must learn that nobody will read what it sends.
TEST(AsyncChannel, APushAfterTheStreamEndedIsRefusedAndNeverRead)
{
    struct Case {
        const char* name;
        bool finishedByProducer;
    };
    for (const Case& c : {Case{"after finish()", true}, Case{"after the consumer left", false}}) {
        SCOPED_TRACE(c.name);
        auto channel = std::make_unique<AsyncChannel<int>>();
        const AsyncChannel<int>::Sender sender = channel->sender();
        EXPECT_TRUE(sender.push(1));
        if (c.finishedByProducer) {
            sender.finish();
        } else {
            channel.reset();
        }
        EXPECT_FALSE(sender.push(2));
        EXPECT_FALSE(sender.isOpen());
        if (channel) {
            EXPECT_EQ(channel->bufferedCount(), 1u);
            EXPECT_EQ(runTask(readAll(channel.get())), std::vector<int>{1});
        }
    }
}
