#include "TaskSlot.h"

namespace quillbarrow {

TaskSlot::~TaskSlot()
{
    cancel();
}

std::stop_token TaskSlot::start()
{
    cancel();
    m_source = std::stop_source();
    ++m_generation;
    m_running = true;
    return m_source.get_token();
}

void TaskSlot::cancel()
{
    if (m_source.stop_possible()) {
        m_source.request_stop();
    }
    m_running = false;
}

} // namespace quillbarrow
