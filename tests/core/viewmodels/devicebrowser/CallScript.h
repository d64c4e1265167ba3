#pragma once

#include "async/OneShot.h"
#include "async/Sleep.h"
#include "domain/QuillbarrowError.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <any>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace quillbarrow::testing {

// A call held by the test until it lets it go.
class Hang {
public:
    // The held call goes on with the rest of its scripted outcome.
    void release() { m_gate.fulfil(true); }
    // A call has reached the hang and waits there.
    bool isReached() const { return m_reached; }

    OneShot<bool>::WaitAwaiter wait()
    {
        m_reached = true;
        return m_gate.wait();
    }

private:
    OneShot<bool> m_gate;
    bool m_reached = false;
};

// What one scripted call of a fake does, in this order: wait for its hang, wait its delay, then
// fail with its error, give its value, or (with neither) do what the fake does by default.
struct Reply {
    static Reply proceed() { return Reply(); }
    static Reply fail(const QuillbarrowError& error);
    // A failure of a type other than QuillbarrowError, with this description.
    static Reply failForeign(const std::string& description);
    template <typename T>
    static Reply give(T value)
    {
        Reply reply;
        reply.value = std::move(value);
        return reply;
    }

    Reply& heldBy(std::shared_ptr<Hang> held)
    {
        hang = std::move(held);
        return *this;
    }
    Reply& delayedBy(std::chrono::milliseconds wait)
    {
        delay = wait;
        return *this;
    }

    std::any value;
    std::exception_ptr error;
    std::shared_ptr<Hang> hang;
    std::chrono::milliseconds delay{0};
};

// The shared record of one fake: the replies scripted for its calls and the calls made, kept
// apart from the fake so that a call still running when the fake goes away stays safe.
class CallScript {
public:
    // The reply applies once, to the next call of `operation` whose subject is `subject` (any
    // subject when empty).
    void add(const QString& operation, Reply reply, const QString& subject = {});
    std::optional<Reply> take(const QString& operation, const QString& subject);

    // Calls as they began: the operation, then its subject after a blank when it has one.
    QStringList calls() const { return m_calls; }
    // Calls as they ended, with their outcome after " -> ": "value" or the error's description.
    QStringList endings() const { return m_endings; }
    void recordCall(const QString& call) { m_calls.append(call); }
    void recordEnding(const QString& ending) { m_endings.append(ending); }
    // Lets every held call go on (at teardown, so that no call stays suspended).
    void releaseAll();

private:
    struct Entry {
        QString operation;
        QString subject;
        Reply reply;
    };
    QList<Entry> m_replies;
    QList<std::shared_ptr<Hang>> m_hangs;
    QStringList m_calls;
    QStringList m_endings;
};

QString describe(const std::exception_ptr& error);

// Plays the scripted reply of one call, or the fake's default behaviour.
template <typename T>
QCoro::Task<T> perform(std::shared_ptr<CallScript> script, QString operation, QString subject,
                       std::function<T()> byDefault)
{
    const QString call = subject.isEmpty() ? operation : operation + u' ' + subject;
    script->recordCall(call);
    std::optional<Reply> reply = script->take(operation, subject);
    if (reply && reply->hang) {
        co_await reply->hang->wait();
    }
    if (reply && reply->delay.count() > 0) {
        co_await sleepFor(reply->delay);
    }
    try {
        if (reply && reply->error) {
            std::rethrow_exception(reply->error);
        }
        if constexpr (std::is_void_v<T>) {
            if (!reply || !reply->value.has_value()) {
                byDefault();
            }
            script->recordEnding(call + QStringLiteral(" -> value"));
        } else {
            T value = reply && reply->value.has_value() ? std::any_cast<T>(reply->value) : byDefault();
            script->recordEnding(call + QStringLiteral(" -> value"));
            co_return value;
        }
    } catch (...) {
        script->recordEnding(call + QStringLiteral(" -> ") + describe(std::current_exception()));
        throw;
    }
}

} // namespace quillbarrow::testing
