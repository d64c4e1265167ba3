#include "LibMTPBackendFakes.h"
#include "RunTask.h"
#include "async/AsyncChannel.h"
#include "async/WithTimeLimit.h"
#include "domain/QuillbarrowError.h"
#include "logging/AppLogger.h"
#include "transport/DynamicLibraryProbe.h"
#include "transport/InterruptedUploadLog.h"
#include "transport/LibMTPBackend.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace quillbarrow;
using namespace quillbarrow::backendtest;
using namespace std::chrono_literals;
using quillbarrow::testing::processEventsUntil;
using quillbarrow::testing::runTask;

namespace {

using LogLine = std::pair<QtMsgType, QString>;

QMutex logMutex;
std::vector<LogLine> backendLog;

void captureLibMTPBackendLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (QByteArray(context.category) == "com.quillbarrow.app.LibMTPBackend") {
        QMutexLocker lock(&logMutex);
        backendLog.emplace_back(type, message);
    }
}

std::vector<LogLine> loggedLines()
{
    QMutexLocker lock(&logMutex);
    return backendLog;
}

LogLine info(const char* text)
{
    return {QtInfoMsg, QString::fromUtf8(text)};
}

LogLine error(const char* text)
{
    return {QtCriticalMsg, QString::fromUtf8(text)};
}

// What the backend handed to the session factory. Its operations are never called here.
class HandedOverSession final : public DeviceSession {
  public:
    HandedOverSession(AndroidDevice device, CMTPDeviceHandle* handle, std::shared_ptr<LibMTPBridge> bridge)
        : m_device(std::move(device)), handle(handle), bridge(std::move(bridge))
    {
    }
    AndroidDevice device() const override { return m_device; }
    QCoro::Task<QList<StorageRoot>> storages() override { throw unused(); }
    QCoro::Task<DirectoryPage> rootDirectory(StorageID) override { throw unused(); }
    QCoro::Task<DirectoryPage> listDirectory(RemoteObjectID, RemotePath) override { throw unused(); }
    QCoro::Task<RemoteItem> createFolder(QString, std::optional<RemoteObjectID>, StorageID) override
    {
        throw unused();
    }
    QCoro::Task<> rename(RemoteObjectID, QString) override { throw unused(); }
    QCoro::Task<> deleteItem(RemoteObjectID) override { throw unused(); }
    QCoro::Task<> downloadFile(RemoteObjectID, QString, TransferProgressFunction) override { throw unused(); }
    QCoro::Task<RemoteItem> uploadFile(QString, QString, std::optional<RemoteObjectID>, StorageID,
                                       TransferProgressFunction) override
    {
        throw unused();
    }
    QCoro::Task<> close() override { throw unused(); }

    AndroidDevice m_device;
    CMTPDeviceHandle* handle;
    std::shared_ptr<LibMTPBridge> bridge;

  private:
    static QuillbarrowError unused()
    {
        return QuillbarrowError::unknown(QStringLiteral("not used by these tests"));
    }
};

std::string describe(const DeviceConnectionEvent& event)
{
    static const char* const kinds[] = {"connected", "disconnected", "changed"};
    std::string text = kinds[static_cast<int>(event.kind())];
    text += ' ' + event.deviceID().rawValue().toStdString();
    if (const AndroidDevice* device = event.device()) {
        text += " \"" + device->displayName.toStdString() + '"';
    }
    return text;
}

std::vector<std::string> describe(const QList<DeviceConnectionEvent>& events)
{
    std::vector<std::string> texts;
    for (const DeviceConnectionEvent& event : events) {
        texts.push_back(describe(event));
    }
    return texts;
}

QCoro::Task<QList<DeviceConnectionEvent>> take(AsyncChannel<DeviceConnectionEvent>* stream, int count)
{
    QList<DeviceConnectionEvent> events;
    while (events.size() < count) {
        std::optional<DeviceConnectionEvent> event = co_await stream->next();
        if (!event) {
            break;
        }
        events.append(std::move(*event));
    }
    co_return events;
}

std::vector<std::string> takeNow(AsyncChannel<DeviceConnectionEvent>& stream, int count)
{
    return describe(runTask(take(&stream, count), 10s));
}

