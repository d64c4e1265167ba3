#include "TransferRig.h"

#include <QMetaObject>
#include <gtest/gtest.h>

namespace quillbarrow::e2e {

namespace {

// ", <done> of <total> bytes" as far as the progress tells.
QString progressText(const std::optional<TransferProgress>& progress)
{
    if (!progress) {
        return QString();
    }
    return QStringLiteral(", ") + QString::number(progress->bytesCompleted) + QStringLiteral(" of ") +
           (progress->bytesTotal ? QString::number(*progress->bytesTotal) : QStringLiteral("?")) +
           QStringLiteral(" bytes");
}

QString stateText(const TransferState& state)
{
    switch (state.kind()) {
    case TransferState::Kind::queued:
        return QStringLiteral("queued");
    case TransferState::Kind::awaitingConfirmation:
        return QStringLiteral("awaitingConfirmation");
    case TransferState::Kind::running:
        return QStringLiteral("running") + progressText(state.progress());
    case TransferState::Kind::cancelling:
        return QStringLiteral("cancelling") + progressText(state.progress());
    case TransferState::Kind::completed:
        return QStringLiteral("completed");
    case TransferState::Kind::failed:
        return QStringLiteral("failed (") + state.error()->technicalDetails() + u')';
    case TransferState::Kind::cancelled:
        return QStringLiteral("cancelled");
    }
    return QString();
}

} // namespace

TransferRig::TransferRig(const QString& openedFilesCache)
    : queue(std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")))),
      coordinator(&clipboard, queue, AppLogger(QStringLiteral("TransferCoordinator")), openedFilesCache)
{
    QObject::connect(&coordinator, &TransferCoordinator::pendingConflictChanged, &m_context, [this] {
        if (!coordinator.pendingConflict()) {
            return;
        }
        if (conflictAnswer) {
            if (onConflict) {
                onConflict();
            }
            QMetaObject::invokeMethod(
                &m_context, [this, answer = *conflictAnswer] { coordinator.resolveConflict(answer, false); },
                Qt::QueuedConnection);
            return;
        }
        ADD_FAILURE() << "unexpected name-conflict question about "
                      << coordinator.pendingConflict()->fileName.toStdString();
        QMetaObject::invokeMethod(
            &m_context, [this] { coordinator.cancelConflicts(); }, Qt::QueuedConnection);
    });
    QObject::connect(&coordinator, &TransferCoordinator::transferJobsChanged, &m_context,
                     [this] { jobsChanged(); });
}

void TransferRig::jobsChanged()
{
    if (!onBytesMoved) {
        return;
    }
    for (const TransferJob& job : coordinator.transferJobs()) {
        const std::optional<TransferProgress> progress = job.state.progress();
        if (job.state.kind() == TransferState::Kind::running && progress && progress->bytesCompleted > 0) {
            // Not from inside the coordinator's own publication.
            QMetaObject::invokeMethod(
                &m_context,
                [this, job] {
                    if (onBytesMoved) {
                        onBytesMoved(job);
                    }
                },
                Qt::QueuedConnection);
        }
    }
}

QStringList TransferRig::jobStates() const
{
    QStringList states;
    for (const TransferJob& job : coordinator.transferJobs()) {
        states.append(job.displayName + QStringLiteral(": ") + stateText(job.state));
    }
    return states;
}

QList<TransferJob> TransferRig::jobsIn(TransferState::Kind kind) const
{
    QList<TransferJob> jobs;
    for (const TransferJob& job : coordinator.transferJobs()) {
        if (job.state.kind() == kind) {
            jobs.append(job);
        }
    }
    return jobs;
}

} // namespace quillbarrow::e2e
