#include "RunningAppConflictDetector.h"

#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "domain/BrowserSort.h"
#include "platform/PosixProcessSignals.h"
#include "platform/ProcProcessTable.h"
#include "platform/QProcessLauncher.h"
#include "platform/SteadyWaitClock.h"
#include "platform/UserProcessWorkspace.h"

#include <QCollator>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFuture>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThreadPool>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <exception>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace quillbarrow {

struct RunningAppConflictDetector::Shared {
    Platform platform;
    Timings timings;
    QList<KnownConflict> knownConflicts;
};

namespace {

const QString psProgram = QStringLiteral("/bin/ps");
const QString launchctlProgram = QStringLiteral("/bin/launchctl");
const QString icddPath = QStringLiteral("/System/Library/Image Capture/Support/icdd");
const QString ptpcameradPath = QStringLiteral("/usr/libexec/ptpcamerad");
const QString mscameradPathEnding = QStringLiteral("/XPCServices/mscamerad-xpc.xpc/Contents/MacOS/mscamerad-xpc");

// Background work queues behind work that the user is waiting for.
constexpr int utilityPriority = -1;

// Runs a blocking job on the program's pool, behind work the user is waiting for.
template <typename Job>
auto runDetached(Job job) -> QFuture<std::invoke_result_t<Job&>>
{
    return runOnThreadPool(workPool(), std::move(job), utilityPriority);
}

// A decimal 32-bit integer: an optional sign and ASCII digits, nothing else.
std::optional<qint32> decimalInt32(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c.unicode() - u'0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min()) {
        return std::nullopt;
    }
    return static_cast<qint32>(value);
}

// The debug bridge's needle must be a whole word, so that a command such as "badbird" does not
// count as the bridge.
bool containsAdbWord(const QString& text)
{
    thread_local const QRegularExpression word(QStringLiteral("(^|/|\\s)adb(\\s|$)"),
                                               QRegularExpression::CaseInsensitiveOption
                                                   | QRegularExpression::UseUnicodePropertiesOption);
    return word.match(text).hasMatch();
}

bool needleFound(const QString& needle, const QString& text)
{
    if (needle == u"adb") {
        return containsAdbWord(text);
    }
    return text.contains(needle, Qt::CaseInsensitive);
}

void sortByName(QList<DetectedConflictApp>& apps)
{
    const QCollator collator = naturalNameCollator();
    std::stable_sort(apps.begin(), apps.end(), [&collator](const DetectedConflictApp& a, const DetectedConflictApp& b) {
        return collator.compare(a.name(), b.name()) < 0;
    });
}

// The same process as found: the same id, executable (or command) and bundle. The name only
// says how it is shown.
bool sameProcess(const DetectedConflictApp& a, const DetectedConflictApp& b)
{
    return a.id() == b.id() && a.executablePath() == b.executablePath() && a.bundleIdentifier() == b.bundleIdentifier();
}

QSet<qint32> processIds(const QList<DetectedConflictApp>& apps)
{
    QSet<qint32> ids;
    for (const DetectedConflictApp& app : apps) {
        ids.insert(app.id());
    }
    return ids;
}

} // namespace

RunningAppConflictDetector::Platform RunningAppConflictDetector::hostPlatform()
{
    auto table = std::make_shared<ProcProcessTable>();
    auto signaller = std::make_shared<PosixProcessSignals>();
    RunningAppConflictDetector::Platform platform;
    platform.workspace = std::make_shared<UserProcessWorkspace>(table, signaller);
    platform.signaller = signaller;
    platform.launcher = std::make_shared<QProcessLauncher>();
    platform.processTable = table;
    platform.clock = std::make_shared<SteadyWaitClock>();
    platform.ownProcessId = static_cast<qint32>(QCoreApplication::applicationPid());
    return platform;
}

RunningAppConflictDetector::RunningAppConflictDetector() : RunningAppConflictDetector(hostPlatform()) {}

RunningAppConflictDetector::RunningAppConflictDetector(Platform platform)
    : RunningAppConflictDetector(std::move(platform), Timings())
{
}

RunningAppConflictDetector::RunningAppConflictDetector(Platform platform, Timings timings)
    : m_shared(std::make_shared<const Shared>(Shared{std::move(platform), timings, defaultKnownConflicts()}))
{
}

RunningAppConflictDetector::~RunningAppConflictDetector() = default;

