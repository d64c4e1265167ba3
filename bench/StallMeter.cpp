#include "StallMeter.h"

#include <algorithm>

namespace quillbarrow::bench {

StallMeter::StallMeter(int intervalMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
}

void StallMeter::start()
{
    m_longest = Clock::duration::zero();
    m_last = Clock::now();
    m_timer.start();
}

double StallMeter::stop()
{
    tick();
    m_timer.stop();
    return std::chrono::duration<double, std::milli>(m_longest).count();
}

void StallMeter::tick()
{
    const Clock::time_point now = Clock::now();
    m_longest = std::max(m_longest, now - m_last);
    m_last = now;
}

} // namespace quillbarrow::bench
