#pragma once

#include "WaitRegistration.h"

#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <stop_token>

namespace quillbarrow {

// A first-in-first-out gate for main-thread coroutines, held across waits:
//
//     AsyncGate::Lease lease = co_await gate.acquire(stop);
//     if (!lease) co_return;          // stop was requested (or the gate went away) first
//
// Releasing hands the gate straight to the longest waiter, so no later arrival can barge in.
// A waiter whose stop is requested leaves the queue and gets an empty lease, without error.
class AsyncGate {
    struct Core {
        bool alive = true;
        bool held = false;
        std::deque<std::shared_ptr<ResumeOnce>> waiters;
        void handOver();
    };

public:
    class Lease {
    public:
        Lease() = default;
        ~Lease() { release(); }
        Lease(Lease&& other) noexcept : m_core(std::move(other.m_core)) {}
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        explicit operator bool() const { return m_core != nullptr; }
        // Hands the gate on now; the lease is empty afterwards.
        void release();

    private:
        friend class AsyncGate;
        explicit Lease(std::shared_ptr<Core> core) : m_core(std::move(core)) {}
        std::shared_ptr<Core> m_core;
    };

    class AcquireAwaiter {
    public:
        AcquireAwaiter(std::shared_ptr<Core> core, std::stop_token stop);
        bool await_ready();
        void await_suspend(std::coroutine_handle<> handle);
        Lease await_resume();

    private:
        std::shared_ptr<Core> m_core;
        std::stop_token m_stop;
        WaitRegistration m_wait;
        bool m_immediate = false;
    };

    AsyncGate();
    // Waiters still queued get an empty lease.
    ~AsyncGate();
    AsyncGate(const AsyncGate&) = delete;
    AsyncGate& operator=(const AsyncGate&) = delete;

    AcquireAwaiter acquire(std::stop_token stop = {});
    bool isHeld() const;
    std::size_t waiterCount() const;

private:
    std::shared_ptr<Core> m_core;
};

} // namespace quillbarrow
