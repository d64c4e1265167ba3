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
    DeviceListPoller::Detect looking = [executor = m_pollExecutor, probe = USBDeviceProbe(m_probe.reader())] {
        return enumerate(executor, probe);
    };
    DeviceListPoller::start(channel.sender(), std::move(looking), m_pause, DeviceListPoller::Changes::announced,
                            m_runningPollers);
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

QString USBProbeMTPBackend::sessionUnsupportedMessage()
{
    return QStringLiteral(
        "The Mac can see this Android USB device, but this build does not yet include the libmtp session bridge "
        "needed to browse files. Install a pinned libmtp backend and enable QUILLBARROW_BACKEND=libmtp once the "
        "bridge is implemented.");
}

} // namespace quillbarrow
