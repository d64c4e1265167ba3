#pragma once

#include <coroutine>

namespace quillbarrow {

// `co_await MainThreadYield{};` lets the main thread's queued work (a cancel click, a repaint)
// run before a main-thread coroutine goes on.
struct MainThreadYield {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}
};

} // namespace quillbarrow
