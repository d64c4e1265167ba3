#include "ErrorOf.h"
#include "RunTask.h"
#include "transport/MockMTPBackend.h"

#include <gtest/gtest.h>

#include <vector>

using namespace quillbarrow;
using quillbarrow::testing::errorOf;
using quillbarrow::testing::processEventsUntil;
using quillbarrow::testing::runTask;

namespace {

AndroidDevice device(const char* id)
{
    return AndroidDevice(DeviceID(QString::fromUtf8(id)), QString::fromUtf8(id), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

QCoro::Task<std::vector<DeviceConnectionEvent>> drain(AsyncChannel<DeviceConnectionEvent>* stream)
{
    std::vector<DeviceConnectionEvent> events;
    while (stream->bufferedCount() > 0) {
        std::optional<DeviceConnectionEvent> event = co_await stream->next();
        if (!event) {
            break;
        }
        events.push_back(std::move(*event));
    }
    co_return events;
}

// Lets anything that was posted run, so that late deliveries would show.
void settle()
{
    processEventsUntil([] { return false; }, std::chrono::milliseconds(2));
}

} // namespace

TEST(MockMTPBackend, TheDefaultDeviceIsAPixel8WithItsOwnStorage)
{
    const AndroidDevice pixel(DeviceID(QStringLiteral("mock-pixel-8")), QStringLiteral("Pixel 8"),
                              QStringLiteral("Google"), QStringLiteral("Pixel 8"), QStringLiteral("MOCK123456"),
                              DeviceConnectionKind::usb);
    EXPECT_EQ(MockMTPBackend::defaultDevices(), QList<AndroidDevice>{pixel});

    MockMTPBackend backend(MockMTPBackend::defaultDevices());
    // Asked twice: the list must survive being handed out.
    EXPECT_EQ(runTask(backend.currentDevices()), QList<AndroidDevice>{pixel});
    EXPECT_EQ(runTask(backend.currentDevices()), QList<AndroidDevice>{pixel});

    // The options are not read.
    const std::shared_ptr<DeviceSession> session = runTask(backend.openSession(pixel.id, OpenSessionOptions(true)));
    EXPECT_EQ(session->device(), pixel);
    const QList<StorageRoot> storages = runTask(session->storages());
    ASSERT_EQ(storages.size(), 1);
    EXPECT_EQ(storages.first().id, StorageID(QStringLiteral("mock-pixel-8-internal")));
    EXPECT_EQ(storages.first().name, QStringLiteral("Internal shared storage"));
}

TEST(MockMTPBackend, OnlyListedDevicesOpenAndAReconnectedDeviceStartsAfresh)
{
    MockMTPBackend backend(MockMTPBackend::defaultDevices());
    const DeviceID pixel(QStringLiteral("mock-pixel-8"));
    EXPECT_EQ(errorOf(backend.openSession(DeviceID(QStringLiteral("other")))), QuillbarrowError::deviceNotFound());

    backend.simulateDisconnect(pixel);
    EXPECT_TRUE(runTask(backend.currentDevices()).isEmpty());
    EXPECT_EQ(errorOf(backend.openSession(pixel)), QuillbarrowError::deviceNotFound());

    // Listed twice under one id: the first record opens, one disconnection removes both.
    const AndroidDevice first = device("twin");
    const AndroidDevice second(first.id, QStringLiteral("Twin again"), std::nullopt, std::nullopt, std::nullopt,
                               DeviceConnectionKind::usb);
    backend.simulateConnect(first);
    backend.simulateConnect(second);
    EXPECT_EQ(runTask(backend.currentDevices()), (QList<AndroidDevice>{first, second}));
    const std::shared_ptr<DeviceSession> session = runTask(backend.openSession(first.id));
    EXPECT_EQ(session->device(), first);
    EXPECT_EQ(runTask(session->storages()).first().id, StorageID(QStringLiteral("twin-internal")));
    EXPECT_EQ(runTask(session->rootDirectory(StorageID(QStringLiteral("twin-internal")))).items.size(), 2);
    backend.simulateDisconnect(first.id);
    EXPECT_TRUE(runTask(backend.currentDevices()).isEmpty());
}

TEST(MockMTPBackend, AStreamAnnouncesTheListThenCarriesOnlyTheSimulatedChanges)
{
    MockMTPBackend backend({device("one"), device("two")});
    AsyncChannel<DeviceConnectionEvent> stream = backend.events();
    settle();
    EXPECT_EQ(runTask(drain(&stream)), (std::vector<DeviceConnectionEvent>{DeviceConnectionEvent::connected(device("one")),
                                                                           DeviceConnectionEvent::connected(device("two"))}));
    settle();
    EXPECT_EQ(stream.bufferedCount(), 0u);

    // Changes made right after the stream is asked for are not lost.
    AsyncChannel<DeviceConnectionEvent> late = backend.events();
    backend.simulateDisconnect(DeviceID(QStringLiteral("one")));
    backend.simulateConnect(device("three"));
    const std::vector<DeviceConnectionEvent> changes{DeviceConnectionEvent::disconnected(DeviceID(QStringLiteral("one"))),
                                                     DeviceConnectionEvent::connected(device("three"))};
    EXPECT_EQ(runTask(drain(&stream)), changes);
    const std::vector<DeviceConnectionEvent> fromLate = runTask(drain(&late));
    ASSERT_EQ(fromLate.size(), 4u);
    EXPECT_TRUE(std::equal(fromLate.begin() + 2, fromLate.end(), changes.begin(), changes.end()));
}

TEST(MockMTPBackend, ADroppedStreamIsForgottenEvenAfterTheBackendIsGone)
{
    auto backend = std::make_unique<MockMTPBackend>(MockMTPBackend::defaultDevices());
    {
        AsyncChannel<DeviceConnectionEvent> dropped = backend->events();
        EXPECT_EQ(backend->streamCount(), 1);
    }
    EXPECT_EQ(backend->streamCount(), 0);

    AsyncChannel<DeviceConnectionEvent> outliving = backend->events();
    backend.reset();
    EXPECT_EQ(outliving.bufferedCount(), 1u);
    // Dropping it now must not reach into the destroyed backend (the sanitizer build watches).
    outliving = AsyncChannel<DeviceConnectionEvent>();
}
