#include "TransferCoordinator.h"
#include "async/ResumeOnce.h"

#include <QDateTime>
#include <QPointer>

namespace quillbarrow {

void TransferCoordinator::setProgressClock(TransferProgressUpdateGate::Clock clock)
{
    m_progressClock = std::move(clock);
}

TransferProgressFunction TransferCoordinator::makeProgressFunction(const TransferID& jobID,
                                                                   std::optional<qint64> expectedTotal,
                                                                   std::shared_ptr<TransferByteLimit> byteLimit)
{
    // What an accepted report needs on the main thread. Made here, on the main thread, and only
    // read there: the transfer's thread merely passes the shared pointer on.
    struct Publisher {
        std::shared_ptr<TransferQueue> queue;
        QPointer<TransferCoordinator> coordinator;
        TransferID jobID;
    };
    auto publisher =
        std::make_shared<const Publisher>(Publisher{m_transferQueue, QPointer<TransferCoordinator>(this), jobID});
    auto token = cancellationToken(jobID);
    auto throttle = std::make_shared<TransferProgressUpdateGate>(TransferProgressUpdateGate::standardMinimumInterval,
                                                                 TransferProgressUpdateGate::standardMinimumByteDelta,
                                                                 m_progressClock);
    if (!byteLimit) {
        byteLimit = std::make_shared<TransferByteLimit>(std::nullopt);
    }
    const bool sizeKnown = expectedTotal && *expectedTotal > 0;
    return [token, byteLimit, throttle, expectedTotal, sizeKnown, publisher](qint64 bytesDone,
                                                                             std::optional<qint64>) {
        if (token->isCancelled()) {
            return false;
        }
        if (!byteLimit->record(bytesDone)) {
            return false;
        }
        // Every byte is there: what the job shows next is its end (completed, failed or
        // cancelled), which the transfer's own return publishes, so this report is not.
        if (sizeKnown && bytesDone >= *expectedTotal) {
            return true;
        }
        if (!throttle->shouldPublish(bytesDone, expectedTotal)) {
            return true;
        }
        postToMainThread([publisher, bytesDone] {
            try {
                publisher->queue->updateProgress(publisher->jobID, bytesDone, QDateTime::currentDateTimeUtc());
            } catch (const QuillbarrowError&) {
                // The job is no longer running (cancelling, finished or gone): the report is stale.
            }
            if (publisher->coordinator) {
                publisher->coordinator->refreshTransferJobs();
            }
        });
        return true;
    };
}

} // namespace quillbarrow
