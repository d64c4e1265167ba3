#include "DeviceBrowserViewModel.h"

#include <QPointer>

#include <algorithm>

namespace quillbarrow {

void DeviceBrowserViewModel::start()
{
    if (!m_selectedDevice) {
        setConnectionPhase(DeviceConnectionPhase::detecting);
    }
    const std::stop_token stop = m_monitorTask.start(); // stops the task it replaces
    QCoro::Task<> monitoring = monitorDevices(stop);
    Q_UNUSED(monitoring) // held through its slot
}

QCoro::Task<> DeviceBrowserViewModel::monitorDevices(std::stop_token stop)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<MTPBackend> backend = m_backend;
    QList<AndroidDevice> current;
    try {
        current = co_await backend->currentDevices();
    } catch (...) {
        // The backend reports a failed scan as no device; should it fail all the same, the
        // events still tell what arrives.
    }
    if (!self) {
        co_return;
    }
    // A task replaced while it waited still applies its list, as the list is the backend's.
    setDevices(current);
    if (current.isEmpty() && !m_selectedDevice) {
        setConnectionPhase(DeviceConnectionPhase::idle);
    }
    autoSelectOnlyDeviceIfNeeded();
    if (stop.stop_requested()) {
        co_return;
    }
    AsyncChannel<DeviceConnectionEvent> events = backend->events();
    for (;;) {
        std::optional<DeviceConnectionEvent> event = co_await events.next(stop);
        if (!self || !event) {
            co_return; // dropping the stream stops the backend's feeding
        }
        handle(*event);
    }
}

void DeviceBrowserViewModel::handle(const DeviceConnectionEvent& event)
{
    if (event.kind() != DeviceConnectionEvent::Kind::disconnected) {
        const AndroidDevice& device = *event.device();
        const bool listed = std::any_of(m_devices.cbegin(), m_devices.cend(),
                                        [&](const AndroidDevice& entry) { return entry.id == device.id; });
        if (!listed) {
            QList<AndroidDevice> devices = m_devices;
            devices.append(device);
            setDevices(std::move(devices));
        }
        autoSelectOnlyDeviceIfNeeded();
        return;
    }
    const DeviceID id = event.deviceID();
    QList<AndroidDevice> devices = m_devices;
    devices.removeIf([&](const AndroidDevice& entry) { return entry.id == id; });
    setDevices(std::move(devices));
    m_autoSelectionAttempts.remove(id);
    if (m_selectedDevice && m_selectedDevice->id == id) {
        forgetSelectedDevice();
    }
}

void DeviceBrowserViewModel::forgetSelectedDevice()
{
    setSelectedDevice(std::nullopt);
    clearDeviceState();
    // A connection still running for the device that went must not write its state any more.
    ++m_connectGeneration;
    setConnectionPhase(DeviceConnectionPhase::idle);
    present(QuillbarrowError::transferInterrupted());
    closeInBackground(takeSession());
}

void DeviceBrowserViewModel::autoSelectOnlyDeviceIfNeeded()
{
    if (m_selectedDevice || m_devices.size() != 1 || m_autoSelectionAttempts.contains(m_devices.first().id)) {
        return;
    }
    m_autoSelectionAttempts.insert(m_devices.first().id);
    QCoro::Task<> selecting = selectDevice(m_devices.first());
    Q_UNUSED(selecting) // runs on by itself; the event loop does not wait for a connection
}

} // namespace quillbarrow
