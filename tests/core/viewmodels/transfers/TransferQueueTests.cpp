#include "viewmodels/transfers/TransferQueue.h"

#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>

using namespace quillbarrow;
using Kind = TransferState::Kind;

namespace {

const QDateTime startedAt = QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC);
const QDateTime laterAt = startedAt.addSecs(5);

TransferJob newJob(const QString& name, std::optional<qint64> totalBytes = 1000)
{
    return TransferJob(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer, name,
                       totalBytes, TransferState::queued(), 99);
}

class TransferQueueTest : public ::testing::Test {
protected:
    TransferQueue queue{AppLogger(QStringLiteral("TransferQueue"))};

    // A job brought into the given state through the queue's own operations.
    TransferID jobIn(Kind kind)
    {
        const TransferID id = queue.enqueue(newJob(QStringLiteral("file"))).id;
        switch (kind) {
        case Kind::queued:
            break;
        case Kind::awaitingConfirmation:
            queue.awaitConfirmation(id);
            break;
        case Kind::running:
            queue.start(id, startedAt);
            queue.updateProgress(id, 300, laterAt);
            break;
        case Kind::cancelling:
            queue.start(id, startedAt);
            queue.updateProgress(id, 300, laterAt);
            queue.requestCancellation(id);
            break;
        case Kind::completed:
            queue.complete(id);
            break;
        case Kind::failed:
            queue.fail(id, QuillbarrowError::transferInterrupted());
            break;
        case Kind::cancelled:
            queue.cancel(id);
            break;
        }
        EXPECT_EQ(queue.job(id)->state.kind(), kind);
        return id;
    }
};

const TransferProgress progressAt300(300, 1000, startedAt, laterAt);

TransferID announcedID(const QList<QVariant>& arguments)
{
    return *static_cast<const TransferID*>(arguments.front().constData());
}

QSet<TransferID> announcedIDs(const QSignalSpy& spy)
{
    QSet<TransferID> ids;
    for (const QList<QVariant>& arguments : spy) {
        ids.insert(announcedID(arguments));
    }
    return ids;
}

} // namespace

TEST_F(TransferQueueTest, SequenceNumbersFollowEnqueueOrderAndAreNeverReused)
{
    const TransferJob first = queue.enqueue(newJob(QStringLiteral("a")));
    const TransferJob second = queue.enqueue(newJob(QStringLiteral("b")));
    const TransferJob third = queue.enqueue(newJob(QStringLiteral("c")));
    EXPECT_EQ(first.sequence, 0);
    EXPECT_EQ(second.sequence, 1);
    EXPECT_EQ(third.sequence, 2);
    EXPECT_EQ(first.state, TransferState::queued());

    queue.complete(first.id);
    QSignalSpy announced(&queue, &TransferQueue::jobChanged);
    queue.remove(second.id);
    ASSERT_EQ(announced.count(), 1) << "a removal is announced";
    EXPECT_EQ(announcedID(announced.front()), second.id);
    EXPECT_EQ(queue.clearTerminal().size(), 1);
    EXPECT_EQ(queue.enqueue(newJob(QStringLiteral("d"))).sequence, 3);

    // An id already in the table: the entry is replaced and gets a new number.
    TransferJob again = third;
    again.displayName = QStringLiteral("c again");
    announced.clear();
    const TransferJob replaced = queue.enqueue(again);
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announcedID(announced.front()), third.id);
    EXPECT_EQ(replaced.sequence, 4);
    EXPECT_EQ(queue.job(third.id)->displayName, "c again");
    EXPECT_EQ(queue.allJobs().size(), 2);
}

TEST_F(TransferQueueTest, StartingGivesAFreshProgressWithTheJobsTotal)
{
    const TransferID id = queue.enqueue(newJob(QStringLiteral("a"), 5000)).id;
    const TransferJob running = queue.start(id, startedAt);
    EXPECT_EQ(running.state, TransferState::running(TransferProgress(0, 5000, startedAt, startedAt)));

    const TransferJob updated = queue.updateProgress(id, 4000, laterAt);
    EXPECT_EQ(updated.state, TransferState::running(TransferProgress(4000, 5000, startedAt, laterAt)));
    // Not checked against anything: a shrinking count or one past the total is stored as given.
    EXPECT_EQ(queue.updateProgress(id, 9000, laterAt).state.progress()->bytesCompleted, 9000);
    EXPECT_EQ(queue.updateProgress(id, 10, laterAt).state.progress()->bytesCompleted, 10);
}

