#include "USBDeviceProbe.h"

#include "domain/BrowserSort.h"
#include "domain/DeviceConnectionKind.h"
#include "domain/DeviceID.h"

#include <QCollator>
#include <QUuid>

#include <algorithm>

namespace quillbarrow {

namespace {

QString hex4(int value)
{
    return QString::number(value, 16).rightJustified(4, QLatin1Char('0'));
}

// Vendor, product (or "unknown") and the most stable distinguishing text the device offers:
// its serial number as read (even an empty one), else where it is plugged in, else a new random
// identifier, which makes the device a new one at every enumeration.
DeviceID deviceIdentifier(const UsbSysfsDevice& usb)
{
    const QString product = usb.productID ? hex4(*usb.productID) : QStringLiteral("unknown");
    QString distinguisher;
    if (usb.serialNumber) {
        distinguisher = *usb.serialNumber;
    } else if (usb.locationID) {
        distinguisher = QString::number(*usb.locationID, 16).rightJustified(8, QLatin1Char('0'));
    } else {
        distinguisher = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    }
    return DeviceID(hex4(usb.vendorID) + QLatin1Char('-') + product + QLatin1Char('-') + distinguisher);
}

// Product strings often come with underscores for spaces and stray line ends; a product name
// that cleans up to nothing gives way to the vendor name as read, and that to a generic name.
QString displayName(const UsbSysfsDevice& usb)
{
    if (usb.productName) {
        QString cleaned = *usb.productName;
        cleaned = cleaned.replace(QLatin1Char('_'), QLatin1Char(' ')).trimmed();
        if (!cleaned.isEmpty()) {
            return cleaned;
        }
    }
    if (usb.vendorName) {
        return *usb.vendorName;
    }
    return QStringLiteral("Android device");
}

AndroidDevice androidDevice(const UsbSysfsDevice& usb)
{
    return AndroidDevice(deviceIdentifier(usb), displayName(usb), usb.vendorName, usb.productName,
                         usb.serialNumber, DeviceConnectionKind::usb);
}

void sortByDisplayName(QList<AndroidDevice>& devices)
{
    const QCollator collator = naturalNameCollator();
    std::stable_sort(devices.begin(), devices.end(), [&collator](const AndroidDevice& a, const AndroidDevice& b) {
        return collator.compare(a.displayName, b.displayName) < 0;
    });
}

} // namespace

USBDeviceProbe::USBDeviceProbe() : USBDeviceProbe(UsbSysfsReader()) {}

USBDeviceProbe::USBDeviceProbe(UsbSysfsReader reader)
    : androidVendorIDs(defaultAndroidVendorIDs()), m_reader(std::move(reader))
{
}

QSet<int> USBDeviceProbe::defaultAndroidVendorIDs()
{
    return {0x04E8, 0x18D1, 0x22D9, 0x2A70, 0x2717, 0x12D1, 0x0BB4, 0x1004, 0x05C6};
}

QList<AndroidDevice> USBDeviceProbe::androidMTPDevices() const
{
    return androidMTPDevices(m_reader.devices());
}

QList<AndroidDevice> USBDeviceProbe::androidMTPDevices(const QList<UsbSysfsDevice>& usbDevices) const
{
    QList<AndroidDevice> devices;
    for (const UsbSysfsDevice& usb : usbDevices) {
        if (androidVendorIDs.contains(usb.vendorID)) {
            devices.append(androidDevice(usb));
        }
    }
    sortByDisplayName(devices);
    return devices;
}

} // namespace quillbarrow
