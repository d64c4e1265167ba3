#include "CMTPBridge.h"
#include "CMTPHostSystem.h"
#include "CMTPLibMTPTable.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

struct Visited {
    int32_t wanted;
    bool found = false;
    int count = 0;
};

void visit(int32_t pid, void* context)
{
    auto* visited = static_cast<Visited*>(context);
    ++visited->count;
    visited->found = visited->found || pid == visited->wanted;
}

// With no phone attached, real libmtp answers "no device"; the bridge makes that an empty list.
TEST(RealLibMTP, DetectionWithoutAPhoneIsAnEmptySuccess)
{
    CMTP_SetLibMTPTable(nullptr);
    ASSERT_EQ(CMTP_DefaultLibMTPTable()->init, &LIBMTP_Init);
    CMTPDeviceList list = CMTP_DetectDevices();
    EXPECT_EQ(list.error_code, 0) << list.error_message;
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.entries, nullptr);
    CMTP_FreeDeviceList(&list);

    const CMTPOpenResult open = CMTP_OpenDevice(1, 1);
    EXPECT_EQ(open.error_code, 5);
    EXPECT_EQ(open.handle, nullptr);
}

TEST(LinuxHostSystem, SeesThisProcessItsOwnerAndItsExecutable)
{
    const CMTPHostSystem* host = CMTP_DefaultHostSystem();
    Visited visited{static_cast<int32_t>(getpid())};
    ASSERT_NE(host->list_processes(visit, &visited), 0);
    EXPECT_TRUE(visited.found);
    EXPECT_GT(visited.count, 1);

    uint32_t uid = UINT32_MAX;
    ASSERT_EQ(host->process_uid(getpid(), &uid), 0);
    EXPECT_EQ(uid, host->current_uid());
    EXPECT_EQ(uid, static_cast<uint32_t>(getuid()));

    char expected[PATH_MAX];
    const ssize_t expectedLength = readlink("/proc/self/exe", expected, sizeof expected);
    ASSERT_GT(expectedLength, 0);
    char path[4096];
    const long length = host->process_path(getpid(), path, sizeof path);
    ASSERT_EQ(length, expectedLength);
    EXPECT_EQ(std::string(path, length), std::string(expected, expectedLength));

    EXPECT_EQ(host->process_path(-5, path, sizeof path), -1);
    EXPECT_NE(host->process_uid(-5, &uid), 0);
    // Signal 0 only probes: delivered to ourselves, refused for a process that cannot exist.
    EXPECT_EQ(host->send_signal(getpid(), 0), 0);
    EXPECT_NE(host->send_signal(INT32_MAX, 0), 0);
}

} // namespace