// Every operation against every state: the resulting state, or the refusal's text.
TEST_F(TransferQueueTest, TransitionTable)
{
    struct Operation {
        const char* name;
        std::function<TransferJob(TransferQueue&, const TransferID&)> apply;
    };
    const std::vector<Operation> operations{
        {"start", [](TransferQueue& q, const TransferID& id) { return q.start(id, laterAt); }},
        {"updateProgress", [](TransferQueue& q, const TransferID& id) { return q.updateProgress(id, 500, laterAt); }},
        {"awaitConfirmation", [](TransferQueue& q, const TransferID& id) { return q.awaitConfirmation(id); }},
        {"resumeQueued", [](TransferQueue& q, const TransferID& id) { return q.resumeQueued(id); }},
        {"complete", [](TransferQueue& q, const TransferID& id) { return q.complete(id); }},
        {"fail",
         [](TransferQueue& q, const TransferID& id) { return q.fail(id, QuillbarrowError::permissionDenied()); }},
        {"requestCancellation", [](TransferQueue& q, const TransferID& id) { return q.requestCancellation(id); }},
        {"cancel", [](TransferQueue& q, const TransferID& id) { return q.cancel(id); }},
    };
    const std::vector<Kind> states{
        Kind::queued,   Kind::awaitingConfirmation, Kind::running, Kind::cancelling, Kind::completed, Kind::failed,
        Kind::cancelled};
    const QString notWaiting = QStringLiteral("Only a waiting transfer can be started.");
    const QString notRunning = QStringLiteral("Progress can only be updated for a running transfer.");
    // Rows: operations; columns: states. A text is the refusal; "=" leaves the job unchanged.
    const std::vector<std::vector<std::string>> expected{
        {"running", notWaiting.toStdString(), notWaiting.toStdString(), notWaiting.toStdString(),
         notWaiting.toStdString(), notWaiting.toStdString(), notWaiting.toStdString()},
        {notRunning.toStdString(), notRunning.toStdString(), "running", notRunning.toStdString(),
         notRunning.toStdString(), notRunning.toStdString(), notRunning.toStdString()},
        {"awaitingConfirmation", "=", "=", "=", "=", "=", "="},
        {"=", "queued", "=", "=", "=", "=", "="},
        {"completed", "completed", "completed", "completed", "=", "=", "="},
        {"failed", "failed", "failed", "failed", "=", "=", "="},
        {"cancelled", "cancelled", "cancelling", "=", "=", "=", "="},
        {"cancelled", "cancelled", "cancelled", "cancelled", "=", "=", "="},
    };
    const auto kindName = [](Kind kind) {
        switch (kind) {
        case Kind::queued:
            return "queued";
        case Kind::awaitingConfirmation:
            return "awaitingConfirmation";
        case Kind::running:
            return "running";
        case Kind::cancelling:
            return "cancelling";
        case Kind::completed:
            return "completed";
        case Kind::failed:
            return "failed";
        case Kind::cancelled:
            return "cancelled";
        }
        return "?";
    };

    for (std::size_t row = 0; row < operations.size(); ++row) {
        for (std::size_t column = 0; column < states.size(); ++column) {
            SCOPED_TRACE(std::string(operations[row].name) + " on " + kindName(states[column]));
            const TransferID id = jobIn(states[column]);
            const TransferJob before = *queue.job(id);
            const std::string& want = expected[row][column];
            // Every change is announced once, for its job; what changes nothing announces nothing.
            QSignalSpy announced(&queue, &TransferQueue::jobChanged);
            try {
                const TransferJob after = operations[row].apply(queue, id);
                EXPECT_EQ(after, *queue.job(id)) << "returns the job as stored";
                if (want == "=") {
                    EXPECT_EQ(after, before);
                    EXPECT_EQ(announced.count(), 0);
                } else {
                    EXPECT_EQ(kindName(after.state.kind()), want);
                    ASSERT_EQ(announced.count(), 1);
                    EXPECT_EQ(announcedID(announced.front()), id);
                }
            } catch (const QuillbarrowError& error) {
                EXPECT_EQ(error.kind(), QuillbarrowError::Kind::unsupportedOperation);
                EXPECT_EQ(error.message().toStdString(), want);
                EXPECT_EQ(*queue.job(id), before) << "a refusal changes nothing";
                EXPECT_EQ(announced.count(), 0);
            }
        }
    }
}

