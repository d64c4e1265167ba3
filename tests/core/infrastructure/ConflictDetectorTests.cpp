#include "ConflictDetectorFakes.h"
#include "RunTask.h"
#include "platform/SteadyWaitClock.h"
#include "platform/UserProcessWorkspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace quillbarrow::fakes;
using namespace std::chrono_literals;
using App = DetectedConflictApp;

namespace {

const QString icdd = QStringLiteral("/System/Library/Image Capture/Support/icdd");
const QString ptpcamerad = QStringLiteral("/usr/libexec/ptpcamerad");
const QString xpc = QStringLiteral(
    "/System/Library/Frameworks/ImageCaptureCore.framework/Versions/A/XPCServices/mscamerad-xpc.xpc/Contents/MacOS/mscamerad-xpc");
const QString adb = QStringLiteral("/usr/local/bin/adb");
const QString listing = QStringLiteral("run /bin/ps -axo pid=,comm=");

template <typename T>
T run(QCoro::Task<T> task)
{
    return quillbarrow::testing::runTask(std::move(task), 20s);
}

QList<qint32> ids(const QList<App>& apps)
{
    QList<qint32> result;
    for (const App& app : apps) {
        result.append(app.id());
    }
    return result;
}

App helper(qint32 pid, const QString& path, bool canSoftRestartService = true)
{
    return App(pid, QStringLiteral("Apple Image Capture"), std::nullopt, path, false, canSoftRestartService);
}

QString kickstart(const QString& label)
{
    return QStringLiteral("run /bin/launchctl kickstart -k gui/501/") + label;
}

bool adbMatches(const QString& command)
{
    return RunningAppConflictDetector::matches(RunningAppConflictDetector::defaultKnownConflicts(), command,
                                               std::nullopt, command);
}

} // namespace

