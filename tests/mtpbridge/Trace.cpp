#include "Trace.h"

#include <utility>

namespace quillbarrow::fakes {

void Trace::add(std::string event)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
}

std::vector<std::string> Trace::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

void Trace::clear()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
}

} // namespace quillbarrow::fakes
