#include "UsbFaults.h"

#include <atomic>
#include <dlfcn.h>
#include <libusb-1.0/libusb.h>
#include <mutex>
#include <thread>

namespace quillbarrow::e2e::usbfaults {

namespace {

std::atomic<int> g_operation{-1};
std::atomic<int> g_pending{0};

struct Hold {
    bool armed = false;
    std::int64_t after = 0;
    std::int64_t moved = 0;
    std::function<void(std::int64_t)> onHeld;
    std::function<bool()> released;
    std::chrono::milliseconds watchdog{0};
};
std::mutex g_holdMutex;
Hold g_hold;

// A PTP command container: length (4 bytes), type 1 (2 bytes), operation code (2 bytes), all
// little-endian, sent to the device (an OUT endpoint).
bool isCommand(unsigned char endpoint, const unsigned char* data, int length, int operation)
{
    return (endpoint & LIBUSB_ENDPOINT_IN) == 0 && data != nullptr && length >= 8 && data[4] == 1 &&
           data[5] == 0 && (data[6] | (data[7] << 8)) == operation;
}

// Takes one armed failure for this transfer, if it is the armed command.
bool takeFailure(unsigned char endpoint, const unsigned char* data, int length)
{
    const int operation = g_operation.load();
    if (operation < 0 || !isCommand(endpoint, data, length, operation)) {
        return false;
    }
    int pending = g_pending.load();
    while (pending > 0) {
        if (g_pending.compare_exchange_weak(pending, pending - 1)) {
            return true;
        }
    }
    return false;
}

// Holds this transfer when the armed hold is due; counts the bytes it will move otherwise.
void holdIfDue(int length)
{
    Hold hold;
    {
        std::lock_guard lock(g_holdMutex);
        if (!g_hold.armed) {
            return;
        }
        if (g_hold.moved < g_hold.after) {
            g_hold.moved += length > 0 ? length : 0;
            return;
        }
        hold = std::move(g_hold);
        g_hold = Hold{};
    }
    hold.onHeld(hold.moved);
    // Waits for another process (the runner answering a request), which has no way to wake this
    // thread: a short poll, bounded by the watchdog.
    const auto deadline = std::chrono::steady_clock::now() + hold.watchdog;
    while (!hold.released() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

void failCommands(std::uint16_t operationCode, int count)
{
    g_pending.store(0);
    g_operation.store(operationCode);
    g_pending.store(count > 0 ? count : 0);
}

int pendingFailures()
{
    return g_pending.load();
}

void holdAfter(std::int64_t bytes, std::function<void(std::int64_t)> onHeld, std::function<bool()> released,
               std::chrono::milliseconds watchdog)
{
    std::lock_guard lock(g_holdMutex);
    g_hold = Hold{true, bytes, 0, std::move(onHeld), std::move(released), watchdog};
}

void disarm()
{
    std::lock_guard lock(g_holdMutex);
    g_hold = Hold{};
}

} // namespace quillbarrow::e2e::usbfaults

extern "C" int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                                unsigned char* data, int length, int* transferred,
                                                unsigned int timeout)
{
    using Transfer = int(LIBUSB_CALL*)(libusb_device_handle*, unsigned char, unsigned char*, int, int*,
                                       unsigned int);
    static const auto real = reinterpret_cast<Transfer>(dlsym(RTLD_NEXT, "libusb_bulk_transfer"));
    if (quillbarrow::e2e::usbfaults::takeFailure(endpoint, data, length)) {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        return LIBUSB_ERROR_IO;
    }
    quillbarrow::e2e::usbfaults::holdIfDue(length);
    return real(handle, endpoint, data, length, transferred, timeout);
}
