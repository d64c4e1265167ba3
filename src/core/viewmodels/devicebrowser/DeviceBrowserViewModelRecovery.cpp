#include "DeviceBrowserViewModel.h"

#include <QPointer>

namespace quillbarrow {

void DeviceBrowserViewModel::showTransfersStillActive()
{
    setErrorBanner(ErrorBanner::transfersStillActive());
}

QCoro::Task<> DeviceBrowserViewModel::retrySelectedDevice()
{
    if (!m_selectedDevice) {
        co_return;
    }
    const AndroidDevice device = *m_selectedDevice;
    // Reconnecting closes the session that queued, waiting and running transfers use.
    if (m_transferQueue->hasActiveJobs()) {
        showTransfersStillActive();
        co_return;
    }
    co_await selectDevice(device);
}

QCoro::Task<> DeviceBrowserViewModel::quitConflictingAppsAndRetry()
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::optional<QList<DetectedConflictApp>> remaining = co_await applyToBannerConflicts(ConflictRemedy::quit);
    if (!self) {
        co_return;
    }
    if (!remaining || remaining->isEmpty()) {
        co_await retrySelectedDevice();
        co_return;
    }
    QStringList names; // every process, so a name held by two processes is named twice
    for (const DetectedConflictApp& app : *remaining) {
        names.append(app.name());
    }
    setErrorBanner(ErrorBanner(QStringLiteral("Some apps are still using Android file transfer."),
                               QStringLiteral("Quit ") + names.join(QStringLiteral(", ")) +
                                   QStringLiteral(", then try again. If one will not quit, restart the Mac or "
                                                  "disconnect and reconnect the phone."),
                               *remaining));
}

QCoro::Task<> DeviceBrowserViewModel::restartManagedServicesAndRetry()
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::optional<QList<DetectedConflictApp>> remaining =
        co_await applyToBannerConflicts(ConflictRemedy::restartServices);
    if (!self) {
        co_return;
    }
    if (!remaining) {
        co_await retrySelectedDevice();
        co_return;
    }
    if (!remaining->isEmpty()) {
        setErrorBanner(ErrorBanner(QStringLiteral("Quillbarrow could not restart every blocking service."),
                                   ErrorBanner::conflictDisplayNames(*remaining).join(QStringLiteral(", ")) +
                                       QStringLiteral(" still appears to be active. Quillbarrow will make one "
                                                      "direct connection attempt now."),
                                   *remaining));
    }
    if (m_selectedDevice) {
        co_await retrySelectedDevice();
    }
}

QCoro::Task<std::optional<QList<DetectedConflictApp>>>
DeviceBrowserViewModel::applyToBannerConflicts(ConflictRemedy remedy)
{
    // The processes of the banner shown now, even if another replaces it while the detector works.
    if (!m_errorBanner || m_errorBanner->conflictingApps.isEmpty()) {
        co_return std::nullopt;
    }
    const QList<DetectedConflictApp> apps = m_errorBanner->conflictingApps;
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<AppConflictDetecting> detector = m_conflictDetector;
    const std::stop_token stop = lifetime();
    setLoading(true);
    QList<DetectedConflictApp> remaining;
    try {
        if (remedy == ConflictRemedy::quit) {
            remaining = co_await detector->requestQuit(apps, stop);
        } else {
            remaining = co_await detector->softRestartServices(apps, stop);
        }
    } catch (...) {
        remaining = apps; // the detector does not fail; should it, nothing is known to have gone
    }
    if (self) {
        setLoading(false);
    }
    co_return remaining;
}

} // namespace quillbarrow
