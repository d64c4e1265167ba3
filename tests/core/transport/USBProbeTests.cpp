#include "RunTask.h"
#include "async/AsyncChannel.h"
#include "domain/QuillbarrowError.h"
#include "logging/AppLogger.h"
#include "transport/USBDeviceProbe.h"
#include "transport/USBProbeMTPBackend.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace quillbarrow {
void PrintTo(const AndroidDevice& device, std::ostream* out)
{
    const auto optional = [](const std::optional<QString>& text) {
        return text ? '"' + text->toStdString() + '"' : std::string("absent");
    };
    *out << "{" << device.id.rawValue().toStdString() << ", \"" << device.displayName.toStdString() << "\", "
         << optional(device.manufacturer) << ", " << optional(device.model) << ", " << optional(device.serialNumber)
         << "}";
}
} // namespace quillbarrow

using namespace quillbarrow;
using namespace std::chrono_literals;
using quillbarrow::testing::processEventsUntil;
using quillbarrow::testing::runTask;

namespace {

using Attributes = std::map<std::string, QByteArray>;

// A sysfs tree in a temporary folder. Each value is written the way the kernel writes it, with
// one line end after it.
class SysfsTree {
public:
    void plug(const QString& entry, const Attributes& attributes)
    {
        unplug(entry);
        // Written aside and renamed into the tree in one step, so that a poller running meanwhile
        // sees the device whole or not at all, as with a real plug.
        QDir staging(m_staging.path());
        ASSERT_TRUE(staging.mkpath(entry));
        for (const auto& [name, value] : attributes) {
            QFile file(staging.filePath(entry + QLatin1Char('/') + QString::fromStdString(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_EQ(file.write(value + '\n'), value.size() + 1);
        }
        ASSERT_TRUE(QDir().rename(staging.filePath(entry), QDir(m_folder.path()).filePath(entry)));
    }
    void unplug(const QString& entry)
    {
        // Moved out of the tree in one step before it is removed, for the same reason.
        const QString inTree = QDir(m_folder.path()).filePath(entry);
        const QString removed = QDir(m_staging.path()).filePath(QStringLiteral("removed-") + entry);
        if (QDir().rename(inTree, removed)) {
            QDir(removed).removeRecursively();
        }
    }
    UsbSysfsReader reader() const { return UsbSysfsReader(m_folder.path()); }
    USBDeviceProbe probe() const { return USBDeviceProbe(reader()); }

private:
    QTemporaryDir m_folder;
    QTemporaryDir m_staging;
};

Attributes phone(QByteArray vendor, QByteArray product, QByteArray model, QByteArray serial,
                 QByteArray manufacturer = "Google")
{
    return {{"idVendor", vendor},       {"idProduct", product}, {"product", model},
            {"manufacturer", manufacturer}, {"serial", serial}, {"busnum", "1"}, {"devpath", "1"}};
}

std::string describe(const DeviceConnectionEvent& event)
{
    static const char* const kinds[] = {"connected", "disconnected", "changed"};
    std::string text = kinds[static_cast<int>(event.kind())];
    text += ' ' + event.deviceID().rawValue().toStdString();
    if (const AndroidDevice* device = event.device()) {
        text += " \"" + device->displayName.toStdString() + "\" " + device->manufacturer.value_or("-").toStdString();
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

QList<DeviceConnectionEvent> takeNow(AsyncChannel<DeviceConnectionEvent>& stream, int count)
{
    return runTask(take(&stream, count), 10s);
}

// Paces the polls of the streams under test: a poll happens once at the start of a stream and then
// once per tick. `pauses` counts the polls done, `stopped` the pollers whose pause ended on stop.
struct PollClock {
    AsyncChannel<int> ticks;
    int pauses = 0;
    int stopped = 0;
};

QCoro::Task<> waitForTick(std::shared_ptr<PollClock> clock, std::stop_token stop)
{
    ++clock->pauses;
    co_await clock->ticks.next(stop);
    if (stop.stop_requested()) {
        ++clock->stopped;
    }
}

std::vector<std::pair<QtMsgType, QString>> logged;

void captureBackendLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (QByteArray(context.category) == "com.quillbarrow.app.USBProbeMTPBackend") {
        logged.emplace_back(type, message);
    }
}

class USBProbeBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logged.clear();
        m_previousHandler = qInstallMessageHandler(captureBackendLog);
    }
    void TearDown() override
    {
        qInstallMessageHandler(m_previousHandler);
        if (m_backend) {
            EXPECT_TRUE(processEventsUntil([this] { return m_backend->runningPollers() == 0; }, 10s));
        }
    }

    USBProbeMTPBackend& backend(USBProbeMTPBackend::PollPause pause)
    {
        m_backend = std::make_unique<USBProbeMTPBackend>(m_tree.probe(), AppLogger(QStringLiteral("USBProbeMTPBackend")),
                                                         std::move(pause));
        return *m_backend;
    }
    // A backend whose streams poll once per tick of `m_clock`.
    USBProbeMTPBackend& tickedBackend()
    {
        return backend([clock = m_clock](std::stop_token stop) { return waitForTick(clock, std::move(stop)); });
    }
    // Lets the streams' pollers run the next poll, and waits until it is done.
    void tick()
    {
        const int done = m_clock->pauses;
        m_clock->ticks.sender().push(1);
        ASSERT_TRUE(processEventsUntil([&] { return m_clock->pauses > done; }, 10s));
    }
    void waitForFirstPoll() { ASSERT_TRUE(processEventsUntil([&] { return m_clock->pauses == 1; }, 10s)); }

    SysfsTree m_tree;
    std::shared_ptr<PollClock> m_clock = std::make_shared<PollClock>();
    std::unique_ptr<USBProbeMTPBackend> m_backend;

private:
    QtMessageHandler m_previousHandler = nullptr;
};

} // namespace

// ---- The probe ----

TEST(USBDeviceProbe, LooksForTheNineAndroidVendors)
{
    EXPECT_EQ(USBDeviceProbe().androidVendorIDs,
              (QSet<int>{0x04E8, 0x18D1, 0x22D9, 0x2A70, 0x2717, 0x12D1, 0x0BB4, 0x1004, 0x05C6}));
    EXPECT_EQ(USBDeviceProbe().reader().root(), UsbSysfsReader::systemRoot());
}

TEST(USBDeviceProbe, IdentifiersUseTheSerialElseTheLocationElseARandomUUID)
{
    SysfsTree tree;
    tree.plug(QStringLiteral("1-1"), {{"idVendor", "18d1"}, {"idProduct", "4ee1"}, {"serial", "ABC"}, {"busnum", "1"},
                                      {"devpath", "1"}, {"product", "A"}});
    tree.plug(QStringLiteral("1-2"), {{"idVendor", "04E8"}, {"busnum", "1"}, {"devpath", "2"}, {"product", "B"}});
    tree.plug(QStringLiteral("1-3"), {{"idVendor", "0bb4"}, {"idProduct", "1"}, {"product", "C"}});
    tree.plug(QStringLiteral("1-4"), {{"idVendor", "5c6"}, {"idProduct", "9039"}, {"serial", ""}, {"product", "D"}});
    tree.plug(QStringLiteral("2-1.4.2"), {{"idVendor", "2717"}, {"idProduct", "FF48"}, {"busnum", "2"},
                                          {"devpath", "1.4.2"}, {"product", "E"}});

    const QList<AndroidDevice> first = tree.probe().androidMTPDevices();
    ASSERT_EQ(first.size(), 5);
    EXPECT_EQ(first[0].id.rawValue(), QStringLiteral("18d1-4ee1-ABC"));
    EXPECT_EQ(first[1].id.rawValue(), QStringLiteral("04e8-unknown-01200000"));
    const QRegularExpression uuidForm(
        QStringLiteral("^0bb4-0001-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    EXPECT_TRUE(uuidForm.match(first[2].id.rawValue()).hasMatch()) << first[2].id.rawValue().toStdString();
    EXPECT_EQ(first[3].id.rawValue(), QStringLiteral("05c6-9039-")); // an empty serial is still a serial
    EXPECT_EQ(first[4].id.rawValue(), QStringLiteral("2717-ff48-02142000"));

    // Only the random identifier differs from one enumeration to the next.
    const QList<AndroidDevice> second = tree.probe().androidMTPDevices();
    ASSERT_EQ(second.size(), 5);
    EXPECT_NE(second[2].id, first[2].id);
    EXPECT_TRUE(uuidForm.match(second[2].id.rawValue()).hasMatch());
    for (int i : {0, 1, 3, 4}) {
        EXPECT_EQ(second[i], first[i]);
    }
}

TEST(USBDeviceProbe, DisplayNamesAreCleanedWhileTheRecordKeepsTheTextsAsRead)
{
    SysfsTree tree;
    tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee7", "Pixel_7_Pro\n", "P7", "Google"));
    tree.plug(QStringLiteral("1-2"), phone("04e8", "6860", " _ _\t", "S1", "Samsung"));
    tree.plug(QStringLiteral("1-3"), {{"idVendor", "2a70"}, {"product", "__"}, {"serial", "O1"}});
    tree.plug(QStringLiteral("1-4"), {{"idVendor", "12d1"}, {"manufacturer", ""}, {"serial", "H1"}});
    tree.plug(QStringLiteral("1-5"), {{"idVendor", "1004"}, {"serial", "L1"}});

    const QList<AndroidDevice> devices = tree.probe().androidMTPDevices();
    const auto usb = DeviceConnectionKind::usb;
    const QList<AndroidDevice> expected{
        // The vendor name as read stands in, even when it is empty.
        AndroidDevice(DeviceID(QStringLiteral("12d1-unknown-H1")), QString(), QString(), std::nullopt,
                      QStringLiteral("H1"), usb),
        AndroidDevice(DeviceID(QStringLiteral("2a70-unknown-O1")), QStringLiteral("Android device"), std::nullopt,
                      QStringLiteral("__"), QStringLiteral("O1"), usb),
        AndroidDevice(DeviceID(QStringLiteral("1004-unknown-L1")), QStringLiteral("Android device"), std::nullopt,
                      std::nullopt, QStringLiteral("L1"), usb),
        AndroidDevice(DeviceID(QStringLiteral("18d1-4ee7-P7")), QStringLiteral("Pixel 7 Pro"), QStringLiteral("Google"),
                      QStringLiteral("Pixel_7_Pro\n"), QStringLiteral("P7"), usb),
        AndroidDevice(DeviceID(QStringLiteral("04e8-6860-S1")), QStringLiteral("Samsung"), QStringLiteral("Samsung"),
                      QStringLiteral(" _ _\t"), QStringLiteral("S1"), usb),
    };
    EXPECT_EQ(devices, expected);
}

TEST(USBDeviceProbe, ListsOnlyTheAndroidVendorsItIsGiven)
{
    SysfsTree tree;
    tree.plug(QStringLiteral("1-1"), phone("046d", "c52b", "USB Receiver", "K1", "Logitech")); // a keyboard
    tree.plug(QStringLiteral("usb1"), {{"idVendor", "1d6b"}, {"idProduct", "0002"}, {"busnum", "1"}, {"devpath", "0"}});
    tree.plug(QStringLiteral("1-2"), phone("18d1", "4ee1", "Pixel 8", "P8"));

    const QList<AndroidDevice> devices = tree.probe().androidMTPDevices();
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id.rawValue(), QStringLiteral("18d1-4ee1-P8"));

    USBDeviceProbe widened = tree.probe();
    widened.androidVendorIDs.insert(0x046D);
    EXPECT_EQ(widened.androidMTPDevices().size(), 2);
}

TEST(USBDeviceProbe, SortsByDisplayNameNaturallyAndStably)
{
    SysfsTree tree;
    tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "pixel 10", "A"));
    tree.plug(QStringLiteral("1-2"), phone("18d1", "4ee1", "Pixel 7", "Z"));
    tree.plug(QStringLiteral("1-3"), phone("18d1", "4ee1", "Pixel 9", "B"));
    tree.plug(QStringLiteral("1-4"), phone("04e8", "6860", "Galaxy S23", "C"));
    tree.plug(QStringLiteral("1-5"), phone("18d1", "4ee1", "Pixel 7", "Y"));