TEST(ConflictDetection, EveryKnownConflictIsFoundInTheProcessTableAndSortedByName)
{
    Host host;
    host.launcher->setListing(
        " 101 /Applications/Android File Transfer.app/Contents/Helpers/Android File Transfer Agent.app/Contents/MacOS/Android File Transfer Agent\n"
        " 102 /Applications/OpenMTP.app/Contents/MacOS/OpenMTP\n"
        " 103 /Applications/MacDroid.app/Contents/MacOS/MacDroid\n"
        " 104 /Applications/Smart Switch.app/Contents/MacOS/Smart Switch\n"
        " 105 /Applications/Kies.app/Contents/MacOS/Kies\n"
        " 106 /Applications/HandShaker.app/Contents/MacOS/HandShaker\n"
        " 107 /Applications/AirDroid.app/Contents/MacOS/AirDroid\n"
        "   123 /usr/local/bin/adb\n"
        "77 /System/Library/Image Capture/Support/icdd\n"
        "78 /usr/libexec/ptpcamerad\n"
        "79 " + xpc.toUtf8() + "\n"
        " 300 /usr/sbin/cupsd\n 301 /opt/badbird\n 302 /usr/local/bin/adbd\n");
    RunningAppConflictDetector detector(host.platform());

    const QList<App> found = run(detector.runningConflicts());

    auto quit = [](qint32 pid, const char* name, const QString& path) {
        return App(pid, QString::fromUtf8(name), std::nullopt, path, true, false);
    };
    const QList<App> expected = {
        quit(107, "AirDroid", "/Applications/AirDroid.app/Contents/MacOS/AirDroid"),
        quit(123, "Android Debug Bridge", adb),
        quit(101, "Android File Transfer",
             "/Applications/Android File Transfer.app/Contents/Helpers/Android File Transfer Agent.app/Contents/MacOS/Android File Transfer Agent"),
        helper(77, icdd),
        helper(78, ptpcamerad),
        helper(79, xpc),
        quit(106, "HandShaker", "/Applications/HandShaker.app/Contents/MacOS/HandShaker"),
        quit(103, "MacDroid", "/Applications/MacDroid.app/Contents/MacOS/MacDroid"),
        quit(102, "OpenMTP", "/Applications/OpenMTP.app/Contents/MacOS/OpenMTP"),
        quit(104, "Samsung Smart Switch", "/Applications/Smart Switch.app/Contents/MacOS/Smart Switch"),
        quit(105, "Samsung Smart Switch", "/Applications/Kies.app/Contents/MacOS/Kies"),
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(host.log->events(), QStringList{listing});
    EXPECT_EQ(host.launcher->launchesOnMainThread(), 0);
}

TEST(ConflictDetection, TheDebugBridgeNeedleIsAWholeWord)
{
    EXPECT_TRUE(adbMatches(adb));
    EXPECT_TRUE(adbMatches(QStringLiteral("ADB")));
    EXPECT_TRUE(adbMatches(QStringLiteral("/opt/sdk/adb fork-server server")));
    EXPECT_FALSE(adbMatches(QStringLiteral("/opt/badbird")));
    EXPECT_FALSE(adbMatches(QStringLiteral("/usr/local/bin/adbd")));
    EXPECT_FALSE(adbMatches(QStringLiteral("/usr/bin/sadb")));
}

TEST(ConflictDetection, ThisPlatformsPhoneHoldersAreNamedByTheirRowsAndTheirNeighboursAreNot)
{
    const QString gnome = QStringLiteral("GNOME phone access");
    const QString kde = QStringLiteral("KDE phone access");
    const QString aft = QStringLiteral("Android File Transfer for Linux");
    const QString mount = QStringLiteral("MTP file system mount");
    struct Case {
        const char* command; // as the process table gives it: the executable, or its short name
        QString name;        // empty: not a conflict
    };
    const QList<Case> cases = {
        {"/usr/libexec/gvfsd-mtp", gnome},
        {"/usr/lib/gvfs/gvfsd-mtp", gnome},
        {"gvfsd-mtp", gnome},
        {"/usr/lib/x86_64-linux-gnu/libexec/kf5/kiod5", kde},
        {"/usr/lib/x86_64-linux-gnu/libexec/kf6/kiod6", kde},
        {"kiod6", kde},
        {"/usr/bin/android-file-transfer", aft}, // not the macOS application of the same name
        {"/usr/bin/aft-mtp-mount", aft},
        {"/usr/bin/aft-mtp-cli", aft},
        {"/usr/bin/go-mtpfs", mount},
        {"/usr/bin/jmtpfs", mount},
        {"/usr/bin/simple-mtpfs", mount},
        {"/usr/bin/mtpfs", mount},
        // Another user's process, known only by its short name cut to 15 bytes.
        {"android-file-tr", aft},
        {"gvfs-mtp-volume", {}}, // gvfs-mtp-volume-monitor
        // Their neighbours, which do not hold the phone's interface.
        {"/usr/libexec/gvfsd", {}},
        {"/usr/libexec/gvfsd-gphoto2", {}},
        {"/usr/libexec/gvfs-mtp-volume-monitor", {}},
        {"/usr/lib/x86_64-linux-gnu/libexec/kf5/kioslave5", {}},
        {"/usr/bin/mtp-files", {}},
        {"/usr/sbin/umtprd", {}},
    };
    const QList<RunningAppConflictDetector::KnownConflict> table = RunningAppConflictDetector::defaultKnownConflicts();
    for (const Case& test : cases) {
        const QString command = QString::fromUtf8(test.command);
        const std::optional<App> found = RunningAppConflictDetector::parseProcessLine(QStringLiteral(" 4321 ") + command, table, {});
        const std::optional<App> expected =
            test.name.isEmpty() ? std::nullopt : std::optional(App(4321, test.name, std::nullopt, command, true, false));
        EXPECT_EQ(found, expected) << test.command;
    }
}

TEST(ConflictQuit, TheUsersOwnHoldersAreNamedAndQuitAnotherUsersOnlyNamed)
{
    const QString gvfs = QStringLiteral("/usr/libexec/gvfsd-mtp");
    const QString kiod = QStringLiteral("/usr/lib/x86_64-linux-gnu/libexec/kf5/kiod5");
    auto table = std::make_shared<ThreadRecordingProcessTable>(QList<ProcessEntry>{
        {80, gvfs, 501}, {81, std::nullopt, 1000}, {82, kiod, 501}}); // 81: another user's, unreadable
    Host host;
    host.launcher->setListing("80 gvfsd-mtp\n81 gvfsd-mtp\n82 kiod5\n");
    RunningAppConflictDetector::Platform platform = host.platform();
    platform.workspace = std::make_shared<UserProcessWorkspace>(table, host.signaller);
    platform.processTable = table;
    RunningAppConflictDetector detector(platform);

    const QList<App> found = run(detector.runningConflicts());
    const QList<App> expected = {
        App(80, QStringLiteral("GNOME phone access"), std::nullopt, gvfs, true, false),
        App(81, QStringLiteral("GNOME phone access"), std::nullopt, QStringLiteral("gvfsd-mtp"), true, false),
        App(82, QStringLiteral("KDE phone access"), std::nullopt, kiod, true, false),
    };
    EXPECT_EQ(found, expected);

    run(detector.requestQuit(found));
    EXPECT_EQ(host.log->events().filter(QStringLiteral("signal")),
              (QStringList{QStringLiteral("signal 15 to 80"), QStringLiteral("signal 15 to 82")}));
}

TEST(ConflictDetection, WorkspaceApplicationsMatchByBundleIdentifierWithoutRegardToCase)
{
    Host host;
    const QString helperPath = QStringLiteral("/Applications/Tools.app/Contents/MacOS/Helper");
    const QString openMtpPath = QStringLiteral("/Applications/OpenMTP.app/Contents/MacOS/OpenMTP");
    host.workspace->running = {
        {9, QStringLiteral("Helper"), QStringLiteral("COM.SAMSUNG.SMARTSWITCH"), helperPath},
        {10, QStringLiteral("Editor"), QStringLiteral("org.example.editor"), QStringLiteral("/usr/bin/editor")},
        {11, std::nullopt, std::nullopt, openMtpPath},                           // named after its executable
        {12, std::nullopt, QStringLiteral("com.marlowquin.openmtp"), std::nullopt}, // no name at all: skipped
    };
    RunningAppConflictDetector detector(host.platform());

    EXPECT_EQ(detector.matchedConflict(QStringLiteral("Helper"), QStringLiteral("COM.SAMSUNG.SMARTSWITCH"), helperPath)
                  ->displayName,
              QStringLiteral("Samsung Smart Switch"));
    const QList<App> expected = {
        App(9, QStringLiteral("Helper"), QStringLiteral("COM.SAMSUNG.SMARTSWITCH"), helperPath, true, false),
        App(11, QStringLiteral("OpenMTP"), std::nullopt, openMtpPath, true, false),
    };
    EXPECT_EQ(run(detector.runningConflicts()), expected);
}

TEST(ConflictDetection, WorkspaceRecordsAreNotRepeatedAndComeFirstAmongEqualNames)
{
    Host host;
    const QString airDroid = QStringLiteral("/Applications/AirDroid.app/Contents/MacOS/AirDroid");
    host.workspace->running = {{50, QStringLiteral("AirDroid"), std::nullopt, airDroid}};
    host.launcher->setListing("50 " + airDroid.toUtf8() + "\n49 " + airDroid.toUtf8() + "\n");
    RunningAppConflictDetector detector(host.platform());

    const QList<App> found = run(detector.runningConflicts());
    EXPECT_EQ(ids(found), (QList<qint32>{50, 49}));
}

TEST(ConflictDetection, ThisProgramIsNeverListed)
{
    Host host;
    host.workspace->running = {{Host::ownPid, QStringLiteral("adb"), std::nullopt, adb}};
    host.launcher->setListing(QByteArray::number(Host::ownPid)
                              + " /usr/local/bin/adb\n60 /home/me/Quillbarrow/adb\n61 /opt/quillbarrow.app/adb\n62 adb\n");
    RunningAppConflictDetector detector(host.platform());

    EXPECT_EQ(ids(run(detector.runningConflicts())), QList<qint32>{62});
}

TEST(ConflictDetection, LinesThatAreNotAnIdAndACommandAreSkipped)
{
    Host host;
    host.launcher->setListing("adb\nabc /usr/local/bin/adb\n12x /usr/local/bin/adb\n99999999999 /usr/local/bin/adb\n"
                              "0 /usr/local/bin/adb\n-1 /usr/local/bin/adb\n   \n\n"
                              "55\t/usr/local/bin/adb\r\n 56  adb  \n");
    RunningAppConflictDetector detector(host.platform());

    const QList<App> found = run(detector.runningConflicts());
    ASSERT_EQ(ids(found), (QList<qint32>{55, 56}));
    EXPECT_EQ(found[0].executablePath(), adb);
    EXPECT_EQ(found[1].executablePath(), QStringLiteral("adb"));
}

TEST(ConflictDetection, AFailedOrUnreadableListingLeavesOnlyTheWorkspaceRecords)
{
    const QList<LaunchResult> failures = {
        LaunchResult{LaunchResult::Ending::notStarted, -1, {}},
        LaunchResult{LaunchResult::Ending::exited, 1, "12 /usr/local/bin/adb\n"},
        LaunchResult{LaunchResult::Ending::crashed, -1, "12 /usr/local/bin/adb\n"},
        LaunchResult{LaunchResult::Ending::exited, 0, "12 /usr/local/bin/adb\n13 \xff\xfe adb\n"},
        LaunchResult{LaunchResult::Ending::exited, 0, "12 /usr/local/bin/adb\n13 /opt/\xe2\x82"},
    };
    for (const LaunchResult& failure : failures) {
        Host host;
        host.workspace->running = {{7, QStringLiteral("HandShaker"), std::nullopt, std::nullopt}};
        host.launcher->setListing(failure);
        RunningAppConflictDetector detector(host.platform());
        EXPECT_EQ(ids(run(detector.runningConflicts())), QList<qint32>{7}) << failure.standardOutput.toStdString();
    }

    Host host; // valid UTF-8 beyond ASCII is read
    host.launcher->setListing("14 /Applications/Sm\xc3\xa4rt/SmartSwitch\n");
    RunningAppConflictDetector detector(host.platform());
    const QList<App> found = run(detector.runningConflicts());
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].executablePath(), QStringLiteral("/Applications/Sm\u00e4rt/SmartSwitch"));
}

