#pragma once

#include "domain/AndroidDevice.h"
#include "platform/UsbSysfsDevice.h"
#include "platform/UsbSysfsReader.h"

#include <QList>
#include <QSet>

namespace quillbarrow {

// Finds Android phones among the attached USB devices by their USB vendor id. It cannot talk
// to them: it only lists them, so that the sidebar can show and follow them. A plain value,
// cheap to copy, usable from any thread.
class USBDeviceProbe {
public:
    // Looks at the system's USB devices.
    USBDeviceProbe();
    // Looks at the devices that `reader` lists.
    explicit USBDeviceProbe(UsbSysfsReader reader);

    // The vendors whose devices count as Android phones: Samsung, Google, Oppo, OnePlus, Xiaomi,
    // Huawei, HTC, LG and Qualcomm (the chip maker, under whose id many phones appear).
    QSet<int> androidVendorIDs;

    // The Android devices attached now, sorted by display name (natural order, stable). Never
    // fails: a device source that cannot be read gives fewer devices. Blocks on the device
    // source, so call it off the main thread.
    QList<AndroidDevice> androidMTPDevices() const;

    // The same over registry entries already read, in their order before sorting.
    QList<AndroidDevice> androidMTPDevices(const QList<UsbSysfsDevice>& usbDevices) const;

    const UsbSysfsReader& reader() const { return m_reader; }

    static QSet<int> defaultAndroidVendorIDs();

private:
    UsbSysfsReader m_reader;
};

} // namespace quillbarrow
