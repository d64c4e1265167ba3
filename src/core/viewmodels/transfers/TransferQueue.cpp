#include "TransferQueue.h"

namespace quillbarrow {

namespace {

using Kind = TransferState::Kind;

} // namespace

TransferQueue::TransferQueue(AppLogger logger, QObject* parent) : QObject(parent), m_logger(std::move(logger)) {}

TransferJob& TransferQueue::stored(const TransferID& id)
{
    auto found = m_jobs.find(id);
    if (found == m_jobs.end()) {
        throw QuillbarrowError::pathNotFound();
    }
    return found->second;
}

void TransferQueue::setState(TransferJob& job, TransferState state)
{
    job.state = std::move(state);
    const TransferID id = job.id;
    Q_EMIT jobChanged(id);
}

TransferJob TransferQueue::enqueue(TransferJob job)
{
    job.sequence = m_nextSequence;
    ++m_nextSequence;
    m_jobs.insert_or_assign(job.id, job);
    m_logger.info(QLatin1StringView("queued transfer "), job.displayName);
    Q_EMIT jobChanged(job.id);
    return job;
}

TransferJob TransferQueue::start(const TransferID& id, const QDateTime& at)
{
    TransferJob& job = stored(id);
    if (job.state.kind() != Kind::queued) {
        throw QuillbarrowError::unsupportedOperation(QStringLiteral("Only a waiting transfer can be started."));
    }
    setState(job, TransferState::running(TransferProgress(0, job.totalBytes, at, at)));
    return job;
}

TransferJob TransferQueue::updateProgress(const TransferID& id, qint64 bytesCompleted, const QDateTime& at)
{
    TransferJob& job = stored(id);
    if (job.state.kind() != Kind::running) {
        throw QuillbarrowError::unsupportedOperation(
            QStringLiteral("Progress can only be updated for a running transfer."));
    }
    TransferProgress progress = *job.state.progress();
    progress.bytesCompleted = bytesCompleted;
    progress.updatedAt = at;
    setState(job, TransferState::running(std::move(progress)));
    return job;
}

TransferJob TransferQueue::awaitConfirmation(const TransferID& id)
{
    TransferJob& job = stored(id);
    if (job.state.kind() == Kind::queued) {
        setState(job, TransferState::awaitingConfirmation());
    }
    return job;
}

TransferJob TransferQueue::resumeQueued(const TransferID& id)
{
    TransferJob& job = stored(id);
    if (job.state.kind() == Kind::awaitingConfirmation) {
        setState(job, TransferState::queued());
    }
    return job;
}

TransferJob TransferQueue::complete(const TransferID& id)
{
    TransferJob& job = stored(id);
    if (!job.state.isTerminal()) {
        setState(job, TransferState::completed());
    }
    return job;
}

TransferJob TransferQueue::complete(const TransferID& id, const QString& displayName)
{
    TransferJob& job = stored(id);
    if (!job.state.isTerminal()) {
        job.displayName = displayName;
        setState(job, TransferState::completed());
    }
    return job;
}

TransferJob TransferQueue::rename(const TransferID& id, const QString& displayName)
{
    TransferJob& job = stored(id);
    if (!job.state.isTerminal() && job.displayName != displayName) {
        job.displayName = displayName;
        Q_EMIT jobChanged(id);
    }
    return job;
}

TransferJob TransferQueue::fail(const TransferID& id, const QuillbarrowError& error)
{
    TransferJob& job = stored(id);
    if (!job.state.isTerminal()) {
        setState(job, TransferState::failed(error));
    }
    return job;
}

TransferJob TransferQueue::requestCancellation(const TransferID& id)
{
    TransferJob& job = stored(id);
    switch (job.state.kind()) {
    case Kind::queued:
    case Kind::awaitingConfirmation:
        setState(job, TransferState::cancelled());
        break;
    case Kind::running:
        setState(job, TransferState::cancelling(*job.state.progress()));
        break;
    case Kind::cancelling:
    case Kind::completed:
    case Kind::failed:
    case Kind::cancelled:
        break;
    }
    return job;
}

TransferJob TransferQueue::cancel(const TransferID& id)
{
    TransferJob& job = stored(id);
    if (!job.state.isTerminal()) {
        setState(job, TransferState::cancelled());
    }
    return job;
}

QList<TransferJob> TransferQueue::allJobs() const
{
    QList<TransferJob> jobs;
    jobs.reserve(static_cast<qsizetype>(m_jobs.size()));
    for (const auto& entry : m_jobs) {
        jobs.append(entry.second);
    }
    return jobs;
}

std::optional<TransferJob> TransferQueue::job(const TransferID& id) const
{
    auto found = m_jobs.find(id);
    if (found == m_jobs.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool TransferQueue::hasRunningJobs() const
{
    for (const auto& entry : m_jobs) {
        const Kind kind = entry.second.state.kind();
        if (kind == Kind::running || kind == Kind::cancelling) {
            return true;
        }
    }
    return false;
}

bool TransferQueue::hasActiveJobs() const
{
    for (const auto& entry : m_jobs) {
        if (!entry.second.state.isTerminal()) {
            return true;
        }
    }
    return false;
}

QList<TransferJob> TransferQueue::cancelAll()
{
    for (auto& entry : m_jobs) {
        if (!entry.second.state.isTerminal()) {
            setState(entry.second, TransferState::cancelled());
        }
    }
    return allJobs();
}

void TransferQueue::remove(const TransferID& id)
{
    if (m_jobs.erase(id) > 0) {
        Q_EMIT jobChanged(id);
    }
}

QList<TransferJob> TransferQueue::clearTerminal()
{
    QList<TransferID> removed;
    std::erase_if(m_jobs, [&removed](const auto& entry) {
        if (!entry.second.state.isTerminal()) {
            return false;
        }
        removed.append(entry.first);
        return true;
    });
    for (const TransferID& id : std::as_const(removed)) {
        Q_EMIT jobChanged(id);
    }
    return allJobs();
}

} // namespace quillbarrow
