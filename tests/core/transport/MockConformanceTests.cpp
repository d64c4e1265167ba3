#include "conformance/DeviceContractConformance.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"

using namespace quillbarrow;
using quillbarrow::testing::DeviceContractFactory;

namespace {

void mockAbilities(DeviceContractFactory& factory)
{
    // Uploaded files keep their bytes; the sample tree's files download as a text about them.
    factory.storesFileContent = true;
    factory.watchdog = std::chrono::seconds(5);
}

// The backend as the application builds it, with the default device.
DeviceContractFactory mockBackend()
{
    DeviceContractFactory factory;
    factory.name = "Backend";
    factory.makeBackend = [] { return std::make_shared<MockMTPBackend>(MockMTPBackend::defaultDevices()); };
    factory.attachDevice = [](MTPBackend& backend) {
        static int attached = 0;
        ++attached;
        const AndroidDevice device(DeviceID(QStringLiteral("mock-extra-%1").arg(attached)),
                                   QStringLiteral("Extra %1").arg(attached), std::nullopt, std::nullopt, std::nullopt,
                                   DeviceConnectionKind::usb);
        dynamic_cast<MockMTPBackend&>(backend).simulateConnect(device);
        return device;
    };
    factory.detachDevice = [](MTPBackend& backend, const DeviceID& id) {
        dynamic_cast<MockMTPBackend&>(backend).simulateDisconnect(id);
    };
    factory.fedStreamCount = [](MTPBackend& backend) { return dynamic_cast<MockMTPBackend&>(backend).streamCount(); };
    mockAbilities(factory);
    return factory;
}

QCoro::Task<std::shared_ptr<DeviceSession>> openBareSession(std::shared_ptr<MTPBackend>)
{
    const StorageID storage(QStringLiteral("card"));
    co_return std::make_shared<MockDeviceSession>(MockMTPBackend::defaultDevices().first(), MockTree::sample(storage));
}

// A session without a backend, told where to work: inside DCIM rather than the storage root.
DeviceContractFactory mockSessionOnly()
{
    DeviceContractFactory factory;
    factory.name = "SessionInsideAFolder";
    factory.openSession = openBareSession;
    factory.storageID = StorageID(QStringLiteral("card"));
    factory.writableFolder = DeviceContractFactory::WritableFolder{
        RemoteObjectID(QStringLiteral("dcim")), RemotePath(StorageID(QStringLiteral("card")), {QStringLiteral("DCIM")})};
    mockAbilities(factory);
    return factory;
}

} // namespace

QUILLBARROW_DEVICE_CONTRACT_CONFORMANCE(Mock, mockBackend(), mockSessionOnly())
