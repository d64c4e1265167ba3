#include "CMTPHostSystem.h"

#include "BridgeSupport.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

namespace {

// Process ids are the all-digit names under /proc.
bool parsePid(const char* name, int32_t* pid)
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
        if (parsePid(entry->d_name, &pid)) {
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

const CMTPHostSystem kLinuxHost = {
    listProcesses, processPath, processUid, currentUid, sendSignal, sleepMilliseconds,
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
