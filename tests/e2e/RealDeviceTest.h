#pragma once

#include "E2EResponder.h"
#include "QtPrinting.h"
#include "RunTask.h"
#include "domain/QuillbarrowError.h"
#include "transport/DeviceSession.h"
#include "transport/MTPBackend.h"

#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <source_location>

namespace quillbarrow::e2e {

class TransferRig;

// A test against the attached device: a backend made as the application makes it, a session on
// the one attached device, and a folder of the test's own (named after the test) in the writable
// folder, which every test finds again by name.
//
// A call that runs out of time fails the test, saying what it waited for (the session's
// operations under way, the transfers' states), and the task goes on unwatched: it may hold the
// device for ever. So the test then lets the device go before the next one begins: it cancels the
// transfers it watches, closes the session as far as it can, and has the device unplugged and
// plugged in again, which ends whatever libmtp still waits for and leaves the responder as new.
class RealDeviceTest : public ::testing::Test {
  protected:
    static constexpr std::chrono::milliseconds watchdog{std::chrono::seconds(60)};

    RealDeviceTest();
    void SetUp() override;
    void TearDown() override;

    template <typename T>
    T run(QCoro::Task<T> task, std::chrono::milliseconds limit = watchdog,
          std::source_location where = std::source_location::current())
    {
        try {
            return testing::runTask(std::move(task), limit);
        } catch (const testing::WatchdogExpired&) {
            ranOutOfTime(limit, where);
            throw;
        }
    }

    // The QuillbarrowError that the operation ends with; nothing when it succeeds.
    template <typename T>
    std::optional<QuillbarrowError> failureOf(QCoro::Task<T> task,
                                              std::source_location where = std::source_location::current())
    {
        try {
            run(std::move(task), watchdog, where);
        } catch (const QuillbarrowError& error) {
            return error;
        }
        return std::nullopt;
    }

    // The transfers of the test's rig: shown when a call runs out of time, and cancelled then.
    void watchTransfers(TransferRig& rig) { m_transfers = &rig; }

    // Opens a new session on the attached device; the device is the one listed first.
    void openSession();
    // Finds the test's folder again, by name, after a new session was opened.
    void findFolderAgain();
    // The device item of LocalTree's big file in the seed folder (see
    // E2EResponder::prepareServedFolder).
    RemoteItem seededBigFile();
    // Asks the runner to "unplug" or "plug" the device and waits for its answer.
    void request(const QString& action);
    // Waits until the backend lists exactly `count` devices.
    bool waitForDevices(int count);
    // Closes the session, unplugs the device, plugs it back in and opens a new session: what a
    // user does with a phone that stopped answering. The responder starts afresh.
    void replugAndReopen();
    // The items of a device folder (the test's folder when absent), through the session.
    QList<RemoteItem> children(std::optional<RemoteObjectID> folder = std::nullopt);
    std::optional<RemoteItem> child(const QString& name, std::optional<RemoteObjectID> folder = std::nullopt);
    // The served folder's copy of the test's folder (what the device holds, seen from the host).
    QString servedFolder() const;
    // A path in the test's local temporary folder.
    QString localPath(const QString& relative) const;

    const E2EResponder& m_responder;
    std::shared_ptr<MTPBackend> m_backend;
    AndroidDevice m_device;
    std::shared_ptr<DeviceSession> m_session;
    StorageID m_storage;
    std::optional<RemoteItem> m_folder;
    QTemporaryDir m_local;

  private:
    // Says what the call made at `where` waited for when its time ran out, and marks the device to
    // be let go at the end of the test.
    void ranOutOfTime(std::chrono::milliseconds limit, const std::source_location& where);
    // Ends what a call that ran out of time left running, as far as it can, and unplugs and plugs
    // the device in again (see the class comment).
    void releaseDevice();

    TransferRig* m_transfers = nullptr;
    bool m_timedOut = false;
};

} // namespace quillbarrow::e2e
