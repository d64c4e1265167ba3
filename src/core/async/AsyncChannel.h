#pragma once

#include "WaitRegistration.h"

#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace quillbarrow {

// An unbounded stream of values from one or more producers to one consumer.
//
// The consumer owns the AsyncChannel and reads with `co_await channel.next(stop)` on the
// main thread; producers hold Senders and may push from any thread. Nothing pushed is ever
// dropped while the consumer holds the channel, so a consumer that starts reading late
// still receives every value in order. When the consumer drops the channel, the producers'
// stop token is requested (their loops and sleeps end) and later pushes are discarded.
template <typename T>
class AsyncChannel {
    struct State {
        std::mutex mutex;
        std::deque<T> buffer;
        bool finished = false;
        bool consumerGone = false;
        std::shared_ptr<ResumeOnce> waiter; // the consumer's pending next(), if any
        std::stop_source producerStop;
        std::function<void()> onTermination;

        void wake()
        {
            std::shared_ptr<ResumeOnce> toFire;
            {
                std::lock_guard lock(mutex);
                toFire = std::move(waiter);
                waiter.reset();
            }
            if (toFire) {
                toFire->fire(1);
            }
        }
    };

public:
    class Sender {
    public:
        // Appends a value; false when the consumer is gone or the stream has finished.
        bool push(T value) const
        {
            {
                std::lock_guard lock(m_state->mutex);
                if (m_state->consumerGone || m_state->finished) {
                    return false;
                }
                m_state->buffer.push_back(std::move(value));
            }
            m_state->wake();
            return true;
        }
        // Ends the stream: the consumer reads what is buffered, then gets no value.
        void finish() const
        {
            {
                std::lock_guard lock(m_state->mutex);
                m_state->finished = true;
            }
            m_state->wake();
        }
        // Requested when the consumer drops the channel.
        std::stop_token stopToken() const { return m_state->producerStop.get_token(); }
        bool isOpen() const
        {
            std::lock_guard lock(m_state->mutex);
            return !m_state->consumerGone && !m_state->finished;
        }

    private:
        friend class AsyncChannel;
        explicit Sender(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        std::shared_ptr<State> m_state;
    };

    class NextAwaiter {
    public:
        NextAwaiter(std::shared_ptr<State> state, std::stop_token stop)
            : m_state(std::move(state)), m_stop(std::move(stop))
        {
        }

        bool await_ready()
        {
            std::lock_guard lock(m_state->mutex);
            return !m_state->buffer.empty() || m_state->finished || m_stop.stop_requested();
        }

        bool await_suspend(std::coroutine_handle<> handle)
        {
            const std::shared_ptr<ResumeOnce>& once = m_wait.arm(handle);
            {
                std::lock_guard lock(m_state->mutex);
                if (!m_state->buffer.empty() || m_state->finished) {
                    return false; // a value arrived meanwhile: resume at once
                }
                m_state->waiter = once;
            }
            m_wait.fireOnStop(m_stop, 2);
            return true;
        }

        // GCC 12 at -O2 takes the move of a device event's identifier out of its std::variant for a
        // read of memory never written; the value is whole.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
        std::optional<T> await_resume()
        {
            m_wait.finish();
            std::lock_guard lock(m_state->mutex);
            if (m_wait.isArmed() && m_state->waiter == m_wait.once()) {
                m_state->waiter.reset();
            }
            if (m_state->buffer.empty()) {
                return std::nullopt; // finished, or stop requested
            }
            std::optional<T> value(std::move(m_state->buffer.front()));
            m_state->buffer.pop_front();
            return value;
        }
#pragma GCC diagnostic pop

    private:
        std::shared_ptr<State> m_state;
        std::stop_token m_stop;
        WaitRegistration m_wait;
    };

    AsyncChannel() : m_state(std::make_shared<State>()) {}
    ~AsyncChannel() { close(); }
    AsyncChannel(AsyncChannel&& other) noexcept = default;
    AsyncChannel& operator=(AsyncChannel&& other) noexcept
    {
        if (this != &other) {
            close();
            m_state = std::move(other.m_state);
        }
        return *this;
    }
    AsyncChannel(const AsyncChannel&) = delete;
    AsyncChannel& operator=(const AsyncChannel&) = delete;

    Sender sender() const { return Sender(m_state); }

    // The next value in push order; nothing once the stream has finished and is drained, or
    // when stop is requested while waiting (without error).
    NextAwaiter next(std::stop_token stop = {}) const { return NextAwaiter(m_state, std::move(stop)); }

    // Called once, on the thread that drops the channel, when the consumer goes away.
    void setOnTermination(std::function<void()> callback)
    {
        std::lock_guard lock(m_state->mutex);
        m_state->onTermination = std::move(callback);
    }

    // Values pushed but not read yet.
    std::size_t bufferedCount() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->buffer.size();
    }

private:
    void close()
    {
        if (!m_state) {
            return;
        }
        std::function<void()> onTermination;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->consumerGone = true;
            m_state->buffer.clear();
            onTermination = std::move(m_state->onTermination);
            m_state->onTermination = nullptr;
        }
        m_state->producerStop.request_stop();
        if (onTermination) {
            onTermination();
        }
        m_state.reset();
    }

    std::shared_ptr<State> m_state;
};

} // namespace quillbarrow
