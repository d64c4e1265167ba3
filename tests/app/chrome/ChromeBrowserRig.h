#pragma once

#include "ChromeSamples.h"

#include "infrastructure/AppConflictDetecting.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

namespace quillbarrow::testing {

// A detector that finds nothing and frees nothing.
class QuietConflictDetector final : public AppConflictDetecting {
public:
    QCoro::Task<QList<DetectedConflictApp>> runningConflicts() override { co_return QList<DetectedConflictApp>(); }
    QCoro::Task<QList<DetectedConflictApp>> requestQuit(QList<DetectedConflictApp> apps, std::stop_token) override
    {
        co_return apps;
    }
    QCoro::Task<QList<DetectedConflictApp>> softRestartServices(QList<DetectedConflictApp> apps, std::stop_token) override
    {
        co_return apps;
    }
};

inline DeviceBrowserTiming quickTiming()
{
    DeviceBrowserTiming timing;
    timing.retryPauseUnit = std::chrono::milliseconds(1);
    timing.automaticFolderSizeDelay = std::chrono::milliseconds(1);
    timing.reloadPollInterval = std::chrono::milliseconds(1);
    return timing;
}

inline AndroidDevice sampleDevice(const QString& id, const QString& name, std::optional<QString> manufacturer)
{
    return AndroidDevice(DeviceID(id), name, manufacturer, name, id + QStringLiteral("-serial"),
                         DeviceConnectionKind::usb);
}

// The device browser over pretend devices, sharing the coordinator rig's transfer queue.
struct BrowserRig : CoordinatorRig {
    explicit BrowserRig(QList<AndroidDevice> devices)
        : backend(std::make_shared<MockMTPBackend>(std::move(devices))),
          browser(backend, AppLogger(QStringLiteral("DeviceBrowserViewModel")),
                  std::make_shared<QuietConflictDetector>(), queue, std::make_shared<InMemoryUserDefaults>(),
                  quickTiming())
    {
    }
    std::shared_ptr<MockMTPBackend> backend;
    DeviceBrowserViewModel browser;
};

} // namespace quillbarrow::testing
