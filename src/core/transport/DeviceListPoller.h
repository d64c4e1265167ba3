#pragma once

#include "DeviceConnectionEvent.h"
#include "async/AsyncChannel.h"
#include "domain/AndroidDevice.h"

#include <QCoro/QCoroTask>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace quillbarrow {

// The event stream of a backend that learns of devices by polling its device list: a new stream
// starts from no known devices, polls at once and then after every pause, and yields per poll
// the connected events (in the order of the list), then the changed ones when the backend
// announces them, then the disconnected ones (in the order of the previous list). The polling
// task keeps nothing of the backend but what it is given, so a stream may outlive its backend;
// it ends when the consumer drops the stream.
class DeviceListPoller {
public:
    // Waits between two polls; ends early, without error, when stop is requested.
    using Pause = std::function<QCoro::Task<>(std::stop_token)>;
    // One look at the attached devices; a failed look is an empty list.
    using Detect = std::function<QCoro::Task<QList<AndroidDevice>>()>;
    enum class Changes { announced, notAnnounced };

    // Starts the polling task of one stream; `running` counts the tasks that have not ended.
    static void start(AsyncChannel<DeviceConnectionEvent>::Sender sender, Detect detect, Pause pause,
                      Changes changes, std::shared_ptr<std::atomic<int>> running);

    // A stop-aware sleep of `interval`.
    static Pause pauseFor(std::chrono::nanoseconds interval);

    // The events that turn `known` into `current`.
    static QList<DeviceConnectionEvent> changesBetween(const QList<AndroidDevice>& known,
                                                       const QList<AndroidDevice>& current, Changes changes);

    // One record per identifier, the first of each. Two attached devices can yield one identifier
    // (two phones of one model reporting the same serial number); the first record stands for
    // both, so that the identifier is neither announced twice nor reported changed on every poll.
    static QList<AndroidDevice> firstOfEachIdentifier(const QList<AndroidDevice>& devices);
};

} // namespace quillbarrow
