#include "CoordinatorHarness.h"
#include "viewmodels/transfers/TransferByteLimit.h"
#include "viewmodels/transfers/TransferProgressUpdateGate.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <limits>
#include <thread>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

constexpr qint64 step = TransferProgressUpdateGate::standardMinimumByteDelta;
constexpr qint64 largest = std::numeric_limits<qint64>::max();
constexpr qint64 smallest = std::numeric_limits<qint64>::min();

// A throttle with the standard values on a clock the test moves by hand.
struct PinnedThrottle {
    std::shared_ptr<std::chrono::nanoseconds> now = std::make_shared<std::chrono::nanoseconds>(5s);
    TransferProgressUpdateGate gate{TransferProgressUpdateGate::standardMinimumInterval,
                                    TransferProgressUpdateGate::standardMinimumByteDelta, [now = now] { return *now; }};
    void advance(std::chrono::nanoseconds by) { *now += by; }
};

} // namespace

TEST(TransferProgressUpdateGate, TheFirstReportAlwaysPasses)
{
    PinnedThrottle throttle;
    EXPECT_TRUE(throttle.gate.shouldPublish(0, std::nullopt));
    EXPECT_FALSE(throttle.gate.shouldPublish(0, std::nullopt));
}

TEST(TransferProgressUpdateGate, TimeLetsAReportThroughFrom120Milliseconds)
{
    PinnedThrottle throttle;
    ASSERT_TRUE(throttle.gate.shouldPublish(0, std::nullopt));
    int passed = 0;
    for (int report = 1; report <= 24; ++report) { // every 10 ms for 240 ms
        throttle.advance(10ms);
        passed += throttle.gate.shouldPublish(report * 1000, std::nullopt) ? 1 : 0;
    }
    EXPECT_EQ(passed, 2);

    throttle.advance(119ms);
    EXPECT_FALSE(throttle.gate.shouldPublish(30'000, std::nullopt));
    throttle.advance(1ms); // exactly 120 ms after the last one let through
    EXPECT_TRUE(throttle.gate.shouldPublish(31'000, std::nullopt));
}

TEST(TransferProgressUpdateGate, FourMebibytesLetAReportThroughAtOnce)
{
    PinnedThrottle throttle;
    ASSERT_TRUE(throttle.gate.shouldPublish(1000, std::nullopt));
    throttle.advance(1ms);
    EXPECT_FALSE(throttle.gate.shouldPublish(1000 + step - 1, std::nullopt));
    EXPECT_TRUE(throttle.gate.shouldPublish(1000 + step, std::nullopt));
    EXPECT_FALSE(throttle.gate.shouldPublish(1000 + step + 1, std::nullopt));
    // A count below the last accepted one never passes on bytes.
    EXPECT_FALSE(throttle.gate.shouldPublish(0, std::nullopt));
}

TEST(TransferProgressUpdateGate, ReachingTheExpectedSizeLetsAReportThrough)
{
    PinnedThrottle throttle;
    ASSERT_TRUE(throttle.gate.shouldPublish(0, 5000));
    throttle.advance(1ms);
    EXPECT_FALSE(throttle.gate.shouldPublish(4999, 5000));
    EXPECT_TRUE(throttle.gate.shouldPublish(5000, 5000));
    throttle.advance(1ms);
    EXPECT_FALSE(throttle.gate.shouldPublish(6000, 5000))
        << "a device sending more than it listed does not have every later report published";
    EXPECT_TRUE(throttle.gate.shouldPublish(5000 + 4'194'304, 5000)) << "past the size, bytes count as before";

    // A report that jumps past the size is the one that reaches it.
    PinnedThrottle jumping;
    ASSERT_TRUE(jumping.gate.shouldPublish(0, 5000));
    jumping.advance(1ms);
    EXPECT_TRUE(jumping.gate.shouldPublish(7000, 5000));

    // With no size, or a size of 0, only time and bytes count.
    PinnedThrottle unsized;
    ASSERT_TRUE(unsized.gate.shouldPublish(0, 0));
    unsized.advance(1ms);
    EXPECT_FALSE(unsized.gate.shouldPublish(10, 0));
    EXPECT_FALSE(unsized.gate.shouldPublish(20, std::nullopt));
}

TEST(TransferProgressUpdateGate, HugeByteCountsDoNotOverflow)
{
    // Run under UBSan as well: a signed difference here would be undefined.
    PinnedThrottle throttle;
    ASSERT_TRUE(throttle.gate.shouldPublish(smallest, std::nullopt));
    throttle.advance(1ms);
    EXPECT_TRUE(throttle.gate.shouldPublish(largest, std::nullopt)) << "the whole range is a huge advance";
    throttle.advance(1ms);
    EXPECT_FALSE(throttle.gate.shouldPublish(smallest, std::nullopt)) << "going back across the range";
    EXPECT_FALSE(throttle.gate.shouldPublish(-1, largest));
    EXPECT_TRUE(throttle.gate.shouldPublish(largest, largest));

    PinnedThrottle fromTop;
    ASSERT_TRUE(fromTop.gate.shouldPublish(largest - 1, std::nullopt));
    fromTop.advance(1ms);
    EXPECT_FALSE(fromTop.gate.shouldPublish(largest, std::nullopt));
}

TEST(TransferByteLimit, StopsOnlyAboveTheCeilingAndRemembersTheLargestCount)
{
    TransferByteLimit limit(TransferCoordinator::maximumOpenFileBytes);
    EXPECT_TRUE(limit.record(100'000'000));
    EXPECT_FALSE(limit.record(100'000'001));
    EXPECT_TRUE(limit.record(50));
    EXPECT_EQ(limit.observedBytes(), 100'000'001);

    TransferByteLimit unlimited(std::nullopt);
    EXPECT_TRUE(unlimited.record(largest));
    EXPECT_EQ(unlimited.observedBytes(), largest);
}

// The callback as a device session calls it: on its own worker thread.
TEST(ProgressCallback, ReportsFromAWorkerThreadReachTheQueueAndThePanel)
{
    CoordinatorFixture fixture;
    auto now = std::make_shared<std::chrono::nanoseconds>(1s);
    fixture.coordinator.setProgressClock([now] { return *now; });
    const TransferID id = fixture.addJob(QStringLiteral("movie.mp4"), 10 * step);
    fixture.queue->start(id, QDateTime::currentDateTimeUtc());
    const TransferProgressFunction progress = fixture.coordinator.makeProgressFunction(id, 10 * step, nullptr);

    std::vector<bool> answers;
    std::thread worker([&] {
        answers.push_back(progress(100, 999));                 // first: published
        answers.push_back(progress(200, 999));                 // throttled, and the device's total is ignored
        answers.push_back(progress(100 + step, std::nullopt)); // a step of bytes: published
    });
    worker.join();
    EXPECT_EQ(answers, (std::vector<bool>{true, true, true}));

    EXPECT_TRUE(processEventsUntil([&] {
        return fixture.coordinator.transferJobs().size() == 1 &&
               fixture.coordinator.transferJobs().front().state.progress()->bytesCompleted == 100 + step;
    }));
    EXPECT_EQ(fixture.job(id).state.progress()->bytesTotal, 10 * step);
}

TEST(ProgressCallback, StopsOnceTheJobIsFlaggedWhateverTheThrottleSays)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("a"));
    fixture.queue->start(id, QDateTime::currentDateTimeUtc());
    const TransferProgressFunction progress = fixture.coordinator.makeProgressFunction(id, std::nullopt, nullptr);
    EXPECT_TRUE(progress(0, std::nullopt));

    fixture.coordinator.cancelTransfer(id);
    EXPECT_EQ(fixture.kindOf(id), TransferState::Kind::cancelling);
    bool answer = true;
    std::thread worker([&] { answer = progress(step * 5, std::nullopt); });
    worker.join();
    EXPECT_FALSE(answer);
}

TEST(ProgressCallback, StopsAboveTheByteLimitAndRecordsWhatItSaw)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("big.bin"));
    auto limit = std::make_shared<TransferByteLimit>(TransferCoordinator::maximumOpenFileBytes);
    const TransferProgressFunction progress = fixture.coordinator.makeProgressFunction(id, std::nullopt, limit);
    EXPECT_TRUE(progress(100'000'000, std::nullopt));
    EXPECT_FALSE(progress(100'000'001, std::nullopt));
    EXPECT_EQ(limit->observedBytes(), 100'000'001);
}