TEST(DetectedConflictApp, EqualityComparesEveryFieldAndCanonicalText)
{
    const App precomposed(1, QStringLiteral("Caf\u00e9"), std::nullopt, QStringLiteral("/x"), true, false);
    EXPECT_EQ(precomposed, App(1, QStringLiteral("Cafe\u0301"), std::nullopt, QStringLiteral("/x"), true, false));
    EXPECT_NE(precomposed, App(1, QStringLiteral("Caf\u00e9"), std::nullopt, QString(), true, false));
    EXPECT_NE(precomposed, App(1, QStringLiteral("Caf\u00e9"), std::nullopt, QStringLiteral("/x"), true, true));
}

TEST(ConflictQuit, TerminatesWorkspaceAppsSignalsTheOthersWaitsAndReportsOnlyRequestedSurvivors)
{
    Host host;
    const QString openMtp = QStringLiteral("/Applications/OpenMTP.app/Contents/MacOS/OpenMTP");
    host.workspace->running = {
        {10, QStringLiteral("OpenMTP"), QStringLiteral("com.marlowquin.openmtp"), openMtp},
        {11, QStringLiteral("mscamerad-xpc"), std::nullopt, xpc},
        // A script the process table calls "adb": the workspace lists it by its interpreter.
        {22, std::nullopt, std::nullopt, QStringLiteral("/bin/sh")},
        {30, QStringLiteral("AirDroid"), std::nullopt, QStringLiteral("/Applications/AirDroid.app/Contents/MacOS/AirDroid")},
    };
    host.launcher->setListing("20 /usr/local/bin/adb\n21 " + icdd.toUtf8() +
                              "\n22 adb\n24 /usr/bin/editor\n31 /usr/local/bin/adb\n");
    RunningAppConflictDetector detector(host.platform());
    const QList<App> apps = {
        App(10, QStringLiteral("OpenMTP"), QStringLiteral("com.marlowquin.openmtp"), openMtp, true, false),
        App(11, QStringLiteral("mscamerad-xpc"), std::nullopt, xpc, false, true), // asked to quit, never signalled
        App(20, QStringLiteral("Android Debug Bridge"), std::nullopt, adb, true, false),
        helper(21, icdd), // may not be asked to quit: receives nothing
        App(22, QStringLiteral("Android Debug Bridge"), std::nullopt, QStringLiteral("adb"), true, false),
        App(24, QStringLiteral("Android Debug Bridge"), std::nullopt, adb, true, false), // its id is now an editor's
    };

    const QList<App> left = run(detector.requestQuit(apps));

    const QStringList expected = {listing,
                                  QStringLiteral("terminate 10"),
                                  QStringLiteral("terminate 11"),
                                  QStringLiteral("terminate 22"),
                                  QStringLiteral("signal 15 to 20"),
                                  QStringLiteral("sleep 2000 ms"),
                                  listing};
    EXPECT_EQ(host.log->events(), expected);
    EXPECT_EQ(ids(left), (QList<qint32>{20, 22, 21, 11, 10})); // by name; 30 and 31 were not requested
}

