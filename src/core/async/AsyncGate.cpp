#include "AsyncGate.h"

namespace quillbarrow {

namespace {
enum Outcome { granted = 1, withdrawn = 2 };
}

void AsyncGate::Core::handOver()
{
    while (!waiters.empty()) {
        std::shared_ptr<ResumeOnce> next = std::move(waiters.front());
        waiters.pop_front();
        // A waiter already woken by its stop request loses the race and is skipped.
        if (next->fire(granted)) {
            return; // the gate stays held, now by `next`
        }
    }
    held = false;
}

AsyncGate::Lease& AsyncGate::Lease::operator=(Lease&& other) noexcept
{
    if (this != &other) {
        release();
        m_core = std::move(other.m_core);
    }
    return *this;
}

void AsyncGate::Lease::release()
{
    if (!m_core) {
        return;
    }
    std::shared_ptr<Core> core = std::move(m_core);
    m_core.reset();
    if (core->alive) {
        core->handOver();
    }
}

AsyncGate::AcquireAwaiter::AcquireAwaiter(std::shared_ptr<Core> core, std::stop_token stop)
    : m_core(std::move(core)), m_stop(std::move(stop))
{
}

bool AsyncGate::AcquireAwaiter::await_ready()
{
    if (m_stop.stop_requested() || !m_core->alive) {
        return true;
    }
    if (!m_core->held) {
        m_core->held = true;
        m_immediate = true;
        return true;
    }
    return false;
}

void AsyncGate::AcquireAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_core->waiters.push_back(m_wait.arm(handle));
    m_wait.fireOnStop(m_stop, withdrawn);
}

AsyncGate::Lease AsyncGate::AcquireAwaiter::await_resume()
{
    if (m_immediate) {
        return Lease(m_core);
    }
    if (!m_wait.isArmed()) {
        return Lease(); // stop requested before waiting, or the gate is gone
    }
    m_wait.finish();
    if (m_wait.once()->outcome() == granted && m_core->alive) {
        return Lease(m_core);
    }
    // Withdrawn by stop (or the gate went away): leave the queue without touching the holder.
    std::erase(m_core->waiters, m_wait.once());
    return Lease();
}

AsyncGate::AsyncGate() : m_core(std::make_shared<Core>()) {}

AsyncGate::~AsyncGate()
{
    m_core->alive = false;
    std::deque<std::shared_ptr<ResumeOnce>> waiters = std::move(m_core->waiters);
    m_core->waiters.clear();
    for (const auto& waiter : waiters) {
        waiter->fire(withdrawn);
    }
}

AsyncGate::AcquireAwaiter AsyncGate::acquire(std::stop_token stop)
{
    return AcquireAwaiter(m_core, std::move(stop));
}

bool AsyncGate::isHeld() const
{
    return m_core->held;
}

std::size_t AsyncGate::waiterCount() const
{
    return m_core->waiters.size();
}

} // namespace quillbarrow
