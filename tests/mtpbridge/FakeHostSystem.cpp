#include "FakeHostSystem.h"

#include <algorithm>
#include <cstring>
#include <signal.h>
#include <utility>

namespace quillbarrow::fakes {

namespace {

FakeHostSystem* s_active = nullptr;

} // namespace

struct FakeHostSystem::Hooks {
    static FakeHostSystem& fake() { return *s_active; }

    static const FakeProcess* find(int32_t pid)
    {
        for (const FakeProcess& process : fake().m_processes) {
            if (process.pid == pid) {
                return &process;
            }
        }
        return nullptr;
    }

    static int list(CMTPProcessVisitor visit, void* context)
    {
        FakeHostSystem& f = fake();
        if (!f.m_tableReadable) {
            return 0;
        }
        if (f.m_readsUntilVanish == 0) {
            f.m_processes.clear();
        } else if (f.m_readsUntilVanish > 0) {
            --f.m_readsUntilVanish;
        }
        // Visit a copy of the ids: the visitor may kill processes on the way.
        std::vector<int32_t> pids;
        for (const FakeProcess& process : f.m_processes) {
            pids.push_back(process.pid);
        }
        for (int32_t pid : pids) {
            visit(pid, context);
        }
        return 1;
    }

    static long path(int32_t pid, char* buffer, size_t size)
    {
        const FakeProcess* process = find(pid);
        if (process == nullptr || !process->path) {
            return -1;
        }
        const std::size_t length = std::min(size, process->path->size());
        std::memcpy(buffer, process->path->data(), length);
        return static_cast<long>(length);
    }

    static int uid(int32_t pid, uint32_t* uid)
    {
        const FakeProcess* process = find(pid);
        if (process == nullptr) {
            return -1;
        }
        *uid = process->uid;
        return 0;
    }

    static uint32_t currentUid() { return fake().m_currentUid; }

    static int signal(int32_t pid, int number)
    {
        FakeHostSystem& f = fake();
        if (number != SIGKILL) {
            f.m_trace->add("signal " + std::to_string(number) + " " + std::to_string(pid));
            return -1;
        }
        f.m_trace->add("kill " + std::to_string(pid));
        const auto process = std::find_if(f.m_processes.begin(), f.m_processes.end(),
                                          [pid](const FakeProcess& p) { return p.pid == pid; });
        if (process == f.m_processes.end()) {
            return -1;
        }
        f.m_killed.push_back(pid);
        if (!process->survivesKill) {
            f.m_processes.erase(process);
        }
        return 0;
    }

    static void sleep(uint32_t milliseconds)
    {
        FakeHostSystem& f = fake();
        f.m_slept += milliseconds;
        f.m_trace->add("sleep " + std::to_string(milliseconds));
    }

    static int usbDescriptors(uint32_t busLocation, uint8_t devnum, int* fds, int capacity)
    {
        FakeHostSystem& f = fake();
        if (!f.m_usbListable) {
            return -1;
        }
        int count = 0;
        for (const auto& [fd, descriptor] : f.m_usb) {
            if (descriptor.busLocation == busLocation && descriptor.devnum == devnum) {
                if (count < capacity) {
                    fds[count] = fd;
                }
                ++count;
            }
        }
        return count;
    }

    static int releaseInterfaces(int fd)
    {
        FakeHostSystem& f = fake();
        const auto descriptor = f.m_usb.find(fd);
        if (descriptor == f.m_usb.end()) {
            return 0;
        }
        const int released = static_cast<int>(descriptor->second.claimed.size());
        descriptor->second.claimed.clear();
        if (released > 0) {
            f.m_trace->add("release " + std::to_string(fd));
        }
        return released;
    }

    static int claimedInterfaces(uint32_t busLocation, uint8_t devnum) { return fake().usbClaims(busLocation, devnum); }
};

FakeHostSystem::FakeHostSystem(Trace* trace, uint32_t currentUid) : m_trace(trace), m_currentUid(currentUid)
{
    static const CMTPHostSystem fakeHost = {
        Hooks::list,  Hooks::path,           Hooks::uid,
        Hooks::currentUid, Hooks::signal, Hooks::sleep,
        Hooks::usbDescriptors, Hooks::releaseInterfaces, Hooks::claimedInterfaces,
    };
    s_active = this;
    CMTP_SetHostSystem(&fakeHost);
}

FakeHostSystem::~FakeHostSystem()
{
    CMTP_SetHostSystem(nullptr);
    s_active = nullptr;
}

void FakeHostSystem::addProcess(FakeProcess process)
{
    m_processes.push_back(std::move(process));
}

void FakeHostSystem::setTableReadable(bool readable)
{
    m_tableReadable = readable;
}

void FakeHostSystem::vanishAfterReads(int reads)
{
    m_readsUntilVanish = reads;
}

int FakeHostSystem::openUsbDevice(uint32_t busLocation, uint8_t devnum)
{
    const int fd = m_nextFd++;
    m_usb[fd] = UsbDescriptor{busLocation, devnum, {}};
    return fd;
}

bool FakeHostSystem::claimUsbInterface(int fd, int number)
{
    UsbDescriptor& wanted = m_usb.at(fd);
    for (const auto& [other, descriptor] : m_usb) {
        if (other != fd && descriptor.busLocation == wanted.busLocation &&
            descriptor.devnum == wanted.devnum && descriptor.claimed.count(number) > 0) {
            return false;
        }
    }
    wanted.claimed.insert(number);
    return true;
}

void FakeHostSystem::closeUsbDevice(int fd)
{
    m_usb.erase(fd);
}

void FakeHostSystem::setUsbDescriptorsListable(bool listable)
{
    m_usbListable = listable;
}

int FakeHostSystem::usbClaims(uint32_t busLocation, uint8_t devnum) const
{
    int claims = 0;
    for (const auto& [fd, descriptor] : m_usb) {
        if (descriptor.busLocation == busLocation && descriptor.devnum == devnum) {
            claims += static_cast<int>(descriptor.claimed.size());
        }
    }
    return claims;
}

std::vector<int32_t> FakeHostSystem::killedPids() const
{
    return m_killed;
}

std::vector<int32_t> FakeHostSystem::runningPids() const
{
    std::vector<int32_t> pids;
    for (const FakeProcess& process : m_processes) {
        pids.push_back(process.pid);
    }
    return pids;
}

uint64_t FakeHostSystem::sleptMilliseconds() const
{
    return m_slept;
}

} // namespace quillbarrow::fakes