// The id of a holder found earlier may belong to another program, even another holder (72), by the
// time Quit & Retry is clicked: that program is never asked to quit, by the workspace or a signal.
TEST(ConflictQuit, AnIdThatPassedToAnotherProgramIsNotAskedToQuit)
{
    auto table = std::make_shared<ThreadRecordingProcessTable>(QList<ProcessEntry>{
        {70, QStringLiteral("/usr/bin/editor"), 501}, {71, adb, 501}, {72, QStringLiteral("/usr/libexec/gvfsd-mtp"), 501}});
    Host host;
    RunningAppConflictDetector::Platform platform = host.platform();
    platform.workspace = std::make_shared<UserProcessWorkspace>(table, host.signaller);
    platform.processTable = table;
    RunningAppConflictDetector detector(platform);

    run(detector.requestQuit({App(70, QStringLiteral("Android Debug Bridge"), std::nullopt, adb, true, false),
                              App(71, QStringLiteral("Android Debug Bridge"), std::nullopt, adb, true, false),
                              App(72, QStringLiteral("Android Debug Bridge"), std::nullopt, adb, true, false)}));

    EXPECT_EQ(host.log->events().filter(QStringLiteral("signal")), QStringList{QStringLiteral("signal 15 to 71")});
}

TEST(ConflictQuit, AnEmptyRequestStillWaitsAndDetectsOnce)
{
    Host host;
    host.launcher->setListing("31 /usr/local/bin/adb\n");
    RunningAppConflictDetector detector(host.platform());

    EXPECT_TRUE(run(detector.requestQuit({})).isEmpty());
    EXPECT_EQ(host.log->events(), (QStringList{QStringLiteral("sleep 2000 ms"), listing}));
}