QList<RunningAppConflictDetector::KnownConflict> RunningAppConflictDetector::defaultKnownConflicts()
{
    return {
        {QStringLiteral("Android File Transfer"),
         {QStringLiteral("com.google.android.mtpviewer")},
         {QStringLiteral("Android File Transfer"), QStringLiteral("Android File Transfer Agent")},
         true,
         false},
        {QStringLiteral("OpenMTP"), {QStringLiteral("com.marlowquin.openmtp")}, {QStringLiteral("OpenMTP")}, true, false},
        {QStringLiteral("MacDroid"),
         {QStringLiteral("com.electronic.usb.MacDroid")},
         {QStringLiteral("MacDroid")},
         true,
         false},
        {QStringLiteral("Samsung Smart Switch"),
         {QStringLiteral("com.samsung.SmartSwitch"), QStringLiteral("com.samsung.SmartSwitchAgent")},
         {QStringLiteral("Smart Switch"), QStringLiteral("SmartSwitch"), QStringLiteral("Kies")},
         true,
         false},
        {QStringLiteral("HandShaker"),
         {QStringLiteral("com.smartisan.HandShaker")},
         {QStringLiteral("HandShaker")},
         true,
         false},
        {QStringLiteral("AirDroid"), {QStringLiteral("com.sandstudio.AirDroid")}, {QStringLiteral("AirDroid")}, true, false},
        {QStringLiteral("Android Debug Bridge"), {}, {QStringLiteral("adb")}, true, false},
        {QStringLiteral("Apple Image Capture"),
         {},
         {QStringLiteral("icdd"), QStringLiteral("ptpcamerad"), QStringLiteral("mscamerad-xpc")},
         false,
         true},
        // The programs that hold phones on this platform: the desktops' own phone services and
        // the MTP tools. They are asked to quit like applications; none is a service to restart.
        {QStringLiteral("GNOME phone access"), {}, {QStringLiteral("gvfsd-mtp")}, true, false},
        {QStringLiteral("KDE phone access"), {}, {QStringLiteral("kiod5"), QStringLiteral("kiod6")}, true, false},
        {QStringLiteral("Android File Transfer for Linux"),
         {},
         {QStringLiteral("android-file-transfer"), QStringLiteral("aft-mtp-mount"), QStringLiteral("aft-mtp-cli")},
         true,
         false},
        {QStringLiteral("MTP file system mount"),
         {},
         {QStringLiteral("go-mtpfs"), QStringLiteral("jmtpfs"), QStringLiteral("simple-mtpfs"), QStringLiteral("mtpfs")},
         true,
         false},
    };
}

const QList<RunningAppConflictDetector::KnownConflict>& RunningAppConflictDetector::knownConflicts() const
{
    return m_shared->knownConflicts;
}

// ---- Matching ----

std::optional<RunningAppConflictDetector::KnownConflict>
RunningAppConflictDetector::firstMatch(const QList<KnownConflict>& knownConflicts, const QString& name,
                                       const std::optional<QString>& bundleIdentifier,
                                       const std::optional<QString>& command)
{
    const QString matchText = command ? name + u' ' + *command : name;
    for (const KnownConflict& row : knownConflicts) {
        if (bundleIdentifier) {
            const bool sameBundle =
                std::any_of(row.bundleIdentifiers.begin(), row.bundleIdentifiers.end(), [&](const QString& identifier) {
                    return identifier.compare(*bundleIdentifier, Qt::CaseInsensitive) == 0;
                });
            if (sameBundle) {
                return row;
            }
        }
        const bool needle = std::any_of(row.processNeedles.begin(), row.processNeedles.end(),
                                        [&](const QString& n) { return needleFound(n, matchText); });
        if (needle) {
            return row;
        }
    }
    return std::nullopt;
}

bool RunningAppConflictDetector::matches(const QList<KnownConflict>& knownConflicts, const QString& name,
                                         const std::optional<QString>& bundleIdentifier,
                                         const std::optional<QString>& command)
{
    return firstMatch(knownConflicts, name, bundleIdentifier, command).has_value();
}

std::optional<RunningAppConflictDetector::KnownConflict>
RunningAppConflictDetector::matchedConflict(const QString& name, const std::optional<QString>& bundleIdentifier,
                                            const std::optional<QString>& command) const
{
    return firstMatch(m_shared->knownConflicts, name, bundleIdentifier, command);
}

// ---- Workspace scan ----

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::workspaceConflicts() const
{
    return scanWorkspace(m_shared);
}

