#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// What the USB device registry tells about one attached USB device, read from its sysfs entry.
// Numbers are absent when their attribute is missing or malformed; texts are absent when the
// device has no such string, and otherwise hold the device's string as read.
struct UsbSysfsDevice {
    // The sysfs entry the device was read from, e.g. "2-1.4".
    QString entryName;
    // "idVendor"; every listed device has one.
    int vendorID = 0;
    // "idProduct".
    std::optional<int> productID;
    // Bus number in the top byte, then one nibble per port of the device's path from the root hub.
    std::optional<quint32> locationID;
    // "manufacturer".
    std::optional<QString> vendorName;
    // "product".
    std::optional<QString> productName;
    // "serial".
    std::optional<QString> serialNumber;

    friend bool operator==(const UsbSysfsDevice&, const UsbSysfsDevice&) = default;
};

} // namespace quillbarrow