TEST(ServiceRestart, StopsTheXpcHelperKickstartsTheOthersPollsAndForceKillsSurvivors)
{
    Host host;
    host.signaller->alive = [&host](qint32 pid) {
        return pid == 41 || pid == 43 || pid == 50 || (pid == 40 && host.clock->elapsed < 500ms);
    };
    host.launcher->setListing("77 /usr/libexec/ptpcamerad\n41 " + xpc.toUtf8() + "\n123 /usr/local/bin/adb\n");
    RunningAppConflictDetector detector(host.platform());
    const QList<App> apps = {
        helper(40, ptpcamerad),
        helper(41, xpc),
        helper(42, icdd),
        App(50, QStringLiteral("OpenMTP"), std::nullopt, QStringLiteral("/Applications/OpenMTP.app/Contents/MacOS/OpenMTP"), true, false),
        helper(43, ptpcamerad, false), // its service may not be restarted
        helper(42, icdd),              // listed twice: kickstarted twice
    };

    const QList<App> running = run(detector.softRestartServices(apps));

    QStringList expected = {QStringLiteral("signal 15 to 41"), kickstart(QStringLiteral("com.apple.ptpcamerad")),
                            kickstart(QStringLiteral("com.apple.icdd")), kickstart(QStringLiteral("com.apple.icdd"))};
    for (int poll = 0; poll < 20; ++poll) {
        expected.append(QStringLiteral("sleep 250 ms"));
    }
    expected << QStringLiteral("signal 9 to 41") << QStringLiteral("sleep 500 ms") << listing;
    EXPECT_EQ(host.log->events(), expected);
    EXPECT_EQ(host.clock->elapsed, 5500ms);
    EXPECT_EQ(host.launcher->launchesOnMainThread(), 0);
    EXPECT_EQ(running, (QList<App>{helper(77, ptpcamerad), helper(41, xpc)})); // by path: the new process counts
}

