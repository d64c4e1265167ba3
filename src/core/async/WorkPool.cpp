#include "async/WorkPool.h"

#include <QThread>
#include <QThreadPool>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <thread>

namespace quillbarrow {

namespace {

// Enough threads that a few long jobs (a copy, a Trash move, a folder measurement) never keep a
// short one waiting on a small machine; the jobs mostly wait on the disk, not the CPU.
constexpr int minimumThreads = 8;

// Freeing memory nobody waits for goes after every other job waiting for a thread.
constexpr int releasePriority = -1;

} // namespace

QThreadPool& workPool()
{
    // Destroyed at exit like Qt's own pool: the destructor waits for the jobs still running.
    static QThreadPool pool;
    static const bool configured = [] {
#ifdef __GLIBC__
        // Big listings are freed on the pool while other threads allocate. With the allocator's
        // fast bins, those hundreds of thousands of small blocks wait in them until a thread that
        // needs a large block merges them all, holding the lock that the window's thread waits
        // for meanwhile: leaving a big folder then stalls the window for tens of milliseconds.
        // Without them each block is merged as it is freed.
        mallopt(M_MXFAST, 0);
#endif
        pool.setObjectName(QStringLiteral("QuillbarrowWorkPool"));
        pool.setMaxThreadCount(std::max(minimumThreads, QThread::idealThreadCount() * 2));
        return true;
    }();
    Q_UNUSED(configured);
    return pool;
}

void release::pause()
{
    std::this_thread::yield();
}

void startReleaseOnWorkPool(std::function<void()> job)
{
    workPool().start(std::move(job), releasePriority);
}

} // namespace quillbarrow
