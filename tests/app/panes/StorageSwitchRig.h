#pragma once

#include "../chrome/ChromeBrowserRig.h"
#include "RunTask.h"
#include "async/OneShot.h"
#include "transport/MockDeviceSession.h"
#include "viewmodels/transfers/TransferQueue.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QSet>

#include <memory>

namespace quillbarrow::testing {

// Storage roots whose listing waits until the test lets it go.
struct RootHold {
    QSet<StorageID> held;
    OneShot<bool> gate;

    void release() { gate.fulfil(true); }
};

// A pretend session whose listings of held storage roots wait for the hold's release.
class HeldRootSession final : public MockDeviceSession {
public:
    HeldRootSession(AndroidDevice device, MockTree tree, std::shared_ptr<RootHold> hold)
        : MockDeviceSession(std::move(device), std::move(tree)), m_hold(std::move(hold))
    {
    }

    QCoro::Task<DirectoryPage> rootDirectory(StorageID storageID) override
    {
        if (m_hold->held.contains(storageID)) {
            const OneShot<bool> gate = m_hold->gate;
            auto released = gate.wait();
            co_await std::move(released);
        }
        QCoro::Task<DirectoryPage> listing = MockDeviceSession::rootDirectory(storageID);
        co_return co_await std::move(listing);
    }

private:
    std::shared_ptr<RootHold> m_hold;
};

// The mock backend's one device, with the storages given and the folders DCIM/Camera on the
// first one; its sessions hold the listings the rig's hold names.
class StorageRigBackend final : public MockMTPBackend {
public:
    StorageRigBackend(AndroidDevice device, QList<StorageRoot> storages, std::shared_ptr<RootHold> hold)
        : MockMTPBackend({device}), m_device(std::move(device)), m_tree(storages, {}), m_hold(std::move(hold))
    {
        const RemoteItem dcim = m_tree.addFolder(QStringLiteral("DCIM"), std::nullopt, storages.first().id);
        m_tree.addFolder(QStringLiteral("Camera"), dcim.id, storages.first().id);
    }

    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID, OpenSessionOptions) override
    {
        co_return std::make_shared<HeldRootSession>(m_device, m_tree, m_hold);
    }
    using MockMTPBackend::openSession;

    // The tree the next session serves.
    MockTree& tree() { return m_tree; }

private:
    AndroidDevice m_device;
    MockTree m_tree;
    std::shared_ptr<RootHold> m_hold;
};

inline StorageRoot internalStorage()
{
    return StorageRoot(StorageID(QStringLiteral("s1")), QStringLiteral("Internal shared storage"),
                       qint64(128'000'000'000), qint64(42'500'000'000));
}

inline StorageRoot cardStorage()
{
    return StorageRoot(StorageID(QStringLiteral("s2")), QStringLiteral("SD card"), qint64(64'000'000'000),
                       std::nullopt);
}

// A device browser connected to a device with the given storages (internal and card by
// default), its first storage's root shown.
struct StorageRig {
    explicit StorageRig(QList<StorageRoot> storages = {internalStorage(), cardStorage()})
        : device(DeviceID(QStringLiteral("pixel")), QStringLiteral("Pixel 8"), QStringLiteral("Google"),
                 QStringLiteral("Pixel 8"), QStringLiteral("pixel-serial"), DeviceConnectionKind::usb),
          backend(std::make_shared<StorageRigBackend>(device, storages, hold)),
          browser(backend, AppLogger(QStringLiteral("DeviceBrowserViewModel")), std::make_shared<QuietConflictDetector>(),
                  std::make_shared<TransferQueue>(AppLogger(QStringLiteral("TransferQueue"))),
                  std::make_shared<InMemoryUserDefaults>(), quickTiming())
    {
    }

    // A held switch is let go first, so that no listing outlives the browser.
    ~StorageRig()
    {
        hold->release();
        processEventsUntil([this] { return !browser.pendingStorageID(); });
    }

    // Connects and waits for the first storage's root.
    void connect() { runTask(browser.selectDevice(device)); }

    // Opens the folder of that name in the folder shown, and waits for its listing.
    void openFolder(const QString& name)
    {
        for (const RemoteItem& item : browser.items()) {
            if (item.name == name) {
                runTask(browser.openFolder(item));
                return;
            }
        }
        throw std::runtime_error("no such folder shown");
    }

    AndroidDevice device;
    std::shared_ptr<RootHold> hold = std::make_shared<RootHold>();
    std::shared_ptr<StorageRigBackend> backend;
    DeviceBrowserViewModel browser;
};

} // namespace quillbarrow::testing
