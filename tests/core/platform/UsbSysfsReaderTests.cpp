#include "platform/UsbSysfsReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <map>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace quillbarrow;

namespace {

using Attributes = std::map<std::string, QByteArray>;

// Generous for a busy machine: a read that takes this long is stuck, not slow.
constexpr std::chrono::seconds readDeadline{30};

// A sysfs tree of our own: one folder per entry, one file per attribute, written as given.
class UsbSysfsReaderTest : public ::testing::Test {
protected:
    void addEntry(const QString& name, const Attributes& attributes)
    {
        QDir root(m_root.path());
        ASSERT_TRUE(root.mkpath(name));
        for (const auto& [attribute, bytes] : attributes) {
            QFile file(root.filePath(name + QLatin1Char('/') + QString::fromStdString(attribute)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_EQ(file.write(bytes), bytes.size());
        }
    }
    QString path(const QString& relative) const { return QDir(m_root.path()).filePath(relative); }
    QList<UsbSysfsDevice> devices() const { return UsbSysfsReader(m_root.path()).devices(); }

private:
    QTemporaryDir m_root;
};

} // namespace

TEST_F(UsbSysfsReaderTest, ReadsEveryPropertyOfADeviceEntry)
{
    addEntry(QStringLiteral("2-1.4"), {{"idVendor", "18d1\n"},
                                       {"idProduct", "4EE1\n"},
                                       {"manufacturer", "Google\n"},
                                       {"product", "Pixel 7\n"},
                                       {"serial", "2A241FDH200B2N\n"},
                                       {"busnum", "2\n"},
                                       {"devpath", "1.4\n"}});
    UsbSysfsDevice expected;
    expected.entryName = QStringLiteral("2-1.4");
    expected.vendorID = 0x18D1;
    expected.productID = 0x4EE1;
    expected.locationID = 0x02140000;
    expected.vendorName = QStringLiteral("Google");
    expected.productName = QStringLiteral("Pixel 7");
    expected.serialNumber = QStringLiteral("2A241FDH200B2N");
    EXPECT_EQ(devices(), QList<UsbSysfsDevice>{expected});
}

TEST_F(UsbSysfsReaderTest, OnlyTheKernelsLineEndIsRemovedFromTexts)
{
    // The kernel ends every value with one line end; whatever the device sent stays as it was.
    addEntry(QStringLiteral("1-1"), {{"idVendor", "04e8\n"},
                                     {"product", "Pixel_7_Pro\n\n"},
                                     {"manufacturer", "  SAMSUNG "},
                                     {"serial", "\n"}});
    const QList<UsbSysfsDevice> listed = devices();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].productName, QStringLiteral("Pixel_7_Pro\n"));
    EXPECT_EQ(listed[0].vendorName, QStringLiteral("  SAMSUNG "));
    EXPECT_EQ(listed[0].serialNumber, QString());
    EXPECT_EQ(listed[0].productID, std::nullopt);
    EXPECT_EQ(listed[0].locationID, std::nullopt);
}

TEST(UsbSysfsLocationID, BusInTheTopByteThenOneNibblePerPort)
{
    EXPECT_EQ(UsbSysfsReader::locationID(2, QStringLiteral("1.4")), 0x02140000u);
    EXPECT_EQ(UsbSysfsReader::locationID(1, QStringLiteral("0")), 0x01000000u);
    EXPECT_EQ(UsbSysfsReader::locationID(3, QStringLiteral("1.2.3.4.5.6")), 0x03123456u);
    EXPECT_EQ(UsbSysfsReader::locationID(255, QStringLiteral("15.10")), 0xFFFA0000u);
    for (const char* devpath : {"", "1.16", "1.0", "0.1", "a", "1..2", "1.", "-1", "+1", "1.2.3.4.5.6.7", " 1",
                                "\xd9\xa1"}) {
        EXPECT_EQ(UsbSysfsReader::locationID(1, QString::fromUtf8(devpath)), std::nullopt) << devpath;
    }
    EXPECT_EQ(UsbSysfsReader::locationID(0, QStringLiteral("1")), std::nullopt);
    EXPECT_EQ(UsbSysfsReader::locationID(256, QStringLiteral("1")), std::nullopt);
    EXPECT_EQ(UsbSysfsReader::locationID(-1, QStringLiteral("1")), std::nullopt);
}

