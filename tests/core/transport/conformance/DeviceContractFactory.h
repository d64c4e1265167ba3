#pragma once

#include "transport/MTPBackend.h"
#include "domain/AndroidDevice.h"
#include "domain/DeviceID.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/RemotePath.h"
#include "domain/StorageID.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace quillbarrow::testing {

// Everything the device-contract conformance suite needs to know about one conformer. Set
// `name` and `makeBackend` and/or `openSession`; every other member has a default that suits
// a real device, and an empty function means the conformer lacks that ability (the checks
// that need it are skipped, never failed).
struct DeviceContractFactory {
    // A folder the suite may create things in.
    struct WritableFolder {
        RemoteObjectID id;
        RemotePath path;
    };

    // Names the instantiation in test names: letters, digits and underscores only.
    std::string name;

    // A fresh backend for one test. Empty for a conformer that offers sessions only: the
    // backend and event-stream checks are then skipped.
    std::function<std::shared_ptr<MTPBackend>()> makeBackend;
    // The device to open; when absent, the first device the backend lists.
    std::optional<DeviceID> deviceID;
    // Opens the session under test, given the test's backend (null without makeBackend).
    // When empty, the backend's openSession(deviceID).
    std::function<QCoro::Task<std::shared_ptr<DeviceSession>>(std::shared_ptr<MTPBackend>)> openSession;

    // The storage to work on; when absent, the first storage the session lists.
    std::optional<StorageID> storageID;
    // Where the suite may write; when absent, the root of the storage. Each test that writes
    // makes a uniquely named folder of its own there and deletes it when it ends.
    std::optional<WritableFolder> writableFolder;

    // Identifiers the conformer cannot resolve (they must fail with pathNotFound, or
    // deviceNotFound for the device).
    StorageID unknownStorageID{QStringLiteral("no-such-storage")};
    RemoteObjectID unknownObjectID{QStringLiteral("no-such-object")};
    DeviceID unknownDeviceID{QStringLiteral("no-such-device")};

    bool supportsRename = true;
    // True when a download gives back the bytes that were uploaded. A conformer that keeps no
    // content may say what a download of an item writes instead; without that, only the
    // existence of the downloaded file is checked.
    bool storesFileContent = true;
    std::function<QByteArray(const RemoteItem& item)> substituteDownloadContent;

    // Attaches a device that is not attached yet and returns the record the backend will
    // announce for it; a second call attaches another one. Detaches an attached device.
    std::function<AndroidDevice(MTPBackend& backend)> attachDevice;
    std::function<void(MTPBackend& backend, const DeviceID& deviceID)> detachDevice;
    // How many event streams the backend is feeding now.
    std::function<int(MTPBackend& backend)> fedStreamCount;

    // How long to wait for any one thing the conformer does: an operation, an event after a
    // poll, a producer that stops after its stream is dropped.
    std::chrono::milliseconds watchdog{std::chrono::seconds(30)};
};

// Keeps GoogleTest from printing the functions' bytes when it names a failing parameter.
inline void PrintTo(const DeviceContractFactory& factory, std::ostream* out)
{
    *out << factory.name;
}

} // namespace quillbarrow::testing
