#include "ResumeOnce.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quillbarrow {

void postToMainThread(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void ResumeOnce::arm(std::coroutine_handle<> handle)
{
    std::coroutine_handle<> toResume;
    {
        std::lock_guard lock(m_mutex);
        m_handle = handle;
        if (m_fired) {
            toResume = handle;
        }
    }
    if (toResume) {
        postToMainThread([toResume] { toResume.resume(); });
    }
}

bool ResumeOnce::fire(int outcome)
{
    std::coroutine_handle<> toResume;
    {
        std::lock_guard lock(m_mutex);
        if (m_fired) {
            return false;
        }
        m_fired = true;
        m_outcome = outcome;
        toResume = m_handle;
    }
    if (toResume) {
        postToMainThread([toResume] { toResume.resume(); });
    }
    return true;
}

bool ResumeOnce::hasFired() const
{
    std::lock_guard lock(m_mutex);
    return m_fired;
}

int ResumeOnce::outcome() const
{
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

} // namespace quillbarrow