    std::vector<std::string> order;
    for (const AndroidDevice& device : tree.probe().androidMTPDevices()) {
        order.push_back(device.id.rawValue().toStdString());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"04e8-6860-C", "18d1-4ee1-Z", "18d1-4ee1-Y", "18d1-4ee1-B",
                                               "18d1-4ee1-A"}));
}

// ---- The backend: listing and sessions ----

TEST_F(USBProbeBackendTest, CurrentDevicesListsTheProbesDevicesAndLogsTheirNumber)
{
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    m_tree.plug(QStringLiteral("1-2"), phone("04e8", "6860", "Galaxy", "G1", "Samsung"));
    USBProbeMTPBackend& probeBackend = backend(USBProbeMTPBackend::pauseFor(1h));

    EXPECT_EQ(runTask(probeBackend.currentDevices(), 10s), m_tree.probe().androidMTPDevices());
    m_tree.unplug(QStringLiteral("1-1"));
    m_tree.unplug(QStringLiteral("1-2"));
    EXPECT_TRUE(runTask(probeBackend.currentDevices(), 10s).isEmpty());

    EXPECT_EQ(logged, (std::vector<std::pair<QtMsgType, QString>>{
                          {QtInfoMsg, QStringLiteral("USB probe found 2 Android/MTP candidate device(s)")},
                          {QtInfoMsg, QStringLiteral("USB probe found 0 Android/MTP candidate device(s)")}}));
}

