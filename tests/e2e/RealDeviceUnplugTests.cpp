#include "LocalTree.h"
#include "RealDeviceTest.h"
#include "TransferRig.h"
#include "UsbFaults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>
#include <atomic>
#include <exception>
#include <iostream>

// The device unplugged while a transfer moves its bytes (QEMU: the usb-mtp device deleted through
// QEMU's monitor; uMTP-Responder: the gadget unbound from its controller). The transfer must end
// failed with a clear error, in bounded time, and leave no partial file under its final name (an
// upload's is removed by the first session after the device is back); the session must fail
// cleanly from then on, and the backend's monitoring must see the device go and come back.

namespace quillbarrow::e2e {

namespace {

constexpr std::chrono::milliseconds transferWatchdog{std::chrono::minutes(2)};
constexpr std::chrono::milliseconds eventWatchdog{std::chrono::seconds(30)};
constexpr std::chrono::milliseconds unplugWatchdog{std::chrono::seconds(60)};
// Where the transfer is held for the unplug: well into it, and far from its end.
constexpr qint64 unplugAfterBytes = 4 * 1024 * 1024;

QCoro::Task<std::optional<DeviceConnectionEvent>> nextEvent(AsyncChannel<DeviceConnectionEvent>* stream)
{
    co_return co_await stream->next();
}

// Whether two identifiers name the same kind of device ("mtp-<vendor>-<product>-..."): a device
// plugged in again gets a new device number, and with it a new identifier.
bool sameModel(const DeviceID& a, const DeviceID& b)
{
    return a.rawValue().section(u'-', 0, 2) == b.rawValue().section(u'-', 0, 2);
}

class RealDeviceUnplug : public RealDeviceTest {
  protected:
    RealDeviceUnplug() : m_rig(m_local.filePath(QStringLiteral("opened files"))) { watchTransfers(m_rig); }

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(RealDeviceTest::SetUp());
        m_events.emplace(m_backend->events());
        ASSERT_TRUE(awaitEvent([this](const DeviceConnectionEvent& event) {
            return event.kind() == DeviceConnectionEvent::Kind::connected && event.deviceID() == m_device.id;
        })) << "the monitoring stream does not announce the attached device";
    }

    void TearDown() override
    {
        // Whatever happened, the next test finds the device plugged in.
        if (m_unplugAsked && !m_pluggedIn) {
            QString answer;
            if (!m_unplugAnswered) {
                m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer);
            }
            m_responder.sendRequest(QStringLiteral("plug"));
            m_responder.awaitAnswer(QStringLiteral("plug"), std::chrono::seconds(30), &answer);
            waitForDevices(1);
        }
        usbfaults::disarm();
        m_events.reset();
        RealDeviceTest::TearDown();
    }

    // Reads the monitoring stream until an event that `wanted` accepts; false after the watchdog.
    bool awaitEvent(const std::function<bool(const DeviceConnectionEvent&)>& wanted)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < eventWatchdog.count()) {
            const auto left = std::chrono::milliseconds(eventWatchdog.count() - waited.elapsed());
            if (!testing::processEventsUntil([this] { return m_events->bufferedCount() > 0; }, left)) {
                return false;
            }
            const std::optional<DeviceConnectionEvent> event = run(nextEvent(&*m_events));
            if (event && wanted(*event)) {
                m_lastEvent = event;
                return true;
            }
        }
        return false;
    }

    // Unplugs the device in the middle of the transfer. QEMU's device takes the big file in about
    // a second, faster than a request reaches the runner on a busy host, so the transfer is held
    // between two of its USB transfers once some megabytes went, the unplug is asked for from
    // there, and the transfer goes on only when the runner has answered: its next USB transfer
    // meets a device that is gone, as if the cable had been pulled at that moment.
    void unplugOnceBytesMove()
    {
        const E2EResponder* responder = &m_responder;
        usbfaults::holdAfter(
            unplugAfterBytes,
            [this, responder](std::int64_t moved) {
                m_unpluggedAt = moved;
                m_sinceUnplug.start();
                try {
                    responder->sendRequest(QStringLiteral("unplug"));
                    m_unplugAsked = true;
                } catch (const std::exception& error) {
                    ADD_FAILURE() << error.what();
                }
            },
            [responder] { return responder->answered(QStringLiteral("unplug")); }, unplugWatchdog);
    }

    // After the transfer: the runner unplugged the device, the job failed with an error that says
    // so, and the window shows that error.
    void expectTransferFailed()
    {
        ASSERT_TRUE(m_unplugAsked) << "the transfer ended before " << unplugAfterBytes << " bytes went";
        std::cout << "unplugged after " << m_unpluggedAt.load() << " bytes; the transfer ended "
                  << m_sinceUnplug.elapsed() << " ms later" << std::endl;
        QString answer;
        const bool unplugged =
            m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer);
        m_unplugAnswered = true;
        ASSERT_TRUE(unplugged) << answer.toStdString();
        const QList<TransferJob> failed = m_rig.jobsIn(TransferState::Kind::failed);
        ASSERT_EQ(failed.size(), 1) << m_rig.jobStates().join(u'\n').toStdString();
        const QuillbarrowError error = *failed.first().state.error();
        std::cout << "the job failed with " << QuillbarrowError::kindName(error.kind()).toStdString() << ": "
                  << error.userMessage().toStdString() << " / " << error.technicalDetails().toStdString()
                  << std::endl;
        EXPECT_EQ(QuillbarrowError::kindName(error.kind()),
                  QuillbarrowError::kindName(QuillbarrowError::Kind::transferInterrupted))
            << error.technicalDetails().toStdString();
        EXPECT_EQ(
            error.userMessage(),
            QStringLiteral("The transfer was interrupted. Check the cable and keep the phone unlocked."));
        EXPECT_EQ(m_rig.coordinator.lastError(), std::optional<QuillbarrowError>(error));
    }

    // The session fails cleanly from now on, the stream reports the device gone and, once it is
    // plugged in again, back; a new session then opens on it.
    void expectDisconnectionThenReconnection()
    {
        const std::optional<QuillbarrowError> next = failureOf(m_session->storages());
        ASSERT_TRUE(next) << "the session still answers after the device was unplugged";
        std::cout << "the session's next call failed with "
                  << QuillbarrowError::kindName(next->kind()).toStdString() << ": "
                  << next->technicalDetails().toStdString() << std::endl;
        EXPECT_FALSE(next->userMessage().isEmpty());

        EXPECT_TRUE(awaitEvent([this](const DeviceConnectionEvent& event) {
            return event.kind() == DeviceConnectionEvent::Kind::disconnected &&
                   event.deviceID() == m_device.id;
        })) << "the monitoring stream does not report the device gone";
        run(m_session->close(), std::chrono::seconds(30));

        ASSERT_NO_FATAL_FAILURE(request(QStringLiteral("plug")));
        m_pluggedIn = true;
        ASSERT_TRUE(awaitEvent([this](const DeviceConnectionEvent& event) {
            return event.kind() == DeviceConnectionEvent::Kind::connected &&
                   sameModel(event.deviceID(), m_device.id);
        })) << "the monitoring stream does not report the device back";
        ASSERT_NO_FATAL_FAILURE(openSession());
        EXPECT_EQ(m_device.id, m_lastEvent->deviceID());
        ASSERT_NO_FATAL_FAILURE(findFolderAgain());
    }

    TransferRig m_rig;
    std::optional<AsyncChannel<DeviceConnectionEvent>> m_events;
    std::optional<DeviceConnectionEvent> m_lastEvent;
    std::atomic<bool> m_unplugAsked{false};
    bool m_unplugAnswered = false;
    bool m_pluggedIn = false;
    std::atomic<qint64> m_unpluggedAt{-1};
    QElapsedTimer m_sinceUnplug;
};

