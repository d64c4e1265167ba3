#pragma once

#include "MTPBackend.h"
#include "MockTree.h"

#include <QList>

#include <memory>
#include <unordered_map>

namespace quillbarrow {

// A backend of pretend devices, for running the application without a phone. Each device has
// a sample tree on one storage named after it; every session starts from a copy of that tree.
// Main-thread object. The device list changes only through simulateConnect and
// simulateDisconnect.
class MockMTPBackend : public MTPBackend {
public:
    explicit MockMTPBackend(QList<AndroidDevice> devices);
    // Devices whose one storage has the same id, as real phones number their first storage alike;
    // their objects have the sample's ids anyway. For trying what an id of one phone does on
    // another.
    MockMTPBackend(QList<AndroidDevice> devices, StorageID sharedStorageID);
    ~MockMTPBackend() override;
    MockMTPBackend(const MockMTPBackend&) = delete;
    MockMTPBackend& operator=(const MockMTPBackend&) = delete;

    // The one pretend "Pixel 8"; a new list on every call.
    static QList<AndroidDevice> defaultDevices();
    // The id of a device's one storage: the device id followed by "-internal".
    static StorageID storageIDFor(const DeviceID& deviceID);

    QCoro::Task<QList<AndroidDevice>> currentDevices() override;
    // Announces the devices listed now as connected, then carries what the simulate
    // operations report, until the consumer drops it.
    AsyncChannel<DeviceConnectionEvent> events() override;
    // deviceNotFound unless a listed device has the id; the options are not read.
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID, OpenSessionOptions options) override;
    using MTPBackend::openSession;

    // Lists the device (even when its id is listed already), gives it a fresh sample tree and
    // reports it connected to every stream.
    void simulateConnect(const AndroidDevice& device);
    // Unlists every device with the id (its tree stays) and reports it disconnected.
    void simulateDisconnect(const DeviceID& deviceID);

    // The number of event streams still being fed.
    int streamCount() const;

private:
    struct Streams;

    void yieldToStreams(const DeviceConnectionEvent& event);
    StorageID storageOf(const DeviceID& deviceID) const;

    QList<AndroidDevice> m_devices;
    // Shared with each stream's termination handler, which may run after the backend is gone.
    std::shared_ptr<Streams> m_continuations;
    std::unordered_map<DeviceID, MockTree> m_trees;
    std::optional<StorageID> m_sharedStorageID;
};

} // namespace quillbarrow
