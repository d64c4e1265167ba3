#include "FakeMTPBackend.h"

namespace quillbarrow::testing {

FakeMTPBackend::FakeMTPBackend() : m_state(std::make_shared<State>()) {}

FakeMTPBackend::~FakeMTPBackend()
{
    m_state->script->releaseAll();
}

void FakeMTPBackend::script(const QString& operation, Reply reply, const QString& subject)
{
    m_state->script->add(operation, std::move(reply), subject);
}

void FakeMTPBackend::registerSession(const DeviceID& id, std::shared_ptr<FakeDeviceSession> session)
{
    m_state->sessions.insert(id, std::move(session));
}

void FakeMTPBackend::send(const DeviceConnectionEvent& event)
{
    for (const AsyncChannel<DeviceConnectionEvent>::Sender& stream : m_state->streams) {
        stream.push(event);
    }
}

int FakeMTPBackend::streamsOpen() const
{
    int open = 0;
    for (const AsyncChannel<DeviceConnectionEvent>::Sender& stream : m_state->streams) {
        open += stream.isOpen() ? 1 : 0;
    }
    return open;
}

QCoro::Task<QList<AndroidDevice>> FakeMTPBackend::currentDevices()
{
    const QList<AndroidDevice> now = attached;
    std::function<QList<AndroidDevice>()> serve = [now] { return now; };
    return perform(m_state->script, QStringLiteral("currentDevices"), QString(), std::move(serve));
}

AsyncChannel<DeviceConnectionEvent> FakeMTPBackend::events()
{
    m_state->script->recordCall(QStringLiteral("events"));
    AsyncChannel<DeviceConnectionEvent> channel;
    m_state->streams.append(channel.sender());
    return channel;
}

QCoro::Task<std::shared_ptr<DeviceSession>> FakeMTPBackend::openSession(DeviceID deviceID, OpenSessionOptions options)
{
    m_state->openOptions.append(options);
    std::shared_ptr<State> state = m_state;
    std::function<std::shared_ptr<DeviceSession>()> serve = [state, deviceID]() -> std::shared_ptr<DeviceSession> {
        const auto found = state->sessions.constFind(deviceID);
        if (found == state->sessions.constEnd()) {
            throw QuillbarrowError::deviceNotFound();
        }
        (*found)->reopen();
        return *found;
    };
    return perform(state->script, QStringLiteral("open"), deviceID.rawValue(), std::move(serve));
}

} // namespace quillbarrow::testing
