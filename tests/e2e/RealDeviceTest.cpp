#include "RealDeviceTest.h"

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

} // namespace

RealDeviceTest::RealDeviceTest()
    : m_responder(E2EResponder::current()), m_device(placeholderDevice()), m_storage(QStringLiteral("none"))
{
}

void RealDeviceTest::SetUp()
{
    ASSERT_TRUE(m_local.isValid());
    m_responder.prepareWritableFolder();
    m_backend = m_responder.makeBackend();
    ASSERT_NO_FATAL_FAILURE(openSession());

    const DirectoryPage root = run(m_session->rootDirectory(m_storage));
    std::optional<RemoteItem> writable;
    for (const RemoteItem& item : root.items) {
        if (item.name == E2EResponder::writableFolderName()) {
            writable = item;
        }
    }
    ASSERT_TRUE(writable) << "the storage root does not list " << E2EResponder::writableFolderName().toStdString();
    m_folder = run(m_session->createFolder(currentTestName(), writable->id, m_storage));
}

void RealDeviceTest::TearDown()
{
    // What the test left on the device stays: the served folder is thrown away with the run.
    if (m_session) {
        try {
            run(m_session->close());
        } catch (...) {
            ADD_FAILURE() << "closing the session failed or hung";
        }
    }
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
