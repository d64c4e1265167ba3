#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

// Faults in this program's own USB traffic, between libmtp and libusb, for what a device does only
// now and then or at a moment no test could otherwise choose. The program defines
// libusb_bulk_transfer, which libmtp calls through its import table, and hands every transfer on
// to libusb's unless a fault is armed.
namespace quillbarrow::e2e::usbfaults {

// PTP operation codes.
constexpr std::uint16_t getDeviceInfo = 0x1001;

// The next `count` PTP commands with this operation code that libmtp sends fail as I/O errors
// without reaching the device, as when the device does not take them. Replaces an armed fault.
void failCommands(std::uint16_t operationCode, int count);
// How many of the armed failures have not happened yet.
int pendingFailures();

// Once `bytes` bytes have gone through bulk transfers (either way) after this call, the next bulk
// transfer waits: it first calls `onHeld` with the bytes that went (on libmtp's thread), then
// checks `released` every few milliseconds, and goes on to the device as it is by then once
// `released` is true or `watchdog` has passed. One hold per call; `disarm` ends an armed hold.
void holdAfter(std::int64_t bytes, std::function<void(std::int64_t)> onHeld, std::function<bool()> released,
               std::chrono::milliseconds watchdog);
void disarm();

} // namespace quillbarrow::e2e::usbfaults