// Paces the polls: a stream polls once at its start and then once per tick. `pauses` counts the
// polls done, `stopped` the pauses that ended because the consumer left.
struct PollClock {
    AsyncChannel<int> ticks;
    int pauses = 0;
    int stopped = 0;
};

QCoro::Task<> waitForNextTick(std::shared_ptr<PollClock> clock, std::stop_token stop)
{
    ++clock->pauses;
    co_await clock->ticks.next(stop);
    if (stop.stop_requested()) {
        ++clock->stopped;
    }
}

const CMTPRawDeviceEntry galaxy = rawDevice(0x04e8, 0x6860, 0x00100000, 5, "Samsung", "Galaxy");
const CMTPRawDeviceEntry pixel = rawDevice(0x18d1, 0x4ee1, 0x00200000, 3, "Google", "Pixel");
const CMTPRawDeviceEntry redmi = rawDevice(0x2717, 0xff40, 0x00300000, 9, "Xiaomi", "Redmi");
const DeviceID galaxyID(QStringLiteral("mtp-04e8-6860-00100000-005"));

class LibMTPBackendTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        {
            QMutexLocker lock(&logMutex);
            backendLog.clear();
        }
        m_previousHandler = qInstallMessageHandler(captureLibMTPBackendLog);
    }
    void TearDown() override
    {
        if (m_backend) {
            EXPECT_TRUE(processEventsUntil([this] { return m_backend->runningPollers() == 0; }, 10s));
        }
        qInstallMessageHandler(m_previousHandler);
    }

    LibMTPBackend& backend(LibMTPBackend::PollPause pause = LibMTPBackend::pauseFor(1h))
    {
        const std::shared_ptr<std::atomic<bool>> present = m_libraryPresent;
        DynamicLibraryProbe probe({QStringLiteral("/usr/lib/libmtp.so.9")},
                                  [present](const QString&) { return present->load(); });
        m_backend = std::make_unique<LibMTPBackend>(
            AppLogger(QStringLiteral("LibMTPBackend")), std::move(probe), m_bridge,
            [this](AndroidDevice device, CMTPDeviceHandle* handle, std::shared_ptr<LibMTPBridge> bridge,
                   LibMTPSessionServices) {
                auto session =
                    std::make_shared<HandedOverSession>(std::move(device), handle, std::move(bridge));
                m_sessions.push_back(session);
                return session;
            },
            std::move(pause));
        return *m_backend;
    }
    LibMTPBackend& tickedBackend()
    {
        return backend(
            [clock = m_clock](std::stop_token stop) { return waitForNextTick(clock, std::move(stop)); });
    }
    void tick()
    {
        const int done = m_clock->pauses;
        m_clock->ticks.sender().push(1);
        ASSERT_TRUE(processEventsUntil([&] { return m_clock->pauses > done; }, 10s));
    }

    std::shared_ptr<HandedOverSession> open(const DeviceID& id, bool helperSuppression = false)
    {
        const std::shared_ptr<DeviceSession> session =
            runTask(m_backend->openSession(id, OpenSessionOptions(helperSuppression)), 10s);
        return std::dynamic_pointer_cast<HandedOverSession>(session);
    }
    std::optional<QuillbarrowError> openingError(const DeviceID& id)
    {
        try {
            runTask(m_backend->openSession(id), 10s);
        } catch (const QuillbarrowError& failure) {
            return failure;
        }
        return std::nullopt;
    }

    std::shared_ptr<FakeLibMTPBridge> m_bridge = std::make_shared<FakeLibMTPBridge>();
    std::shared_ptr<std::atomic<bool>> m_libraryPresent = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<PollClock> m_clock = std::make_shared<PollClock>();
    std::vector<std::shared_ptr<HandedOverSession>> m_sessions;
    std::unique_ptr<LibMTPBackend> m_backend;

  private:
    QtMessageHandler m_previousHandler = nullptr;
};

using OpenCall = FakeLibMTPBridge::OpenCall;

} // namespace

// ---- Without the library ----

