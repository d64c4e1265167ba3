#pragma once

#include "LibMTPBridge.h"
#include "LibMTPDeviceEntry.h"
#include "domain/AndroidDevice.h"
#include "domain/DeviceID.h"

#include <QList>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace quillbarrow {

// The MTP devices that libmtp detects, as device records. Stateless; every call blocks on the
// bridge's detection, so call it from a worker thread.
namespace LibMTPDeviceScanner {

// Throws QuillbarrowError (the mapped detection error); the entries come in the bridge's order.
QList<LibMTPDeviceEntry> scan(LibMTPBridge& bridge);

// The devices of scan(), or none when the detection fails. Never throws.
QList<AndroidDevice> devices(LibMTPBridge& bridge);

// "mtp-" vendor "-" product "-" bus location "-" device number: "mtp-04e8-6860-00100000-005".
// The last two parts say where the phone sits on the bus, so the same phone gets a new
// identifier when it re-enumerates or moves to another port.
DeviceID deviceIdentifier(std::uint16_t vendorID, std::uint16_t productID, std::uint32_t busLocation,
                          std::uint8_t deviceNumber);

// The record of one raw detection entry.
LibMTPDeviceEntry entryFor(const CMTPRawDeviceEntry& raw);

// The text of a fixed-size bridge field: up to its first NUL (or its end), as UTF-8 decoded
// leniently, since the bridge may cut a text in the middle of a character.
QString fieldText(const char* field, std::size_t capacity);

} // namespace LibMTPDeviceScanner

} // namespace quillbarrow