TEST_F(TransferQueueTest, CancellationKeepsTheProgressShownWhenItWasAsked)
{
    const TransferID id = jobIn(Kind::running);
    EXPECT_EQ(queue.requestCancellation(id).state, TransferState::cancelling(progressAt300));
    EXPECT_THROW(queue.updateProgress(id, 900, laterAt), QuillbarrowError);
    EXPECT_EQ(queue.job(id)->state, TransferState::cancelling(progressAt300));
    // The running transfer may still end completed or failed.
    EXPECT_EQ(queue.complete(id).state, TransferState::completed());

    const TransferID failing = jobIn(Kind::cancelling);
    EXPECT_EQ(queue.fail(failing, QuillbarrowError::transferInterrupted()).state,
              TransferState::failed(QuillbarrowError::transferInterrupted()));
}

TEST_F(TransferQueueTest, UnknownIdsThrowPathNotFoundAndRemoveIgnoresThem)
{
    jobIn(Kind::queued);
    const auto before = queue.allJobs();
    const TransferID unknown = TransferID::create();
    const auto isPathNotFound = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const QuillbarrowError& error) {
            return error.kind() == QuillbarrowError::Kind::pathNotFound;
        }
        return false;
    };
    EXPECT_TRUE(isPathNotFound([&] { queue.start(unknown, startedAt); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.updateProgress(unknown, 1, startedAt); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.awaitConfirmation(unknown); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.resumeQueued(unknown); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.complete(unknown); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.fail(unknown, QuillbarrowError::pathNotFound()); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.requestCancellation(unknown); }));
    EXPECT_TRUE(isPathNotFound([&] { queue.cancel(unknown); }));
    QSignalSpy announced(&queue, &TransferQueue::jobChanged);
    queue.remove(unknown);
    EXPECT_EQ(announced.count(), 0);
    EXPECT_EQ(queue.allJobs(), before);
    EXPECT_FALSE(queue.job(unknown).has_value());
}

TEST_F(TransferQueueTest, RunningAndActiveQuestions)
{
    EXPECT_FALSE(queue.hasRunningJobs());
    EXPECT_FALSE(queue.hasActiveJobs());
    EXPECT_TRUE(queue.allJobs().isEmpty());
    EXPECT_TRUE(queue.cancelAll().isEmpty());
    EXPECT_TRUE(queue.clearTerminal().isEmpty());

    jobIn(Kind::completed);
    jobIn(Kind::failed);
    EXPECT_FALSE(queue.hasActiveJobs());
    const TransferID waiting = jobIn(Kind::awaitingConfirmation);
    EXPECT_TRUE(queue.hasActiveJobs()) << "a job waiting for a conflict answer is active";
    EXPECT_FALSE(queue.hasRunningJobs()) << "but not running";
    const TransferID stopping = jobIn(Kind::cancelling);
    EXPECT_TRUE(queue.hasRunningJobs()) << "a cancelling job still runs";

    QSignalSpy announced(&queue, &TransferQueue::jobChanged);
    const QList<TransferJob> all = queue.cancelAll();
    EXPECT_EQ(all.size(), 4);
    EXPECT_EQ(announcedIDs(announced), (QSet<TransferID>{waiting, stopping})) << "finished jobs did not change";
    EXPECT_EQ(announced.count(), 2);
    EXPECT_EQ(queue.job(waiting)->state, TransferState::cancelled());
    EXPECT_EQ(queue.job(stopping)->state, TransferState::cancelled());
    EXPECT_FALSE(queue.hasActiveJobs());
}

TEST_F(TransferQueueTest, ClearTerminalKeepsEveryUnfinishedJob)
{
    const TransferID queued = jobIn(Kind::queued);
    const TransferID waiting = jobIn(Kind::awaitingConfirmation);
    const TransferID running = jobIn(Kind::running);
    const TransferID stopping = jobIn(Kind::cancelling);
    const TransferID completed = jobIn(Kind::completed);
    const TransferID failed = jobIn(Kind::failed);
    const TransferID cancelled = jobIn(Kind::cancelled);
    QSignalSpy announced(&queue, &TransferQueue::jobChanged);
    QList<TransferID> remaining;
    for (const TransferJob& job : queue.clearTerminal()) {
        remaining.append(job.id);
    }
    EXPECT_EQ(announcedIDs(announced), (QSet<TransferID>{completed, failed, cancelled}));
    EXPECT_EQ(announced.count(), 3);
    EXPECT_EQ(remaining.size(), 4);
    for (const TransferID& id : {queued, waiting, running, stopping}) {
        EXPECT_TRUE(remaining.contains(id));
    }
    EXPECT_EQ(queue.allJobs().size(), 4);
}
