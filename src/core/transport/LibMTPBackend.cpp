#include "LibMTPBackend.h"

#include "LibMTPDeviceScanner.h"
#include "LibMTPErrorMapper.h"
#include "async/Sleep.h"
#include "domain/QuillbarrowError.h"

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QSet>

namespace quillbarrow {

namespace {

using EventSender = AsyncChannel<DeviceConnectionEvent>::Sender;

// An opened device's handle until a session takes it: closed if the open is abandoned on the
// way (the caller stopped waiting, or something failed after the open).
class OpenedHandle {
  public:
    OpenedHandle(std::shared_ptr<LibMTPBridge> bridge, CMTPDeviceHandle* handle)
        : m_bridge(std::move(bridge)), m_handle(handle)
    {
    }
    ~OpenedHandle()
    {
        if (m_handle != nullptr) {
            m_bridge->closeDevice(m_handle);
        }
    }
    OpenedHandle(const OpenedHandle&) = delete;
    OpenedHandle& operator=(const OpenedHandle&) = delete;

    CMTPDeviceHandle* get() const { return m_handle; }
    CMTPDeviceHandle* release() { return std::exchange(m_handle, nullptr); }

  private:
    std::shared_ptr<LibMTPBridge> m_bridge;
    CMTPDeviceHandle* m_handle;
};

struct OpenedDevice {
    AndroidDevice device;
    std::shared_ptr<OpenedHandle> handle;
};

// What the blocking calls need; copied into each job so that no job touches the backend.
struct BridgeAccess {
    std::shared_ptr<LibMTPBridge> bridge;
    DynamicLibraryProbe probe;
    AppLogger logger;
};

QString messageOf(const CMTPOpenResult& result)
{
    return LibMTPDeviceScanner::fieldText(result.error_message, sizeof result.error_message);
}

bool isOpen(const CMTPOpenResult& result)
{
    return result.handle != nullptr && result.error_code == 0;
}

// A handle that came with an error code is not trusted: it is closed and the result counts as
// a failed open with that code.
CMTPOpenResult withoutStrayHandle(LibMTPBridge& bridge, CMTPOpenResult result)
{
    if (result.handle != nullptr && result.error_code != 0) {
        bridge.closeDevice(result.handle);
        result.handle = nullptr;
    }
    return result;
}

// The error of an open that gave no device. A result without a handle and without a code says
// nothing about why; it still must not pass for a success.
QuillbarrowError openFailure(const CMTPOpenResult& result, const QString& message)
{
    if (result.error_code == 0) {
        return QuillbarrowError::sessionFailed(
            message.isEmpty() ? QStringLiteral("libmtp reported a general failure.") : message);
    }
    return LibMTPErrorMapper::map(result.error_code, message);
}

QList<AndroidDevice> listDevicesNow(const BridgeAccess& access)
{
    if (!access.probe.findLibMTP()) {
        access.logger.info(
            QStringLiteral("libmtp not found; no hardware devices can be enumerated by this build"));
        return {};
    }
    QList<LibMTPDeviceEntry> entries;
    try {
        entries = LibMTPDeviceScanner::scan(*access.bridge);
    } catch (...) {
        const QuillbarrowError error = QuillbarrowError::fromException(std::current_exception());
        access.logger.error(QStringLiteral("libmtp detection failed: ") + error.technicalDetails());
        return {};
    }
    access.logger.info(QStringLiteral("libmtp found ") + QString::number(entries.size()) +
                       QStringLiteral(" MTP device(s)"));
    QList<AndroidDevice> devices;
    devices.reserve(entries.size());
    for (const LibMTPDeviceEntry& entry : entries) {
        devices.append(entry.device);
    }
    return devices;
}

OpenedDevice openDeviceNow(const BridgeAccess& access, const DeviceID& wanted)
{
    LibMTPBridge& bridge = *access.bridge;
    if (!access.probe.findLibMTP()) {
        throw QuillbarrowError::unsupportedOperation(LibMTPBackend::libraryMissingMessage());
    }
    const QList<LibMTPDeviceEntry> entries = LibMTPDeviceScanner::scan(bridge);
    const std::optional<LibMTPDeviceEntry> entry = LibMTPBackend::matchEntry(wanted, entries);
    if (!entry) {
        throw QuillbarrowError::deviceNotFound();
    }
    if (!(entry->device.id == wanted)) {
        access.logger.info(QStringLiteral("device ") + wanted.rawValue() +
                           QStringLiteral(" re-enumerated; reconnecting to ") + entry->device.id.rawValue() +
                           QStringLiteral(" on the same port"));
    }
    access.logger.info(QStringLiteral("opening libmtp session with macOS helper-suppression path"));
    CMTPOpenResult result =
        withoutStrayHandle(bridge, bridge.openDeviceWithSeize(entry->busLocation, entry->deviceNumber,
                                                              LibMTPBackend::seizeOpenAttempts,
                                                              LibMTPBackend::seizeOpenDelayMilliseconds));
    // A busy USB interface or a refused connection will not be cured by opening again without
    // the helpers stopped; anything else gets one plain open.
    if (!isOpen(result) && result.error_code != 3 && result.error_code != 7) {
        result = withoutStrayHandle(bridge, bridge.openDevice(entry->busLocation, entry->deviceNumber));
    }
    if (!isOpen(result)) {
        const QString message = messageOf(result);
        access.logger.error(QStringLiteral("libmtp open failed: ") + message);
        throw openFailure(result, message);
    }
    auto handle = std::make_shared<OpenedHandle>(access.bridge, result.handle);
    AndroidDevice device = LibMTPBackend::enrichedDevice(entry->device, handle->get(), bridge);
    access.logger.info(QStringLiteral("opened libmtp session for ") + device.displayName);
    return OpenedDevice{std::move(device), std::move(handle)};
}

QCoro::Task<QList<AndroidDevice>> listDevices(std::shared_ptr<SerialExecutor> executor, BridgeAccess access)
{
    try {
        QFuture<QList<AndroidDevice>> listing = executor->run([access] { return listDevicesNow(access); });
        co_return co_await listing;
    } catch (...) {
        co_return QList<AndroidDevice>(); // a job the worker dropped: nothing could be looked at
    }
}

// An open waits at the gate until the previous open has ended. The gate passes on when this
// coroutine's body ends, before its caller receives the session, and the next open resumes later
// on the event loop: by then a caller that stopped waiting (an expired time limit) has dropped
// the session, whose device is then queued for closing on the executor ahead of the next open.
QCoro::Task<std::shared_ptr<DeviceSession>> openDevice(std::shared_ptr<SerialExecutor> executor,
                                                       std::shared_ptr<AsyncGate> gate, BridgeAccess access,
                                                       LibMTPBackend::SessionFactory sessionFactory,
                                                       LibMTPSessionServices services, DeviceID wanted)
{
    try {
        const AsyncGate::Lease lease = co_await gate->acquire();
        QFuture<OpenedDevice> opening =
            executor->run([access, wanted] { return openDeviceNow(access, wanted); });
        OpenedDevice opened = co_await opening;
        co_return sessionFactory(opened.device, opened.handle->release(), access.bridge, std::move(services));
    } catch (...) {
        throw QuillbarrowError::fromException(std::current_exception());
    }
}

QCoro::Task<QList<AndroidDevice>> detect(std::shared_ptr<SerialExecutor> executor,
                                         std::shared_ptr<LibMTPBridge> bridge)
{
    try {
        QFuture<QList<AndroidDevice>> detection =
            executor->run([bridge] { return LibMTPDeviceScanner::devices(*bridge); });
        co_return co_await detection;
    } catch (...) {
        co_return QList<AndroidDevice>();
    }
}

} // namespace

LibMTPBackend::LibMTPBackend(AppLogger logger, DynamicLibraryProbe probe)
    : LibMTPBackend(std::move(logger), std::move(probe), LibMTPBridge::system(), defaultSessionFactory(),
                    pauseFor(defaultPollInterval), InterruptedUploadLog::standard())
{
}

LibMTPBackend::LibMTPBackend(AppLogger logger, DynamicLibraryProbe probe,
                             std::shared_ptr<LibMTPBridge> bridge, SessionFactory sessionFactory,
                             PollPause pause, std::shared_ptr<InterruptedUploadLog> interruptedUploads)
    : m_logger(std::move(logger)), m_probe(std::move(probe)), m_bridge(std::move(bridge)),
      m_sessionFactory(std::move(sessionFactory)), m_pause(std::move(pause)),
      m_executor(std::make_shared<SerialExecutor>()), m_interruptedUploads(std::move(interruptedUploads)),
      m_openGate(std::make_shared<AsyncGate>()), m_pollExecutor(std::make_shared<SerialExecutor>()),
      m_runningPollers(std::make_shared<std::atomic<int>>(0))
{
}

LibMTPBackend::~LibMTPBackend() = default;

QCoro::Task<QList<AndroidDevice>> LibMTPBackend::currentDevices()
{
    return listDevices(m_executor, BridgeAccess{m_bridge, m_probe, m_logger});
}

AsyncChannel<DeviceConnectionEvent> LibMTPBackend::events()
{
    AsyncChannel<DeviceConnectionEvent> channel;
    DeviceListPoller::Detect detecting = [executor = m_pollExecutor, bridge = m_bridge] {
        return detect(executor, bridge);
    };
    DeviceListPoller::start(channel.sender(), std::move(detecting), m_pause, DeviceListPoller::Changes::notAnnounced,
                            m_runningPollers);
    return channel;
}

QCoro::Task<std::shared_ptr<DeviceSession>> LibMTPBackend::openSession(DeviceID deviceID,
                                                                       OpenSessionOptions options)
{
    Q_UNUSED(options)
    return openDevice(m_executor, m_openGate, BridgeAccess{m_bridge, m_probe, m_logger}, m_sessionFactory,
                      LibMTPSessionServices{m_executor, m_interruptedUploads}, std::move(deviceID));
}

int LibMTPBackend::runningPollers() const
{
    return m_runningPollers->load();
}

QString LibMTPBackend::libraryMissingMessage()
{
    return QStringLiteral("libmtp is not bundled with this app and was not found on the system.");
}

} // namespace quillbarrow
