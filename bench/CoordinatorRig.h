#pragma once

#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <memory>
#include <optional>

namespace quillbarrow {

// The coordinator with what it needs, answering a name question with `answerForAll` for all
// remaining conflicts, or else by stopping the batch (most benchmarks' names are fresh, so a
// question there means something is wrong).
struct CoordinatorRig {
    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue;
    TransferCoordinator coordinator;
    std::optional<ConflictResolution> answerForAll;
    int questions = 0;

    explicit CoordinatorRig(const QString& cacheFolder);

    // Throws BenchFailure unless the last paste asked `questionsAsked` questions, reported nothing
    // and left `jobs` jobs, all completed; then clears the panel.
    void requireCompleted(const QString& what, qsizetype jobs = 1, int questionsAsked = 0);
};

} // namespace quillbarrow
