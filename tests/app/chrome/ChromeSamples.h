#pragma once

#include "domain/QuillbarrowError.h"
#include "domain/TransferJob.h"
#include "logging/AppLogger.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QDateTime>
#include <QUuid>

#include <memory>
#include <optional>

namespace quillbarrow::testing {

inline const QDateTime sampleStart = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

// A job of the given state; running and cancelling jobs have `done` of `progressTotal` bytes
// after `elapsedMilliseconds`.
inline TransferJob sampleJob(QString name, TransferState state, std::optional<qint64> totalBytes = 40'000'000,
                             TransferPurpose purpose = TransferPurpose::fileTransfer,
                             TransferDirection direction = TransferDirection::androidToMac, qint64 sequence = 0)
{
    return TransferJob(TransferID::create(), direction, purpose, std::move(name), totalBytes, std::move(state),
                       sequence);
}

inline TransferProgress sampleProgress(qint64 done, std::optional<qint64> total, qint64 elapsedMilliseconds)
{
    return TransferProgress(done, total, sampleStart, sampleStart.addMSecs(elapsedMilliseconds));
}

// Jobs in every state, in sequence order, as the panel scene and the panel tests use them.
inline QList<TransferJob> jobsInEveryState()
{
    QList<TransferJob> jobs{
        sampleJob(QStringLiteral("holiday-video.mp4"),
                  TransferState::running(sampleProgress(12'000'000, 40'000'000, 3'870))),
        sampleJob(QStringLiteral("scan.pdf"), TransferState::running(sampleProgress(2'500'000, 10'000'000, 1'000)),
                  10'000'000, TransferPurpose::openForViewing),
        sampleJob(QStringLiteral("notes.txt"), TransferState::queued(), 1'200, TransferPurpose::fileTransfer,
                  TransferDirection::macToAndroid),
        sampleJob(QStringLiteral("IMG_2041.jpg"), TransferState::awaitingConfirmation(), 3'400'000),
        sampleJob(QStringLiteral("backup.zip"), TransferState::cancelling(sampleProgress(5'000'000, 20'000'000, 2'000)),
                  20'000'000, TransferPurpose::fileTransfer, TransferDirection::macToAndroid),
        sampleJob(QStringLiteral("song.flac"), TransferState::completed(), 30'000'000),
        sampleJob(QStringLiteral("broken.mov"),
                  TransferState::failed(QuillbarrowError::transferFailed(QStringLiteral("The device stopped answering."))),
                  8'000'000),
        sampleJob(QStringLiteral("draft.docx"), TransferState::cancelled(), 90'000, TransferPurpose::fileTransfer,
                  TransferDirection::macToAndroid),
    };
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        jobs[i].sequence = i;
    }
    return jobs;
}

// The coordinator with its protected job and question plumbing opened for tests and scenes.
class OpenTransferCoordinator final : public TransferCoordinator {
public:
    OpenTransferCoordinator(Clipboard* clipboard, std::shared_ptr<TransferQueue> queue)
        : TransferCoordinator(clipboard, std::move(queue), AppLogger(QStringLiteral("TransferCoordinator")),
                              std::nullopt)
    {
    }
    using TransferCoordinator::enqueueTransfer;
    using TransferCoordinator::refreshTransferJobs;
    using TransferCoordinator::requestResolution;
};

// A clipboard, a queue and a coordinator over them.
struct CoordinatorRig {
    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    OpenTransferCoordinator coordinator{&clipboard, queue};

    // Enqueues a queued transfer job and publishes the list.
    TransferID enqueue(const QString& name, std::optional<qint64> totalBytes = 1'000)
    {
        const TransferJob job = sampleJob(name, TransferState::queued(), totalBytes);
        coordinator.enqueueTransfer(job);
        coordinator.refreshTransferJobs();
        return job.id;
    }
};

} // namespace quillbarrow::testing
