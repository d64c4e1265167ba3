#include "DeviceBrowserViewModel.h"

#include "ErrorDescription.h"
#include "async/WorkPool.h"

#include <QPointer>

namespace quillbarrow {

namespace {

QCoro::Task<> closeQuietly(std::shared_ptr<DeviceSession> session)
{
    try {
        co_await session->close();
    } catch (...) {
        // Closing does not fail; a session that did is released all the same.
    }
}

} // namespace

void DeviceBrowserViewModel::closeInBackground(std::shared_ptr<DeviceSession> session)
{
    if (session) {
        QCoro::Task<> closing = closeQuietly(std::move(session));
        Q_UNUSED(closing) // runs on by itself
    }
}

void DeviceBrowserViewModel::clearDeviceState()
{
    setStorages({});
    setCurrentPage(std::nullopt);
    setItems({});
    setBreadcrumb({});
    setPendingStorageID(std::nullopt);
    setFavoriteLocations({});
    setCalculatingFolderSizeIDs({});
    m_folderMeasurementHolds.clear();
    m_walkingFolderIDs.clear();
    m_automaticFolderSizeTask.cancel();
    m_computedFolderStatistics.clear();
    m_measurementLog.restart();
    ++m_measurementsVersion;
    m_navigationStack.clear();
    // Every page another device listed, freed away from the window's thread.
    releaseOnWorkPool(std::make_tuple(std::exchange(m_nameRankings, {}), std::exchange(m_directoryCache, {})));
    ++m_navigationGeneration;
}

std::shared_ptr<DeviceSession> DeviceBrowserViewModel::takeSession()
{
    std::shared_ptr<DeviceSession> taken = m_session;
    if (taken) {
        setSession(nullptr);
        m_automaticFolderSizeTask.cancel();
    }
    return taken;
}

QCoro::Task<> DeviceBrowserViewModel::selectDevice(AndroidDevice device)
{
    QPointer<DeviceBrowserViewModel> self(this);
    setLoading(true);
    setErrorBanner(std::nullopt);
    setSelectedDevice(device);
    clearDeviceState();
    const quint64 generation = ++m_connectGeneration;
    if (const std::shared_ptr<DeviceSession> old = takeSession()) {
        co_await closeQuietly(old);
        if (!self) {
            co_return;
        }
    }
    co_await connectWithRetry(std::move(device), generation);
    if (!self) {
        co_return;
    }
    // Cleared when this selection's connection ends, also while a newer one still connects.
    setLoading(false);
}

QCoro::Task<> DeviceBrowserViewModel::connectWithRetry(AndroidDevice initialDevice, quint64 generation)
{
    QPointer<DeviceBrowserViewModel> self(this);
    if (generation != m_connectGeneration) {
        co_return;
    }
    for (int attempt = 1;; ++attempt) {
        const AndroidDevice device = resolveCurrentDevice(initialDevice).value_or(initialDevice);
        setSelectedDevice(device);
        std::exception_ptr failure;
        try {
            co_await openAndLoad(device, OpenSessionOptions(false), generation);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self || generation != m_connectGeneration) {
            co_return;
        }
        if (!failure) {
            co_await restorePreferredLocationIfAvailable(generation);
            if (!self || generation != m_connectGeneration) {
                co_return;
            }
            scheduleAutomaticFolderSizePrecalculation();
            setConnectionPhase(DeviceConnectionPhase::connected);
            m_logger.info(QStringLiteral("opened session for ") + device.displayName + QStringLiteral(" on attempt ") +
                          QString::number(attempt));
            co_return;
        }
        co_await teardownPartialSession(generation);
        if (!self || generation != m_connectGeneration) {
            co_return;
        }
        if (attempt == maxConnectAttempts || !isRetryableConnectError(failure)) {
            setConnectionPhase(DeviceConnectionPhase::idle);
            present(failure);
            co_return;
        }
        m_logger.info(QStringLiteral("connect attempt ") + QString::number(attempt) + QStringLiteral(" failed: ") +
                      plainDescription(failure) + QStringLiteral("; retrying"));
        setConnectionPhase(DeviceConnectionPhase::opening);
        const std::shared_ptr<WaitClock> clock = m_timing.clock;
        co_await clock->sleep(m_timing.retryPauseUnit * attempt, lifetime());
        if (!self || generation != m_connectGeneration) {
            co_return;
        }
    }
}

std::optional<AndroidDevice> DeviceBrowserViewModel::resolveCurrentDevice(const AndroidDevice& device) const
{
    for (const AndroidDevice& listed : m_devices) {
        if (listed.id == device.id) {
            return listed;
        }
    }
    for (const AndroidDevice& listed : m_devices) {
        if (listed.manufacturer == device.manufacturer && listed.model == device.model) {
            return listed;
        }
    }
    return std::nullopt;
}

QCoro::Task<> DeviceBrowserViewModel::openAndLoad(AndroidDevice device, OpenSessionOptions options,
                                                  quint64 generation)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::stop_token stop = lifetime();
    setConnectionPhase(DeviceConnectionPhase::opening);

