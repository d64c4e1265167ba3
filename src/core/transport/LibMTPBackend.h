#pragma once

#include "DeviceListPoller.h"
#include "DynamicLibraryProbe.h"
#include "LibMTPBridge.h"
#include "LibMTPDeviceEntry.h"
#include "LibMTPSessionServices.h"
#include "MTPBackend.h"
#include "async/AsyncGate.h"
#include "async/SerialExecutor.h"
#include "logging/AppLogger.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quillbarrow {

// The backend for real Android phones over libmtp: lists the MTP devices libmtp detects,
// announces arrivals and departures by polling, and opens a device into a session, first with
// the open that stops the host's camera helpers holding the phone, then, where that can help,
// with one plain open.
//
// currentDevices() and openSession() run one at a time on the backend's own worker and block it
// for the whole call (an open may take about ten seconds). The sessions close their devices on
// that worker too, also when dropped without close(), and an open starts only once the previous
// open's session has reached its caller or been dropped (an open whose caller stopped waiting
// runs on): so a phone is never opened while this program still holds it. Event streams detect
// on a separate polling worker, so their detections may overlap an open or a session's work. The
// bridge is reached only through the shared LibMTPBridge given at construction.
class LibMTPBackend : public MTPBackend {
  public:
    // Makes the session for an opened device; owns the handle from the moment it is called
    // (closing it if it cannot make the session). The services are the backend's.
    using SessionFactory = std::function<std::shared_ptr<DeviceSession>(
        AndroidDevice, CMTPDeviceHandle*, std::shared_ptr<LibMTPBridge>, LibMTPSessionServices)>;
    // Waits between two polls of one stream; ends early, without error, when stop is requested.
    using PollPause = DeviceListPoller::Pause;

    static constexpr std::chrono::seconds defaultPollInterval{2};
    static constexpr std::int32_t seizeOpenAttempts = 20;
    static constexpr std::int32_t seizeOpenDelayMilliseconds = 100;

    // The real bridge, libmtp device sessions, the user's interrupted-upload log and a poll every
    // two seconds.
    LibMTPBackend(AppLogger logger, DynamicLibraryProbe probe);
    // Without a log, the sessions note no uploads.
    LibMTPBackend(AppLogger logger, DynamicLibraryProbe probe, std::shared_ptr<LibMTPBridge> bridge,
                  SessionFactory sessionFactory, PollPause pause = pauseFor(defaultPollInterval),
                  std::shared_ptr<InterruptedUploadLog> interruptedUploads = nullptr);
    ~LibMTPBackend() override;
    LibMTPBackend(const LibMTPBackend&) = delete;
    LibMTPBackend& operator=(const LibMTPBackend&) = delete;

    // Empty, with a log line, when no libmtp library is found or the detection fails.
    QCoro::Task<QList<AndroidDevice>> currentDevices() override;

    // Polls at once, then after every pause, starting from no known devices: each poll yields
    // connected for new identifiers in detection order, then disconnected for identifiers gone.
    // Never yields changed. A failed detection counts as no device. Does not look for the
    // library. Polling stops when the consumer drops the stream.
    AsyncChannel<DeviceConnectionEvent> events() override;

    using MTPBackend::openSession;
    // Opens the detected device with this identifier, or the one that took its place after a
    // re-enumeration. The options are not read: every open stops the helpers first.
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID,
                                                            OpenSessionOptions options) override;

    // The event streams whose polling task has not ended yet.
    int runningPollers() const;

    // A stop-aware sleep of `interval` between polls.
    static PollPause pauseFor(std::chrono::nanoseconds interval) { return DeviceListPoller::pauseFor(interval); }
    // Sessions of LibMTPDeviceSession.
    static SessionFactory defaultSessionFactory();
    // Why no session can be opened without the library.
    static QString libraryMissingMessage();

    // ---- Device identity ----

    // The detected entry that belongs to `wanted`: the one with that identifier, else the first
    // on the same port (same vendor, product and bus location), else the first of the same
    // model (same vendor and product). Identifiers are compared piece by piece, split at dashes.
    static std::optional<LibMTPDeviceEntry> matchEntry(const DeviceID& wanted,
                                                       const QList<LibMTPDeviceEntry>& entries);
    // The friendly name, else the model prefixed with the manufacturer where the model does not
    // already name it, else `fallback` unchanged. Generic names ("Android", "MTP" ...) are skipped.
    static QString bestDisplayName(const QString& friendly, const QString& model, const QString& manufacturer,
                                   const QString& fallback);
    // `base` completed from the open device's own identity strings; blocks on the bridge.
    static AndroidDevice enrichedDevice(const AndroidDevice& base, CMTPDeviceHandle* session,
                                        LibMTPBridge& bridge);
    // Underscores become spaces, then white space is trimmed from both ends.
    static QString cleanedIdentityText(const QString& text);
    // Whether a cleaned name is too generic to show.
    static bool isRejectedDisplayName(const QString& cleaned);

  private:
    AppLogger m_logger;
    DynamicLibraryProbe m_probe;
    std::shared_ptr<LibMTPBridge> m_bridge;
    SessionFactory m_sessionFactory;
    PollPause m_pause;
    // Listings, opens and the sessions' closing; kept alive by calls still waiting and by the
    // sessions.
    std::shared_ptr<SerialExecutor> m_executor;
    std::shared_ptr<InterruptedUploadLog> m_interruptedUploads;
    // Admits one open at a time, until its session has been handed over; kept alive by the opens.
    std::shared_ptr<AsyncGate> m_openGate;
    // Detections of every event stream, apart from the calls above.
    std::shared_ptr<SerialExecutor> m_pollExecutor;
    std::shared_ptr<std::atomic<int>> m_runningPollers;
};

} // namespace quillbarrow