TEST_F(LibMTPBackendTest, WithoutTheLibraryThereAreNoDevicesAndNoSessions)
{
    m_libraryPresent->store(false);
    m_bridge->attach({galaxy});
    backend();

    EXPECT_TRUE(runTask(m_backend->currentDevices(), 10s).isEmpty());
    EXPECT_EQ(openingError(galaxyID),
              QuillbarrowError::unsupportedOperation(
                  QStringLiteral("libmtp is not bundled with this app and was not found on the system.")));
    EXPECT_EQ(m_bridge->detections(), 0);
    EXPECT_TRUE(m_bridge->opens().empty());
    EXPECT_EQ(loggedLines(), std::vector<LogLine>{info(
                                 "libmtp not found; no hardware devices can be enumerated by this build")});
}

// ---- Listing ----

TEST_F(LibMTPBackendTest, CurrentDevicesListsTheDetectedDevicesOrLogsWhyNot)
{
    m_bridge->attach({galaxy, pixel});
    backend();
    const QList<AndroidDevice> devices = runTask(m_backend->currentDevices(), 10s);
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(devices[0].id, galaxyID);
    EXPECT_EQ(devices[1].displayName, QStringLiteral("Google Pixel"));

    m_bridge->failDetection(3, "The USB interface could not be claimed.");
    EXPECT_TRUE(runTask(m_backend->currentDevices(), 10s).isEmpty());
    m_bridge->attach({});
    EXPECT_TRUE(runTask(m_backend->currentDevices(), 10s).isEmpty());

    EXPECT_EQ(loggedLines(),
              (std::vector<LogLine>{info("libmtp found 2 MTP device(s)"),
                                    error("libmtp detection failed: The USB interface could not be "
                                          "claimed."),
                                    info("libmtp found 0 MTP device(s)")}));
    EXPECT_EQ(m_bridge->unfreedLists(), 0);
}

// ---- Event streams ----

TEST_F(LibMTPBackendTest, PollsAnnounceArrivalsInDetectionOrderBeforeDepartures)
{
    m_bridge->attach({galaxy, pixel});
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    EXPECT_EQ(takeNow(stream, 2), (std::vector<std::string>{
                                      "connected mtp-04e8-6860-00100000-005 \"Samsung Galaxy\"",
                                      "connected mtp-18d1-4ee1-00200000-003 \"Google Pixel\"",
                                  }));

    m_bridge->attach({pixel});
    tick();
    EXPECT_EQ(takeNow(stream, 1), std::vector<std::string>{"disconnected mtp-04e8-6860-00100000-005"});

    m_bridge->attach({redmi});
    tick();
    EXPECT_EQ(takeNow(stream, 2), (std::vector<std::string>{
                                      "connected mtp-2717-ff40-00300000-009 \"Xiaomi Redmi\"",
                                      "disconnected mtp-18d1-4ee1-00200000-003",
                                  }));

    tick(); // nothing changed: nothing to say
    EXPECT_EQ(stream.bufferedCount(), 0u);
}

TEST_F(LibMTPBackendTest, AReEnumeratedPhoneIsANewDeviceAndAFailedDetectionIsNoDevice)
{
    m_bridge->attach({galaxy, pixel});
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    EXPECT_EQ(takeNow(stream, 2).size(), 2u);

    CMTPRawDeviceEntry renumbered = galaxy;
    renumbered.devnum = 7;
    m_bridge->attach({renumbered, pixel});
    tick();
    EXPECT_EQ(takeNow(stream, 2), (std::vector<std::string>{
                                      "connected mtp-04e8-6860-00100000-007 \"Samsung Galaxy\"",
                                      "disconnected mtp-04e8-6860-00100000-005",
                                  }));

    m_bridge->failDetection(1, "libmtp reported a general failure.");
    tick();
    EXPECT_EQ(takeNow(stream, 2), (std::vector<std::string>{
                                      "disconnected mtp-04e8-6860-00100000-007",
                                      "disconnected mtp-18d1-4ee1-00200000-003",
                                  }));
    m_bridge->attach({pixel});
    tick();
    EXPECT_EQ(takeNow(stream, 1),
              std::vector<std::string>{"connected mtp-18d1-4ee1-00200000-003 \"Google Pixel\""});
    EXPECT_TRUE(loggedLines().empty()); // polling logs nothing
    EXPECT_EQ(m_bridge->unfreedLists(), 0);
}

