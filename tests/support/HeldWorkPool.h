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

    // Lets the pool go on, then waits for every job in line to be done; once more does no harm.
    void release()
    {
        m_release.release(m_threads);
        workPool().waitForDone();
    }

private:
    const int m_threads = workPool().maxThreadCount();
    QSemaphore m_started;
    QSemaphore m_release;
};

} // namespace quillbarrow::testing
