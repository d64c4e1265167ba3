#include "TransferCoordinator.h"

#include "XdgDefaultApplicationOpener.h"
#include "domain/LocalPath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

namespace quillbarrow {

namespace {

QString defaultOpenedFilesCacheDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty()) {
        base = QDir::tempPath();
    }
    return QDir(base).filePath(QStringLiteral("Quillbarrow/Opened Files"));
}

QString keptCopiesFolderFor(const std::optional<QString>& openedFilesCacheDirectory)
{
    if (!openedFilesCacheDirectory) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (!data.isEmpty()) {
            return QDir(data).filePath(QStringLiteral("Quillbarrow/Replaced Files"));
        }
    }
    const QString cache = openedFilesCacheDirectory ? *openedFilesCacheDirectory : defaultOpenedFilesCacheDirectory();
    return QFileInfo(cache).path() + QStringLiteral("/Replaced Files");
}

QString stagingRecordFileFor(const std::optional<QString>& openedFilesCacheDirectory)
{
    if (!openedFilesCacheDirectory) {
        return StagingRecord::standardFile();
    }
    return QFileInfo(*openedFilesCacheDirectory).path() + QStringLiteral("/staging-items");
}

} // namespace

TransferCoordinator::TransferCoordinator(Clipboard* clipboard, std::shared_ptr<TransferQueue> transferQueue,
                                         AppLogger logger, std::optional<QString> openedFilesCacheDirectory,
                                         QObject* parent)
    : QObject(parent), m_clipboard(clipboard), m_transferQueue(std::move(transferQueue)), m_logger(std::move(logger)),
      m_openedFilesCacheDirectory(openedFilesCacheDirectory ? *openedFilesCacheDirectory
                                                            : defaultOpenedFilesCacheDirectory()),
      m_keptCopiesFolder(keptCopiesFolderFor(openedFilesCacheDirectory)),
      m_stagingRecord(std::make_shared<StagingRecord>(stagingRecordFileFor(openedFilesCacheDirectory))),
      m_defaultApplicationOpener(std::make_shared<XdgDefaultApplicationOpener>())
{
    Q_ASSERT(m_clipboard != nullptr);
    Q_ASSERT(m_transferQueue != nullptr);
    connect(m_clipboard, &Clipboard::contentsChanged, this, &TransferCoordinator::clipboardChanged);
    connect(m_transferQueue.get(), &TransferQueue::jobChanged, this,
            [this](const TransferID& id) { m_changedJobIDs.insert(id); });
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(TransferProgressUpdateGate::standardMinimumInterval));
    connect(m_progressTimer, &QTimer::timeout, this, &TransferCoordinator::publishKeptProgress);
    // Jobs queued before the coordinator existed show with the first refresh, as every later one.
    for (const TransferJob& job : m_transferQueue->allJobs()) {
        m_changedJobIDs.insert(job.id);
    }
}

TransferCoordinator::~TransferCoordinator()
{
    // A workflow waiting for an answer resumes with none and, finding the coordinator gone, ends.
    if (m_conflictAnswer) {
        m_conflictAnswer->abandon();
    }
}

// ---- Errors -------------------------------------------------------------------------------

void TransferCoordinator::reportError(const QuillbarrowError& error)
{
    m_logger.error(error.userMessage() + QLatin1Char(' ') + error.technicalDetails());
    setLastError(error);
}

void TransferCoordinator::setLastError(QuillbarrowError error, std::optional<TransferDirection> direction)
{
    m_lastError = std::move(error);
    m_lastErrorDirection = direction;
    Q_EMIT lastErrorChanged();
}

bool TransferCoordinator::refuseItemsOfAnotherSession(const QList<RemoteItem>& items,
                                                      const std::shared_ptr<DeviceSession>& session)
{
    const bool foreign = std::any_of(items.cbegin(), items.cend(), [&session](const RemoteItem& item) {
        return item.listedIn && !item.listedIn->isSession(session);
    });
    if (foreign) {
        // Their ids may name other objects in the session lent: nothing of them is downloaded.
        reportError(QuillbarrowError::deviceChanged());
    }
    return foreign;
}

