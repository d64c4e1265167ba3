#include "LibMTPDeviceScanner.h"

#include "LibMTPErrorMapper.h"
#include "domain/QuillbarrowError.h"

#include <QStringList>
#include <cstring>
#include <optional>

namespace quillbarrow::LibMTPDeviceScanner {

namespace {

std::optional<QString> presentText(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

// Releases the bridge's list however the scan ends.
class DeviceListOwner {
  public:
    DeviceListOwner(LibMTPBridge& bridge, CMTPDeviceList list) : m_bridge(bridge), m_list(list) {}
    ~DeviceListOwner() { m_bridge.freeDeviceList(&m_list); }
    DeviceListOwner(const DeviceListOwner&) = delete;
    DeviceListOwner& operator=(const DeviceListOwner&) = delete;

    const CMTPDeviceList& list() const { return m_list; }

  private:
    LibMTPBridge& m_bridge;
    CMTPDeviceList m_list;
};

} // namespace

QString fieldText(const char* field, std::size_t capacity)
{
    const void* end = std::memchr(field, '\0', capacity);
    const std::size_t length =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : capacity;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}

DeviceID deviceIdentifier(std::uint16_t vendorID, std::uint16_t productID, std::uint32_t busLocation,
                          std::uint8_t deviceNumber)
{
    return DeviceID(QStringLiteral("mtp-%1-%2-%3-%4")
                        .arg(uint{vendorID}, 4, 16, QLatin1Char('0'))
                        .arg(uint{productID}, 4, 16, QLatin1Char('0'))
                        .arg(uint{busLocation}, 8, 16, QLatin1Char('0'))
                        .arg(uint{deviceNumber}, 3, 10, QLatin1Char('0')));
}

LibMTPDeviceEntry entryFor(const CMTPRawDeviceEntry& raw)
{
    const QString vendor = fieldText(raw.vendor, sizeof raw.vendor);
    const QString product = fieldText(raw.product, sizeof raw.product);
    QStringList names;
    for (const QString& name : {vendor, product}) {
        if (!name.isEmpty()) {
            names.append(name);
        }
    }
    const QString displayName =
        names.isEmpty() ? QStringLiteral("Android MTP device") : names.join(QLatin1Char(' '));
    AndroidDevice device(deviceIdentifier(raw.vendor_id, raw.product_id, raw.bus_location, raw.devnum),
                         displayName, presentText(vendor), presentText(product), std::nullopt,
                         DeviceConnectionKind::usb);
    return LibMTPDeviceEntry(std::move(device), raw.bus_location, raw.devnum);
}

QList<LibMTPDeviceEntry> scan(LibMTPBridge& bridge)
{
    const DeviceListOwner owner(bridge, bridge.detectDevices());
    const CMTPDeviceList& list = owner.list();
    if (list.error_code != 0) {
        throw LibMTPErrorMapper::map(list.error_code,
                                     fieldText(list.error_message, sizeof list.error_message));
    }
    QList<LibMTPDeviceEntry> entries;
    if (list.entries == nullptr || list.count < 1) {
        return entries;
    }
    entries.reserve(list.count);
    for (std::int32_t i = 0; i < list.count; ++i) {
        entries.append(entryFor(list.entries[i]));
    }
    return entries;
}

QList<AndroidDevice> devices(LibMTPBridge& bridge)
{
    QList<AndroidDevice> found;
    try {
        for (const LibMTPDeviceEntry& entry : scan(bridge)) {
            found.append(entry.device);
        }
    } catch (...) {
        // A detection that fails counts as no device; the caller has nothing to show for it.
        return {};
    }
    return found;
}

} // namespace quillbarrow::LibMTPDeviceScanner
