// The two ways of opening a device: the plain open, and the open that first suppresses the
// host's camera helpers and retries while they keep the phone's interface.

#include "BridgeSupport.h"
#include "CMTPBridge.h"
#include "ImageCaptureHelpers.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

using namespace quillbarrow::mtpbridge;

namespace {

const char* const kSeizeRefusedWithoutHelpersText =
    "The phone was detected but its file-transfer session could not be opened. Unlock the phone and "
    "choose Allow / File Transfer (MTP) when prompted; Quillbarrow will keep trying and connect once "
    "access is granted.";

const char* const kSeizeExhaustedText =
    "macOS Image Capture is holding exclusive access on the phone's MTP interface and Quillbarrow could "
    "not reclaim it after several retries. macOS does not let user-space apps seize this interface "
    "without root or a privileged helper. Try: disconnect and reconnect the USB cable; briefly switch "
    "the phone's USB mode to Charging only and back to File Transfer; or restart the Mac.";

const char* const kPlainOpenRefusedText =
    "The MTP device was detected but the USB interface could not be opened. macOS is reporting "
    "exclusive access / interface-claim failure for this phone. Quit Android transfer tools and Apple "
    "Image Capture camera services if shown, keep the phone unlocked in File Transfer / MTP mode, "
    "approve any phone prompt, then disconnect and reconnect the cable.";

const char* const kClaimedElsewhereText =
    "Another program has claimed the phone's USB interface, so Quillbarrow cannot open the phone. "
    "Quit the program that holds it (the desktop's own phone access, a phone mount or another "
    "file-transfer app), then try again.";

// One answer of libmtp's detection; owns the raw device array.
class RawDevices {
  public:
    RawDevices()
    {
        std::lock_guard lock(discoveryMutex());
        m_status = static_cast<int>(libmtp().detect_raw_devices(&m_devices, &m_count));
    }
    ~RawDevices()
    {
        if (m_devices != nullptr) {
            libmtp().free_memory(m_devices);
        }
    }
    RawDevices(const RawDevices&) = delete;
    RawDevices& operator=(const RawDevices&) = delete;

    int status() const { return m_status; }

    // The device with this bus location and number, else the one device on that bus location (a
    // re-enumerated device keeps its place but may get a new number); null when none. On Linux the
    // bus location is a whole bus, not a port: with two devices on it, neither may be the phone
    // asked for, so none is taken (the next detection gives the phone's new number).
    LIBMTP_raw_device_t* find(uint32_t bus_location, uint8_t devnum) const
    {
        if (m_devices == nullptr) {
            return nullptr;
        }
        LIBMTP_raw_device_t* onBus = nullptr;
        int countOnBus = 0;
        for (int i = 0; i < m_count; ++i) {
            if (m_devices[i].bus_location != bus_location) {
                continue;
            }
            if (m_devices[i].devnum == devnum) {
                return &m_devices[i];
            }
            onBus = &m_devices[i];
            ++countOnBus;
        }
        return countOnBus == 1 ? onBus : nullptr;
    }

  private:
    LIBMTP_raw_device_t* m_devices = nullptr;
    int m_count = 0;
    int m_status = 0;
};

CMTPOpenResult zeroedOpenResult()
{
    CMTPOpenResult result;
    std::memset(&result, 0, sizeof result);
    return result;
}

void fail(CMTPOpenResult& result, int code, const char* text)
{
    result.error_code = code;
    copyText(result.error_message, text);
}

// The descriptors this process holds on one USB device; none when they cannot be listed.
std::optional<std::vector<int>> usbDescriptors(uint32_t busLocation, uint8_t devnum)
{
    const CMTPHostSystem& system = host();
    std::vector<int> fds(8);
    for (;;) {
        const int count = system.usb_device_descriptors(busLocation, devnum, fds.data(),
                                                        static_cast<int>(fds.size()));
        if (count < 0) {
            return std::nullopt;
        }
        if (static_cast<std::size_t>(count) <= fds.size()) {
            fds.resize(static_cast<std::size_t>(count));
            return fds;
        }
        fds.resize(static_cast<std::size_t>(count));
    }
}

// libmtp 1.1.20 opens a device in steps: a libusb handle, the claim of the MTP interface, the
// session, the device's information. When a step after the claim fails (GetDeviceInfo failing or
// timing out, or OpenSession failing again after libmtp's own reset), it frees its device without
// releasing the interface or closing the handle. usbfs ties a claim to the descriptor it was made
// through, so every later open of that phone in this process is refused as busy, until the
// program ends. The leaked handle is out of reach (libmtp freed the record that held it), but its
// descriptor is not: the one on the device's node that was not there before the open. The bridge
// releases the interfaces claimed through it, and only through it, so that nothing else is
// touched: a USB reset would free the claim as well, but also break a session that another
// program (or another of our own) has on the phone. The descriptor itself stays open, a small
// leak per failed open: libusb still counts it as an open handle and polls it, and closing it
// behind libusb's back could let that number name another file.
//
// Without the list from before the open nothing is released: the claim of a session that was
// already open must not be taken from it.
void releaseClaimsOfFailedOpen(uint32_t busLocation, uint8_t devnum,
                               const std::optional<std::vector<int>>& before)
{
    if (!before) {
        return;
    }
    const std::optional<std::vector<int>> after = usbDescriptors(busLocation, devnum);
    if (!after) {
        return;
    }
    const CMTPHostSystem& system = host();
    for (const int fd : *after) {
        if (std::find(before->begin(), before->end(), fd) == before->end()) {
            system.release_usb_interfaces(fd);
        }
    }
}

LIBMTP_mtpdevice_t* openRaw(LIBMTP_raw_device_t* raw)
{
    std::lock_guard lock(discoveryMutex());
    const uint32_t busLocation = raw->bus_location;
    const uint8_t devnum = raw->devnum;
    const std::optional<std::vector<int>> before = usbDescriptors(busLocation, devnum);
    LIBMTP_mtpdevice_t* device = libmtp().open_raw_device_uncached(raw);
    if (device == nullptr) {
        releaseClaimsOfFailedOpen(busLocation, devnum, before);
    }
    return device;
}

// Boxes an opened device into the result; a device that cannot be boxed is released.
void adopt(CMTPOpenResult& result, LIBMTP_mtpdevice_t* device)
{
    auto* handle = new (std::nothrow) CMTPDeviceHandle{device};
    if (handle == nullptr) {
        libmtp().release_device(device);
        fail(result, LIBMTP_ERROR_MEMORY_ALLOCATION, fixedErrorText(LIBMTP_ERROR_MEMORY_ALLOCATION));
        return;
    }
    result.handle = handle;
    result.error_code = LIBMTP_ERROR_NONE;
}

// True when an interface of the device is claimed after a refused open: the failed open's own
// claims are released by then, so the claim is another program's (or another open session's).
bool claimedElsewhere(uint32_t busLocation, uint8_t devnum)
{
    const CMTPHostSystem& system = host();
    return system.usb_interfaces_claimed != nullptr && system.usb_interfaces_claimed(busLocation, devnum) > 0;
}

void killHelpersAndSettle()
{
    kill_image_capture_helpers();
    host().sleep_milliseconds(HelperTiming::afterKillRound);
}

} // namespace

