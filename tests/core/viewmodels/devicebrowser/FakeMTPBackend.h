#pragma once

#include "CallScript.h"
#include "FakeDeviceSession.h"
#include "transport/MTPBackend.h"

#include <QHash>

#include <memory>

namespace quillbarrow::testing {

// A device backend whose calls can be scripted and are recorded: "currentDevices", "events",
// "open <device id>". Unscripted, currentDevices() gives `attached` and openSession() gives the
// session registered for the id (deviceNotFound without one). Every events() stream stays open
// until its reader drops it; send() feeds every open stream.
class FakeMTPBackend final : public MTPBackend {
public:
    FakeMTPBackend();
    ~FakeMTPBackend() override;

    QList<AndroidDevice> attached;

    void script(const QString& operation, Reply reply, const QString& subject = {});
    QStringList calls() const { return m_state->script->calls(); }
    QStringList endings() const { return m_state->script->endings(); }
    void releaseAll() { m_state->script->releaseAll(); }

    // openSession() for this id gives this session.
    void registerSession(const DeviceID& id, std::shared_ptr<FakeDeviceSession> session);
    // The options of every openSession() call, in order.
    QList<OpenSessionOptions> openOptions() const { return m_state->openOptions; }

    // Pushes the event into every stream that is still read.
    void send(const DeviceConnectionEvent& event);
    // The streams handed out so far and those whose reader still holds them.
    int streamsMade() const { return static_cast<int>(m_state->streams.size()); }
    int streamsOpen() const;

    QCoro::Task<QList<AndroidDevice>> currentDevices() override;
    AsyncChannel<DeviceConnectionEvent> events() override;
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID deviceID, OpenSessionOptions options) override;
    using MTPBackend::openSession;

private:
    struct State {
        std::shared_ptr<CallScript> script = std::make_shared<CallScript>();
        QHash<DeviceID, std::shared_ptr<FakeDeviceSession>> sessions;
        QList<OpenSessionOptions> openOptions;
        QList<AsyncChannel<DeviceConnectionEvent>::Sender> streams;
    };
    std::shared_ptr<State> m_state;
};

} // namespace quillbarrow::testing
