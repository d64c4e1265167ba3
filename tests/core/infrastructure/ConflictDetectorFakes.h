#pragma once

#include "infrastructure/RunningAppConflictDetector.h"

#include <QCoreApplication>
#include <QThread>

#include <functional>
#include <mutex>
#include <stdexcept>

namespace quillbarrow::fakes {

// One ordered record of everything the detector does to the host system, from any thread.
class EventLog {
public:
    void add(const QString& event)
    {
        std::lock_guard lock(m_mutex);
        m_events.append(event);
    }
    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_events;
};

class FakeWorkspace final : public Workspace {
public:
    explicit FakeWorkspace(std::shared_ptr<EventLog> log) : m_log(std::move(log)) {}
    QList<RunningApplication> running;
    bool removeOnTerminate = false;

    QList<RunningApplication> runningApplications() const override { return running; }
    bool terminate(const RunningApplication& application) override
    {
        m_log->add(QStringLiteral("terminate %1").arg(application.pid));
        if (removeOnTerminate) {
            running.removeIf([&](const RunningApplication& a) { return a.pid == application.pid; });
        }
        return removeOnTerminate;
    }

private:
    std::shared_ptr<EventLog> m_log;
};

// Sending signals is logged; the alive test (signal 0) asks `alive` and is only counted.
class FakeSignals final : public ProcessSignals {
public:
    explicit FakeSignals(std::shared_ptr<EventLog> log) : m_log(std::move(log)) {}
    std::function<bool(qint32)> alive = [](qint32) { return false; };
    int aliveTests = 0;

    int send(qint32 pid, int signal) override
    {
        if (signal == aliveTest) {
            ++aliveTests;
            return alive(pid) ? 0 : -1;
        }
        m_log->add(QStringLiteral("signal %1 to %2").arg(signal).arg(pid));
        return 0;
    }

private:
    std::shared_ptr<EventLog> m_log;
};

// Answers "/bin/ps" with the current listing and "/bin/launchctl" as missing, unless told
// otherwise; records each launch and whether it ran off the main thread.
class FakeLauncher final : public ProcessLauncher {
public:
    explicit FakeLauncher(std::shared_ptr<EventLog> log) : m_log(std::move(log)) {}

    void setListing(LaunchResult result)
    {
        std::lock_guard lock(m_mutex);
        m_listing = std::move(result);
    }
    void setListing(const QByteArray& text) { setListing(LaunchResult{LaunchResult::Ending::exited, 0, text}); }
    int launchesOnMainThread() const
    {
        std::lock_guard lock(m_mutex);
        return m_onMainThread;
    }

    LaunchResult run(const QString& program, const QStringList& arguments) override
    {
        m_log->add(QStringLiteral("run ") + program + u' ' + arguments.join(u' '));
        std::lock_guard lock(m_mutex);
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++m_onMainThread;
        }
        return program == u"/bin/ps" ? m_listing : LaunchResult{};
    }

private:
    std::shared_ptr<EventLog> m_log;
    mutable std::mutex m_mutex;
    LaunchResult m_listing{LaunchResult::Ending::exited, 0, {}};
    int m_onMainThread = 0;
};

class FakeProcessTable final : public ProcessTable {
public:
    QList<ProcessEntry> processes() const override { return {}; }
    uint currentUserId() const override { return 501; }
};

// A process table that counts its reads and those made on the main thread: reading the real one
// blocks on the file system.
class ThreadRecordingProcessTable final : public ProcessTable {
public:
    explicit ThreadRecordingProcessTable(QList<ProcessEntry> entries) : m_entries(std::move(entries)) {}

    QList<ProcessEntry> processes() const override
    {
        std::lock_guard lock(m_mutex);
        ++m_reads;
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++m_readsOnMainThread;
        }
        return m_entries;
    }
    uint currentUserId() const override { return 501; }

    int reads() const
    {
        std::lock_guard lock(m_mutex);
        return m_reads;
    }
    int readsOnMainThread() const
    {
        std::lock_guard lock(m_mutex);
        return m_readsOnMainThread;
    }

private:
    const QList<ProcessEntry> m_entries;
    mutable std::mutex m_mutex;
    mutable int m_reads = 0;
    mutable int m_readsOnMainThread = 0;
};

// Time moves only when the detector waits; each wait is logged in milliseconds.
class FakeClock final : public WaitClock {
public:
    explicit FakeClock(std::shared_ptr<EventLog> log) : m_log(std::move(log)) {}
    std::chrono::nanoseconds elapsed{0};

    TimePoint now() const override { return TimePoint(elapsed); }
    QCoro::Task<bool> sleep(std::chrono::nanoseconds duration, std::stop_token stop) override
    {
        m_log->add(QStringLiteral("sleep %1 ms").arg(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count()));
        // A loop that never lets time pass would otherwise hang the test instead of failing it.
        if (++m_sleeps > 1000) {
            throw std::runtime_error("more than 1000 waits: the caller spins");
        }
        if (stop.stop_requested()) {
            co_return false;
        }
        elapsed += duration;
        co_return true;
    }

private:
    std::shared_ptr<EventLog> m_log;
    int m_sleeps = 0;
};

struct Host {
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>(log);
    std::shared_ptr<FakeSignals> signaller = std::make_shared<FakeSignals>(log);
    std::shared_ptr<FakeLauncher> launcher = std::make_shared<FakeLauncher>(log);
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(log);
    static constexpr qint32 ownPid = 4242;

    RunningAppConflictDetector::Platform platform() const
    {
        return {workspace, signaller, launcher, std::make_shared<FakeProcessTable>(), clock, ownPid};
    }
};

} // namespace quillbarrow::fakes
