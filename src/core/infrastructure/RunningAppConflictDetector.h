#pragma once

#include "AppConflictDetecting.h"

#include "platform/ProcessLauncher.h"
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "platform/WaitClock.h"
#include "platform/Workspace.h"

#include <QSet>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

namespace quillbarrow {

// Finds the applications and services that may hold the phone (other file-transfer
// applications, the Android debug bridge, the Image Capture helper services, the desktops' own
// phone services and the MTP mount tools), asks them to quit, and restarts the helper services. It looks in two places: the applications of the
// user's workspace, and the whole process table as "/bin/ps" prints it. Its operations run on
// the main thread; everything that blocks happens on a worker thread: launching the tools, and
// reading the workspace, whose list of applications comes from the process table on this system.
class RunningAppConflictDetector final : public AppConflictDetecting {
public:
    // One row of the table of known conflicts.
    struct KnownConflict {
        QString displayName;
        QStringList bundleIdentifiers;
        QStringList processNeedles;
        bool canRequestQuit = false;
        bool canSoftRestartService = false;

        friend bool operator==(const KnownConflict&, const KnownConflict&) = default;
    };

    // What the detector reaches of the host system.
    struct Platform {
        std::shared_ptr<Workspace> workspace;
        std::shared_ptr<ProcessSignals> signaller;
        std::shared_ptr<ProcessLauncher> launcher;
        std::shared_ptr<const ProcessTable> processTable; // for the current user id
        std::shared_ptr<WaitClock> clock;
        qint32 ownProcessId = 0; // never listed and never signalled
    };

    // The fixed waits of the quit and restart sequences.
    struct Timings {
        std::chrono::nanoseconds quitSettle = std::chrono::seconds(2);
        std::chrono::nanoseconds restartPollInterval = std::chrono::milliseconds(250);
        std::chrono::nanoseconds restartDeadline = std::chrono::seconds(5);
        std::chrono::nanoseconds afterForceKill = std::chrono::milliseconds(500);
    };

    // The detector on the host system: procfs, POSIX signals, QProcess, real time.
    RunningAppConflictDetector();
    // What the detector reaches on the host system.
    static Platform hostPlatform();
    explicit RunningAppConflictDetector(Platform platform);
    RunningAppConflictDetector(Platform platform, Timings timings);
    ~RunningAppConflictDetector() override;

    QCoro::Task<QList<DetectedConflictApp>> runningConflicts() override;
    QCoro::Task<QList<DetectedConflictApp>> requestQuit(QList<DetectedConflictApp> apps,
                                                        std::stop_token stop = {}) override;
    QCoro::Task<QList<DetectedConflictApp>> softRestartServices(QList<DetectedConflictApp> apps,
                                                                std::stop_token stop = {}) override;

    const QList<KnownConflict>& knownConflicts() const;

    // The scan of the workspace's running applications; the list is read on a worker thread.
    QCoro::Task<QList<DetectedConflictApp>> workspaceConflicts() const;
    // The first row of this detector's table that matches.
    std::optional<KnownConflict> matchedConflict(const QString& name, const std::optional<QString>& bundleIdentifier,
                                                 const std::optional<QString>& command) const;

    // The table of known conflicts, in the order in which the rows are tried.
    static QList<KnownConflict> defaultKnownConflicts();
    // The first row of the given table that matches the process (thread-safe).
    static std::optional<KnownConflict> firstMatch(const QList<KnownConflict>& knownConflicts, const QString& name,
                                                   const std::optional<QString>& bundleIdentifier,
                                                   const std::optional<QString>& command);
    static bool matches(const QList<KnownConflict>& knownConflicts, const QString& name,
                        const std::optional<QString>& bundleIdentifier, const std::optional<QString>& command);
    // The scan of the process table (blocking: worker thread). Process ids in existingPIDs
    // are left out.
    static QList<DetectedConflictApp> processTableConflicts(ProcessLauncher& launcher,
                                                            const QList<KnownConflict>& knownConflicts,
                                                            const QSet<qint32>& existingPIDs);
    // One line of "/bin/ps" output: a process id, white space, the command.
    static std::optional<DetectedConflictApp> parseProcessLine(const QString& line,
                                                               const QList<KnownConflict>& knownConflicts,
                                                               const QSet<qint32>& existingPIDs);
    // The text that "/bin/ps" prints; absent when it cannot start, fails, or prints text that
    // is not valid UTF-8 (blocking: worker thread).
    static std::optional<QString> runPS(ProcessLauncher& launcher);
    // Runs "/bin/launchctl" and gives its exit status; -1 when it cannot be started or does
    // not exit normally (blocking: worker thread).
    static int runLaunchctl(ProcessLauncher& launcher, const QStringList& arguments);
    // The launchd label of a helper service, found by its executable path; absent for the
    // helper that is stopped by a signal, and for any other path.
    static std::optional<QString> serviceLabel(const QString& executablePath);
    // A record whose service may be restarted and whose path is one of the helpers'.
    static bool isRestartableHelper(const DetectedConflictApp& app);

private:
    struct Shared;

    // The operations keep the shared state alive themselves, so that a detector destroyed
    // while one of them waits leaves nothing dangling.
    static QCoro::Task<QList<DetectedConflictApp>> detect(std::shared_ptr<const Shared> shared);
    static QCoro::Task<QList<DetectedConflictApp>> quitSequence(std::shared_ptr<const Shared> shared,
                                                                QList<DetectedConflictApp> apps, std::stop_token stop);
    static QCoro::Task<QList<DetectedConflictApp>> restartSequence(std::shared_ptr<const Shared> shared,
                                                                   QList<DetectedConflictApp> apps, std::stop_token stop);
    // The workspace's running applications, read on a worker thread.
    static QCoro::Task<QList<RunningApplication>> runningApplications(std::shared_ptr<const Shared> shared);
    static QCoro::Task<QList<DetectedConflictApp>> scanWorkspace(std::shared_ptr<const Shared> shared);
    static int sendSignal(const Shared& shared, qint32 pid, int signal);
    // The processes the table shows running for another user, read on a worker thread. A quit
    // never signals them: the user stops another user's program or a system service
    // themselves, even when this program runs with the right to signal it.
    static QCoro::Task<QSet<qint32>> otherUsersProcesses(std::shared_ptr<const Shared> shared);

    std::shared_ptr<const Shared> m_shared;
};

} // namespace quillbarrow
