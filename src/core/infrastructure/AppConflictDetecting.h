#pragma once

#include "DetectedConflictApp.h"

#include <QList>

#include <QCoro/QCoroTask>

#include <stop_token>

namespace quillbarrow {

// How the device browser reaches the detector of applications and services that may hold
// the phone. Every operation is awaited from the main thread and never fails.
class AppConflictDetecting {
public:
    virtual ~AppConflictDetecting() = default;

    // The conflicts running now, sorted by name.
    virtual QCoro::Task<QList<DetectedConflictApp>> runningConflicts() = 0;
    // Asks the given processes to quit; gives those of them still detected afterwards. A stop
    // request only shortens the waiting.
    virtual QCoro::Task<QList<DetectedConflictApp>> requestQuit(QList<DetectedConflictApp> apps,
                                                                std::stop_token stop = {}) = 0;
    // Restarts the helper services among the given records; gives the helpers running
    // afterwards. A stop request only shortens the waiting.
    virtual QCoro::Task<QList<DetectedConflictApp>> softRestartServices(QList<DetectedConflictApp> apps,
                                                                        std::stop_token stop = {}) = 0;
};

} // namespace quillbarrow
