#include "USBProbeMTPBackend.h"

#include "async/Sleep.h"
#include "domain/QuillbarrowError.h"

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace quillbarrow {

namespace {

using EventSender = AsyncChannel<DeviceConnectionEvent>::Sender;

// The devices attached now, looked at on `executor`; none when the look fails.
QCoro::Task<QList<AndroidDevice>> enumerate(std::shared_ptr<SerialExecutor> executor, USBDeviceProbe probe)
{
    try {
        QFuture<QList<AndroidDevice>> enumeration = executor->run([probe] { return probe.androidMTPDevices(); });
        co_return co_await enumeration;
    } catch (...) {
        co_return QList<AndroidDevice>();
    }
}

// Two attached devices can yield one identifier (two phones of one model that report the same
// serial number); the first record of each identifier stands for both, so the stream neither
// announces the identifier twice nor reports it as changed on every poll.
QList<AndroidDevice> firstOfEachIdentifier(const QList<AndroidDevice>& devices)
{
    QList<AndroidDevice> unique;
    QSet<DeviceID> seen;
    for (const AndroidDevice& device : devices) {
        if (!seen.contains(device.id)) {
            seen.insert(device.id);
            unique.append(device);
        }
    }
    return unique;
}

// The events that turn `known` into `current` (both with unique identifiers): every connected
// event, then every changed event, each in the order of `current`, then the disconnected events in
// the order of `known`. A consumer therefore learns of a new device before it hears that another
// one left.
QList<DeviceConnectionEvent> changesBetween(const QList<AndroidDevice>& known, const QList<AndroidDevice>& current)
{
    QHash<DeviceID, const AndroidDevice*> knownByID;
    for (const AndroidDevice& device : known) {
        knownByID.insert(device.id, &device);
    }
    QSet<DeviceID> currentIDs;
    QList<DeviceConnectionEvent> events;
    for (const AndroidDevice& device : current) {
        currentIDs.insert(device.id);
        if (!knownByID.contains(device.id)) {
            events.append(DeviceConnectionEvent::connected(device));
        }
    }
    for (const AndroidDevice& device : current) {
        const AndroidDevice* previous = knownByID.value(device.id, nullptr);
        if (previous != nullptr && !(*previous == device)) {
            events.append(DeviceConnectionEvent::changed(device));
        }
    }
    for (const AndroidDevice& device : known) {
        if (!currentIDs.contains(device.id)) {
            events.append(DeviceConnectionEvent::disconnected(device.id));
        }
    }
    return events;
}

// Counts a polling task as running for as long as its frame lives.
class RunningMark {
public:
    explicit RunningMark(std::shared_ptr<std::atomic<int>> counter) : m_counter(std::move(counter)) { ++*m_counter; }
    ~RunningMark() { --*m_counter; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    std::shared_ptr<std::atomic<int>> m_counter;
};

// One stream's polling task. Nothing here refers to the backend, so the stream may outlive it.
QCoro::Task<> pollDevices(EventSender sender, USBDeviceProbe probe, std::shared_ptr<SerialExecutor> executor,
                          USBProbeMTPBackend::PollPause pause, std::shared_ptr<std::atomic<int>> running)
{
    const RunningMark mark(std::move(running));
    const std::stop_token stop = sender.stopToken();
    try {
        QList<AndroidDevice> known; // a new stream announces every attached device
        while (!stop.stop_requested()) {
            QCoro::Task<QList<AndroidDevice>> looking = enumerate(executor, probe);
            const QList<AndroidDevice> current = firstOfEachIdentifier(co_await looking);
            if (stop.stop_requested()) {
                break;
            }
            for (const DeviceConnectionEvent& event : changesBetween(known, current)) {
                sender.push(event);
            }
            known = current;
            QCoro::Task<> waiting = pause(stop);
            co_await waiting;
        }
    } catch (...) {
        // Only a failing pause lands here; the stream then ends instead of polling without pause.
    }
    sender.finish();
}

QCoro::Task<> sleepBetweenPolls(std::chrono::nanoseconds interval, std::stop_token stop)
{
    co_await sleepFor(interval, stop);
}

QCoro::Task<QList<AndroidDevice>> listDevices(std::shared_ptr<SerialExecutor> executor, USBDeviceProbe probe,
                                              AppLogger logger)
{
    QCoro::Task<QList<AndroidDevice>> looking = enumerate(std::move(executor), std::move(probe));
    QList<AndroidDevice> devices = co_await looking;
    logger.info(QStringLiteral("USB probe found ") + QString::number(devices.size()) +
                QStringLiteral(" Android/MTP candidate device(s)"));
    co_return devices;
}

QCoro::Task<std::shared_ptr<DeviceSession>> refuseSession(std::shared_ptr<SerialExecutor> executor,
                                                          USBDeviceProbe probe, DeviceID deviceID)
{
    QCoro::Task<QList<AndroidDevice>> looking = enumerate(std::move(executor), std::move(probe));
    const QList<AndroidDevice> devices = co_await looking;
    const bool attached = std::any_of(devices.begin(), devices.end(),
                                      [&deviceID](const AndroidDevice& device) { return device.id == deviceID; });
    if (!attached) {
        throw QuillbarrowError::deviceNotFound();
    }
    throw QuillbarrowError::unsupportedOperation(USBProbeMTPBackend::sessionUnsupportedMessage());
}

} // namespace

USBProbeMTPBackend::USBProbeMTPBackend(USBDeviceProbe probe, AppLogger logger, PollPause pause)
    : m_probe(std::move(probe)), m_logger(std::move(logger)), m_pause(std::move(pause)),
      m_executor(std::make_shared<SerialExecutor>()), m_pollExecutor(std::make_shared<SerialExecutor>()),
      m_runningPollers(std::make_shared<std::atomic<int>>(0))
{
}

USBProbeMTPBackend::~USBProbeMTPBackend() = default;

QCoro::Task<QList<AndroidDevice>> USBProbeMTPBackend::currentDevices()
{
    return listDevices(m_executor, m_probe, m_logger);
}

AsyncChannel<DeviceConnectionEvent> USBProbeMTPBackend::events()
{
    AsyncChannel<DeviceConnectionEvent> channel;
    // The stream always looks for the standard Android vendors over this backend's devices.
    QCoro::Task<> polling =
        pollDevices(channel.sender(), USBDeviceProbe(m_probe.reader()), m_pollExecutor, m_pause, m_runningPollers);
    Q_UNUSED(polling) // runs on by itself until the consumer drops the stream
    return channel;
}

QCoro::Task<std::shared_ptr<DeviceSession>> USBProbeMTPBackend::openSession(DeviceID deviceID,
                                                                            OpenSessionOptions options)
{
    Q_UNUSED(options)
    return refuseSession(m_executor, m_probe, std::move(deviceID));
}

int USBProbeMTPBackend::runningPollers() const
{
    return m_runningPollers->load();
}

USBProbeMTPBackend::PollPause USBProbeMTPBackend::pauseFor(std::chrono::nanoseconds interval)
{
    return [interval](std::stop_token stop) { return sleepBetweenPolls(interval, std::move(stop)); };
}

QString USBProbeMTPBackend::sessionUnsupportedMessage()
{
    return QStringLiteral(
        "The Mac can see this Android USB device, but this build does not yet include the libmtp session bridge "
        "needed to browse files. Install a pinned libmtp backend and enable QUILLBARROW_BACKEND=libmtp once the "
        "bridge is implemented.");
}

} // namespace quillbarrow
