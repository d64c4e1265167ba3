#include "async/WorkPool.h"
#include "FakeLibMTP.h"
#include "conformance/DeviceContractConformance.h"
#include "transport/LibMTPBridge.h"
#include "transport/LibMTPDeviceSession.h"

#include <QByteArray>
#include <QFile>
#include <QThreadPool>

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

using namespace quillbarrow;
using quillbarrow::testing::DeviceContractFactory;

namespace {

constexpr std::uint32_t bus = 3;
constexpr std::uint8_t devnum = 7;

// The real bridge over the in-memory libmtp, which it installs for as long as it lives (the
// session's handle keeps it alive until the device is closed). That libmtp keeps no file
// contents and writes nothing on a download, so this layer remembers the bytes of every upload
// that the bridge reports done and, after a download that the bridge reports done, writes them
// where libmtp would have written them. Every call still goes through the real bridge.
class InMemoryDeviceBridge final : public LibMTPBridge {
public:
    InMemoryDeviceBridge() : m_real(LibMTPBridge::system())
    {
        m_libmtp.setRawDevices({fakes::FakeRawDevice{0x18d1, 0x4ee1, bus, devnum, "Google", "Pixel"}});
        m_libmtp.setStorages({fakes::FakeStorage{0x10001, 64'000'000'000, 32'000'000'000, "Internal shared storage",
                                                 "primary"},
                              fakes::FakeStorage{0x20001, 0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, std::nullopt,
                                                 std::nullopt}});
        m_libmtp.addObject(fakes::FakeObject{10, 0xFFFFFFFFu, 0x10001, "DCIM", 0, 0, LIBMTP_FILETYPE_FOLDER});
        m_libmtp.addObject(fakes::FakeObject{11, 0xFFFFFFFFu, 0x10001, "notes.txt", 12, 1'700'000'000,
                                             LIBMTP_FILETYPE_UNKNOWN});
        m_libmtp.addObject(fakes::FakeObject{12, 0xFFFFFFFFu, 0x20001, "Music", 0, 0, LIBMTP_FILETYPE_FOLDER});
        m_libmtp.setTransfer(fakes::FakeTransfer{{0, 1024, 2048}, 4096, true, -1});
    }

