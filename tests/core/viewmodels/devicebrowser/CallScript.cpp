#include "CallScript.h"

#include "viewmodels/devicebrowser/ErrorDescription.h"

#include <stdexcept>

namespace quillbarrow::testing {

Reply Reply::fail(const QuillbarrowError& error)
{
    Reply reply;
    reply.error = std::make_exception_ptr(error);
    return reply;
}

Reply Reply::failForeign(const std::string& description)
{
    Reply reply;
    reply.error = std::make_exception_ptr(std::runtime_error(description));
    return reply;
}

void CallScript::add(const QString& operation, Reply reply, const QString& subject)
{
    if (reply.hang) {
        m_hangs.append(reply.hang);
    }
    m_replies.append(Entry{operation, subject, std::move(reply)});
}

std::optional<Reply> CallScript::take(const QString& operation, const QString& subject)
{
    for (qsizetype i = 0; i < m_replies.size(); ++i) {
        const Entry& entry = m_replies[i];
        if (entry.operation == operation && (entry.subject.isEmpty() || entry.subject == subject)) {
            Reply reply = entry.reply;
            m_replies.removeAt(i);
            return reply;
        }
    }
    return std::nullopt;
}

void CallScript::releaseAll()
{
    for (const std::shared_ptr<Hang>& hang : m_hangs) {
        hang->release();
    }
}

QString describe(const std::exception_ptr& error)
{
    return plainDescription(error);
}

} // namespace quillbarrow::testing
