#include "WaitRegistration.h"

namespace quillbarrow {

const std::shared_ptr<ResumeOnce>& WaitRegistration::arm(std::coroutine_handle<> handle)
{
    m_once = std::make_shared<ResumeOnce>();
    m_once->arm(handle);
    return m_once;
}

void WaitRegistration::fireOnStop(const std::stop_token& stop, int outcome)
{
    if (!stop.stop_possible()) {
        return;
    }
    std::shared_ptr<ResumeOnce> once = m_once;
    m_onStop = std::make_unique<std::stop_callback<std::function<void()>>>(
        stop, std::function<void()>([once, outcome] { once->fire(outcome); }));
}

void WaitRegistration::finish()
{
    m_onStop.reset();
}

} // namespace quillbarrow
