#pragma once

#include <functional>
#include <memory>
#include <utility>

class QThreadPool;

namespace quillbarrow {

// The program's own pool for blocking work that may run long: local copies, the Trash, folder
// reading and measuring, staging sweeps, file syncs, the scan for programs holding the phone.
// Qt's raster painter splits big fills over Qt's global thread pool and waits for them, so
// a long job on that pool freezes painting until it ends; nothing of ours ever runs there.
// Sized so that a long copy and the folder measurements beside it still leave threads for a
// listing the user is waiting for. Created on first use.
QThreadPool& workPool();

// Runs `job` on the work pool behind the work waiting there; see releaseOnWorkPool.
void startReleaseOnWorkPool(std::function<void()> job);

// Lets go of `value` on the work pool rather than here. Dropping the last reference to a listing
// of many thousand items frees every item, which the window's thread should not wait for. Only for
// values that may be let go on another thread (Qt's implicitly shared types may: their counts are
// atomic) and into which nothing here still points; where `value` shares its data with a copy kept
// here, the pool only drops its own reference.
template <typename T>
void releaseOnWorkPool(T value)
{
    auto held = std::make_shared<T>(std::move(value));
    startReleaseOnWorkPool([held = std::move(held)]() mutable { held.reset(); });
}

} // namespace quillbarrow
