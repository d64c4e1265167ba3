#include "ImageCaptureHelpers.h"

#include "BridgeSupport.h"

#include <csignal>
#include <string_view>

namespace quillbarrow::mtpbridge {

namespace {

constexpr std::string_view kIcddPath = "/System/Library/Image Capture/Support/icdd";
constexpr std::string_view kPtpCameraPath = "/usr/libexec/ptpcamerad";
constexpr std::string_view kMsCameraSuffix = "/XPCServices/mscamerad-xpc.xpc/Contents/MacOS/mscamerad-xpc";
static_assert(kMsCameraSuffix.size() == 59);

constexpr std::size_t kPathBufferSize = 4096;

struct HelperWalk {
    const CMTPHostSystem* host;
    uint32_t currentUid;
    bool kill;
    int result;
};

bool isHelperProcess(const CMTPHostSystem& host, int32_t pid, uint32_t currentUid)
{
    if (pid < 2) {
        return false;
    }
    uint32_t uid = 0;
    if (host.process_uid(pid, &uid) != 0 || uid != currentUid) {
        return false;
    }
    char path[kPathBufferSize];
    const long length = host.process_path(pid, path, sizeof path);
    // A path that fills the buffer may have been cut short: it is no helper path.
    if (length < 1 || static_cast<std::size_t>(length) >= sizeof path) {
        return false;
    }
    return is_image_capture_helper_path(path, static_cast<std::size_t>(length));
}

void visitProcess(int32_t pid, void* context)
{
    auto* walk = static_cast<HelperWalk*>(context);
    if (!isHelperProcess(*walk->host, pid, walk->currentUid)) {
        return;
    }
    if (!walk->kill) {
        ++walk->result;
    } else if (walk->host->send_signal(pid, SIGKILL) == 0) {
        ++walk->result;
    }
}

int walkHelpers(bool kill)
{
    const CMTPHostSystem& system = host();
    HelperWalk walk{&system, system.current_uid(), kill, 0};
    const int readable = system.list_processes(visitProcess, &walk);
    // An unreadable table counts nothing; kills already delivered still count.
    return readable != 0 || kill ? walk.result : 0;
}

} // namespace

bool is_image_capture_helper_path(const char* path, std::size_t length) noexcept
{
    if (path == nullptr || length == 0) {
        return false;
    }
    const std::string_view candidate(path, length);
    if (candidate == kIcddPath || candidate == kPtpCameraPath) {
        return true;
    }
    return candidate.size() >= kMsCameraSuffix.size() && candidate.ends_with(kMsCameraSuffix);
}

int count_image_capture_helpers() noexcept
{
    return walkHelpers(false);
}

int kill_image_capture_helpers() noexcept
{
    return walkHelpers(true);
}

void trigger_helper_throttle() noexcept
{
    const CMTPHostSystem& system = host();
    for (int round = 0; round < HelperTiming::throttleKillRounds; ++round) {
        kill_image_capture_helpers();
        system.sleep_milliseconds(HelperTiming::afterThrottleKillRound);
    }
    for (int check = 0; check < HelperTiming::throttleChecks; ++check) {
        if (count_image_capture_helpers() == 0) {
            system.sleep_milliseconds(HelperTiming::afterCheckWithoutHelper);
            return;
        }
        system.sleep_milliseconds(HelperTiming::afterCheckWithHelper);
    }
}

} // namespace quillbarrow::mtpbridge
