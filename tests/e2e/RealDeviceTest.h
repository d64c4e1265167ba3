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

namespace quillbarrow::e2e {

// A test against the attached device: a backend made as the application makes it, a session on
// the one attached device, and a folder of the test's own (named after the test) in the writable
// folder, which every test finds again by name.
class RealDeviceTest : public ::testing::Test {
  protected:
    static constexpr std::chrono::milliseconds watchdog{std::chrono::seconds(60)};

    RealDeviceTest();
    void SetUp() override;
    void TearDown() override;

    template <typename T> T run(QCoro::Task<T> task, std::chrono::milliseconds limit = watchdog)
    {
        return testing::runTask(std::move(task), limit);
    }

    // The QuillbarrowError that the operation ends with; nothing when it succeeds.
    template <typename T> std::optional<QuillbarrowError> failureOf(QCoro::Task<T> task)
    {
        try {
            run(std::move(task));
        } catch (const QuillbarrowError& error) {
            return error;
        }
        return std::nullopt;
    }

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
};

} // namespace quillbarrow::e2e
