#pragma once

#include "domain/QuillbarrowError.h"
#include "domain/TransferID.h"
#include "domain/TransferJob.h"
#include "logging/AppLogger.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <optional>
#include <unordered_map>

namespace quillbarrow {

// The one authoritative table of transfer jobs: it hands out the sequence numbers that order the
// transfer panel and is the only place where a job's state changes. A main-thread object shared
// by the transfer coordinator and the device browser; nothing in it waits, so its operations are
// plain calls and each transition is atomic with respect to every other caller.
//
// Every operation that takes an id and throws throws pathNotFound for an unknown id and then
// changes nothing. Operations that return a job return it as stored after the call, also when the
// call left it unchanged. A job in a terminal state never changes state again.
//
// Every change is announced by jobChanged, so that a mirror of the table can follow it job by job
// instead of copying and sorting the whole table after each step.
class TransferQueue : public QObject {
    Q_OBJECT

public:
    explicit TransferQueue(AppLogger logger, QObject* parent = nullptr);

    // Stores a copy under its id with the next sequence number (replacing any job with that id)
    // and logs "queued transfer " followed by its display name. Never throws.
    TransferJob enqueue(TransferJob job);
    // Queued only: running with 0 bytes done, the job's total and both dates = `at`; any other
    // state throws unsupportedOperation.
    TransferJob start(const TransferID& id, const QDateTime& at);
    // Running only: takes the bytes done and the update date, keeps the total and start date; any
    // other state throws unsupportedOperation. The count is not checked against anything.
    TransferJob updateProgress(const TransferID& id, qint64 bytesCompleted, const QDateTime& at);
    // Queued becomes awaiting confirmation; every other state is left as it is.
    TransferJob awaitConfirmation(const TransferID& id);
    // Awaiting confirmation becomes queued; every other state is left as it is.
    TransferJob resumeQueued(const TransferID& id);
    // Any non-terminal state becomes completed.
    TransferJob complete(const TransferID& id);
    // Any non-terminal state becomes completed, shown under `displayName` (the name a copy got
    // where the one it was queued under turned out taken).
    TransferJob complete(const TransferID& id, const QString& displayName);
    // A job not yet finished is shown under `displayName` from now on (the name Keep Both gave the
    // file it writes); its state is left as it is, and so is a finished job.
    TransferJob rename(const TransferID& id, const QString& displayName);
    // Any non-terminal state becomes failed with the error.
    TransferJob fail(const TransferID& id, const QuillbarrowError& error);
    // Queued and awaiting confirmation become cancelled; running becomes cancelling with the same
    // progress; cancelling and terminal states are left as they are.
    TransferJob requestCancellation(const TransferID& id);
    // Any non-terminal state becomes cancelled.
    TransferJob cancel(const TransferID& id);

    // Every job, in no promised order (sort by sequence).
    QList<TransferJob> allJobs() const;
    std::optional<TransferJob> job(const TransferID& id) const;
    // Some job is running or cancelling.
    bool hasRunningJobs() const;
    // Some job is queued, awaiting confirmation, running or cancelling.
    bool hasActiveJobs() const;
    // Every non-terminal job becomes cancelled; returns all jobs, in no promised order.
    QList<TransferJob> cancelAll();
    // Drops the job; an unknown id is ignored.
    void remove(const TransferID& id);
    // Drops every failed, completed and cancelled job; returns the jobs that remain.
    QList<TransferJob> clearTerminal();

Q_SIGNALS:
    // A job was enqueued, changed or removed; emitted after the change, once per job and call.
    // Calls that leave a job as it is announce nothing. Receivers must not call back into the
    // queue from the slot: the operation that announces is still under way.
    void jobChanged(const quillbarrow::TransferID& id);

private:
    TransferJob& stored(const TransferID& id);
    // Stores the state and announces the change.
    void setState(TransferJob& job, TransferState state);

    std::unordered_map<TransferID, TransferJob> m_jobs;
    qint64 m_nextSequence = 0;
    AppLogger m_logger;
};

} // namespace quillbarrow