TEST(ServiceRestart, AHelperGoneAfterTheFirstWaitEndsThePollingWithoutForce)
{
    Host host;
    RunningAppConflictDetector detector(host.platform());

    EXPECT_TRUE(run(detector.softRestartServices({helper(40, ptpcamerad)})).isEmpty());
    EXPECT_EQ(host.log->events(),
              (QStringList{kickstart(QStringLiteral("com.apple.ptpcamerad")), QStringLiteral("sleep 250 ms"), listing}));
    EXPECT_EQ(host.signaller->aliveTests, 2);
}

TEST(ServiceRestart, WithoutHelpersItOnlyWaitsOnceAndReportsTheHelpersRunning)
{
    Host host;
    host.signaller->alive = [](qint32) { return true; };
    host.launcher->setListing("77 " + icdd.toUtf8() + "\n123 /usr/local/bin/adb\n");
    RunningAppConflictDetector detector(host.platform());
    const QList<App> apps = {
        App(50, QStringLiteral("OpenMTP"), std::nullopt, QStringLiteral("/Applications/OpenMTP.app/Contents/MacOS/OpenMTP"), true, false),
        helper(43, ptpcamerad, false),
        App(44, QStringLiteral("Apple Image Capture"), std::nullopt, std::nullopt, false, true),
    };

    EXPECT_EQ(run(detector.softRestartServices(apps)), QList<App>{helper(77, icdd)});
    EXPECT_EQ(host.log->events(), (QStringList{QStringLiteral("sleep 250 ms"), listing}));
}

TEST(ServiceRestart, AStopRequestEndsThePollingInsteadOfSpinningToTheDeadline)
{
    Host host;
    host.signaller->alive = [](qint32) { return true; };
    RunningAppConflictDetector detector(host.platform());
    std::stop_source stop;
    stop.request_stop();

    run(detector.softRestartServices({helper(40, ptpcamerad)}, stop.get_token()));

    EXPECT_EQ(host.log->events(),
              (QStringList{kickstart(QStringLiteral("com.apple.ptpcamerad")), QStringLiteral("sleep 250 ms"),
                           QStringLiteral("signal 9 to 40"), QStringLiteral("sleep 500 ms"), listing}));
}

TEST(ServiceRestart, NeverSignalsThisProgramOrAProcessGroup)
{
    Host host;
    host.signaller->alive = [](qint32) { return true; };
    RunningAppConflictDetector detector(host.platform());

    run(detector.softRestartServices({helper(Host::ownPid, xpc), helper(0, xpc), helper(-1, ptpcamerad)}));
    run(detector.requestQuit({App(Host::ownPid, QStringLiteral("adb"), std::nullopt, adb, true, false)}));

    for (const QString& event : host.log->events()) {
        EXPECT_FALSE(event.startsWith(QStringLiteral("signal"))) << event.toStdString();
    }
    EXPECT_EQ(host.signaller->aliveTests, 0);
}