TEST(ProgressCallback, AReportArrivingAfterTheJobEndedChangesNothing)
{
    CoordinatorFixture fixture;
    const TransferID id = fixture.addJob(QStringLiteral("a"));
    fixture.queue->start(id, QDateTime::currentDateTimeUtc());
    const TransferProgressFunction progress = fixture.coordinator.makeProgressFunction(id, std::nullopt, nullptr);
    ASSERT_TRUE(progress(500, std::nullopt)); // published later, on the main thread
    fixture.queue->complete(id);
    fixture.coordinator.refreshTransferJobs();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(fixture.job(id).state, TransferState::completed());
}

TEST(ProgressCallback, AReportOutlivingTheCoordinatorIsHarmless)
{
    auto fixture = std::make_unique<CoordinatorFixture>();
    const TransferID id = fixture->addJob(QStringLiteral("a"));
    fixture->queue->start(id, QDateTime::currentDateTimeUtc());
    std::shared_ptr<TransferQueue> queue = fixture->queue;
    const TransferProgressFunction progress = fixture->coordinator.makeProgressFunction(id, std::nullopt, nullptr);
    ASSERT_TRUE(progress(700, std::nullopt));
    fixture.reset();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(queue->job(id)->state.progress()->bytesCompleted, 700) << "the queue still takes the report";
}

