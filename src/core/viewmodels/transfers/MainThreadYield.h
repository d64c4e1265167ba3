#pragma once

#include <chrono>
#include <coroutine>

namespace quillbarrow {

// `co_await MainThreadYield{};` lets the main thread's queued work (a cancel click, a repaint)
// run before a main-thread coroutine goes on.
struct MainThreadYield {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const;
    void await_resume() const noexcept {}
};

// Paces a long stretch of main-thread work that yields now and then: due() is true once `slice`
// has passed since the stretch began or last yielded, so that no event waits longer than about a
// slice however many items the stretch has. A zero slice yields before every item.
class MainThreadPace {
public:
    using Duration = std::chrono::steady_clock::duration;

    explicit MainThreadPace(Duration slice) : m_slice(slice), m_sliceStart(std::chrono::steady_clock::now()) {}

    bool due() const { return std::chrono::steady_clock::now() - m_sliceStart >= m_slice; }
    // Called when the stretch has yielded: its next slice begins.
    void yielded() { m_sliceStart = std::chrono::steady_clock::now(); }

private:
    Duration m_slice;
    std::chrono::steady_clock::time_point m_sliceStart;
};

} // namespace quillbarrow
