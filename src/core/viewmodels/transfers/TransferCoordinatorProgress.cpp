#include "TransferCoordinator.h"
#include "async/ResumeOnce.h"

#include <QDateTime>
#include <QPointer>

#include <atomic>

namespace quillbarrow {

struct TransferCoordinator::KeptProgress {
    // Written by the transfer's thread; -1 until the first report.
    std::atomic<qint64> latest{-1};
    // Read and written on the main thread only.
    qint64 published = -1;
};

void TransferCoordinator::setProgressClock(TransferProgressUpdateGate::Clock clock)
{
    m_progressClock = std::move(clock);
}

void TransferCoordinator::setProgressPublishInterval(std::chrono::milliseconds interval)
{
    m_progressTimer->setInterval(interval);
}

void TransferCoordinator::publishKeptProgress()
{
    bool changed = false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto entry = m_keptProgress.begin(); entry != m_keptProgress.end();) {
        const std::shared_ptr<KeptProgress> kept = entry.value().lock();
        if (!kept) {
            entry = m_keptProgress.erase(entry);
            continue;
        }
        const qint64 latest = kept->latest.load(std::memory_order_relaxed);
        if (latest >= 0 && latest != kept->published) {
            kept->published = latest;
            try {
                m_transferQueue->updateProgress(entry.key(), latest, now);
                changed = true;
            } catch (const QuillbarrowError&) {
                // The job is no longer running (cancelling, finished or gone): the count is stale.
            }
        }
        ++entry;
    }
    if (m_keptProgress.isEmpty()) {
        m_progressTimer->stop();
    }
    if (changed) {
        refreshTransferJobs();
    }
}

TransferProgressFunction TransferCoordinator::makeProgressFunction(const TransferID& jobID,
                                                                   std::optional<qint64> expectedTotal,
                                                                   std::shared_ptr<TransferByteLimit> byteLimit)
{
    auto token = cancellationToken(jobID);
    if (!byteLimit) {
        byteLimit = std::make_shared<TransferByteLimit>(std::nullopt);
    }
    if (expectedTotal && *expectedTotal > 0) {
        auto kept = std::make_shared<KeptProgress>();
        m_keptProgress.insert(jobID, kept);
        if (!m_progressTimer->isActive()) {
            m_progressTimer->start();
        }
        return [token, byteLimit, kept](qint64 bytesDone, std::optional<qint64>) {
            // Counted even when cancelled: the last count tells what a finished transfer wrote.
            if (!byteLimit->record(bytesDone) || token->isCancelled()) {
                return false;
            }
            kept->latest.store(bytesDone, std::memory_order_relaxed);
            return true;
        };
    }

    // What an accepted report needs on the main thread. Made here, on the main thread, and only
    // read there: the transfer's thread merely passes the shared pointer on.
    struct Publisher {
        std::shared_ptr<TransferQueue> queue;
        QPointer<TransferCoordinator> coordinator;
        TransferID jobID;
    };
    auto publisher =
        std::make_shared<const Publisher>(Publisher{m_transferQueue, QPointer<TransferCoordinator>(this), jobID});
    auto throttle = std::make_shared<TransferProgressUpdateGate>(TransferProgressUpdateGate::standardMinimumInterval,
                                                                 TransferProgressUpdateGate::standardMinimumByteDelta,
                                                                 m_progressClock);

    return [token, byteLimit, throttle, expectedTotal, publisher](qint64 bytesDone, std::optional<qint64>) {
        if (!byteLimit->record(bytesDone) || token->isCancelled()) {
            return false;
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