TEST_F(LibMTPBackendTest, NeitherARenamedDeviceNorADuplicateIdentifierDisturbsThePolling)
{
    m_bridge->attach({galaxy, galaxy});
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    EXPECT_EQ(takeNow(stream, 1),
              std::vector<std::string>{"connected mtp-04e8-6860-00100000-005 \"Samsung Galaxy\""});

    const CMTPRawDeviceEntry renamed = rawDevice(0x04e8, 0x6860, 0x00100000, 5, "SAMSUNG", "Galaxy S21");
    m_bridge->attach({renamed, galaxy});
    tick();
    m_bridge->attach({renamed, pixel});
    tick();
    EXPECT_EQ(takeNow(stream, 1),
              std::vector<std::string>{"connected mtp-18d1-4ee1-00200000-003 \"Google Pixel\""});
    EXPECT_EQ(stream.bufferedCount(), 0u);
}

TEST_F(LibMTPBackendTest, WithoutTheLibraryPollingStillAsksTheBridge)
{
    m_libraryPresent->store(false);
    m_bridge->attach({pixel});
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    EXPECT_EQ(takeNow(stream, 1),
              std::vector<std::string>{"connected mtp-18d1-4ee1-00200000-003 \"Google Pixel\""});
}

TEST_F(LibMTPBackendTest, PollingEndsWithinOnePeriodOnceTheConsumerLeaves)
{
    m_bridge->attach({galaxy});
    // An hour between polls: the poller can only end in time if its pause ends when the consumer leaves.
    LibMTPBackend& hourly = backend(LibMTPBackend::pauseFor(1h));
    {
        AsyncChannel<DeviceConnectionEvent> stream = hourly.events();
        EXPECT_EQ(takeNow(stream, 1).size(), 1u);
        EXPECT_EQ(hourly.runningPollers(), 1);
    }
    EXPECT_TRUE(processEventsUntil([&] { return hourly.runningPollers() == 0; }, 10s));
    const int detections = m_bridge->detections();

    // Left while its first detection is under way.
    {
        AsyncChannel<DeviceConnectionEvent> stream = hourly.events();
    }
    EXPECT_TRUE(processEventsUntil([&] { return hourly.runningPollers() == 0; }, 10s));
    EXPECT_LE(m_bridge->detections(), detections + 1);
}

TEST_F(LibMTPBackendTest, EachStreamPollsOnItsOwnAndAgainAfterEveryPeriod)
{
    LibMTPBackend& quick = backend(LibMTPBackend::pauseFor(1ms));
    AsyncChannel<DeviceConnectionEvent> first = quick.events();
    m_bridge->attach({pixel});
    EXPECT_EQ(takeNow(first, 1),
              std::vector<std::string>{"connected mtp-18d1-4ee1-00200000-003 \"Google Pixel\""});
    AsyncChannel<DeviceConnectionEvent> second = quick.events();
    EXPECT_EQ(takeNow(second, 1),
              std::vector<std::string>{"connected mtp-18d1-4ee1-00200000-003 \"Google Pixel\""});
    m_bridge->attach({});
    EXPECT_EQ(takeNow(first, 1), std::vector<std::string>{"disconnected mtp-18d1-4ee1-00200000-003"});
    EXPECT_EQ(takeNow(second, 1), std::vector<std::string>{"disconnected mtp-18d1-4ee1-00200000-003"});
}

// ---- Opening a session ----

