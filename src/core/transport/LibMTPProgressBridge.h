#pragma once

#include "TransferProgressFunction.h"

#include <atomic>
#include <cstdint>
#include <exception>

namespace quillbarrow {

// Carries a caller's progress function into the bridge's C progress callback and brings its
// request to stop back out.
namespace LibMTPProgressBridge {

// One transfer attempt's progress function and whether it asked to stop. Made by the job that
// runs the transfer and passed to the bridge as the callback's context; it lives on that job for
// the length of one bridge call. `cancelled` may be read from another thread than the one the
// callback runs on.
struct Box {
    explicit Box(TransferProgressFunction closure);

    TransferProgressFunction closure;
    std::atomic<bool> cancelled{false};
    // What the function threw, if it did. An exception must not cross the bridge's C frames, so
    // the trampoline keeps it here, stops the transfer, and the job rethrows it afterwards.
    std::exception_ptr failure;
};

// The bridge's progress callback; `context` is a Box (or null). Reports the bytes done and the
// total (absent when the bridge reports 0), each capped at the largest signed 64-bit value. When
// the function answers false the box is marked cancelled and the answer 1 asks the bridge to
// abort; otherwise (also without a box or a function) the answer is 0. A function that throws
// stops the transfer too: its exception is kept in the box, which is not marked cancelled.
std::int32_t trampoline(std::uint64_t sent, std::uint64_t total, void* context);

} // namespace LibMTPProgressBridge

} // namespace quillbarrow
