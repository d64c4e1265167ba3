// The libmtp backend with its real collaborators: the bridge over an in-memory libmtp, a host
// without camera helpers, and the libmtp device session.

#include "async/WorkPool.h"
#include "CMTPHostSystem.h"
#include "FakeLibMTP.h"
#include "RunTask.h"
#include "domain/QuillbarrowError.h"
#include "logging/AppLogger.h"
#include "transport/LibMTPBackend.h"
#include "transport/LibMTPDeviceSession.h"

#include <QThreadPool>
#include <gtest/gtest.h>

using namespace quillbarrow;
using namespace std::chrono_literals;
using quillbarrow::testing::runTask;

namespace {

// No helper processes to stop, and no waiting between open attempts.
const CMTPHostSystem quietHost{
    [](CMTPProcessVisitor, void*) { return 1; },
    [](int32_t, char*, size_t) -> long { return -1; },
    [](int32_t, uint32_t*) { return -1; },
    []() -> uint32_t { return 1000; },
    [](int32_t, int) { return -1; },
    [](uint32_t) {},
    [](uint32_t, uint8_t, int*, int) { return 0; },
    [](int) { return 0; },
    [](uint32_t, uint8_t) { return 0; },
};

class LibMTPBackendOverBridgeTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        // A device an earlier test dropped may still be closing on a worker.
        workPool().waitForDone();
        CMTP_SetHostSystem(&quietHost);
        m_libmtp = std::make_unique<fakes::FakeLibMTP>();
        m_libmtp->setRawDevices({fakes::FakeRawDevice{0x18d1, 0x4ee1, 3, 7, "Google", "Pixel"}});
        m_libmtp->setIdentity("Anna's_Pixel", "Pixel 8", "Google", "SER_1");
        m_libmtp->setStorages({fakes::FakeStorage{0x10001, 64'000'000'000, 32'000'000'000,
                                                  "Internal shared storage", "primary"}});
        m_backend =
            std::make_unique<LibMTPBackend>(AppLogger(QStringLiteral("LibMTPBackend")),
                                            DynamicLibraryProbe({QStringLiteral("/usr/lib/libmtp.so.9")},
                                                                [](const QString&) { return true; }),
                                            LibMTPBridge::system(), LibMTPBackend::defaultSessionFactory());
    }
    void TearDown() override
    {
        m_backend.reset();
        workPool().waitForDone();
        m_libmtp.reset();
        CMTP_SetHostSystem(nullptr);
    }

    std::unique_ptr<fakes::FakeLibMTP> m_libmtp;
    std::unique_ptr<LibMTPBackend> m_backend;
};

} // namespace

TEST_F(LibMTPBackendOverBridgeTest, ListsOpensAndClosesADeviceThroughTheRealBridge)
{
    const QList<AndroidDevice> devices = runTask(m_backend->currentDevices(), 10s);
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id.rawValue(), QStringLiteral("mtp-18d1-4ee1-00000003-007"));
    EXPECT_EQ(devices[0].displayName, QStringLiteral("Google Pixel"));

    const std::shared_ptr<DeviceSession> session = runTask(m_backend->openSession(devices[0].id), 10s);
    ASSERT_NE(dynamic_cast<LibMTPDeviceSession*>(session.get()), nullptr);
    EXPECT_EQ(session->device(),
              AndroidDevice(devices[0].id, QStringLiteral("Anna's Pixel"), QStringLiteral("Google"),
                            QStringLiteral("Pixel 8"), QStringLiteral("SER 1"), DeviceConnectionKind::usb));
    EXPECT_EQ(m_libmtp->openDevices(), 1);
    const QList<StorageRoot> storages = runTask(session->storages(), 10s);
    ASSERT_EQ(storages.size(), 1);
    EXPECT_EQ(storages[0].name, QStringLiteral("Internal shared storage"));

    runTask(session->close(), 10s);
    EXPECT_EQ(m_libmtp->openDevices(), 0);
}

TEST_F(LibMTPBackendOverBridgeTest, OpensTheReEnumeratedDeviceAndNothingWhenNoneIsAttached)
{
    const DeviceID beforeReEnumeration(QStringLiteral("mtp-18d1-4ee1-00000003-005"));
    const std::shared_ptr<DeviceSession> session = runTask(m_backend->openSession(beforeReEnumeration), 10s);
    EXPECT_EQ(session->device().id.rawValue(), QStringLiteral("mtp-18d1-4ee1-00000003-007"));
    runTask(session->close(), 10s);

    m_libmtp->setRawDevices({});
    EXPECT_TRUE(runTask(m_backend->currentDevices(), 10s).isEmpty());
    try {
        runTask(m_backend->openSession(beforeReEnumeration), 10s);
        ADD_FAILURE() << "a device that is not attached was opened";
    } catch (const QuillbarrowError& error) {
        EXPECT_EQ(error, QuillbarrowError::deviceNotFound());
    }
    EXPECT_EQ(m_libmtp->outstandingAllocations(), 0u);
}