void TransferCoordinator::clearLastError()
{
    m_lastError.reset();
    Q_EMIT lastErrorChanged();
}

// ---- Jobs ---------------------------------------------------------------------------------

void TransferCoordinator::enqueueTransfer(const TransferJob& job)
{
    m_transferQueue->enqueue(job);
    m_cancellationTokens.insert(job.id, std::make_shared<TransferCancellationToken>());
}

void TransferCoordinator::refreshTransferJobs()
{
    applyQueueChanges();
    Q_EMIT transferJobsChanged();
}

void TransferCoordinator::applyQueueChanges()
{
    // Sequence numbers only grow, so a job enqueued since the last refresh (or enqueued again
    // under its id) comes after every row kept: the list stays sorted by appending it.
    QList<TransferJob> added;
    QSet<TransferID> dropped;
    for (const TransferID& id : std::as_const(m_changedJobIDs)) {
        std::optional<TransferJob> job = m_transferQueue->job(id);
        const auto row = m_jobRows.constFind(id);
        if (row != m_jobRows.constEnd() && job && m_transferJobs.at(*row).sequence == job->sequence) {
            m_transferJobs[*row] = std::move(*job);
            continue;
        }
        if (row != m_jobRows.constEnd()) {
            dropped.insert(id);
        }
        if (job) {
            added.append(std::move(*job));
        }
    }
    m_changedJobIDs.clear();

    if (!dropped.isEmpty()) {
        m_transferJobs.removeIf([&dropped](const TransferJob& job) { return dropped.contains(job.id); });
        m_jobRows.clear();
        for (qsizetype row = 0; row < m_transferJobs.size(); ++row) {
            m_jobRows.insert(m_transferJobs.at(row).id, row);
        }
    }
    std::sort(added.begin(), added.end(),
              [](const TransferJob& a, const TransferJob& b) { return a.sequence < b.sequence; });
    // No reserve: reserving the exact size on every refresh would copy the whole list each time.
    for (TransferJob& job : added) {
        m_jobRows.insert(job.id, m_transferJobs.size());
        m_transferJobs.append(std::move(job));
    }
}

bool TransferCoordinator::canStartTransfer(const TransferID& id) const
{
    const std::optional<TransferJob> job = m_transferQueue->job(id);
    if (!job || job->state.kind() != TransferState::Kind::queued) {
        return false;
    }
    const auto token = m_cancellationTokens.constFind(id);
    return token == m_cancellationTokens.constEnd() || !(*token)->isCancelled();
}

std::shared_ptr<TransferCancellationToken> TransferCoordinator::cancellationToken(const TransferID& id)
{
    auto found = m_cancellationTokens.find(id);
    if (found == m_cancellationTokens.end()) {
        found = m_cancellationTokens.insert(id, std::make_shared<TransferCancellationToken>());
    }
    return *found;
}

void TransferCoordinator::dropCancellationToken(const TransferID& id)
{
    m_cancellationTokens.remove(id);
}

void TransferCoordinator::finishCancelled(const TransferID& jobID, const QString& logLine)
{
    try {
        m_transferQueue->cancel(jobID);
    } catch (const QuillbarrowError&) {
        // The job is gone; its ending still goes on.
    }
    if (!logLine.isEmpty()) {
        m_logger.info(logLine);
    }
    dropCancellationToken(jobID);
    refreshTransferJobs();
}

void TransferCoordinator::finishFailed(const TransferID& jobID, const QuillbarrowError& error)
{
    const std::optional<TransferJob> job = m_transferQueue->job(jobID);
    try {
        m_transferQueue->fail(jobID, error);
    } catch (const QuillbarrowError&) {
        // The job is gone; its ending still goes on.
    }
    setLastError(error, job ? std::optional(job->direction) : std::nullopt);
    dropCancellationToken(jobID);
    refreshTransferJobs();
}

