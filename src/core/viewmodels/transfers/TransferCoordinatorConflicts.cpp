#include "TransferCoordinator.h"

#include <QPointer>
#include <QUuid>

namespace quillbarrow {

QCoro::Task<std::optional<ConflictResolution>>
TransferCoordinator::requestResolution(std::optional<TransferID> jobID, QString fileName, QString destinationName)
{
    if (m_stickyResolution) {
        co_return m_stickyResolution;
    }
    if (jobID) {
        try {
            m_transferQueue->awaitConfirmation(*jobID);
        } catch (const QuillbarrowError&) {
            // The job is gone; the question is still asked.
        }
        refreshTransferJobs();
    }
    m_logger.info(QStringLiteral("waiting for conflict decision for ") + fileName);

    // Only the workflow holding the gate asks, so no other question can be open. Should one be,
    // its workflow is told to stop rather than left waiting for ever.
    if (m_conflictAnswer) {
        m_conflictAnswer->abandon();
    }
    OneShot<ConflictOutcome> answer;
    m_conflictAnswer = answer;
    setPendingConflict(ConflictRequest(QUuid::createUuid(), jobID, std::move(fileName), std::move(destinationName)));

    QPointer<TransferCoordinator> self(this);
    const std::optional<ConflictOutcome> outcome = co_await answer.wait();
    if (!self) {
        co_return std::nullopt;
    }
    if (jobID) {
        try {
            m_transferQueue->resumeQueued(*jobID);
        } catch (const QuillbarrowError&) {
            // The job is gone; the answer still stands.
        }
        refreshTransferJobs();
    }
    if (!outcome) {
        co_return std::nullopt;
    }
    co_return outcome->resolution;
}

void TransferCoordinator::resolveConflict(ConflictResolution resolution, bool applyToAll)
{
    if (applyToAll) {
        m_stickyResolution = resolution;
    }
    finishConflict(ConflictOutcome{resolution});
}

void TransferCoordinator::cancelConflicts()
{
    finishConflict(ConflictOutcome{std::nullopt});
}

void TransferCoordinator::finishConflict(ConflictOutcome outcome)
{
    setPendingConflict(std::nullopt);
    std::optional<OneShot<ConflictOutcome>> answer = std::move(m_conflictAnswer);
    m_conflictAnswer.reset();
    if (answer) {
        answer->fulfil(outcome);
    }
}

void TransferCoordinator::clearStickyResolution()
{
    m_stickyResolution.reset();
}

void TransferCoordinator::setPendingConflict(std::optional<ConflictRequest> request)
{
    m_pendingConflict = std::move(request);
    Q_EMIT pendingConflictChanged();
}

} // namespace quillbarrow
