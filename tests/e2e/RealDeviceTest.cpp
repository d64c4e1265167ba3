#include "RealDeviceTest.h"

#include "LocalTree.h"
#include "ResponderSession.h"
#include "TransferRig.h"

#include <QFileInfo>
#include <iostream>

namespace quillbarrow::e2e {

namespace {

AndroidDevice placeholderDevice()
{
    return AndroidDevice(DeviceID(QStringLiteral("none")), QStringLiteral("none"), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

QString currentTestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return QString::fromUtf8(info->test_suite_name()) + QLatin1Char('.') + QString::fromUtf8(info->name());
}

// Awaits `task` and notes that it ended, however it ended; it goes on after its caller stops
// waiting.
QCoro::Task<> noteEnd(QCoro::Task<> task, std::shared_ptr<bool> ended)
{
    try {
        co_await std::move(task);
    } catch (...) {
        // Ended: that is all the caller asks.
    }
    *ended = true;
}

// The session's operations under way, one indented line each.
std::string operationsOf(const std::shared_ptr<DeviceSession>& session)
{
    const auto* responder = dynamic_cast<const ResponderSession*>(session.get());
    if (responder == nullptr) {
        return "    (no session)\n";
    }
    const QStringList lines = responder->operationsInFlight();
    if (lines.isEmpty()) {
        return "    (none)\n";
    }
    std::string text;
    for (const QString& line : lines) {
        text += "    " + line.toStdString() + '\n';
    }
    return text;
}

} // namespace

RealDeviceTest::RealDeviceTest()
    : m_responder(E2EResponder::current()), m_device(placeholderDevice()), m_storage(QStringLiteral("none"))
{
}

void RealDeviceTest::SetUp()
{
    ASSERT_TRUE(m_local.isValid());
    m_backend = m_responder.makeBackend();
    ASSERT_NO_FATAL_FAILURE(openSession());

    const DirectoryPage root = run(m_session->rootDirectory(m_storage));
    std::optional<RemoteItem> writable;
    for (const RemoteItem& item : root.items) {
        if (item.name == E2EResponder::writableFolderName()) {
            writable = item;
        }
    }
    ASSERT_TRUE(writable) << "the storage root does not list "
                          << E2EResponder::writableFolderName().toStdString();
    m_folder = run(m_session->createFolder(currentTestName(), writable->id, m_storage));
}

void RealDeviceTest::findFolderAgain()
{
    m_folder.reset();
    const DirectoryPage root = run(m_session->rootDirectory(m_storage));
    for (const RemoteItem& item : root.items) {
        if (item.name == E2EResponder::writableFolderName()) {
            m_folder = child(currentTestName(), item.id);
        }
    }
    ASSERT_TRUE(m_folder) << "the device no longer lists the test's folder";
}

RemoteItem RealDeviceTest::seededBigFile()
{
    const DirectoryPage root = run(m_session->rootDirectory(m_storage));
    for (const RemoteItem& folder : root.items) {
        if (folder.name == E2EResponder::seedFolderName()) {
            if (const std::optional<RemoteItem> file = child(LocalTree::bigFileName(), folder.id)) {
                return *file;
            }
        }
    }
    ADD_FAILURE() << "the device does not list the seeded " << LocalTree::bigFileName().toStdString();
    return RemoteItem(RemoteObjectID(QStringLiteral("missing")), m_storage, std::nullopt,
                      LocalTree::bigFileName(), RemoteItemKind::file, std::nullopt, std::nullopt,
                      std::nullopt);
}

void RealDeviceTest::request(const QString& action)
{
    m_responder.sendRequest(action);
    QString answer;
    ASSERT_TRUE(m_responder.awaitAnswer(action, std::chrono::seconds(30), &answer)) << answer.toStdString();
}

bool RealDeviceTest::waitForDevices(int count)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (run(m_backend->currentDevices()).size() == count) {
            return true;
        }
        testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
    }
    return false;
}

void RealDeviceTest::replugAndReopen()
{
    try {
        run(m_session->close(), std::chrono::seconds(30));
    } catch (...) {
        ADD_FAILURE() << "closing the session failed or hung";
    }
    m_session.reset();
    // A responder that dropped off the bus by itself is unplugged already.
    m_responder.sendRequest(QStringLiteral("unplug"));
    QString answer;
    const bool unplugged =
        m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer);
    ASSERT_TRUE(unplugged || answer == QLatin1StringView("error: the device is not plugged in"))
        << answer.toStdString();
    ASSERT_TRUE(waitForDevices(0)) << "the device is still listed after it was unplugged";
    ASSERT_NO_FATAL_FAILURE(request(QStringLiteral("plug")));
    ASSERT_TRUE(waitForDevices(1)) << "the device is not listed after it was plugged in again";
    ASSERT_NO_FATAL_FAILURE(openSession());
    ASSERT_NO_FATAL_FAILURE(findFolderAgain());
}

