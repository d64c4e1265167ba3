#include "DeviceBrowserViewModel.h"
#include "domain/LocalPath.h"

#include "async/ResumeOnce.h"
#include "domain/BrowserSort.h"
#include "viewmodels/transfers/LocalFileOperations.h"
#include "viewmodels/transfers/LocalNameSanitizer.h"
#include "viewmodels/transfers/TransferProgressUpdateGate.h"

#include <QDateTime>
#include <QPointer>

#include <algorithm>

namespace quillbarrow {

namespace {

// Ends a job of this path in the queue. The queue outlives the view model, so this runs also
// when the view model has gone: a job left running would keep the queue busy for ever.
void settle(TransferQueue& queue, const TransferID& id, const std::optional<QuillbarrowError>& failure)
{
    try {
        if (failure) {
            queue.fail(id, *failure);
        } else {
            queue.complete(id);
        }
    } catch (const QuillbarrowError&) {
        // The job has gone from the queue meanwhile: there is nothing left to record.
    }
}

std::optional<QuillbarrowError> errorOf(const std::exception_ptr& failure)
{
    return failure ? std::optional(QuillbarrowError::fromException(failure)) : std::nullopt;
}

} // namespace

QCoro::Task<> DeviceBrowserViewModel::uploadFiles(QList<QUrl> urls)
{
    if (!m_currentPage || !m_session) {
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    // The batch goes where it began, even if the user moves on meanwhile.
    const DirectoryPage target = *m_currentPage;
    const std::shared_ptr<DeviceSession> session = m_session;
    bool anyFailed = false;
    for (const QUrl& url : urls) {
        const bool uploaded = co_await uploadOne(url, target, session);
        if (!self) {
            co_return;
        }
        anyFailed = anyFailed || !uploaded;
    }
    // The listing that follows must not wipe out the news that a file did not go.
    const std::stop_token stop = lifetime();
    std::function<QCoro::Task<>(std::shared_ptr<DeviceSession>)> nothingToChange;
    co_await relistInFrame(std::move(nothingToChange), stop, anyFailed);
}

QCoro::Task<bool> DeviceBrowserViewModel::uploadOne(QUrl url, DirectoryPage page, std::shared_ptr<DeviceSession> session)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<TransferQueue> queue = m_transferQueue;
    const QString source = LocalPath::fromUrl(url);
    const QString name = url.fileName();
    const TransferJob job =
        enqueueStartedJob(TransferDirection::macToAndroid, name, LocalFileOperations::attributeBytes(source));
    TransferProgressFunction progress = makeProgressFunction(job.id, job.totalBytes);
    std::exception_ptr failure;
    try {
        co_await session->uploadFile(source, name, page.parentID, page.storage.id, std::move(progress));
    } catch (...) {
        failure = std::current_exception();
    }
    const std::optional<QuillbarrowError> error = errorOf(failure);
    settle(*queue, job.id, error);
    if (!self) {
        co_return false;
    }
    if (error) {
        present(*error);
    } else {
        m_logger.info(QStringLiteral("uploaded ") + name);
    }
    refreshTransferJobs();
    co_return !error;
}

QCoro::Task<> DeviceBrowserViewModel::downloadFile(RemoteItem item, QUrl folder)
{
    if (item.kind != RemoteItemKind::file) {
        co_return;
    }
    const std::shared_ptr<DeviceSession> session = m_session;
    if (!session || refuseItemsOfAnotherSession({item})) {
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<TransferQueue> queue = m_transferQueue;
    const QString folderPath = LocalPath::fromUrl(folder);
    // A device may name a file "..", "a/b" or "../x": joined as it is, that would write elsewhere.
    const QString destination =
        LocalFileOperations::childPath(folderPath, LocalNameSanitizer::localName(item.name));
    const TransferJob job = enqueueStartedJob(TransferDirection::androidToMac, item.name, item.size);
    std::exception_ptr failure;
    if (LocalNameSanitizer::liesInside(destination, folderPath)) {
        TransferProgressFunction progress = makeProgressFunction(job.id, job.totalBytes);
        try {
            co_await session->downloadFile(item.id, destination, std::move(progress));
        } catch (...) {
            failure = std::current_exception();
        }
    } else {
        // The file's own fault, not the session's: no conflicting application is looked for.
        failure = std::make_exception_ptr(QuillbarrowError::transferFailed(
            QStringLiteral("Could not save ") + item.name + QStringLiteral(" in ") + folderPath +
            QStringLiteral(": its name would place it outside the destination folder.")));
    }
    const std::optional<QuillbarrowError> error = errorOf(failure);
    settle(*queue, job.id, error);
    if (!self) {
        co_return;
    }
    if (error) {
        present(*error, TransferDirection::androidToMac);
    } else {
        m_logger.info(QStringLiteral("downloaded ") + item.name + QStringLiteral(" -> ") + destination);
    }
    refreshTransferJobs();
}

void DeviceBrowserViewModel::clearCompletedTransfers()
{
    QList<TransferJob> unfinished = m_transferQueue->allJobs();
    unfinished.removeIf([](const TransferJob& job) { return job.state.isTerminal(); });
    setTransferJobs(std::move(unfinished));
}

TransferJob DeviceBrowserViewModel::enqueueStartedJob(TransferDirection direction, QString displayName,
                                                      std::optional<qint64> totalBytes)
{
    const TransferJob job = m_transferQueue->enqueue(TransferJob(TransferID::create(), direction,
                                                                 TransferPurpose::fileTransfer, std::move(displayName),
                                                                 totalBytes, TransferState::queued(), 0));
    try {
        m_transferQueue->start(job.id, QDateTime::currentDateTimeUtc());
    } catch (const QuillbarrowError&) {
        // A job just queued starts; should it not, it is still reported as it ends.
    }
    refreshTransferJobs();
    return job;
}

TransferProgressFunction DeviceBrowserViewModel::makeProgressFunction(const TransferID& jobID,
                                                                      std::optional<qint64> expectedTotal)
{
    // Made here on the main thread and only read there; the transfer's thread passes it on.
    struct Report {
        std::shared_ptr<TransferQueue> queue;
        QPointer<DeviceBrowserViewModel> viewModel;
        TransferID jobID;
    };
    auto report = std::make_shared<const Report>(Report{m_transferQueue, QPointer<DeviceBrowserViewModel>(this), jobID});
    auto throttle = std::make_shared<TransferProgressUpdateGate>(TransferProgressUpdateGate::standardMinimumInterval,
                                                                 TransferProgressUpdateGate::standardMinimumByteDelta);
    // The total the device reports is not used: the throttle measures against the job's own.
    return [report, throttle, expectedTotal](qint64 bytesDone, std::optional<qint64>) {
        if (throttle->shouldPublish(bytesDone, expectedTotal)) {
            postToMainThread([report, bytesDone] {
                try {
                    // Only a running job takes it: a report that arrives after the end changes nothing.
                    report->queue->updateProgress(report->jobID, bytesDone, QDateTime::currentDateTimeUtc());
                } catch (const QuillbarrowError&) {
                }
                if (report->viewModel) {
                    report->viewModel->refreshTransferJobs();
                }
            });
        }
        return true; // these transfers are never stopped from here
    };
}

void DeviceBrowserViewModel::refreshTransferJobs()
{
    QList<TransferJob> jobs = m_transferQueue->allJobs();
    // Jobs of one name keep the order they were queued in.
    std::sort(jobs.begin(), jobs.end(), [](const TransferJob& a, const TransferJob& b) { return a.sequence < b.sequence; });
    const QCollator collator = naturalNameCollator();
    std::stable_sort(jobs.begin(), jobs.end(), [&collator](const TransferJob& a, const TransferJob& b) {
        return collator.compare(a.displayName, b.displayName) < 0;
    });
    setTransferJobs(std::move(jobs));
}

} // namespace quillbarrow