    CMTPDeviceList detectDevices() override { return m_real->detectDevices(); }
    void freeDeviceList(CMTPDeviceList* list) override { m_real->freeDeviceList(list); }
    CMTPOpenResult openDevice(std::uint32_t busLocation, std::uint8_t number) override
    {
        return m_real->openDevice(busLocation, number);
    }
    CMTPOpenResult openDeviceWithSeize(std::uint32_t busLocation, std::uint8_t number, std::int32_t maxAttempts,
                                       std::int32_t delayMs) override
    {
        return m_real->openDeviceWithSeize(busLocation, number, maxAttempts, delayMs);
    }
    void closeDevice(CMTPDeviceHandle* handle) override { m_real->closeDevice(handle); }
    CMTPDeviceIdentity deviceIdentity(CMTPDeviceHandle* handle) override { return m_real->deviceIdentity(handle); }
    CMTPStorageList storages(CMTPDeviceHandle* handle) override { return m_real->storages(handle); }
    void freeStorageList(CMTPStorageList* list) override { m_real->freeStorageList(list); }
    CMTPObjectList listDirectory(CMTPDeviceHandle* handle, std::uint32_t storageID, std::uint32_t parentID) override
    {
        return m_real->listDirectory(handle, storageID, parentID);
    }
    void freeObjectList(CMTPObjectList* list) override { m_real->freeObjectList(list); }
    std::uint32_t rootParentID() override { return m_real->rootParentID(); }
    CMTPMutationResult createFolder(CMTPDeviceHandle* handle, const char* name, std::uint32_t parentID,
                                    std::uint32_t storageID) override
    {
        return m_real->createFolder(handle, name, parentID, storageID);
    }
    CMTPMutationResult deleteObject(CMTPDeviceHandle* handle, std::uint32_t objectID) override
    {
        return m_real->deleteObject(handle, objectID);
    }
    CMTPMutationResult renameObject(CMTPDeviceHandle* handle, std::uint32_t objectID, const char* newName) override
    {
        return m_real->renameObject(handle, objectID, newName);
    }
    CMTPMutationResult downloadFile(CMTPDeviceHandle* handle, std::uint32_t objectID, const char* destinationPath,
                                    std::int64_t knownSize, CMTPProgressCallback callback, void* context) override
    {
        const CMTPMutationResult result =
            m_real->downloadFile(handle, objectID, destinationPath, knownSize, callback, context);
        if (result.error_code == 0) {
            QFile destination(QFile::decodeName(destinationPath));
            if (destination.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                destination.write(contentOf(objectID));
            }
        }
        return result;
    }
    CMTPMutationResult uploadFile(CMTPDeviceHandle* handle, const char* sourcePath, std::uint32_t parentID,
                                  std::uint32_t storageID, const char* name, std::uint64_t fileSize,
                                  const std::uint32_t* existingIDs, std::int32_t existingCount,
                                  CMTPProgressCallback callback, void* context) override
    {
        const CMTPMutationResult result = m_real->uploadFile(handle, sourcePath, parentID, storageID, name, fileSize,
                                                             existingIDs, existingCount, callback, context);
        if (result.error_code == 0) {
            QFile source(QFile::decodeName(sourcePath));
            if (source.open(QIODevice::ReadOnly)) {
                const std::lock_guard lock(m_mutex);
                m_contents[result.new_object_id] = source.readAll();
            }
        }
        return result;
    }

private:
    QByteArray contentOf(std::uint32_t objectID) const
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_contents.find(objectID);
        return found != m_contents.end() ? found->second : QByteArray();
    }

    fakes::FakeLibMTP m_libmtp;
    std::shared_ptr<LibMTPBridge> m_real;
    mutable std::mutex m_mutex;
    std::map<std::uint32_t, QByteArray> m_contents;
};

QCoro::Task<std::shared_ptr<DeviceSession>> openOverInMemoryLibMTP(std::shared_ptr<MTPBackend>)
{
    // Only one in-memory libmtp can be installed at a time: let a device that an earlier test
    // dropped finish closing first.
    workPool().waitForDone();
    const auto bridge = std::make_shared<InMemoryDeviceBridge>();
    const CMTPOpenResult opened = bridge->openDevice(bus, devnum);
    if (opened.error_code != 0 || opened.handle == nullptr) {
        throw std::runtime_error(std::string("the in-memory device did not open: ") + opened.error_message);
    }
    const AndroidDevice device(DeviceID(QStringLiteral("18d1-4ee1-3-7")), QStringLiteral("Pixel"),
                               QStringLiteral("Google"), QStringLiteral("Pixel"), std::nullopt,
                               DeviceConnectionKind::usb);
    co_return std::make_shared<LibMTPDeviceSession>(device, opened.handle, bridge);
}

DeviceContractFactory libmtpSessionInTheRoot()
{
    DeviceContractFactory factory;
    factory.name = "SessionOverInMemoryLibMTP";
    factory.openSession = openOverInMemoryLibMTP;
    factory.watchdog = std::chrono::seconds(10);
    return factory;
}

DeviceContractFactory libmtpSessionInsideAFolder()
{
    DeviceContractFactory factory = libmtpSessionInTheRoot();
    factory.name = "SessionOverInMemoryLibMTPInsideAFolder";
    const StorageID storage(QString::number(0x10001));
    factory.storageID = storage;
    factory.writableFolder =
        DeviceContractFactory::WritableFolder{RemoteObjectID(QStringLiteral("10")), RemotePath(storage, {QStringLiteral("DCIM")})};
    return factory;
}

} // namespace

QUILLBARROW_DEVICE_CONTRACT_CONFORMANCE(LibMTP, libmtpSessionInTheRoot(), libmtpSessionInsideAFolder())
