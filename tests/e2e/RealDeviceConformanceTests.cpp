#include "DeviceContractConformance.h"
#include "E2EResponder.h"
#include "transport/LibMTPBackend.h"

#include <stdexcept>

// The device-contract conformance suite against the libmtp backend and its sessions, over the
// real bridge, libmtp and the responder attached to this guest.

using namespace quillbarrow;
using quillbarrow::e2e::E2EResponder;
using quillbarrow::testing::DeviceContractFactory;

namespace {

// Stands for the writable folder in every session (see ResponderSession).
const RemoteObjectID writableAlias{QStringLiteral("writable-folder")};

// The storage each responder serves the shared folder as. Storage ids, unlike object handles,
// are fixed by the responder.
StorageID servedStorage(E2EResponder::Kind kind)
{
    return StorageID(kind == E2EResponder::Kind::qemu ? QStringLiteral("65537")
                                                      : QStringLiteral("4294901761"));
}

QCoro::Task<std::shared_ptr<DeviceSession>> openResponderSession(std::shared_ptr<MTPBackend> backend)
{
    const E2EResponder& responder = E2EResponder::current();
    const QList<AndroidDevice> devices = co_await backend->currentDevices();
    if (devices.size() != 1) {
        throw std::runtime_error("expected exactly one device, found " + std::to_string(devices.size()));
    }
    co_return co_await responder.openSession(backend, devices.first().id, writableAlias);
}

DeviceContractFactory attachedResponder()
{
    // Called while the tests are registered, before anything can report a failure: the
    // environment is read only once a test runs.
    const bool qemu = qgetenv("QUILLBARROW_E2E_RESPONDER") == "qemu";
    const E2EResponder::Kind kind = qemu ? E2EResponder::Kind::qemu : E2EResponder::Kind::umtp;
    DeviceContractFactory factory;
    factory.name = qemu ? "QemuUsbMtp" : "UmtpResponder";
    factory.makeBackend = [] { return E2EResponder::current().makeBackend(); };
    factory.openSession = openResponderSession;
    factory.storageID = servedStorage(kind);
    factory.writableFolder = DeviceContractFactory::WritableFolder{
        writableAlias, RemotePath(servedStorage(kind), {E2EResponder::writableFolderName()})};
    // QEMU's device refuses every rename; RealDeviceErrorTests checks how.
    factory.supportsRename = !qemu;
    factory.fedStreamCount = [](MTPBackend& backend) {
        return dynamic_cast<LibMTPBackend&>(backend).runningPollers();
    };
    // One device, which the suite cannot attach or detach: RealDeviceUnplugTests unplugs it.
    factory.watchdog = std::chrono::seconds(60);
    return factory;
}

} // namespace

QUILLBARROW_DEVICE_CONTRACT_CONFORMANCE(RealDevice, attachedResponder())