QCoro::Task<QList<RunningApplication>> RunningAppConflictDetector::runningApplications(std::shared_ptr<const Shared> shared)
{
    // The list comes from the process table here, so reading it blocks on the file system; the
    // main thread only waits for it. The workspace is not touched meanwhile: its owner awaits this.
    std::shared_ptr<Workspace> workspace = shared->platform.workspace;
    auto read = [workspace] { return workspace->runningApplications(); };
    QFuture<QList<RunningApplication>> reading = runDetached(std::move(read));
    try {
        co_return co_await reading;
    } catch (...) {
        // An unreadable list is an empty one: the scan never fails.
        co_return QList<RunningApplication>();
    }
}

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::scanWorkspace(std::shared_ptr<const Shared> shared)
{
    const QList<RunningApplication> applications = co_await runningApplications(shared);
    QList<DetectedConflictApp> found;
    for (const RunningApplication& application : applications) {
        // This program never lists itself: it must not end up asking itself to quit.
        if (application.pid == shared->platform.ownProcessId) {
            continue;
        }
        QString name;
        if (application.localizedName) {
            name = *application.localizedName;
        } else if (application.executablePath) {
            name = QFileInfo(*application.executablePath).fileName();
        } else {
            continue;
        }
        const std::optional<KnownConflict> row =
            firstMatch(shared->knownConflicts, name, application.bundleIdentifier, application.executablePath);
        if (!row) {
            continue;
        }
        // A process without a name of its own (on this system every one: processes are listed
        // by their executables) is shown under the row's name, as the process-table scan shows
        // it: "GNOME phone access" tells the user more than "gvfsd-mtp".
        const QString shownName = application.localizedName ? name : row->displayName;
        found.append(DetectedConflictApp(application.pid, shownName, application.bundleIdentifier,
                                         application.executablePath, row->canRequestQuit,
                                         row->canSoftRestartService));
    }
    co_return found;
}

// ---- Process-table scan ----

