#include "UsbSysfsReader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace quillbarrow {

namespace {

// Every sysfs attribute fits in one page; anything longer is not an attribute.
constexpr qint64 maximumAttributeSize = 4096;

bool isDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

template <typename Test>
bool allOf(const QByteArray& text, Test test)
{
    return std::all_of(text.begin(), text.end(), test);
}

// The attribute's value: the file's bytes without the one line end the kernel writes after every
// value. Absent when the attribute is missing, is not a plain file (a FIFO planted in the tree
// would block the read forever), cannot be read, or is longer than an attribute can be.
std::optional<QByteArray> readAttribute(const QDir& entry, const QString& name)
{
    const QString path = entry.filePath(name);
    if (!QFileInfo(path).isFile()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.read(maximumAttributeSize + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > maximumAttributeSize) {
        return std::nullopt;
    }
    if (bytes.endsWith('\n')) {
        bytes.chop(1);
    }
    return bytes;
}

// A 16-bit id as the kernel writes it ("%04x").
std::optional<int> hexID(const std::optional<QByteArray>& value)
{
    if (!value) {
        return std::nullopt;
    }
    const QByteArray digits = value->trimmed();
    if (digits.isEmpty() || digits.size() > 4 || !allOf(digits, isHexDigit)) {
        return std::nullopt;
    }
    return digits.toInt(nullptr, 16);
}

std::optional<int> smallDecimal(const std::optional<QByteArray>& value)
{
    if (!value) {
        return std::nullopt;
    }
    const QByteArray digits = value->trimmed();
    if (digits.isEmpty() || digits.size() > 3 || !allOf(digits, isDecimalDigit)) {
        return std::nullopt;
    }
    return digits.toInt();
}

std::optional<QString> text(const std::optional<QByteArray>& value)
{
    if (!value) {
        return std::nullopt;
    }
    return QString::fromUtf8(*value);
}

std::optional<UsbSysfsDevice> readDevice(const QDir& root, const QString& entryName)
{
    const QDir entry(root.filePath(entryName));
    const std::optional<int> vendorID = hexID(readAttribute(entry, QStringLiteral("idVendor")));
    if (!vendorID) {
        return std::nullopt; // an interface, a hub port, or an entry that cannot be read
    }
    UsbSysfsDevice device;
    device.entryName = entryName;
    device.vendorID = *vendorID;
    device.productID = hexID(readAttribute(entry, QStringLiteral("idProduct")));
    const std::optional<int> bus = smallDecimal(readAttribute(entry, QStringLiteral("busnum")));
    const std::optional<QString> devpath = text(readAttribute(entry, QStringLiteral("devpath")));
    if (bus && devpath) {
        device.locationID = UsbSysfsReader::locationID(*bus, devpath->trimmed());
    }
    device.vendorName = text(readAttribute(entry, QStringLiteral("manufacturer")));
    device.productName = text(readAttribute(entry, QStringLiteral("product")));
    device.serialNumber = text(readAttribute(entry, QStringLiteral("serial")));
    return device;
}

} // namespace

UsbSysfsReader::UsbSysfsReader() : UsbSysfsReader(systemRoot()) {}

UsbSysfsReader::UsbSysfsReader(QString root) : m_root(std::move(root)) {}

QString UsbSysfsReader::systemRoot()
{
    return QStringLiteral("/sys/bus/usb/devices");
}

QList<UsbSysfsDevice> UsbSysfsReader::devices() const
{
    QList<UsbSysfsDevice> devices;
    try {
        const QDir root(m_root);
        // Entries are links to the device folders; broken links are left out by the filter.
        const QStringList names = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& name : names) {
            try {
                if (std::optional<UsbSysfsDevice> device = readDevice(root, name)) {
                    devices.append(std::move(*device));
                }
            } catch (...) {
                // One entry that cannot be read costs that entry only.
            }
        }
    } catch (...) {
        // Nothing more can be listed; what was read so far stands.
    }
    return devices;
}

std::optional<quint32> UsbSysfsReader::locationID(int busNumber, const QString& devpath)
{
    constexpr qsizetype maximumPorts = 6; // six nibbles below the bus byte
    if (busNumber < 1 || busNumber > 255) {
        return std::nullopt;
    }
    quint32 location = static_cast<quint32>(busNumber) << 24;
    if (devpath == QLatin1StringView("0")) {
        return location; // the root hub itself
    }
    const QStringList ports = devpath.split(QLatin1Char('.'));
    if (ports.size() > maximumPorts) {
        return std::nullopt;
    }
    int shift = 20;
    for (const QString& port : ports) {
        const QByteArray digits = port.toLatin1(); // anything beyond Latin-1 becomes '?', not a digit
        const bool wellFormed = !digits.isEmpty() && digits.size() <= 2 && allOf(digits, isDecimalDigit);
        const int number = wellFormed ? digits.toInt() : 0;
        if (number < 1 || number > 15) {
            return std::nullopt;
        }
        location |= static_cast<quint32>(number) << shift;
        shift -= 4;
    }
    return location;
}

} // namespace quillbarrow
