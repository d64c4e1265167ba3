#pragma once

#include "ResumeOnce.h"

#include <coroutine>
#include <functional>
#include <memory>
#include <stop_token>

namespace quillbarrow {

// The bookkeeping of one suspended waiter: the ResumeOnce that the awaited event and a stop
// request race to fire, and the stop callback that fires it. Movable, as awaiters must be.
class WaitRegistration {
public:
    // Creates the waiter's ResumeOnce, armed with the suspended coroutine.
    const std::shared_ptr<ResumeOnce>& arm(std::coroutine_handle<> handle);
    // From now on a stop request fires the waiter with `outcome` (at once when already requested).
    void fireOnStop(const std::stop_token& stop, int outcome);
    // Removes the stop callback; waits for one that is running on another thread.
    void finish();

    const std::shared_ptr<ResumeOnce>& once() const { return m_once; }
    bool isArmed() const { return m_once != nullptr; }

private:
    std::shared_ptr<ResumeOnce> m_once;
    std::unique_ptr<std::stop_callback<std::function<void()>>> m_onStop;
};

} // namespace quillbarrow