TEST(ConflictDetector, AnOperationOutlivesTheDetectorThatStartedIt)
{
    Host host;
    RunningAppConflictDetector::Platform platform = host.platform();
    platform.clock = std::make_shared<SteadyWaitClock>();
    RunningAppConflictDetector::Timings timings;
    timings.quitSettle = 2ms;
    host.launcher->setListing("31 /usr/local/bin/adb\n");
    auto detector = std::make_unique<RunningAppConflictDetector>(platform, timings);

    QCoro::Task<QList<App>> quitting = detector->requestQuit({App(31, QStringLiteral("adb"), std::nullopt, adb, true, false)});
    detector.reset();

    EXPECT_EQ(ids(run(std::move(quitting))), QList<qint32>{31});
    EXPECT_EQ(host.log->events(), (QStringList{listing, QStringLiteral("signal 15 to 31"), listing}));
}

TEST(ConflictDetector, TheMainThreadNeverReadsTheProcessTable)
{
    // The workspace of this system is the user's processes, read from the process table.
    const QList<ProcessEntry> entries = {
        {70, QStringLiteral("/usr/local/bin/adb"), 501},
        {71, QStringLiteral("/usr/bin/editor"), 501},
        {72, QStringLiteral("/usr/local/bin/adb"), 0}, // another user's: not in the workspace
    };
    struct Case {
        const char* operation;
        std::function<QList<App>(RunningAppConflictDetector&)> run;
        QStringList signalled;
        QList<qint32> result;
    };
    const QList<Case> cases = {
        {"detection", [](RunningAppConflictDetector& d) { return run(d.runningConflicts()); }, {}, {70}},
        {"workspace scan", [](RunningAppConflictDetector& d) { return run(d.workspaceConflicts()); }, {}, {70}},
        {"quit", [](RunningAppConflictDetector& d) {
             return run(d.requestQuit({App(70, QStringLiteral("adb"), std::nullopt, adb, true, false),
                                       App(72, QStringLiteral("Android Debug Bridge"), std::nullopt, adb, true, false)}));
         }, {"signal 15 to 70"}, {70}}, // 72 is another user's: named, never signalled
        {"service restart", [](RunningAppConflictDetector& d) { return run(d.softRestartServices({helper(40, xpc)})); },
         {"signal 15 to 40"}, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.operation);
        Host host;
        auto table = std::make_shared<ThreadRecordingProcessTable>(entries);
        RunningAppConflictDetector::Platform platform = host.platform();
        platform.workspace = std::make_shared<UserProcessWorkspace>(table, host.signaller);
        platform.processTable = table;
        RunningAppConflictDetector detector(platform);

        EXPECT_EQ(ids(test.run(detector)), test.result);
        const QStringList signalled = host.log->events().filter(QStringLiteral("signal"));
        EXPECT_EQ(signalled, test.signalled);
        EXPECT_GT(table->reads(), 0);
        EXPECT_EQ(table->readsOnMainThread(), 0);
    }
}

TEST(ConflictDetector, OnThisHostFindsAndQuitsAProcessNamedAdb)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString fakeAdb = folder.filePath(QStringLiteral("adb"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), fakeAdb));
    QFile(fakeAdb).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess child;
    child.start(fakeAdb, {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const qint32 pid = static_cast<qint32>(child.processId());

    RunningAppConflictDetector::Timings timings;
    timings.quitSettle = 1ms;
    RunningAppConflictDetector detector(RunningAppConflictDetector::hostPlatform(), timings);
    const QList<App> found = run(detector.runningConflicts());

    const auto record = std::find_if(found.begin(), found.end(), [&](const App& app) { return app.id() == pid; });
    ASSERT_NE(record, found.end());
    EXPECT_EQ(*record, App(pid, QStringLiteral("Android Debug Bridge"), std::nullopt,
                           QFileInfo(fakeAdb).canonicalFilePath(), true, false));
    EXPECT_FALSE(ids(found).contains(static_cast<qint32>(QCoreApplication::applicationPid())));

    run(detector.requestQuit({*record}));
    ASSERT_TRUE(quillbarrow::testing::processEventsUntil([&] { return child.state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit); // ended by SIGTERM
}