extern "C" CMTPOpenResult CMTP_OpenDevice(uint32_t bus_location, uint8_t devnum)
{
    ensureLibMTPInitialised();
    CMTPOpenResult result = zeroedOpenResult();
    LIBMTP_mtpdevice_t* device = nullptr;
    {
        const RawDevices raw;
        if (raw.status() != LIBMTP_ERROR_NONE) {
            fail(result, raw.status(), fixedErrorText(raw.status()));
            return result;
        }
        LIBMTP_raw_device_t* match = raw.find(bus_location, devnum);
        if (match == nullptr) {
            fail(result, LIBMTP_ERROR_NO_DEVICE_ATTACHED, fixedErrorText(LIBMTP_ERROR_NO_DEVICE_ATTACHED));
            return result;
        }
        device = openRaw(match);
    }
    if (device == nullptr) {
        fail(result, LIBMTP_ERROR_CONNECTING, kPlainOpenRefusedText);
        return result;
    }
    adopt(result, device);
    return result;
}

extern "C" CMTPOpenResult CMTP_OpenDeviceWithSeize(uint32_t bus_location, uint8_t devnum,
                                                   int32_t max_attempts, int32_t delay_ms)
{
    ensureLibMTPInitialised();
    CMTPOpenResult result = zeroedOpenResult();
    const CMTPHostSystem& system = host();

    if (count_image_capture_helpers() > 0) {
        trigger_helper_throttle();
    }
    const int32_t limit = max_attempts > 1 ? max_attempts : 1;
    const uint32_t pause = delay_ms > 0 ? static_cast<uint32_t>(delay_ms) : 0;
    int32_t attempt = 0;
    bool openFailed = false;

    for (;;) {
        if (attempt == 0 || attempt % 4 != 0) {
            killHelpersAndSettle();
        } else {
            trigger_helper_throttle();
        }
        {
            const RawDevices raw;
            // "No device attached" is a gap in the phone's presence (it re-enumerates while
            // switching modes): one more failed attempt. Any other detection error ends the open.
            if (raw.status() != LIBMTP_ERROR_NONE && raw.status() != LIBMTP_ERROR_NO_DEVICE_ATTACHED) {
                fail(result, raw.status(), fixedErrorText(raw.status()));
                return result;
            }
            LIBMTP_raw_device_t* match = raw.find(bus_location, devnum);
            if (match != nullptr) {
                killHelpersAndSettle();
                if (LIBMTP_mtpdevice_t* device = openRaw(match)) {
                    adopt(result, device);
                    return result;
                }
                if (attempt > 0 && count_image_capture_helpers() == 0) {
                    // libmtp gives no reason for a refused open; a claim on the phone's interface
                    // that is not ours (those were released) tells that another program holds it.
                    fail(result, LIBMTP_ERROR_CONNECTING,
                         claimedElsewhere(match->bus_location, match->devnum) ? kClaimedElsewhereText
                                                                : kSeizeRefusedWithoutHelpersText);
                    return result;
                }
                openFailed = true;
            }
        }
        ++attempt;
        if (delay_ms >= 1 && max_attempts > attempt) {
            system.sleep_milliseconds(pause);
        }
        if (attempt >= limit) {
            if (openFailed) {
                fail(result, LIBMTP_ERROR_CONNECTING, kSeizeExhaustedText);
            } else {
                fail(result, LIBMTP_ERROR_NO_DEVICE_ATTACHED,
                     fixedErrorText(LIBMTP_ERROR_NO_DEVICE_ATTACHED));
            }
            return result;
        }
    }
}
