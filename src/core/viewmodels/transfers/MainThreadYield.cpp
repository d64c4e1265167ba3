#include "MainThreadYield.h"

#include "async/ResumeOnce.h"

namespace quillbarrow {

void MainThreadYield::await_suspend(std::coroutine_handle<> handle) const
{
    postToMainThread([handle] { handle.resume(); });
}

} // namespace quillbarrow