TEST_F(LibMTPBackendTest, AnOpenStopsTheHelpersAndHandsTheEnrichedDeviceToTheSession)
{
    m_bridge->attach({pixel, galaxy});
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(1)));
    m_bridge->reportIdentity("Anna_s Galaxy", "SM-G991B", "Samsung", "R58N");
    backend();

    const std::shared_ptr<HandedOverSession> session = open(galaxyID);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->device(),
              AndroidDevice(galaxyID, QStringLiteral("Anna s Galaxy"), QStringLiteral("Samsung"),
                            QStringLiteral("SM-G991B"), QStringLiteral("R58N"), DeviceConnectionKind::usb));
    EXPECT_EQ(session->handle, fakeHandle(1));
    EXPECT_EQ(session->bridge, m_bridge);
    EXPECT_EQ(m_bridge->opens(), (std::vector<OpenCall>{{true, 0x00100000, 5, 20, 100}}));
    EXPECT_EQ(m_bridge->identityQueries(), std::vector<CMTPDeviceHandle*>{fakeHandle(1)});
    EXPECT_TRUE(m_bridge->closed().empty());
    EXPECT_EQ(loggedLines(),
              (std::vector<LogLine>{info("opening libmtp session with macOS helper-suppression path"),
                                    info("opened libmtp session for Anna s Galaxy")}));

    // The options change nothing.
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(2)));
    EXPECT_EQ(open(galaxyID, true)->handle, fakeHandle(2));
    EXPECT_EQ(m_bridge->opens().back(), (OpenCall{true, 0x00100000, 5, 20, 100}));
    EXPECT_EQ(m_bridge->unfreedLists(), 0);
}

TEST_F(LibMTPBackendTest, AnIdentifierFromBeforeAReEnumerationOpensTheDeviceOnItsNewNumber)
{
    CMTPRawDeviceEntry renumbered = galaxy;
    renumbered.devnum = 7;
    m_bridge->attach({renumbered});
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(1)));
    backend();

    const std::shared_ptr<HandedOverSession> session = open(galaxyID);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->device().id.rawValue(), QStringLiteral("mtp-04e8-6860-00100000-007"));
    EXPECT_EQ(session->device().displayName,
              QStringLiteral("Samsung Galaxy")); // nothing reported: as scanned
    EXPECT_EQ(m_bridge->opens(), (std::vector<OpenCall>{{true, 0x00100000, 7, 20, 100}}));
    EXPECT_EQ(loggedLines(),
              (std::vector<LogLine>{info("device mtp-04e8-6860-00100000-005 re-enumerated; reconnecting to "
                                         "mtp-04e8-6860-00100000-007 on the same port"),
                                    info("opening libmtp session with macOS helper-suppression path"),
                                    info("opened libmtp session for Samsung Galaxy")}));
}

TEST_F(LibMTPBackendTest, ARefusedConnectionOrABusyInterfaceIsFinal)
{
    m_bridge->attach({galaxy});
    backend();
    const QByteArray refused = "macOS Image Capture is holding exclusive access on the phone's MTP interface";
    m_bridge->answerSeizeOpen(openFailure(7, refused));
    m_bridge->answerPlainOpen(openSuccess(fakeHandle(9)));
    EXPECT_EQ(openingError(galaxyID), QuillbarrowError::usbInterfaceBusy(QString::fromUtf8(refused)));

    m_bridge->answerSeizeOpen(openFailure(3, "USB layer trouble"));
    EXPECT_EQ(openingError(galaxyID), QuillbarrowError::sessionFailed(QStringLiteral("USB layer trouble")));

    EXPECT_EQ(m_bridge->opens(),
              (std::vector<OpenCall>{{true, 0x00100000, 5, 20, 100}, {true, 0x00100000, 5, 20, 100}}));
    EXPECT_TRUE(m_sessions.empty());
    const std::vector<LogLine> lines = loggedLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1],
              (LogLine{QtCriticalMsg, QStringLiteral("libmtp open failed: ") + QString::fromUtf8(refused)}));
    EXPECT_EQ(lines[3], error("libmtp open failed: USB layer trouble"));
}