void RealDeviceTest::TearDown()
{
    // What the test left on the device stays: the served folder is thrown away with the run.
    if (m_session && !m_timedOut) {
        try {
            run(m_session->close());
        } catch (...) {
            ADD_FAILURE() << "closing the session failed or hung";
        }
    }
    if (m_timedOut) {
        releaseDevice();
    }
}

void RealDeviceTest::ranOutOfTime(std::chrono::milliseconds limit, const std::source_location& where)
{
    m_timedOut = true;
    std::cout << currentTestName().toStdString() << ": the call at "
              << QFileInfo(QString::fromUtf8(where.file_name())).fileName().toStdString() << ':'
              << where.line() << " did not end within " << limit.count() / 1000.0
              << " s. The session's operations under way "
              << "(the first holds the device, the others wait for it):\n"
              << operationsOf(m_session);
    if (m_transfers != nullptr) {
        std::cout << "  The transfers:\n";
        for (const QString& state : m_transfers->jobStates()) {
            std::cout << "    " << state.toStdString() << '\n';
        }
    }
    std::cout << std::flush;
}

void RealDeviceTest::releaseDevice()
{
    using namespace std::chrono_literals;
    std::cout << currentTestName().toStdString()
              << ": letting the device go after the call that ran out of time" << std::endl;
    if (m_transfers != nullptr) {
        m_transfers->coordinator.cancelAllTransfers();
    }
    auto closed = std::make_shared<bool>(m_session == nullptr);
    if (m_session) {
        // A transfer that honours its cancel ends within moments; the session closes after it.
        QCoro::Task<> closing = noteEnd(m_session->close(), closed);
        Q_UNUSED(closing)
        if (!testing::processEventsUntil([closed] { return *closed; }, 20s)) {
            std::cout << "  the session did not close within 20 s; under way:\n"
                      << operationsOf(m_session) << std::flush;
        }
    }
    // Unplugged, the device fails whatever libmtp still waits for, and it comes back as new: the
    // responder may be in the middle of an object, or (uMTP-Responder after a cancelled upload)
    // off the bus.
    m_responder.sendRequest(QStringLiteral("unplug"));
    QString answer;
    const bool unplugged = m_responder.awaitAnswer(QStringLiteral("unplug"), 30s, &answer);
    EXPECT_TRUE(unplugged || answer == QLatin1StringView("error: the device is not plugged in"))
        << "unplugging the device: " << answer.toStdString();
    EXPECT_TRUE(waitForDevices(0)) << "the device is still listed after it was unplugged";
    request(QStringLiteral("plug"));
    EXPECT_TRUE(waitForDevices(1)) << "the device is not listed after it was plugged in again";
    if (!*closed && !testing::processEventsUntil([closed] { return *closed; }, 30s)) {
        ADD_FAILURE() << "the session did not close even after its device was unplugged; the next tests may "
                         "find the device held. Under way:\n"
                      << operationsOf(m_session);
    }
    m_session.reset();
    std::cout << currentTestName().toStdString() << ": the device is plugged in afresh" << std::endl;
}

void RealDeviceTest::openSession()
{
    const QList<AndroidDevice> devices = run(m_backend->currentDevices());
    ASSERT_EQ(devices.size(), 1) << "expected exactly the " << m_responder.name().toStdString() << " device";
    m_device = devices.first();
    m_session = run(m_responder.openSession(m_backend, m_device.id));
    const QList<StorageRoot> storages = run(m_session->storages());
    ASSERT_FALSE(storages.isEmpty());
    m_storage = storages.first().id;
}

QList<RemoteItem> RealDeviceTest::children(std::optional<RemoteObjectID> folder)
{
    const RemoteObjectID id = folder ? *folder : m_folder->id;
    return run(m_session->listDirectory(id, RemotePath(m_storage, {}))).items;
}

std::optional<RemoteItem> RealDeviceTest::child(const QString& name, std::optional<RemoteObjectID> folder)
{
    for (const RemoteItem& item : children(std::move(folder))) {
        if (item.name == name) {
            return item;
        }
    }
    return std::nullopt;
}

QString RealDeviceTest::servedFolder() const
{
    return m_responder.share() + QLatin1Char('/') + E2EResponder::writableFolderName() + QLatin1Char('/') +
           currentTestName();
}

QString RealDeviceTest::localPath(const QString& relative) const
{
    return m_local.filePath(relative);
}

} // namespace quillbarrow::e2e
