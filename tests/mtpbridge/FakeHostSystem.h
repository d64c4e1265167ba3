#pragma once

#include "CMTPHostSystem.h"
#include "Trace.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quillbarrow::fakes {

struct FakeProcess {
    int32_t pid = 0;
    uint32_t uid = 0;
    std::optional<std::string> path; // none: the path cannot be read
    bool survivesKill = false;       // a helper that the system keeps restarting
};

// A process table, current user, signal delivery and clock for the helper suppression, and the
// descriptors this process holds on USB devices with the interfaces claimed through each. Kills,
// sleeps and released claims go to the trace ("kill <pid>", "sleep <ms>", "release <fd>"); a
// killed process leaves the table unless it survives kills. While alive it is the bridge's
// installed host.
class FakeHostSystem {
  public:
    explicit FakeHostSystem(Trace* trace, uint32_t currentUid = 501);
    ~FakeHostSystem();
    FakeHostSystem(const FakeHostSystem&) = delete;
    FakeHostSystem& operator=(const FakeHostSystem&) = delete;

    void addProcess(FakeProcess process);
    void setTableReadable(bool readable);
    // Every process leaves the table after this many more process-table reads (for helpers that
    // go away on their own while the throttle checks for them).
    void vanishAfterReads(int reads);

    // A new descriptor on the USB device at this bus and address.
    int openUsbDevice(uint32_t busLocation, uint8_t devnum);
    // Claims an interface through the descriptor; false when another descriptor holds it (busy).
    bool claimUsbInterface(int fd, int number);
    // Closing a descriptor gives up its claims.
    void closeUsbDevice(int fd);
    // Listing the descriptors fails while false.
    void setUsbDescriptorsListable(bool listable);
    // The interfaces claimed on a device, through all of its descriptors.
    int usbClaims(uint32_t busLocation, uint8_t devnum) const;

    std::vector<int32_t> killedPids() const;
    std::vector<int32_t> runningPids() const;
    uint64_t sleptMilliseconds() const;

  private:
    struct Hooks;
    friend struct Hooks;

    Trace* m_trace;
    uint32_t m_currentUid;
    bool m_tableReadable = true;
    int m_readsUntilVanish = -1;
    std::vector<FakeProcess> m_processes;
    std::vector<int32_t> m_killed;
    uint64_t m_slept = 0;

    struct UsbDescriptor {
        uint32_t busLocation = 0;
        uint8_t devnum = 0;
        std::set<int> claimed;
    };
    std::map<int, UsbDescriptor> m_usb;
    int m_nextFd = 40;
    bool m_usbListable = true;
};

} // namespace quillbarrow::fakes
