#include "async/Allocator.h"
#include "async/WorkPool.h"

#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>

using namespace quillbarrow;

// The program sets the allocator's fast bins and mapping threshold, unless the user chose them;
// glibc takes a name only with a value, and only the whole name.
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
