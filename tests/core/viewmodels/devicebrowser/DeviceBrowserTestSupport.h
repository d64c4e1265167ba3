#pragma once

#include "DeviceBrowserViewModelProbe.h"
#include "FakeConflictDetector.h"
#include "FakeDeviceSession.h"
#include "FakeMTPBackend.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "viewmodels/transfers/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <optional>
#include <type_traits>

// Readable texts in failure messages (QString lives in the global namespace, where GoogleTest
// looks for its printer).
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace quillbarrow::testing {

// A clock that takes its waits for real (tests use waits of milliseconds) and records each.
class RecordingWaitClock final : public WaitClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    QCoro::Task<bool> sleep(std::chrono::nanoseconds duration, std::stop_token stop) override;
    // The durations asked for, in milliseconds, in order.
    const QList<qint64>& sleeps() const { return m_sleeps; }

private:
    QList<qint64> m_sleeps;
};

// Limits and pauses short enough for tests, the pauses taken by `clock`; each test that depends
// on a limit sets its own.
DeviceBrowserTiming fastTiming(std::shared_ptr<WaitClock> clock);

// The log lines of the device browser's category written while it is alive, with their level.
class DeviceBrowserLog {
public:
    DeviceBrowserLog();
    ~DeviceBrowserLog();
    DeviceBrowserLog(const DeviceBrowserLog&) = delete;
    DeviceBrowserLog& operator=(const DeviceBrowserLog&) = delete;

    QStringList infoLines() const;
    QStringList errorLines() const;
};

// A device browser over the fakes, a real transfer queue and in-memory user defaults.
class DeviceBrowserTest : public ::testing::Test {
protected:
    void TearDown() override;

    DeviceBrowserViewModel& viewModel();
    DeviceBrowserViewModelProbe probe() { return DeviceBrowserViewModelProbe(viewModel()); }
    // Destroys the view model (teardown as the application would do it).
    void destroyViewModel();
    // A queued transfer job, so that the queue has an active job.
    TransferID queueJob();
    // The phases taken from now on, in order.
    std::shared_ptr<QList<DeviceConnectionPhase>> recordPhases();
    // A session for the device over the tree, registered with the backend.
    std::shared_ptr<FakeDeviceSession> sessionFor(const AndroidDevice& device, FakeDeviceTree tree);

    std::shared_ptr<RecordingWaitClock> clock = std::make_shared<RecordingWaitClock>();
    DeviceBrowserTiming timing = fastTiming(clock);
    std::shared_ptr<FakeMTPBackend> backend = std::make_shared<FakeMTPBackend>();
    std::shared_ptr<FakeConflictDetector> detector = std::make_shared<FakeConflictDetector>();
    std::shared_ptr<TransferQueue> queue = std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue")));
    std::shared_ptr<InMemoryUserDefaults> preferences = std::make_shared<InMemoryUserDefaults>();
    DeviceBrowserLog log;

private:
    std::unique_ptr<DeviceBrowserViewModel> m_viewModel;
    QList<std::shared_ptr<FakeDeviceSession>> m_sessions;
};

// A device browser and one attached fake phone, whose session serves the tree the test gives.
class ConnectedDeviceBrowserTest : public DeviceBrowserTest {
protected:
    explicit ConnectedDeviceBrowserTest(AndroidDevice phone = testing::phone("d1"));

    // The phone's session serves this tree.
    void useTree(FakeDeviceTree tree);
    // Selects the phone and waits until it is connected, its storage root shown; newCalls()
    // starts afresh.
    void connect();
    // The session calls made since connect() or forgetCalls().
    QStringList newCalls() const;
    void forgetCalls();
    // The table's row of this name.
    std::optional<RemoteItem> row(const QString& name);

    const AndroidDevice device;
    std::shared_ptr<FakeDeviceSession> session;

private:
    qsizetype m_callsBefore = 0;
};

// The names of the rows, in order.
QStringList itemNames(const QList<RemoteItem>& items);

// Files "f0000", "f0001" ... in the root of storage s1, enough for a listing prepared on the work
// pool; each a byte smaller than the one before, so by size they come in reverse. Or `count`, in `folder`.
QList<RemoteItem> manyFiles(qsizetype count = DeviceBrowserViewModelProbe::bigListing,
                            std::optional<QString> folder = std::nullopt);

// What a task started by startTask() ended with; `resumptions` counts how often its caller went
// on after it (exactly once for a sound task).
template <typename T>
struct TaskOutcome {
    bool done = false;
    int resumptions = 0;
    // True for a task without a result that ended without error.
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;

    // The error as the log shows it, or "" without one.
    QString errorText() const { return error ? describe(error) : QString(); }
};

template <typename T>
QCoro::Task<> collectOutcome(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace(true);
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    ++outcome->resumptions;
}

// Starts the task and returns at once; the event loop drives it on.
template <typename T>
std::shared_ptr<TaskOutcome<T>> startTask(QCoro::Task<T> task)
{
    auto outcome = std::make_shared<TaskOutcome<T>>();
    QCoro::Task<> collecting = collectOutcome(std::move(task), outcome);
    Q_UNUSED(collecting)
    return outcome;
}

// A tree with one storage "s1" holding the given items.
FakeDeviceTree treeWith(const QList<RemoteItem>& items, QList<StorageRoot> storages = {testStorage()});

} // namespace quillbarrow::testing
