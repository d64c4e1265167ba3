#pragma once

#include "domain/QuillbarrowError.h"

#include <QString>

#include <cstdint>

namespace quillbarrow {

// Turns a bridge record's libmtp error code and message into the system's error, and rewrites
// libmtp's failed-PTP-transaction texts into a sentence naming the device's answer.
namespace LibMTPErrorMapper {

// Called only for a non-zero code. A general failure (code 1) whose text carries libmtp's own
// input/output error, "PTP Layer error 02ff", is transferInterrupted: the USB transfer itself
// failed (the cable was pulled, or the device stopped answering), which no device reported.
QuillbarrowError map(std::int32_t code, const QString& message);
// "PTP Layer error <hex>" becomes "The device reported <meaning> (PTP code 0xNNNN)."; any other
// message, or one whose code cannot be read into 16 bits, comes back unchanged.
QString cleanedDeviceMessage(const QString& message);
QString ptpResponseMeaning(std::uint16_t code);

} // namespace LibMTPErrorMapper

} // namespace quillbarrow
