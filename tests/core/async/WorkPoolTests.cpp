#include "async/Allocator.h"
#include "async/WorkPool.h"

#include <QThread>
#include <QList>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

using namespace quillbarrow;

// The program sets the allocator's fast bins and mapping threshold, unless the user chose them.
TEST(Allocator, ASettingChosenInTheTunablesIsLeftAsTheUserSetIt)
{
    const struct {
        const char* tunables;
        const char* name;
        bool chosen;
    } cases[] = {
        {"", "glibc.malloc.mxfast", false},
        {"glibc.malloc.mxfast=0", "glibc.malloc.mxfast", true},
        {"glibc.malloc.mxfast=64", "glibc.malloc.mxfast", true},
        {"glibc.malloc.check=3:glibc.malloc.mxfast=80", "glibc.malloc.mxfast", true},
        {"glibc.malloc.mxfast=80:glibc.malloc.check=3", "glibc.malloc.mxfast", true},
        {"glibc.malloc.mxfast=80", "glibc.malloc.mmap_threshold", false},
        {"glibc.malloc.tcache_count=0:glibc.malloc.mmap_threshold=4096", "glibc.malloc.mmap_threshold", true},
        // glibc takes a name only with a value, and only the whole name.
        {"glibc.malloc.mxfast", "glibc.malloc.mxfast", false},
        {"glibc.malloc.mxfastx=1", "glibc.malloc.mxfast", false},
        {"xglibc.malloc.mxfast=1", "glibc.malloc.mxfast", false},
        {"glibc.malloc.check=glibc.malloc.mxfast=1", "glibc.malloc.mxfast", false},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(tunablesSet(each.tunables, each.name), each.chosen) << each.tunables << " " << each.name;
    }
}

namespace {

// Counts the copies destroyed away from the thread that made them.
struct Tally {
    QThread* const maker = QThread::currentThread();
    std::atomic<int> elsewhere = 0;
};

struct Counted {
    std::shared_ptr<Tally> tally;
    ~Counted()
    {
        if (tally && QThread::currentThread() != tally->maker) {
            ++tally->elsewhere;
        }
    }
};

} // namespace

// What the window's thread lets go of is freed on the work pool when it holds a slice of elements
// or more, so that leaving a big folder never waits for its items; anything smaller is freed at
// once. A tuple goes by its largest part.
TEST(WorkPool, WhatIsLetGoOfIsFreedOnThePoolFromAThousandElementsOn)
{
    using Give = std::function<void(const Counted&)>;
    const struct {
        const char* what;
        Give give;
        int freedOnPool;
    } cases[] = {
        {"a list of 999", [](const Counted& each) { letGo(QList<Counted>(999, each)); }, 0},
        {"a list of 1,000", [](const Counted& each) { letGo(QList<Counted>(1'000, each)); }, 1'000},
        {"a vector of 999", [](const Counted& each) { letGo(std::vector<Counted>(999, each)); }, 0},
        {"a vector of 1,000", [](const Counted& each) { letGo(std::vector<Counted>(1'000, each)); }, 1'000},
        {"a list of 10 beside a vector of 1,000 numbers",
         [](const Counted& each) { letGo(QList<Counted>(10, each), std::vector<int>(1'000)); }, 0},
        {"a list of 10 beside a list of 1,000",
         [](const Counted& each) { letGo(QList<Counted>(10, each), QList<Counted>(1'000, each)); }, 1'010},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        const Counted prototype{std::make_shared<Tally>()};
        each.give(prototype);
        workPool().waitForDone();
        EXPECT_EQ(prototype.tally->elsewhere, each.freedOnPool);
    }
}