TEST_F(LibMTPBackendTest, AnyOtherSeizeFailureGetsOnePlainOpen)
{
    m_bridge->attach({galaxy});
    backend();
    m_bridge->answerSeizeOpen(openFailure(5, "No MTP device is attached."));
    m_bridge->answerPlainOpen(openSuccess(fakeHandle(4)));
    const std::shared_ptr<HandedOverSession> session = open(galaxyID);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->handle, fakeHandle(4));
    EXPECT_EQ(m_bridge->opens(),
              (std::vector<OpenCall>{{true, 0x00100000, 5, 20, 100}, {false, 0x00100000, 5, 0, 0}}));

    // The plain open's own failure is the outcome; it is not repeated.
    const QByteArray plainText = "The MTP device was detected but the USB interface could not be opened.";
    m_bridge->answerSeizeOpen(openFailure(2, "The device returned an invalid MTP/PTP response."));
    m_bridge->answerPlainOpen(openFailure(7, plainText));
    EXPECT_EQ(openingError(galaxyID), QuillbarrowError::sessionFailed(QString::fromUtf8(plainText)));
    EXPECT_EQ(m_bridge->opens().size(), 4u);
    EXPECT_EQ(loggedLines().back(), (LogLine{QtCriticalMsg, QStringLiteral("libmtp open failed: ") +
                                                                QString::fromUtf8(plainText)}));
}

TEST_F(LibMTPBackendTest, AHandleThatCameWithAnErrorIsClosedAndNotUsed)
{
    m_bridge->attach({galaxy});
    backend();
    CMTPOpenResult odd = openSuccess(fakeHandle(5));
    odd.error_code = 1;
    m_bridge->answerSeizeOpen(odd);
    m_bridge->answerPlainOpen(openSuccess(fakeHandle(6)));
    EXPECT_EQ(open(galaxyID)->handle, fakeHandle(6));
    EXPECT_EQ(m_bridge->closed(), std::vector<CMTPDeviceHandle*>{fakeHandle(5)});

    // No handle and no code is no success either.
    m_bridge->answerSeizeOpen(openFailure(0, ""));
    m_bridge->answerPlainOpen(openFailure(0, ""));
    EXPECT_EQ(openingError(galaxyID),
              QuillbarrowError::sessionFailed(QStringLiteral("libmtp reported a general failure.")));
    EXPECT_EQ(m_sessions.size(), 1u);
}

TEST_F(LibMTPBackendTest, AnUnknownDeviceOrAFailedDetectionOpensNothing)
{
    m_bridge->attach({pixel});
    backend();
    EXPECT_EQ(openingError(galaxyID), QuillbarrowError::deviceNotFound());
    EXPECT_EQ(openingError(DeviceID(QStringLiteral("mock-pixel-8"))), QuillbarrowError::deviceNotFound());

    m_bridge->failDetection(2, "The device returned an invalid MTP/PTP response.");
    EXPECT_EQ(openingError(galaxyID), QuillbarrowError::backendProtocolError(QStringLiteral(
                                          "The device returned an invalid MTP/PTP response.")));
    EXPECT_TRUE(m_bridge->opens().empty());
    EXPECT_TRUE(loggedLines().empty());
    EXPECT_EQ(m_bridge->unfreedLists(), 0);
}

TEST_F(LibMTPBackendTest, ASessionThatCannotBeMadeLeavesTheHandleToTheFactory)
{
    m_bridge->attach({galaxy});
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(7)));
    m_backend = std::make_unique<LibMTPBackend>(
        AppLogger(QStringLiteral("LibMTPBackend")),
        DynamicLibraryProbe({QStringLiteral("/x")}, [](const QString&) { return true; }), m_bridge,
        [](AndroidDevice, CMTPDeviceHandle* handle, std::shared_ptr<LibMTPBridge> bridge,
           LibMTPSessionServices) -> std::shared_ptr<DeviceSession> {
            bridge->closeDevice(handle);
            throw std::runtime_error("no session today");
        });
    EXPECT_EQ(openingError(galaxyID), QuillbarrowError::unknown(QStringLiteral("no session today")));
    EXPECT_EQ(m_bridge->closed(),
              std::vector<CMTPDeviceHandle*>{fakeHandle(7)}); // closed once, by the factory
}

// ---- Closing, ordered with opening ----