TEST_F(UsbSysfsReaderTest, SkipsNonDevicesAndUnreadableEntriesAndKeepsTheRest)
{
    const Attributes good{{"idVendor", "18d1\n"}, {"busnum", "1\n"}, {"devpath", "2\n"}};
    addEntry(QStringLiteral("1-2"), good);
    addEntry(QStringLiteral("1-2:1.0"), {{"bInterfaceClass", "06\n"}}); // an interface, not a device
    addEntry(QStringLiteral("1-3"), {{"idVendor", "zzzz\n"}});
    addEntry(QStringLiteral("1-4"), {{"idVendor", "18d10\n"}});
    addEntry(QStringLiteral("1-5"), {{"idVendor", ""}});
    addEntry(QStringLiteral("1-6"), {{"idVendor", QByteArray(8192, '1')}});
    addEntry(QStringLiteral("1-7"), {{"idVendor", "0x18\n"}});
    addEntry(QStringLiteral("1-8/idVendor"), {}); // a folder where the attribute should be
    addEntry(QStringLiteral("1-9"), {});
    ASSERT_EQ(::mkfifo(path(QStringLiteral("1-9/idVendor")).toLocal8Bit().constData(), 0600), 0); // would block a read
    QFile stray(path(QStringLiteral("stray-file")));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone")), path(QStringLiteral("1-10"))));
    // Malformed optional attributes cost only themselves.
    addEntry(QStringLiteral("3-1"), {{"idVendor", "04E8"},
                                     {"idProduct", "6860 6861\n"},
                                     {"busnum", "3x\n"},
                                     {"devpath", "1\n"},
                                     {"product", "\xff\xfe Galaxy\n"}});
    addEntry(QStringLiteral("4-1"), {{"idVendor", "2717\n"}, {"busnum", "4\n"}, {"devpath", "1.99\n"}});

    // The read runs beside a watchdog: a reader that opened the pipe would wait for a writer for
    // ever, so after the deadline the test fails and opens the pipe's other end to let it go.
    std::future<QList<UsbSysfsDevice>> reading = std::async(std::launch::async, [this] { return devices(); });
    if (reading.wait_for(readDeadline) != std::future_status::ready) {
        ADD_FAILURE() << "the read of a named pipe did not return";
        const int writer = ::open(path(QStringLiteral("1-9/idVendor")).toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
        }
    }
    const QList<UsbSysfsDevice> listed = reading.get();
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(listed[0].entryName, QStringLiteral("1-2"));
    EXPECT_EQ(listed[0].locationID, 0x01200000u);
    EXPECT_EQ(listed[1].entryName, QStringLiteral("3-1"));
    EXPECT_EQ(listed[1].vendorID, 0x04E8);
    EXPECT_EQ(listed[1].productID, std::nullopt);
    EXPECT_EQ(listed[1].locationID, std::nullopt);
    ASSERT_TRUE(listed[1].productName.has_value());
    EXPECT_TRUE(listed[1].productName->endsWith(QStringLiteral(" Galaxy")));
    EXPECT_EQ(listed[2].entryName, QStringLiteral("4-1"));
    EXPECT_EQ(listed[2].locationID, std::nullopt);
}

TEST_F(UsbSysfsReaderTest, AnUnreadableAttributeIsAbsent)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not stop root";
    }
    addEntry(QStringLiteral("1-1"), {{"idVendor", "18d1\n"}, {"serial", "ABC\n"}});
    addEntry(QStringLiteral("1-2"), {{"idVendor", "18d1\n"}});
    ASSERT_EQ(::chmod(path(QStringLiteral("1-1/serial")).toLocal8Bit().constData(), 0), 0);
    ASSERT_EQ(::chmod(path(QStringLiteral("1-2/idVendor")).toLocal8Bit().constData(), 0), 0);
    const QList<UsbSysfsDevice> listed = devices();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].entryName, QStringLiteral("1-1"));
    EXPECT_EQ(listed[0].serialNumber, std::nullopt);
}

TEST(UsbSysfsReader, AMissingRootListsNothing)
{
    EXPECT_TRUE(UsbSysfsReader(QStringLiteral("/nonexistent/quillbarrow/usb")).devices().isEmpty());
    EXPECT_EQ(UsbSysfsReader().root(), QStringLiteral("/sys/bus/usb/devices"));
}