// What the panel shows of reports from a worker thread while the job runs, and that no report
// outlives the job's end: a transfer of known size shows its latest count at the progress
// interval; one of unknown size shows what the throttle lets through.
TEST(ProgressCallback, ThePanelFollowsTheWorkersReportsUntilTheJobEnds)
{
    struct Row {
        const char* name;
        std::optional<qint64> total;
        qint64 shownWhileRunning;
    };
    const Row rows[] = {
        {"known size: the latest count", 10 * step, 300},
        {"unknown size: the first report, the rest throttled", std::nullopt, 100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CoordinatorFixture fixture;
        fixture.coordinator.setProgressPublishInterval(1ms);
        auto now = std::make_shared<std::chrono::nanoseconds>(1s);
        fixture.coordinator.setProgressClock([now] { return *now; });
        const TransferID id = fixture.addJob(QStringLiteral("clip.mp4"), row.total);
        fixture.queue->start(id, QDateTime::currentDateTimeUtc());
        const TransferProgressFunction progress = fixture.coordinator.makeProgressFunction(id, row.total, nullptr);

        std::thread([&] {
            for (const qint64 bytes : {100, 200, 300}) {
                EXPECT_TRUE(progress(bytes, std::nullopt));
            }
        }).join();
        EXPECT_TRUE(processEventsUntil([&] {
            const std::optional<TransferProgress> shown = fixture.coordinator.transferJobs().front().state.progress();
            return shown && shown->bytesCompleted == row.shownWhileRunning;
        }));

        fixture.queue->complete(id);
        fixture.coordinator.refreshTransferJobs();
        std::thread([&] { EXPECT_TRUE(progress(10 * step, std::nullopt)); }).join();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        EXPECT_EQ(fixture.coordinator.transferJobs().front().state, TransferState::completed());
    }
}
