#pragma once

#include "UsbSysfsDevice.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// Lists the USB devices attached now from the kernel's sysfs tree (one folder per device under
// /sys/bus/usb/devices, one attribute file per property). The root folder is injectable so that
// tests read a tree of their own.
//
// Only entries that are devices (they have an "idVendor" attribute) are listed, in entry name
// order. An entry whose vendor id cannot be read or is not a hexadecimal 16-bit number is
// skipped; any other attribute that is missing, unreadable or malformed is simply absent. Bad
// input never throws out of devices() and never stops the enumeration: it only means fewer
// devices or fewer properties. A value that reads the same on one worker thread as on another:
// copies may be used concurrently.
class UsbSysfsReader {
public:
    // Reads the system's tree.
    UsbSysfsReader();
    explicit UsbSysfsReader(QString root);

    const QString& root() const { return m_root; }

    // Blocks on file reads: call it off the main thread.
    QList<UsbSysfsDevice> devices() const;

    // The location id of the device at `devpath` (sysfs form: "0" for a root hub, else port
    // numbers from the root hub joined with ".") on bus `busNumber`: the bus number in the top
    // byte, then one nibble per port, most significant first ("1.4" on bus 2 is 0x02140000).
    // Absent when the bus number is not 1 to 255, a port is not 1 to 15, or there are more than
    // six ports: such a location has no form in 32 bits.
    static std::optional<quint32> locationID(int busNumber, const QString& devpath);

    static QString systemRoot();

private:
    QString m_root;
};

} // namespace quillbarrow