namespace {

std::optional<RunningAppConflictDetector::KnownConflict>
cutNameMatch(const QList<RunningAppConflictDetector::KnownConflict>& knownConflicts, const QString& command)
{
    // The process table gives a process's short name, which Linux cuts to its first 15 bytes: a
    // holder with a longer name (another user's, whose executable cannot be read) is known by
    // its first 15 bytes.
    constexpr qsizetype cutNameBytes = 15;
    if (command.contains(u'/') || command.toUtf8().size() != cutNameBytes) {
        return std::nullopt;
    }
    for (const RunningAppConflictDetector::KnownConflict& row : knownConflicts) {
        for (const QString& needle : row.processNeedles) {
            if (needle.size() > command.size() && needle.startsWith(command, Qt::CaseInsensitive)) {
                return row;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> RunningAppConflictDetector::runPS(ProcessLauncher& launcher)
{
    const LaunchResult result = launcher.run(psProgram, {QStringLiteral("-axo"), QStringLiteral("pid=,comm=")});
    if (result.ending != LaunchResult::Ending::exited || result.exitCode != 0) {
        return std::nullopt;
    }
    // Stateless, so that a sequence cut off at the end counts as invalid too.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(result.standardOutput);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

std::optional<DetectedConflictApp> RunningAppConflictDetector::parseProcessLine(const QString& line,
                                                                                const QList<KnownConflict>& knownConflicts,
                                                                                const QSet<qint32>& existingPIDs)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    const auto separator = std::find_if(trimmed.begin(), trimmed.end(), [](QChar c) { return c == u' ' || c == u'\t'; });
    if (separator == trimmed.end()) {
        return std::nullopt;
    }
    const qsizetype separatorIndex = separator - trimmed.begin();
    const std::optional<qint32> pid = decimalInt32(QStringView(trimmed).left(separatorIndex));
    // No process can have an id of 0 or less, and a signal to such an id would reach a whole
    // process group or every process of the user.
    if (!pid || *pid <= 0 || existingPIDs.contains(*pid)) {
        return std::nullopt;
    }
    const QString command = trimmed.mid(separatorIndex).trimmed();
    std::optional<KnownConflict> row = firstMatch(knownConflicts, command, std::nullopt, command);
    if (!row) {
        row = cutNameMatch(knownConflicts, command);
    }
    if (!row || command.contains(QStringLiteral("Quillbarrow"), Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    return DetectedConflictApp(*pid, row->displayName, std::nullopt, command, row->canRequestQuit,
                               row->canSoftRestartService);
}

QList<DetectedConflictApp> RunningAppConflictDetector::processTableConflicts(ProcessLauncher& launcher,
                                                                             const QList<KnownConflict>& knownConflicts,
                                                                             const QSet<qint32>& existingPIDs)
{
    const std::optional<QString> output = runPS(launcher);
    if (!output) {
        return {};
    }
    QList<DetectedConflictApp> found;
    for (const QString& line : output->split(u'\n', Qt::SkipEmptyParts)) {
        if (std::optional<DetectedConflictApp> app = parseProcessLine(line, knownConflicts, existingPIDs)) {
            found.append(std::move(*app));
        }
    }
    return found;
}

// ---- Combining ----

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::runningConflicts()
{
    return detect(m_shared);
}

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::detect(std::shared_ptr<const Shared> shared)
{
    QList<DetectedConflictApp> found = co_await scanWorkspace(shared);
    QSet<qint32> alreadyFound = processIds(found);
    alreadyFound.insert(shared->platform.ownProcessId);
    std::shared_ptr<ProcessLauncher> launcher = shared->platform.launcher;
    const QList<KnownConflict> table = shared->knownConflicts;
    auto scan = [launcher, table, alreadyFound] { return processTableConflicts(*launcher, table, alreadyFound); };
    QFuture<QList<DetectedConflictApp>> scanning = runDetached(std::move(scan));
    try {
        QList<DetectedConflictApp> fromTable = co_await scanning;
        found.append(std::move(fromTable));
    } catch (...) {
        // The process table adds nothing then; the workspace records still stand.
    }
    sortByName(found);
    co_return found;
}

// ---- Quit and restart ----

QCoro::Task<QSet<qint32>> RunningAppConflictDetector::otherUsersProcesses(std::shared_ptr<const Shared> shared)
{
    std::shared_ptr<const ProcessTable> table = shared->platform.processTable;
    auto read = [table] {
        const uint user = table->currentUserId();
        QSet<qint32> ids;
        for (const ProcessEntry& entry : table->processes()) {
            if (entry.realUserId != user) {
                ids.insert(entry.pid);
            }
        }
        return ids;
    };
    QFuture<QSet<qint32>> reading = runDetached(std::move(read));
    try {
        co_return co_await reading;
    } catch (...) {
        co_return QSet<qint32>(); // owners unknown: the kernel's own check on the signal remains
    }
}

int RunningAppConflictDetector::sendSignal(const Shared& shared, qint32 pid, int signal)
{
    if (pid <= 0 || pid == shared.platform.ownProcessId) {
        return -1;
    }
    return shared.platform.signaller->send(pid, signal);
}

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::requestQuit(QList<DetectedConflictApp> apps,
                                                                                std::stop_token stop)
{
    return quitSequence(m_shared, std::move(apps), std::move(stop));
}

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::quitSequence(std::shared_ptr<const Shared> shared,
                                                                                 QList<DetectedConflictApp> apps,
                                                                                 std::stop_token stop)
{
    const QSet<qint32> requested = processIds(apps);
    // An id may have passed to another program since the holder was found (the holder ended and
    // the id was given anew): only an id that a detection made now still shows as the same
    // process, found the same way, is asked to quit.
    QSet<qint32> stillHeld;
    if (!apps.isEmpty()) {
        const QList<DetectedConflictApp> current = co_await detect(shared);
        for (const DetectedConflictApp& app : apps) {
            const bool found = std::any_of(current.begin(), current.end(),
                                           [&](const DetectedConflictApp& now) { return sameProcess(now, app); });
            if (found) {
                stillHeld.insert(app.id());
            }
        }
    }
    Workspace& workspace = *shared->platform.workspace;
    const QList<RunningApplication> listed = co_await runningApplications(shared);
    for (const RunningApplication& application : listed) {
        if (stillHeld.contains(application.pid) && application.pid != shared->platform.ownProcessId) {
            workspace.terminate(application);
        }
    }
    const QSet<qint32> othersProcesses = co_await otherUsersProcesses(shared);
    for (const DetectedConflictApp& app : apps) {
        if (!app.canRequestQuit() || !stillHeld.contains(app.id())) {
            continue;
        }
        const QList<RunningApplication> running = co_await runningApplications(shared);
        const bool inWorkspace = std::any_of(running.begin(), running.end(),
                                             [&](const RunningApplication& application) { return application.pid == app.id(); });
        if (!inWorkspace && !othersProcesses.contains(app.id())) {
            sendSignal(*shared, app.id(), ProcessSignals::terminate);
        }
    }
    co_await shared->platform.clock->sleep(shared->timings.quitSettle, stop);
    const QList<DetectedConflictApp> detected = co_await detect(shared);
    QList<DetectedConflictApp> remaining;
    for (const DetectedConflictApp& app : detected) {
        if (requested.contains(app.id())) {
            remaining.append(app);
        }
    }
    co_return remaining;
}

std::optional<QString> RunningAppConflictDetector::serviceLabel(const QString& executablePath)
{
    if (executablePath == icddPath) {
        return QStringLiteral("com.apple.icdd");
    }
    if (executablePath == ptpcameradPath) {
        return QStringLiteral("com.apple.ptpcamerad");
    }
    return std::nullopt;
}

bool RunningAppConflictDetector::isRestartableHelper(const DetectedConflictApp& app)
{
    if (!app.canSoftRestartService() || !app.executablePath()) {
        return false;
    }
    const QString& path = *app.executablePath();
    return path == icddPath || path == ptpcameradPath || path.endsWith(mscameradPathEnding);
}

int RunningAppConflictDetector::runLaunchctl(ProcessLauncher& launcher, const QStringList& arguments)
{
    const LaunchResult result = launcher.run(launchctlProgram, arguments);
    return result.ending == LaunchResult::Ending::exited ? result.exitCode : -1;
}

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::softRestartServices(QList<DetectedConflictApp> apps,
                                                                                        std::stop_token stop)
{
    return restartSequence(m_shared, std::move(apps), std::move(stop));
}

QCoro::Task<QList<DetectedConflictApp>> RunningAppConflictDetector::restartSequence(std::shared_ptr<const Shared> shared,
                                                                                    QList<DetectedConflictApp> apps,
                                                                                    std::stop_token stop)
{
    QList<DetectedConflictApp> helpers;
    std::copy_if(apps.begin(), apps.end(), std::back_inserter(helpers), isRestartableHelper);
    const QSet<qint32> targetIds = processIds(helpers);
    const uint user = shared->platform.processTable->currentUserId();

    QStringList launchdTargets;
    for (const DetectedConflictApp& helper : helpers) {
        if (const std::optional<QString> label = serviceLabel(*helper.executablePath())) {
            launchdTargets.append(QStringLiteral("gui/") + QString::number(user) + u'/' + *label);
        }
    }
    for (const DetectedConflictApp& helper : helpers) {
        if (!serviceLabel(*helper.executablePath())) {
            sendSignal(*shared, helper.id(), ProcessSignals::terminate);
        }
    }
    if (!launchdTargets.isEmpty()) {
        std::shared_ptr<ProcessLauncher> launcher = shared->platform.launcher;
        auto kickstart = [launcher, launchdTargets] {
            for (const QString& target : launchdTargets) {
                runLaunchctl(*launcher, {QStringLiteral("kickstart"), QStringLiteral("-k"), target});
            }
        };
        QFuture<void> restarting = runDetached(std::move(kickstart));
        try {
            co_await restarting;
        } catch (...) {
            // Whatever did not restart shows up in the detection below.
        }
    }

    WaitClock& clock = *shared->platform.clock;
    auto anyAlive = [&shared, &targetIds] {
        return std::any_of(targetIds.begin(), targetIds.end(),
                           [&](qint32 pid) { return sendSignal(*shared, pid, ProcessSignals::aliveTest) == 0; });
    };
    const WaitClock::TimePoint deadline = clock.now() + shared->timings.restartDeadline;
    while (clock.now() < deadline) {
        co_await clock.sleep(shared->timings.restartPollInterval, stop);
        // After a stop request the waits no longer wait: polling on would only spin.
        if (!anyAlive() || stop.stop_requested()) {
            break;
        }
    }
    bool forced = false;
    for (qint32 pid : targetIds) {
        if (sendSignal(*shared, pid, ProcessSignals::aliveTest) == 0) {
            sendSignal(*shared, pid, ProcessSignals::forceKill);
            forced = true;
        }
    }
    if (forced) {
        co_await clock.sleep(shared->timings.afterForceKill, stop);
    }
    const QList<DetectedConflictApp> detected = co_await detect(shared);
    QList<DetectedConflictApp> running;
    std::copy_if(detected.begin(), detected.end(), std::back_inserter(running), isRestartableHelper);
    co_return running;
}

} // namespace quillbarrow
