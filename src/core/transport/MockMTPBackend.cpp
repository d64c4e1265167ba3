#include "MockMTPBackend.h"

#include "MockDeviceSession.h"
#include "domain/QuillbarrowError.h"

#include <QUuid>

#include <algorithm>
#include <utility>
#include <vector>

namespace quillbarrow {

struct MockMTPBackend::Streams {
    // In the order the streams were opened.
    std::vector<std::pair<QUuid, AsyncChannel<DeviceConnectionEvent>::Sender>> senders;

    void remove(const QUuid& key)
    {
        std::erase_if(senders, [&key](const auto& entry) { return entry.first == key; });
    }
};

MockMTPBackend::MockMTPBackend(QList<AndroidDevice> devices)
    : m_devices(std::move(devices)), m_continuations(std::make_shared<Streams>())
{
    for (const AndroidDevice& device : m_devices) {
        m_trees.insert_or_assign(device.id, MockTree::sample(storageOf(device.id)));
    }
}

MockMTPBackend::MockMTPBackend(QList<AndroidDevice> devices, StorageID sharedStorageID)
    : m_devices(std::move(devices)), m_continuations(std::make_shared<Streams>()),
      m_sharedStorageID(std::move(sharedStorageID))
{
    for (const AndroidDevice& device : m_devices) {
        m_trees.insert_or_assign(device.id, MockTree::sample(storageOf(device.id)));
    }
}

StorageID MockMTPBackend::storageOf(const DeviceID& deviceID) const
{
    return m_sharedStorageID.value_or(storageIDFor(deviceID));
}

MockMTPBackend::~MockMTPBackend() = default;

QList<AndroidDevice> MockMTPBackend::defaultDevices()
{
    return {AndroidDevice(DeviceID(QStringLiteral("mock-pixel-8")), QStringLiteral("Pixel 8"), QStringLiteral("Google"),
                          QStringLiteral("Pixel 8"), QStringLiteral("MOCK123456"), DeviceConnectionKind::usb)};
}

StorageID MockMTPBackend::storageIDFor(const DeviceID& deviceID)
{
    return StorageID(deviceID.rawValue() + QStringLiteral("-internal"));
}

QCoro::Task<QList<AndroidDevice>> MockMTPBackend::currentDevices()
{
    // A copy: QCoro moves from a non-const lvalue given to co_return, which would empty the list.
    co_return QList<AndroidDevice>(m_devices);
}

AsyncChannel<DeviceConnectionEvent> MockMTPBackend::events()
{
    // Registered and filled at once, so that nothing a simulate operation reports after this
    // call can miss the stream.
    AsyncChannel<DeviceConnectionEvent> stream;
    const QUuid key = QUuid::createUuid();
    const AsyncChannel<DeviceConnectionEvent>::Sender sender = stream.sender();
    m_continuations->senders.emplace_back(key, sender);
    for (const AndroidDevice& device : m_devices) {
        sender.push(DeviceConnectionEvent::connected(device));
    }
    const std::weak_ptr<Streams> streams = m_continuations;
    stream.setOnTermination([streams, key] {
        if (const std::shared_ptr<Streams> alive = streams.lock()) {
            alive->remove(key);
        }
    });
    return stream;
}

QCoro::Task<std::shared_ptr<DeviceSession>> MockMTPBackend::openSession(DeviceID deviceID, OpenSessionOptions options)
{
    Q_UNUSED(options)
    const auto device = std::find_if(m_devices.cbegin(), m_devices.cend(),
                                     [&deviceID](const AndroidDevice& listed) { return listed.id == deviceID; });
    const auto tree = m_trees.find(deviceID);
    if (device == m_devices.cend() || tree == m_trees.end()) {
        throw QuillbarrowError::deviceNotFound();
    }
    co_return std::make_shared<MockDeviceSession>(*device, tree->second);
}

void MockMTPBackend::simulateConnect(const AndroidDevice& device)
{
    m_devices.append(device);
    m_trees.insert_or_assign(device.id, MockTree::sample(storageOf(device.id)));
    yieldToStreams(DeviceConnectionEvent::connected(device));
}

void MockMTPBackend::simulateDisconnect(const DeviceID& deviceID)
{
    m_devices.removeIf([&deviceID](const AndroidDevice& listed) { return listed.id == deviceID; });
    yieldToStreams(DeviceConnectionEvent::disconnected(deviceID));
}

int MockMTPBackend::streamCount() const
{
    return static_cast<int>(m_continuations->senders.size());
}

void MockMTPBackend::yieldToStreams(const DeviceConnectionEvent& event)
{
    // A stream whose consumer went away without its handler having run yet is forgotten too.
    std::erase_if(m_continuations->senders, [](const auto& entry) { return !entry.second.isOpen(); });
    for (const auto& [key, sender] : m_continuations->senders) {
        sender.push(event);
    }
}

} // namespace quillbarrow