bool TransferCoordinator::markStarted(const TransferID& jobID)
{
    try {
        m_transferQueue->start(jobID, QDateTime::currentDateTimeUtc());
    } catch (const QuillbarrowError&) {
        dropCancellationToken(jobID);
        return false;
    }
    return true;
}

void TransferCoordinator::finishCompleted(const TransferID& jobID, const QString& placedName,
                                          QLatin1StringView what)
{
    try {
        m_transferQueue->complete(jobID, LocalPath::shown(placedName));
    } catch (const QuillbarrowError&) {
        // The job is gone; its ending still goes on.
    }
    if (!what.isEmpty()) {
        m_logger.info(what, placedName);
    }
    dropCancellationToken(jobID);
    refreshTransferJobs();
}

void TransferCoordinator::showUnderName(const TransferID& jobID, const QString& name)
{
    try {
        m_transferQueue->rename(jobID, LocalPath::shown(name));
    } catch (const QuillbarrowError&) {
        // The job is gone: there is no row to name.
        return;
    }
    refreshTransferJobs();
}

AsyncGate::AcquireAwaiter TransferCoordinator::acquireTransferWorkflow()
{
    return m_workflowGate.acquire();
}

QCoro::Task<AsyncGate::Lease> TransferCoordinator::queueForTransferWorkflow()
{
    // The task starts at once and waits in the gate's line; `this` is not touched after the wait.
    AsyncGate::Lease lease = co_await acquireTransferWorkflow();
    co_return std::move(lease);
}

QuillbarrowError TransferCoordinator::replacingBatchItemRefused(const QString& name, TransferDirection direction)
{
    QString reason = QStringLiteral("Could not replace ") + name +
                     QStringLiteral(": items copied by this same paste would be lost.");
    return direction == TransferDirection::macToAndroid ? QuillbarrowError::transferFailed(std::move(reason))
                                                  : QuillbarrowError::localFileFailed(std::move(reason));
}

// ---- Cancelling and cleaning up -----------------------------------------------------------

void TransferCoordinator::cancelTransfer(const TransferID& id)
{
    m_logger.info(QStringLiteral("cancellation requested for transfer ") + id.description());
    if (const auto token = m_cancellationTokens.constFind(id); token != m_cancellationTokens.constEnd()) {
        (*token)->cancel();
    }
    try {
        m_transferQueue->requestCancellation(id);
    } catch (const QuillbarrowError&) {
        // The queue no longer knows the job: only its flag could be set.
    }
    if (m_pendingConflict && m_pendingConflict->transferID == id) {
        finishConflict(ConflictOutcome{std::nullopt});
    }
    refreshTransferJobs();
}

void TransferCoordinator::cancelTransfers(const QList<TransferID>& ids)
{
    for (const TransferID& id : ids) {
        if (const auto token = m_cancellationTokens.constFind(id); token != m_cancellationTokens.constEnd()) {
            (*token)->cancel();
        }
        try {
            m_transferQueue->cancel(id);
        } catch (const QuillbarrowError&) {
            // Already removed from the queue: nothing to mark.
        }
    }
    refreshTransferJobs();
}

void TransferCoordinator::requestCancellationForAllTransfers()
{
    for (const auto& token : std::as_const(m_cancellationTokens)) {
        token->cancel();
    }
}

void TransferCoordinator::cancelAllTransfers()
{
    requestCancellationForAllTransfers();
    ++m_cancelAllCount;
    m_transferQueue->cancelAll();
    refreshTransferJobs();
}

void TransferCoordinator::clearCompletedTransfers()
{
    const QList<TransferJob> remaining = m_transferQueue->clearTerminal();
    QSet<TransferID> remainingIDs;
    for (const TransferJob& job : std::as_const(remaining)) {
        remainingIDs.insert(job.id);
    }
    m_cancellationTokens.removeIf([&](const auto& entry) { return !remainingIDs.contains(entry.key()); });
    refreshTransferJobs();
}

} // namespace quillbarrow
