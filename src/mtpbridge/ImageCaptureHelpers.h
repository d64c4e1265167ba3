#pragma once

#include <cstddef>
#include <cstdint>

// The host's camera helper services that can hold a phone's MTP interface, recognised by their
// executable paths, and their suppression: always through the installed host system, and only
// ever the current user's processes.
namespace quillbarrow::mtpbridge {

// Sleeps of the suppression, in milliseconds.
struct HelperTiming {
    static constexpr uint32_t afterKillRound = 75;
    static constexpr int throttleKillRounds = 3;
    static constexpr uint32_t afterThrottleKillRound = 100;
    static constexpr int throttleChecks = 15;
    static constexpr uint32_t afterCheckWithHelper = 50;
    static constexpr uint32_t afterCheckWithoutHelper = 75;
};

// True for the exact helper paths and for any path ending with the mscamerad-xpc bundle suffix.
// Byte for byte, case-sensitive; `length` bytes of `path` are compared, no NUL needed.
bool is_image_capture_helper_path(const char* path, std::size_t length) noexcept;

// Number of helper processes running now; 0 when the process table cannot be read.
int count_image_capture_helpers() noexcept;

// Sends SIGKILL to every helper process; returns how many signals were delivered.
int kill_image_capture_helpers() noexcept;

// Three kill rounds 100 ms apart, then up to 15 checks for survivors, 50 ms apart, ending 75 ms
// after the first check that finds none.
void trigger_helper_throttle() noexcept;

} // namespace quillbarrow::mtpbridge
