#include "platform/PosixProcessSignals.h"
#include "platform/ProcProcessTable.h"
#include "platform/QProcessLauncher.h"
#include "platform/UserProcessWorkspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

using namespace quillbarrow;

namespace {

const uint me = static_cast<uint>(::getuid());

QByteArray statusText(uint uid)
{
    return "Name:\tsome\nState:\tS (sleeping)\nUid:\t" + QByteArray::number(uid) + '\t' + QByteArray::number(uid)
        + "\t0\t0\nGid:\t0\t0\t0\t0\n";
}

// A folder shaped like procfs: a process of this user, one of another user, one without a
// readable executable, and entries that are not processes or are no longer readable.
class ProcFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        addProcess(100, statusText(me), "/opt/tools/adb");
        addProcess(200, statusText(me + 1), "/usr/bin/other user");
        addProcess(300, statusText(me), std::nullopt);
        addProcess(500, "Name:\tbroken\nUid:\tnot-a-number\n", "/usr/bin/broken");
        QDir(m_root.path()).mkpath(QStringLiteral("400")); // ended while being read: no status
        QDir(m_root.path()).mkpath(QStringLiteral("self"));
        QDir(m_root.path()).mkpath(QStringLiteral("12a"));
    }

    void addProcess(int pid, const QByteArray& status, std::optional<QString> exe)
    {
        const QString folder = m_root.filePath(QString::number(pid));
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + QStringLiteral("/status"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(status);
        if (exe) {
            ASSERT_EQ(::symlink(QFile::encodeName(*exe).constData(), QFile::encodeName(folder + "/exe").constData()), 0);
        }
    }

    QTemporaryDir m_root;
};

struct RecordingSignals : ProcessSignals {
    QList<std::pair<qint32, int>> sent;
    int send(qint32 pid, int signal) override
    {
        sent.append({pid, signal});
        return 0;
    }
};

} // namespace

TEST_F(ProcFixture, ReadsEveryReadableProcessWithPathAndRealUser)
{
    const QList<ProcessEntry> entries = ProcProcessTable(m_root.path()).processes();
    const QList<ProcessEntry> expected = {
        {100, QStringLiteral("/opt/tools/adb"), me},
        {200, QStringLiteral("/usr/bin/other user"), me + 1},
        {300, std::nullopt, me},
    };
    EXPECT_EQ(entries, expected);
}

TEST(ProcProcessTable, ListsThisTestProcessWithItsExecutableAndUser)
{
    ProcProcessTable table;
    const QList<ProcessEntry> entries = table.processes();
    const qint32 self = static_cast<qint32>(::getpid());
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const ProcessEntry& e) { return e.pid == self; });
    ASSERT_NE(found, entries.end());
    EXPECT_EQ(found->executablePath, QCoreApplication::applicationFilePath());
    EXPECT_EQ(found->realUserId, me);
    EXPECT_EQ(table.currentUserId(), me);
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(),
                               [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; }));
}

TEST_F(ProcFixture, WorkspaceHoldsTheCurrentUsersProcessesWithTheirExecutables)
{
    auto signaller = std::make_shared<RecordingSignals>();
    UserProcessWorkspace workspace(std::make_shared<ProcProcessTable>(m_root.path()), signaller);
    const QList<RunningApplication> apps = workspace.runningApplications();
    // A process has no name of its own to give: the detector names it after what it matched.
    const QList<RunningApplication> expected = {
        {100, std::nullopt, std::nullopt, QStringLiteral("/opt/tools/adb")},
        {300, std::nullopt, std::nullopt, std::nullopt},
    };
    EXPECT_EQ(apps, expected);

    EXPECT_TRUE(workspace.terminate(apps.first()));
    EXPECT_EQ(signaller->sent, (QList<std::pair<qint32, int>>{{100, 15}}));
}

TEST(PosixProcessSignals, NeverAddressesAProcessGroupOrEveryProcess)
{
    PosixProcessSignals signaller;
    // kill(0, 0) and kill(-1, 0) would succeed: they name this group and every process.
    EXPECT_EQ(signaller.send(0, ProcessSignals::aliveTest), -1);
    EXPECT_EQ(signaller.send(-1, ProcessSignals::aliveTest), -1);
    EXPECT_TRUE(signaller.isAlive(static_cast<qint32>(::getpid())));
}

TEST(PosixProcessSignals, TerminateEndsARunningChildWhichThenTestsAsGone)
{
    QProcess child;
    child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const qint32 pid = static_cast<qint32>(child.processId());
    PosixProcessSignals signaller;
    EXPECT_TRUE(signaller.isAlive(pid));

    auto table = std::make_shared<ProcProcessTable>();
    UserProcessWorkspace workspace(table, std::make_shared<PosixProcessSignals>());
    EXPECT_TRUE(workspace.terminate({pid, std::nullopt, std::nullopt, std::nullopt}));
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_FALSE(signaller.isAlive(pid));
}

TEST(QProcessLauncher, AMissingProgramIsNotStarted)
{
    const LaunchResult result = QProcessLauncher().run(QStringLiteral("/bin/launchctl-is-not-here"), {QStringLiteral("kickstart")});
    EXPECT_EQ(result.ending, LaunchResult::Ending::notStarted);
    EXPECT_EQ(result.exitCode, -1);
}

TEST(QProcessLauncher, GivesStatusAndStandardOutputOnly)
{
    const LaunchResult result =
        QProcessLauncher().run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 3")});
    EXPECT_EQ(result.ending, LaunchResult::Ending::exited);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.standardOutput, "out\n");
}

TEST(QProcessLauncher, OutputLargerThanAPipeDoesNotStallTheTool)
{
    // Two megabytes on each stream: both pipes must be drained while the tool runs.
    const QString script = QStringLiteral("head -c 2000000 /dev/zero | tr '\\0' x; head -c 2000000 /dev/zero >&2");
    const LaunchResult result = QProcessLauncher().run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    EXPECT_EQ(result.ending, LaunchResult::Ending::exited);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.standardOutput, QByteArray(2000000, 'x'));
}

TEST(QProcessLauncher, AToolEndedBySignalIsNotAnExit)
{
    const LaunchResult result = QProcessLauncher().run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("kill -9 $$")});
    EXPECT_EQ(result.ending, LaunchResult::Ending::crashed);
}
