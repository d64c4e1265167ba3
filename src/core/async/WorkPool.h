#pragma once

class QThreadPool;

namespace quillbarrow {

// The program's own pool for blocking work that may run long: local copies, the Trash, folder
// reading and measuring, staging sweeps, file syncs, the scan for programs holding the phone.
// Qt's raster painter splits big fills over Qt's global thread pool and waits for them, so
// a long job on that pool freezes painting until it ends; nothing of ours ever runs there.
// Sized so that a long copy and the folder measurements beside it still leave threads for a
// listing the user is waiting for. Created on first use.
QThreadPool& workPool();

} // namespace quillbarrow
