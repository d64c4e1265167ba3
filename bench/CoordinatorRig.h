#pragma once

#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <memory>

namespace quillbarrow {

// The coordinator with what it needs, answering any name question by stopping the batch (the
// benchmarks' names are fresh, so a question means something is wrong).
struct CoordinatorRig {
    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue;
    TransferCoordinator coordinator;
    bool askedAboutAName = false;

    explicit CoordinatorRig(const QString& cacheFolder);

    // Throws BenchFailure unless the last paste asked nothing, reported nothing and left `jobs`
    // jobs, all completed; then clears the panel.
    void requireCompleted(const QString& what, qsizetype jobs = 1);
};

} // namespace quillbarrow
