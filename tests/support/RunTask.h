#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace quillbarrow::testing {

// Thrown by runTask when the task has not ended before the watchdog.
class WatchdogExpired : public std::runtime_error {
public:
    WatchdogExpired() : std::runtime_error("runTask: the task did not finish before the watchdog expired") {}
};

namespace detail {

template <typename T>
struct RunState {
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    std::exception_ptr error;
    bool done = false;
    QEventLoop* loop = nullptr;
};

// A free coroutine (not a lambda) so that it may outlive runTask after a watchdog failure
// without touching a dead closure.
template <typename T>
QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<RunState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            state->result = true;
        } else {
            state->result.emplace(co_await task);
        }
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
    if (state->loop != nullptr) {
        state->loop->quit();
    }
}

} // namespace detail

// Runs the main-thread event loop until the task ends; gives its result or rethrows its
// exception. Throws WatchdogExpired when the task is still running after `watchdog`.
template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds watchdog = std::chrono::seconds(60))
{
    auto state = std::make_shared<detail::RunState<T>>();
    auto driving = detail::drive(std::move(task), state);
    Q_UNUSED(driving)
    if (!state->done) {
        QEventLoop loop;
        state->loop = &loop;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(static_cast<int>(watchdog.count()));
        loop.exec();
        state->loop = nullptr;
    }
    if (!state->done) {
        throw WatchdogExpired();
    }
    if (state->error) {
        std::rethrow_exception(state->error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*state->result);
    }
}

// Processes events until the predicate holds or the watchdog expires; true when it held.
template <typename Predicate>
bool processEventsUntil(Predicate predicate, std::chrono::milliseconds watchdog = std::chrono::seconds(30))
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (predicate()) {
            loop.quit();
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (predicate()) {
        return true;
    }
    poll.start(1);
    guard.start(static_cast<int>(watchdog.count()));
    loop.exec();
    return predicate();
}

} // namespace quillbarrow::testing