    std::shared_ptr<DeviceSession> session = co_await openSessionWithinLimit(device.id, options, stop);
    if (!self || generation != m_connectGeneration) {
        closeInBackground(session); // nobody will use it: the device must not stay claimed
        co_return;
    }
    setSession(session);
    const AndroidDevice sessionDevice = session->device();
    setSelectedDevice(sessionDevice);
    QList<AndroidDevice> devices = m_devices;
    bool listed = false;
    for (AndroidDevice& entry : devices) {
        if (entry.id == sessionDevice.id) {
            entry = sessionDevice;
            listed = true;
        }
    }
    if (!listed) {
        devices.append(sessionDevice);
    }
    setDevices(std::move(devices));

    setConnectionPhase(DeviceConnectionPhase::loadingStorage);
    QList<StorageRoot> storages = co_await readStoragesWithinLimit(session, stop);
    // Superseded from here on, the session is already the view model's: whatever superseded this
    // attempt took it and closes it.
    if (!self || generation != m_connectGeneration) {
        co_return;
    }
    setStorages(storages);
    if (storages.isEmpty()) {
        co_return; // connected, with nothing to show
    }

    setConnectionPhase(DeviceConnectionPhase::loadingContents);
    const quint64 epoch = m_sessionEpoch;
    const RemotePath root(storages.first().id, {});
    DirectoryPage rootPage = co_await listRoot(session, storages.first().id, ListingLimit::always, stop);
    if (!self || generation != m_connectGeneration || epoch != m_sessionEpoch) {
        co_return;
    }
    cache(rootPage);
    setCurrentPage(std::move(rootPage));
    setBreadcrumb({root});
    m_navigationStack = {NavigationNode(root, std::nullopt)};
    applySort();
    refreshFavoriteLocations();
}

QCoro::Task<> DeviceBrowserViewModel::teardownPartialSession(quint64 generation)
{
    QPointer<DeviceBrowserViewModel> self(this);
    if (const std::shared_ptr<DeviceSession> session = takeSession()) {
        co_await closeQuietly(session);
        if (!self || generation != m_connectGeneration) {
            co_return;
        }
    }
    setStorages({});
    setCurrentPage(std::nullopt);
    setBreadcrumb({});
    m_navigationStack.clear();
}

bool DeviceBrowserViewModel::isRetryableConnectError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const QuillbarrowError& caught) {
        switch (caught.kind()) {
        case QuillbarrowError::Kind::usbInterfaceBusy:
        case QuillbarrowError::Kind::sessionFailed:
        case QuillbarrowError::Kind::transferFailed:
        case QuillbarrowError::Kind::backendProtocolError:
        case QuillbarrowError::Kind::unknown:
        case QuillbarrowError::Kind::deviceNotFound:
        case QuillbarrowError::Kind::deviceLockedOrUnavailable:
        case QuillbarrowError::Kind::transferInterrupted:
            return true;
        case QuillbarrowError::Kind::nameConflict:
        case QuillbarrowError::Kind::unsupportedOperation:
        case QuillbarrowError::Kind::fileTooLargeToOpen:
        case QuillbarrowError::Kind::fileSizeUnavailableToOpen:
        case QuillbarrowError::Kind::fileOpenFailed:
        case QuillbarrowError::Kind::permissionDenied:
        case QuillbarrowError::Kind::pathNotFound:
        case QuillbarrowError::Kind::insufficientSpace:
        case QuillbarrowError::Kind::userCancelled:
        case QuillbarrowError::Kind::localFileFailed:
        case QuillbarrowError::Kind::deviceChanged:
            return false;
        }
        return false;
    } catch (...) {
        return true; // an error of another kind may well pass
    }
}

} // namespace quillbarrow
