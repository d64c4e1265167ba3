#include "CMTPHostSystem.h"

#include "BridgeSupport.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <dirent.h>
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Process ids are the all-digit names under /proc, descriptors those under /proc/self/fd.
bool parseNumber(const char* name, int32_t* pid)
{
    if (name[0] == '\0') {
        return false;
    }
    long value = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + (*c - '0');
        if (value > INT32_MAX) {
            return false;
        }
    }
    *pid = static_cast<int32_t>(value);
    return true;
}

int listProcesses(CMTPProcessVisitor visit, void* context)
{
    DIR* directory = opendir("/proc");
    if (directory == nullptr) {
        return 0;
    }
    while (const dirent* entry = readdir(directory)) {
        int32_t pid = 0;
        if (parseNumber(entry->d_name, &pid)) {
            visit(pid, context);
        }
    }
    closedir(directory);
    return 1;
}

long processPath(int32_t pid, char* buffer, size_t size)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    const ssize_t length = readlink(link, buffer, size);
    return length < 0 ? -1 : static_cast<long>(length);
}

// The first number of the status file's "Uid:" line is the real user id.
int processUid(int32_t pid, uint32_t* uid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return -1;
    }
    int status = -1;
    char line[512];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "Uid:", 4) != 0) {
            continue;
        }
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(line + 4, &end, 10);
        if (end != line + 4 && errno == 0 && value <= UINT32_MAX) {
            *uid = static_cast<uint32_t>(value);
            status = 0;
        }
        break;
    }
    std::fclose(file);
    return status;
}

uint32_t currentUid()
{
    return static_cast<uint32_t>(getuid());
}

int sendSignal(int32_t pid, int signal)
{
    return kill(static_cast<pid_t>(pid), signal) == 0 ? 0 : -1;
}

void sleepMilliseconds(uint32_t milliseconds)
{
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

// The kernel names each USB device by one character device: major 189, minor 128 per bus before
// it plus the address on its bus less one (whatever path /dev gives it).
constexpr unsigned int kUsbDeviceMajor = 189;
constexpr unsigned int kUsbDevicesPerBus = 128;

int usbDeviceDescriptors(uint32_t busLocation, uint8_t devnum, int* fds, int capacity)
{
    if (busLocation == 0 || devnum == 0 || devnum > kUsbDevicesPerBus ||
        busLocation > UINT32_MAX / kUsbDevicesPerBus) {
        return 0;
    }
    const dev_t wanted = makedev(kUsbDeviceMajor, (busLocation - 1) * kUsbDevicesPerBus + (devnum - 1u));
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return -1;
    }
    const int own = dirfd(directory);
    int count = 0;
    while (const dirent* entry = readdir(directory)) {
        int32_t fd = -1;
        struct stat status;
        if (!parseNumber(entry->d_name, &fd) || fd == own || fstat(fd, &status) != 0) {
            continue;
        }
        if (S_ISCHR(status.st_mode) && status.st_rdev == wanted) {
            if (count < capacity) {
                fds[count] = fd;
            }
            ++count;
        }
    }
    closedir(directory);
    return count;
}

// usbfs keeps a descriptor's claims in one bit per interface number of an unsigned long, and
// answers a release with success only for an interface that this descriptor had claimed.
int releaseUsbInterfaces(int fd)
{
    int released = 0;
    for (unsigned int number = 0; number < 8 * sizeof(unsigned long); ++number) {
        if (ioctl(fd, USBDEVFS_RELEASEINTERFACE, &number) == 0) {
            ++released;
        }
    }
    return released;
}

// A number written in a sysfs attribute file; false when it cannot be read.
bool readAttribute(const std::string& path, unsigned long* value)
{
    FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return false;
    }
    const bool read = std::fscanf(file, "%lu", value) == 1;
    std::fclose(file);
    return read;
}

// The kernel binds an interface that a program claims through usbfs to the driver named
// "usbfs", so sysfs shows the claims of every process: under the device's folder (named after
// its port, e.g. "3-1", with its bus number and address in "busnum" and "devnum"), the
// interfaces' folders "3-1:<configuration>.<interface>" link "driver" to that driver.
int usbInterfacesClaimed(uint32_t busLocation, uint8_t devnum)
{
    const std::string root = "/sys/bus/usb/devices/";
    DIR* directory = opendir(root.c_str());
    if (directory == nullptr) {
        return -1;
    }
    std::string device;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        unsigned long bus = 0;
        unsigned long address = 0;
        if (name.empty() || name[0] == '.' || name.find(':') != std::string::npos) {
            continue;
        }
        if (readAttribute(root + name + "/busnum", &bus) && readAttribute(root + name + "/devnum", &address) &&
            bus == busLocation && address == devnum) {
            device = name;
            break;
        }
    }
    int claimed = 0;
    if (!device.empty()) {
        rewinddir(directory);
        const std::string prefix = device + ":";
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            char target[PATH_MAX];
            const ssize_t length = readlink((root + name + "/driver").c_str(), target, sizeof target - 1);
            if (length <= 0) {
                continue;
            }
            target[length] = '\0';
            const char* slash = std::strrchr(target, '/');
            if (std::strcmp(slash != nullptr ? slash + 1 : target, "usbfs") == 0) {
                ++claimed;
            }
        }
    }
    closedir(directory);
    return device.empty() ? -1 : claimed;
}

const CMTPHostSystem kLinuxHost = {
    listProcesses, processPath, processUid, currentUid, sendSignal, sleepMilliseconds,
    usbDeviceDescriptors, releaseUsbInterfaces, usbInterfacesClaimed,
};

std::atomic<const CMTPHostSystem*> g_installed{&kLinuxHost};

} // namespace

namespace quillbarrow::mtpbridge {

const CMTPHostSystem& host() noexcept
{
    return *g_installed.load(std::memory_order_acquire);
}

} // namespace quillbarrow::mtpbridge

extern "C" const CMTPHostSystem* CMTP_DefaultHostSystem(void)
{
    return &kLinuxHost;
}

extern "C" void CMTP_SetHostSystem(const CMTPHostSystem* host)
{
    g_installed.store(host != nullptr ? host : &kLinuxHost, std::memory_order_release);
}