namespace {

class LibMTPBackendClosing : public LibMTPBackendTest {
  protected:
    void SetUp() override
    {
        LibMTPBackendTest::SetUp();
        m_bridge->attach({galaxy});
        // As in use: a phone with a serial number, and the log of its uploads, which a session
        // tidies as it closes.
        m_bridge->reportIdentity("Galaxy", "SM-G991B", "samsung", "R58N12345");
        ASSERT_TRUE(m_state.isValid());
        m_backend = std::make_unique<LibMTPBackend>(
            AppLogger(QStringLiteral("LibMTPBackend")),
            DynamicLibraryProbe({QStringLiteral("/x")}, [](const QString&) { return true; }), m_bridge,
            LibMTPBackend::defaultSessionFactory(), LibMTPBackend::pauseFor(1h),
            std::make_shared<InterruptedUploadLog>(m_state.path()));
    }
    void TearDown() override
    {
        m_bridge->release();
        m_backend.reset(); // waits for what its worker still runs
        LibMTPBackendTest::TearDown();
    }

    QTemporaryDir m_state;
};

QCoro::Task<std::shared_ptr<DeviceSession>> openWithin(LibMTPBackend* backend, DeviceID id,
                                                       std::chrono::milliseconds limit)
{
    co_return co_await withTimeLimit(backend->openSession(std::move(id)), limit);
}

} // namespace

// A session dropped without close() (its opener stopped waiting, say) closes the phone on the
// backend's worker: the next open of the phone waits for that close instead of meeting the phone
// still held by this very program and failing as busy.
TEST_F(LibMTPBackendClosing, ADroppedSessionClosesItsPhoneBeforeTheNextOpenBegins)
{
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(1)));
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(2)));
    std::shared_ptr<DeviceSession> first = runTask(m_backend->openSession(galaxyID), 10s);
    m_bridge->holdCloses();
    first.reset();
    ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waiting() == 1; }, 10s));

    QCoro::Task<std::shared_ptr<DeviceSession>> opening = m_backend->openSession(galaxyID);
    for (int round = 0; round < 20; ++round) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(m_bridge->openingsAndClosings(), std::vector<std::string>{"open 1"}) << "opened while closing";
    m_bridge->release();
    const std::shared_ptr<DeviceSession> second = runTask(std::move(opening), 10s);
    EXPECT_EQ(m_bridge->openingsAndClosings(), (std::vector<std::string>{"open 1", "close 1", "open 2"}));
    runTask(second->close(), 10s);
    EXPECT_EQ(m_bridge->closed(), (std::vector<CMTPDeviceHandle*>{fakeHandle(1), fakeHandle(2)}));
}

// The open limit expired while the phone was still being opened; the user tries again at once. The
// first open runs on to its end, and its session, which nobody takes, is dropped: the retry opens
// the phone only after that session has closed it.
TEST_F(LibMTPBackendClosing, AnOpenWhoseCallerStoppedWaitingHasClosedThePhoneBeforeTheRetryOpensIt)
{
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(1)));
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(2)));
    m_bridge->holdNextOpen();
    EXPECT_THROW(runTask(openWithin(m_backend.get(), galaxyID, 5ms), 10s), TimeLimitExceeded);
    ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waiting() == 1; }, 10s));

    QCoro::Task<std::shared_ptr<DeviceSession>> retrying = m_backend->openSession(galaxyID);
    m_bridge->release();
    const std::shared_ptr<DeviceSession> session = runTask(std::move(retrying), 10s);
    EXPECT_EQ(m_bridge->openingsAndClosings(), (std::vector<std::string>{"open 1", "close 1", "open 2"}));
    EXPECT_EQ(session->device().id, galaxyID);

    // An explicit close takes the same way.
    m_bridge->answerSeizeOpen(openSuccess(fakeHandle(3)));
    QCoro::Task<> closing = session->close();
    QCoro::Task<std::shared_ptr<DeviceSession>> reopening = m_backend->openSession(galaxyID);
    runTask(std::move(closing), 10s);
    const std::shared_ptr<DeviceSession> third = runTask(std::move(reopening), 10s);
    EXPECT_EQ(m_bridge->openingsAndClosings(),
              (std::vector<std::string>{"open 1", "close 1", "open 2", "close 2", "open 3"}));
    runTask(third->close(), 10s);
}
