#include "async/Allocator.h"
#include "async/WorkPool.h"

#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace quillbarrow;

// The program sets the allocator's fast bins and mapping threshold, unless the user chose them:
// in GLIBC_TUNABLES, where glibc takes a name only with a value, and only the whole name, or in
// the older variable glibc reads for the threshold (not for the fast bins: it reads none).
TEST(Allocator, ASettingChosenInTheTunablesIsLeftAsTheUserSetIt)
{
    const std::string_view fastBins = "glibc.malloc.mxfast";
    const std::tuple<std::string_view, std::string_view, bool> cases[] = {
        {"", fastBins, false}, {"glibc.malloc.check=3:glibc.malloc.mxfast=64", fastBins, true},
        {"glibc.malloc.mxfast=64", "glibc.malloc.mmap_threshold", false},
        {"glibc.malloc.mxfast", fastBins, false},
        {"glibc.malloc.mxfastx=1:xglibc.malloc.mxfast=1", fastBins, false}};
    for (const auto& [tunables, name, chosen] : cases) {
        EXPECT_EQ(tunablesSet(tunables, name), chosen) << tunables << " " << name;
    }
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    // What the allocator then does: small blocks freed wait in fast bins only where the user kept
    // them, and a block of 256 KiB is mapped apart unless the user raised the threshold. The
    // user's tunables, read as the process starts, are played here by the same settings.
    const auto freedFastAndMapped = [] {
        std::vector<void*> blocks(64); // more than the per-thread cache keeps of one size
        for (void*& block : blocks) {
            block = std::malloc(24);
        }
        for (void* block : blocks) {
            std::free(block);
        }
        const bool fast = mallinfo2().fsmblks > 0; // read first: a big request merges the fast bins
        const std::size_t mappedBefore = mallinfo2().hblks;
        void* big = std::malloc(256 * 1024);
        const bool mapped = mallinfo2().hblks > mappedBefore;
        std::free(big);
        return std::pair(fast, mapped);
    };
    const char* const older[] = {"MALLOC_MMAP_THRESHOLD_", "MALLOC_MXFAST_"};
    // GLIBC_TUNABLES, an older variable set ("" for none) and its value, and what then holds.
    for (const auto& [tunables, variable, value, fastKept, bigMapped] :
         {std::tuple("glibc.malloc.mxfast=64:glibc.malloc.mmap_threshold=1048576", "", "", true, false),
          std::tuple("glibc.malloc.check=0", "", "", false, true),
          std::tuple("", "MALLOC_MMAP_THRESHOLD_", "1048576", false, false),
          std::tuple("", "MALLOC_MMAP_THRESHOLD_", "", false, false), // glibc takes it as 0
          std::tuple("", "MALLOC_MXFAST_", "64", false, true)}) {
        mallopt(M_MXFAST, 64);
        mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
        ::setenv("GLIBC_TUNABLES", tunables, 1);
        if (*variable != '\0') {
            ::setenv(variable, value, 1);
        }
        configureAllocator();
        EXPECT_EQ(freedFastAndMapped(), std::pair(fastKept, bigMapped)) << tunables << " " << variable;
        for (const char* name : older) {
            ::unsetenv(name);
        }
    }
    ::unsetenv("GLIBC_TUNABLES");
    configureAllocator();
#endif
}

// What the window's thread lets go of is freed on the work pool from a thousand elements on (a
// tuple by its largest part), so that leaving a big folder never waits for its items.
TEST(WorkPool, WhatIsLetGoOfIsFreedOnThePoolFromAThousandElementsOn)
{
    struct Counted { // counts its copies destroyed on another thread than the test's
        std::shared_ptr<std::atomic<int>> elsewhere = std::make_shared<std::atomic<int>>(0);
        QThread* maker = QThread::currentThread();
        ~Counted() { *elsewhere += QThread::currentThread() != maker ? 1 : 0; }
    };
    const Counted each;
    const std::pair<std::function<void()>, int> cases[] = {
        {[&] { letGo(QList<Counted>(999, each)); }, 0},
        {[&] { letGo(std::vector<Counted>(1'000, each)); }, 1'000},
        {[&] { letGo(QList<Counted>(10, each), std::vector<int>(1'000)); }, 0},
        {[&] { letGo(QList<Counted>(10, each), QList<Counted>(1'000, each)); }, 1'010}};
    for (const auto& [give, freedOnPool] : cases) {
        *each.elsewhere = 0;
        give();
        workPool().waitForDone();
        EXPECT_EQ(*each.elsewhere, freedOnPool);
    }
}