TEST_F(USBProbeBackendTest, OpeningASessionIsRefused)
{
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    USBProbeMTPBackend& probeBackend = backend(USBProbeMTPBackend::pauseFor(1h));
    const DeviceID listed(QStringLiteral("18d1-4ee1-P8"));
    const QuillbarrowError unsupported = QuillbarrowError::unsupportedOperation(QStringLiteral(
        "The Mac can see this Android USB device, but this build does not yet include the libmtp session bridge needed "
        "to browse files. Install a pinned libmtp backend and enable QUILLBARROW_BACKEND=libmtp once the bridge is "
        "implemented."));

    const auto failure = [](QCoro::Task<std::shared_ptr<DeviceSession>> opening) -> std::optional<QuillbarrowError> {
        try {
            runTask(std::move(opening), 10s);
        } catch (const QuillbarrowError& error) {
            return error;
        }
        return std::nullopt;
    };
    EXPECT_EQ(failure(probeBackend.openSession(listed, OpenSessionOptions(false))), unsupported);
    EXPECT_EQ(failure(probeBackend.openSession(listed, OpenSessionOptions(true))), unsupported);
    EXPECT_EQ(failure(probeBackend.openSession(listed)), unsupported);
    EXPECT_EQ(failure(probeBackend.openSession(DeviceID(QStringLiteral("18d1-4ee1-OTHER")))),
              QuillbarrowError::deviceNotFound());
    m_tree.unplug(QStringLiteral("1-1"));
    EXPECT_EQ(failure(probeBackend.openSession(listed)), QuillbarrowError::deviceNotFound());
    EXPECT_TRUE(logged.empty());
}

