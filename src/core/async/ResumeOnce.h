#pragma once

#include <coroutine>
#include <functional>
#include <mutex>

namespace quillbarrow {

// Queues `work` to run on the main (application) thread's event loop.
void postToMainThread(std::function<void()> work);

// A suspended coroutine that exactly one of several racing events may resume. Events may
// fire from any thread; the winner records its outcome and the coroutine is resumed on the
// main thread, never inline, so that the resumption never runs inside a signal emission or
// inside the await_suspend that armed it.
class ResumeOnce {
public:
    void arm(std::coroutine_handle<> handle);
    // Returns true when this call won the race.
    bool fire(int outcome);
    bool hasFired() const;
    int outcome() const;

private:
    mutable std::mutex m_mutex;
    std::coroutine_handle<> m_handle;
    bool m_fired = false;
    int m_outcome = 0;
};

} // namespace quillbarrow
