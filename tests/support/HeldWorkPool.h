#pragma once

#include "async/WorkPool.h"

#include <QSemaphore>
#include <QThreadPool>

namespace quillbarrow::testing {

// Holds every thread of the work pool until release() (at the latest on destruction): jobs
// started meanwhile wait in line, so a test can change what they were started for first.
class HeldWorkPool {
public:
    HeldWorkPool()
    {
        for (int thread = 0; thread < m_threads; ++thread) {
            workPool().start([this] {
                m_started.release();
                m_release.acquire();
            });
        }
        m_started.acquire(m_threads);
    }
    ~HeldWorkPool() { release(); }
    HeldWorkPool(const HeldWorkPool&) = delete;
    HeldWorkPool& operator=(const HeldWorkPool&) = delete;

    // Lets the pool go on, then waits for every job in line to be done.
    void release()
    {
        if (!m_released) {
            m_released = true;
            m_release.release(m_threads);
            workPool().waitForDone();
        }
    }

private:
    const int m_threads = workPool().maxThreadCount();
    QSemaphore m_started;
    QSemaphore m_release;
    bool m_released = false;
};

} // namespace quillbarrow::testing
