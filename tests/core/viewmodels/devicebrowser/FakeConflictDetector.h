#pragma once

#include "CallScript.h"
#include "infrastructure/AppConflictDetecting.h"

#include <memory>

namespace quillbarrow::testing {

// A conflict detector whose calls can be scripted and are recorded: "runningConflicts",
// "requestQuit <pids>", "softRestartServices <pids>" (process ids joined with ","). Unscripted,
// runningConflicts() gives `running`, and the quit and restart requests give `remaining`.
class FakeConflictDetector final : public AppConflictDetecting {
public:
    FakeConflictDetector();
    ~FakeConflictDetector() override;

    QList<DetectedConflictApp> running;
    QList<DetectedConflictApp> remaining;

    void script(const QString& operation, Reply reply, const QString& subject = {});
    QStringList calls() const { return m_script->calls(); }
    void releaseAll() { m_script->releaseAll(); }

    QCoro::Task<QList<DetectedConflictApp>> runningConflicts() override;
    QCoro::Task<QList<DetectedConflictApp>> requestQuit(QList<DetectedConflictApp> apps,
                                                        std::stop_token stop = {}) override;
    QCoro::Task<QList<DetectedConflictApp>> softRestartServices(QList<DetectedConflictApp> apps,
                                                                std::stop_token stop = {}) override;

private:
    std::shared_ptr<CallScript> m_script = std::make_shared<CallScript>();
};

DetectedConflictApp conflictingApp(qint32 pid, const QString& name);

} // namespace quillbarrow::testing