TEST_F(RealDeviceUnplug, InTheMiddleOfADownload)
{
    const RemoteItem big = seededBigFile();
    const QString destination = localPath(QStringLiteral("destination"));
    ASSERT_TRUE(QDir().mkpath(destination));
    unplugOnceBytesMove();
    m_rig.clipboard.copyDevice({big}, m_storage);
    run(m_rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(destination), m_session), transferWatchdog);
    ASSERT_NO_FATAL_FAILURE(expectTransferFailed());
    // Neither under the final name nor under the hidden name it was written to.
    EXPECT_EQ(LocalTree::entries(destination), QStringList());

    ASSERT_NO_FATAL_FAILURE(expectDisconnectionThenReconnection());
    const RemoteItem again = seededBigFile();
    EXPECT_EQ(again.size, std::optional<qint64>(LocalTree::bigFileSize));
}

TEST_F(RealDeviceUnplug, InTheMiddleOfAnUpload)
{
    // What must stay: an object of another name beside the upload, and a smaller object of the
    // upload's name in another folder.
    constexpr qint64 smallSize = 1000;
    const QString small = localPath(QStringLiteral("small.bin"));
    LocalTree::writePseudoRandomFile(small, smallSize, 7);
    run(m_session->uploadFile(small, QStringLiteral("keep.bin"), m_folder->id, m_storage));
    const RemoteItem other = run(m_session->createFolder(QStringLiteral("other"), m_folder->id, m_storage));
    run(m_session->uploadFile(small, LocalTree::bigFileName(), other.id, m_storage));

    unplugOnceBytesMove();
    m_rig.clipboard.copyLocal({QUrl::fromLocalFile(LocalTree::bigFile())});
    run(m_rig.coordinator.pasteIntoDevice(m_folder->id, m_storage, m_session), transferWatchdog);
    ASSERT_NO_FATAL_FAILURE(expectTransferFailed());
    // Both responders keep what had arrived before the cable was pulled; nothing can remove it
    // while the device is away. The first session after it is back does.
    const QString partial = servedFolder() + QLatin1Char('/') + LocalTree::bigFileName();
    std::cout << "while the device is away its folder holds " << QFileInfo(partial).size() << " bytes of "
              << LocalTree::bigFileName().toStdString() << std::endl;
    ASSERT_NO_FATAL_FAILURE(expectDisconnectionThenReconnection());

    QStringList names;
    for (const RemoteItem& item : children()) {
        names.append(item.name);
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("other"), QStringLiteral("keep.bin")}));
    EXPECT_FALSE(QFileInfo::exists(partial));
    const std::optional<RemoteItem> otherAgain = child(QStringLiteral("other"));
    ASSERT_TRUE(otherAgain);
    const std::optional<RemoteItem> smaller = child(LocalTree::bigFileName(), otherAgain->id);
    ASSERT_TRUE(smaller) << "the object of that name in another folder was removed";
    EXPECT_EQ(smaller->size, std::optional<qint64>(smallSize));
}

} // namespace

} // namespace quillbarrow::e2e
