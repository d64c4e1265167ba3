#include "LibMTPDeviceSessionTestSupport.h"

namespace quillbarrow::testing {

void LibMTPDeviceSessionTest::SetUp()
{
    ASSERT_TRUE(m_local.isValid());
    m_bridge = std::make_shared<FakeLibMTPBridge>();
    m_bridge->addStorage({storage, 64'000'000'000, 1'000'000, "Internal shared storage", "primary"});
    m_session = std::make_shared<LibMTPDeviceSession>(device(), m_bridge->handle(), m_bridge, services());
}

void LibMTPDeviceSessionTest::TearDown()
{
    EXPECT_EQ(m_bridge->overlappingCalls(), 0);
    EXPECT_EQ(m_bridge->mainThreadCalls(), 0);
    EXPECT_EQ(m_bridge->badHandleCalls(), 0);
    EXPECT_EQ(m_bridge->unfreedLists(), 0);
}

AndroidDevice LibMTPDeviceSessionTest::device()
{
    return AndroidDevice(DeviceID(QStringLiteral("libmtp-1-4")), QStringLiteral("Pixel 8"), QStringLiteral("Google"),
                         QStringLiteral("Pixel 8"), QStringLiteral("SER123"), DeviceConnectionKind::usb);
}

QString LibMTPDeviceSessionTest::localFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = m_local.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(file.write(bytes), bytes.size());
    return path;
}

} // namespace quillbarrow::testing
