#pragma once

#include <QTimer>

#include <chrono>

namespace quillbarrow::bench {

// The longest time the main thread went without turning its event loop, measured by a timer that
// should tick every `intervalMs`: each late tick shows how long the thread was busy elsewhere.
class StallMeter {
public:
    explicit StallMeter(int intervalMs);

    void start();
    // The longest gap, in milliseconds, the stretch up to now included.
    double stop();

private:
    using Clock = std::chrono::steady_clock;
    void tick();

    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_longest = Clock::duration::zero();
};

} // namespace quillbarrow::bench
