#include "async/WorkPool.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <thread>

namespace quillbarrow {

namespace {

// Enough threads that a few long jobs (a copy, a Trash move, a folder measurement) never keep a
// short one waiting on a small machine; the jobs mostly wait on the disk, not the CPU.
constexpr int minimumThreads = 8;

// Freeing memory nobody waits for goes after every other job waiting for a thread.
constexpr int releasePriority = -1;

// How long a release frees before it lets the threads waiting for the processor run (see pause()).
constexpr std::chrono::microseconds freeingBetweenYields{250};

} // namespace

QThreadPool& workPool()
{
    // Destroyed at exit like Qt's own pool: the destructor waits for the jobs still running.
    static QThreadPool pool;
    // The allocator it frees big listings with is set up by the program's entry (configureAllocator()).
    static const bool configured = [] {
        pool.setObjectName(QStringLiteral("QuillbarrowWorkPool"));
        pool.setMaxThreadCount(std::max(minimumThreads, QThread::idealThreadCount() * 2));
        return true;
    }();
    Q_UNUSED(configured);
    return pool;
}

void release::pause()
{
    thread_local std::chrono::steady_clock::time_point gaveWay;
    if (std::chrono::steady_clock::now() - gaveWay >= freeingBetweenYields) {
        std::this_thread::yield();
        gaveWay = std::chrono::steady_clock::now();
    }
}

void startReleaseOnWorkPool(std::function<void()> job)
{
    workPool().start(std::move(job), releasePriority);
}

} // namespace quillbarrow
