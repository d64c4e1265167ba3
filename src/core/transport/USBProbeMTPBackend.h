#pragma once

#include "DeviceListPoller.h"
#include "MTPBackend.h"
#include "USBDeviceProbe.h"
#include "async/SerialExecutor.h"
#include "logging/AppLogger.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace quillbarrow {

// The fallback backend when libmtp is not available: it sees Android phones on the USB bus and
// follows them as they come and go, but opens no sessions, and says so.
//
// currentDevices() and openSession() run one at a time on the backend's own worker, because the
// USB enumeration blocks. Each event stream polls on a task of its own that keeps nothing of the
// backend but a copy of its device source and the shared polling worker, so a stream may outlive
// the backend; the task ends when the stream's consumer drops it.
class USBProbeMTPBackend : public MTPBackend {
public:
    // Waits between two polls of one stream; ends early, without error, when stop is requested.
    using PollPause = DeviceListPoller::Pause;

    static constexpr std::chrono::seconds defaultPollInterval{2};

    USBProbeMTPBackend(USBDeviceProbe probe, AppLogger logger, PollPause pause = pauseFor(defaultPollInterval));
    ~USBProbeMTPBackend() override;
    USBProbeMTPBackend(const USBProbeMTPBackend&) = delete;
    USBProbeMTPBackend& operator=(const USBProbeMTPBackend&) = delete;

    // Logs how many devices it found.
    QCoro::Task<QList<AndroidDevice>> currentDevices() override;

    // Polls at once, then after every pause, starting from no known devices: each poll yields
    // connected for new identifiers, then changed for known identifiers whose record differs,
    // then disconnected for identifiers gone. Looks with the standard Android vendor set over
    // this backend's device source, whatever vendor set the backend's own probe was given.
    AsyncChannel<DeviceConnectionEvent> events() override;

    using MTPBackend::openSession;
    // Always fails: deviceNotFound when no attached device has the identifier, else
    // unsupportedOperation. The options are not read.
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID, OpenSessionOptions options) override;

    // The event streams whose polling task has not ended yet.
    int runningPollers() const;

    // A stop-aware sleep of `interval` between polls.
    static PollPause pauseFor(std::chrono::nanoseconds interval) { return DeviceListPoller::pauseFor(interval); }

    // Why this backend cannot open a session on a device it lists.
    static QString sessionUnsupportedMessage();

private:
    USBDeviceProbe m_probe;
    AppLogger m_logger;
    PollPause m_pause;
    // Enumerations for currentDevices() and openSession(); kept alive by calls still waiting.
    std::shared_ptr<SerialExecutor> m_executor;
    // Enumerations of every event stream, apart from the calls above.
    std::shared_ptr<SerialExecutor> m_pollExecutor;
    std::shared_ptr<std::atomic<int>> m_runningPollers;
};

} // namespace quillbarrow
