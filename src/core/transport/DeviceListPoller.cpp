#include "DeviceListPoller.h"

#include "async/Sleep.h"

#include <QHash>
#include <QSet>

namespace quillbarrow {

namespace {

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

QCoro::Task<> poll(AsyncChannel<DeviceConnectionEvent>::Sender sender, DeviceListPoller::Detect detect,
                   DeviceListPoller::Pause pause, DeviceListPoller::Changes changes,
                   std::shared_ptr<std::atomic<int>> running)
{
    const RunningMark mark(std::move(running));
    const std::stop_token stop = sender.stopToken();
    try {
        QList<AndroidDevice> known; // a new stream announces every attached device
        while (!stop.stop_requested()) {
            QCoro::Task<QList<AndroidDevice>> looking = detect();
            const QList<AndroidDevice> current = DeviceListPoller::firstOfEachIdentifier(co_await looking);
            if (stop.stop_requested()) {
                break;
            }
            for (const DeviceConnectionEvent& event : DeviceListPoller::changesBetween(known, current, changes)) {
                sender.push(event);
            }
            known = current;
            QCoro::Task<> waiting = pause(stop);
            co_await waiting;
        }
    } catch (...) {
        // A failing detection or pause ends the stream rather than polling without pause.
    }
    sender.finish();
}

QCoro::Task<> sleepBetweenPolls(std::chrono::nanoseconds interval, std::stop_token stop)
{
    co_await sleepFor(interval, stop);
}

} // namespace

void DeviceListPoller::start(AsyncChannel<DeviceConnectionEvent>::Sender sender, Detect detect, Pause pause,
                             Changes changes, std::shared_ptr<std::atomic<int>> running)
{
    QCoro::Task<> polling = poll(std::move(sender), std::move(detect), std::move(pause), changes, std::move(running));
    Q_UNUSED(polling) // runs on by itself until the consumer drops the stream
}

DeviceListPoller::Pause DeviceListPoller::pauseFor(std::chrono::nanoseconds interval)
{
    return [interval](std::stop_token stop) { return sleepBetweenPolls(interval, std::move(stop)); };
}

QList<DeviceConnectionEvent> DeviceListPoller::changesBetween(const QList<AndroidDevice>& known,
                                                              const QList<AndroidDevice>& current, Changes changes)
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
    if (changes == Changes::announced) {
        for (const AndroidDevice& device : current) {
            const AndroidDevice* previous = knownByID.value(device.id, nullptr);
            if (previous != nullptr && !(*previous == device)) {
                events.append(DeviceConnectionEvent::changed(device));
            }
        }
    }
    for (const AndroidDevice& device : known) {
        if (!currentIDs.contains(device.id)) {
            events.append(DeviceConnectionEvent::disconnected(device.id));
        }
    }
    return events;
}

QList<AndroidDevice> DeviceListPoller::firstOfEachIdentifier(const QList<AndroidDevice>& devices)
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

} // namespace quillbarrow
