#include "CoordinatorRig.h"

#include "BenchFailure.h"

#include <algorithm>

namespace quillbarrow {

CoordinatorRig::CoordinatorRig(const QString& cacheFolder)
    : queue(std::make_shared<TransferQueue>(AppLogger(QStringLiteral("Bench")))),
      coordinator(&clipboard, queue, AppLogger(QStringLiteral("Bench")), cacheFolder)
{
    QObject::connect(&coordinator, &TransferCoordinator::pendingConflictChanged, &coordinator, [this] {
        if (!coordinator.pendingConflict()) {
            return;
        }
        ++questions;
        if (answerForAll) {
            coordinator.resolveConflict(*answerForAll, true);
        } else {
            coordinator.cancelConflicts();
        }
    });
}

void CoordinatorRig::requireCompleted(const QString& what, qsizetype jobs, int questionsAsked)
{
    if (questions != questionsAsked) {
        throw BenchFailure(what + QStringLiteral(": the coordinator asked %1 questions about names that are taken, "
                                                 "expected %2")
                                      .arg(questions)
                                      .arg(questionsAsked));
    }
    questions = 0;
    if (coordinator.lastError()) {
        throw BenchFailure(what + QStringLiteral(": ") + coordinator.lastError()->technicalDetails());
    }
    const QList<TransferJob>& shown = coordinator.transferJobs();
    const auto completed = std::count_if(shown.begin(), shown.end(), [](const TransferJob& job) {
        return job.state.kind() == TransferState::Kind::completed;
    });
    if (shown.size() != jobs || completed != jobs) {
        throw BenchFailure(QStringLiteral("%1: %2 of %3 jobs completed, expected %4")
                               .arg(what)
                               .arg(completed)
                               .arg(shown.size())
                               .arg(jobs));
    }
    coordinator.clearCompletedTransfers();
}

} // namespace quillbarrow