// ---- The backend: event streams ----

TEST_F(USBProbeBackendTest, OnePollYieldsConnectedThenChangedThenDisconnected)
{
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    m_tree.plug(QStringLiteral("1-2"), phone("04e8", "6860", "Galaxy", "G1", "Samsung"));
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    EXPECT_EQ(describe(takeNow(stream, 2)), (std::vector<std::string>{
                                                "connected 04e8-6860-G1 \"Galaxy\" Samsung",
                                                "connected 18d1-4ee1-P8 \"Pixel 8\" Google",
                                            }));

    m_tree.unplug(QStringLiteral("1-1"));
    m_tree.plug(QStringLiteral("1-2"), phone("04e8", "6860", "Galaxy", "G1", "SAMSUNG Electronics"));
    m_tree.plug(QStringLiteral("1-3"), phone("2717", "ff40", "Redmi Note", "R1", "Xiaomi"));
    m_tree.plug(QStringLiteral("1-4"), phone("18d1", "4ee1", "Pixel 9", "P9"));
    tick();
    EXPECT_EQ(describe(takeNow(stream, 4)), (std::vector<std::string>{
                                                "connected 18d1-4ee1-P9 \"Pixel 9\" Google",
                                                "connected 2717-ff40-R1 \"Redmi Note\" Xiaomi",
                                                "changed 04e8-6860-G1 \"Galaxy\" SAMSUNG Electronics",
                                                "disconnected 18d1-4ee1-P8",
                                            }));

    tick(); // nothing changed: nothing to say
    EXPECT_EQ(stream.bufferedCount(), 0u);
}

