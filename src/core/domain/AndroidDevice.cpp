#include "AndroidDevice.h"

#include "HashFeed.h"
#include "NfcText.h"

namespace quillbarrow {

AndroidDevice::AndroidDevice(DeviceID id, QString displayName, std::optional<QString> manufacturer,
                             std::optional<QString> model, std::optional<QString> serialNumber,
                             DeviceConnectionKind connection)
    : id(std::move(id)), displayName(std::move(displayName)), manufacturer(std::move(manufacturer)),
      model(std::move(model)), serialNumber(std::move(serialNumber)), connection(connection)
{
}

bool operator==(const AndroidDevice& a, const AndroidDevice& b)
{
    return a.id == b.id && NfcText::equal(a.displayName, b.displayName) &&
           NfcText::equal(a.manufacturer, b.manufacturer) && NfcText::equal(a.model, b.model) &&
           NfcText::equal(a.serialNumber, b.serialNumber) && a.connection == b.connection;
}

std::size_t qHash(const AndroidDevice& device, std::size_t seed)
{
    return HashFeed(seed)
        .add(device.id)
        .text(device.displayName)
        .text(device.manufacturer)
        .text(device.model)
        .text(device.serialNumber)
        .add(device.connection)
        .result();
}

} // namespace quillbarrow