TEST_F(USBProbeBackendTest, AConsumerStartingAfterSeveralPollsReceivesEveryEventInOrder)
{
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    waitForFirstPoll();
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8 Pro", "P8"));
    m_tree.plug(QStringLiteral("1-2"), phone("04e8", "6860", "Galaxy", "G1", "Samsung"));
    tick();
    m_tree.unplug(QStringLiteral("1-1"));
    tick();
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    m_tree.unplug(QStringLiteral("1-2"));
    tick();

    EXPECT_EQ(stream.bufferedCount(), 6u);
    const QList<DeviceConnectionEvent> events = takeNow(stream, 6);
    EXPECT_EQ(describe(events), (std::vector<std::string>{
                                    "connected 18d1-4ee1-P8 \"Pixel 8\" Google",
                                    "connected 04e8-6860-G1 \"Galaxy\" Samsung",
                                    "changed 18d1-4ee1-P8 \"Pixel 8 Pro\" Google",
                                    "disconnected 18d1-4ee1-P8",
                                    "connected 18d1-4ee1-P8 \"Pixel 8\" Google",
                                    "disconnected 04e8-6860-G1",
                                }));
    ASSERT_EQ(events.size(), 6);
    EXPECT_EQ(events[0], DeviceConnectionEvent::connected(m_tree.probe().androidMTPDevices().at(0)));
}

TEST_F(USBProbeBackendTest, ADeviceWithoutSerialOrLocationIsANewDeviceAtEveryPoll)
{
    m_tree.plug(QStringLiteral("1-1"), {{"idVendor", "18d1"}, {"idProduct", "4ee1"}, {"product", "Pixel"}});
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    const QList<DeviceConnectionEvent> first = takeNow(stream, 1);
    tick();
    const QList<DeviceConnectionEvent> second = takeNow(stream, 2);
    ASSERT_EQ(first.size(), 1);
    ASSERT_EQ(second.size(), 2);
    EXPECT_EQ(second[0].kind(), DeviceConnectionEvent::Kind::connected);
    EXPECT_NE(second[0].deviceID(), first[0].deviceID());
    EXPECT_EQ(second[1], DeviceConnectionEvent::disconnected(first[0].deviceID()));
}

TEST_F(USBProbeBackendTest, TwoDevicesWithOneIdentifierAreAnnouncedOnceAndPollingGoesOn)
{
    // Two phones of one model reporting the same serial number.
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8 A", "SAME"));
    m_tree.plug(QStringLiteral("1-2"), phone("18d1", "4ee1", "Pixel 8 B", "SAME"));
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    waitForFirstPoll();
    tick();
    m_tree.plug(QStringLiteral("1-3"), phone("04e8", "6860", "Galaxy", "G1", "Samsung"));
    tick();
    EXPECT_EQ(describe(takeNow(stream, 2)), (std::vector<std::string>{
                                                "connected 18d1-4ee1-SAME \"Pixel 8 A\" Google",
                                                "connected 04e8-6860-G1 \"Galaxy\" Samsung",
                                            }));
    EXPECT_EQ(stream.bufferedCount(), 0u);
}

TEST_F(USBProbeBackendTest, DroppingTheStreamStopsItsPollerWithinAPollInterval)
{
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    // An hour between polls: the poller can only end in time if its pause ends on the drop.
    USBProbeMTPBackend& probeBackend = backend(USBProbeMTPBackend::pauseFor(1h));
    {
        AsyncChannel<DeviceConnectionEvent> stream = probeBackend.events();
        EXPECT_EQ(takeNow(stream, 1).size(), 1);
        EXPECT_EQ(probeBackend.runningPollers(), 1);
    }
    EXPECT_TRUE(processEventsUntil([&] { return probeBackend.runningPollers() == 0; }, 10s));

    // Dropped while its first look is still under way.
    {
        AsyncChannel<DeviceConnectionEvent> stream = probeBackend.events();
    }
    EXPECT_TRUE(processEventsUntil([&] { return probeBackend.runningPollers() == 0; }, 10s));
}

TEST_F(USBProbeBackendTest, EachStreamHasItsOwnPollerAndStartsFromNoKnownDevices)
{
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    USBProbeMTPBackend& probeBackend = backend(USBProbeMTPBackend::pauseFor(1h));
    auto first = std::make_unique<AsyncChannel<DeviceConnectionEvent>>(probeBackend.events());
    AsyncChannel<DeviceConnectionEvent> second = probeBackend.events();
    EXPECT_EQ(describe(takeNow(*first, 1)), std::vector<std::string>{"connected 18d1-4ee1-P8 \"Pixel 8\" Google"});
    EXPECT_EQ(describe(takeNow(second, 1)), std::vector<std::string>{"connected 18d1-4ee1-P8 \"Pixel 8\" Google"});
    EXPECT_EQ(probeBackend.runningPollers(), 2);

    first.reset();
    EXPECT_TRUE(processEventsUntil([&] { return probeBackend.runningPollers() == 1; }, 10s));
    AsyncChannel<DeviceConnectionEvent> third = probeBackend.events();
    EXPECT_EQ(describe(takeNow(third, 1)), std::vector<std::string>{"connected 18d1-4ee1-P8 \"Pixel 8\" Google"});
}

TEST_F(USBProbeBackendTest, PollsAgainAfterEachInterval)
{
    USBProbeMTPBackend& probeBackend = backend(USBProbeMTPBackend::pauseFor(1ms));
    AsyncChannel<DeviceConnectionEvent> stream = probeBackend.events();
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    EXPECT_EQ(describe(takeNow(stream, 1)), std::vector<std::string>{"connected 18d1-4ee1-P8 \"Pixel 8\" Google"});
    m_tree.unplug(QStringLiteral("1-1"));
    EXPECT_EQ(describe(takeNow(stream, 1)), std::vector<std::string>{"disconnected 18d1-4ee1-P8"});
}

TEST_F(USBProbeBackendTest, AStreamOutlivesItsBackendAndStillStopsWhenDropped)
{
    AsyncChannel<DeviceConnectionEvent> stream = tickedBackend().events();
    waitForFirstPoll();
    m_backend.reset();
    m_tree.plug(QStringLiteral("1-1"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    tick();
    EXPECT_EQ(describe(takeNow(stream, 1)), std::vector<std::string>{"connected 18d1-4ee1-P8 \"Pixel 8\" Google"});

    stream = AsyncChannel<DeviceConnectionEvent>(); // the consumer lets go
    EXPECT_TRUE(processEventsUntil([&] { return m_clock->stopped == 1; }, 10s));
}

TEST_F(USBProbeBackendTest, TheStreamLooksForTheStandardVendorsWhateverTheBackendsProbeWasGiven)
{
    m_tree.plug(QStringLiteral("1-1"), phone("046d", "c52b", "Receiver", "K1", "Logitech"));
    m_tree.plug(QStringLiteral("1-2"), phone("18d1", "4ee1", "Pixel 8", "P8"));
    USBDeviceProbe narrowed = m_tree.probe();
    narrowed.androidVendorIDs = {0x046D};
    m_backend = std::make_unique<USBProbeMTPBackend>(narrowed, AppLogger(QStringLiteral("USBProbeMTPBackend")),
                                                     USBProbeMTPBackend::pauseFor(1h));
    ASSERT_EQ(runTask(m_backend->currentDevices(), 10s).size(), 1);
    EXPECT_EQ(runTask(m_backend->currentDevices(), 10s).at(0).id.rawValue(), QStringLiteral("046d-c52b-K1"));
    AsyncChannel<DeviceConnectionEvent> stream = m_backend->events();
    EXPECT_EQ(describe(takeNow(stream, 1)), std::vector<std::string>{"connected 18d1-4ee1-P8 \"Pixel 8\" Google"});
}
