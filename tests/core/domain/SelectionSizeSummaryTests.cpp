#include "domain/FolderMeasurementLog.h"
#include "domain/FolderStatistics.h"
#include "domain/SelectionSizeSummary.h"

#include <gtest/gtest.h>

#include <QHash>

#include <limits>

namespace quillbarrow {
namespace {

SelectionSizeSummary summary(qint64 selected, qint64 knownBytes, qint64 unknownFolders, std::optional<qint64> freeBytes)
{
    return SelectionSizeSummary(selected, selected, unknownFolders, knownBytes, unknownFolders, freeBytes);
}

TEST(SelectionSizeSummaryTest, FitsOnlyWhenCompleteAndFreeSpaceKnown)
{
    // An unmeasured folder leaves the answer open, however much room there is.
    EXPECT_EQ(summary(2, 10, 1, 1'000'000).fitsInDestination(), std::nullopt);
    EXPECT_EQ(summary(2, 10, 0, std::nullopt).fitsInDestination(), std::nullopt);
    EXPECT_EQ(summary(1, 500, 0, 500).fitsInDestination(), true); // exactly full fits
    EXPECT_EQ(summary(1, 1, 0, 0).fitsInDestination(), false);
    EXPECT_EQ(summary(1, 0, 0, 0).fitsInDestination(), true);
}

TEST(SelectionSizeSummaryTest, SelectionAndCompleteness)
{
    const SelectionSizeSummary empty = summary(0, 0, 0, std::nullopt);
    EXPECT_FALSE(empty.hasSelection());
    EXPECT_TRUE(empty.isComplete());
    EXPECT_TRUE(summary(1, 0, 0, std::nullopt).hasSelection());
    EXPECT_FALSE(summary(3, 0, 2, std::nullopt).isComplete());
}

TEST(SelectionSizeSummaryTest, EqualityCoversEveryFieldIncludingAbsence)
{
    EXPECT_EQ(summary(1, 5, 0, 7), summary(1, 5, 0, 7));
    EXPECT_NE(summary(1, 5, 0, 0), summary(1, 5, 0, std::nullopt));
    EXPECT_NE(SelectionSizeSummary(1, 2, 0, 5, 0, 7), SelectionSizeSummary(1, 3, 0, 5, 0, 7));
    EXPECT_EQ(FolderStatistics(10, 2), FolderStatistics(10, 2));
    EXPECT_NE(FolderStatistics(10, 2), FolderStatistics(10, 3));
}

} // namespace
TEST(SelectionSizeSummaryTest, SizesADeviceReportsAddUpWithoutOverflowing)
{
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    SelectionSizeTally tally;
    tally.addFile(largest - 1);
    tally.addFile(10);
    const FolderStatistics huge(largest, largest);
    tally.addFolder(&huge);
    tally.addFolder(nullptr);
    tally.addFile(std::nullopt);
    EXPECT_EQ(tally.summary(5), SelectionSizeSummary(5, largest, 2, largest, 1, 5));
}

namespace {

// The tally of `rows`: a file's size, or a folder ("d…") measured by `measured` or not.
using TallyRow = std::pair<QString, std::optional<qint64>>;
SelectionSizeTally tallyOf(const QList<TallyRow>& rows, const QHash<QString, FolderStatistics>& measured)
{
    SelectionSizeTally tally;
    for (const auto& [name, size] : rows) {
        const auto found = measured.constFind(name);
        name.startsWith(u'd') ? tally.addFolder(found == measured.constEnd() ? nullptr : &*found)
                              : tally.addFile(size);
    }
    return tally;
}

// A folder added unmeasured and measured since counts as if added measured, wherever it stands
// among the rows; a tally whose sums hang on the order of the rows says it cannot.
TEST(SelectionSizeSummaryTest, AFolderMeasuredSinceCountsAsIfItHadBeenAddedMeasured)
{
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    const struct {
        const char* what;
        QList<TallyRow> rows;
        QList<std::pair<QString, FolderStatistics>> measuredSince; // in turn, after the tally
        bool counts;
    } cases[] = {
        {"one folder among files", {{"a", 10}, {"d1", {}}, {"b", std::nullopt}}, {{"d1", {300, 4}}}, true},
        {"two folders in turn", {{"d1", {}}, {"a", 10}, {"d2", {}}}, {{"d2", {5, 1}}, {"d1", {0, 0}}}, true},
        {"a file below zero", {{"a", -10}, {"d1", {}}}, {{"d1", {300, 4}}}, false},
        {"a measurement below zero", {{"a", 10}, {"d1", {}}}, {{"d1", {-300, 4}}}, false},
        {"a sum held at its limit", {{"a", largest - 1}, {"b", 10}, {"d1", {}}}, {{"d1", {1, 1}}}, false},
        {"no folder left unmeasured", {{"a", 10}}, {{"d1", {1, 1}}}, false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        QHash<QString, FolderStatistics> measured;
        SelectionSizeTally tally = tallyOf(each.rows, measured);
        bool counted = true;
        for (const auto& [folder, statistics] : each.measuredSince) {
            measured.insert(folder, statistics);
            counted = counted && tally.countMeasured(statistics);
        }
        EXPECT_EQ(counted, each.counts);
        if (counted) {
            EXPECT_EQ(tally.summary(7), tallyOf(each.rows, measured).summary(7));
        }
    }
}

// A tally made at a mark takes in the folders measured since that it holds, each once, and only
// while every measurement kept since the mark is a first one.
TEST(FolderMeasurementLogTest, ATallyTakesInTheFoldersMeasuredSinceItsMarkAndNothingElse)
{
    // The tally's rows; "d3" is a folder measured elsewhere (another folder's, say).
    const QList<TallyRow> rows{{"a", 10}, {"d1", {}}, {"d2", {}}};
    const auto holds = [](const QString& folder) { return folder != QStringLiteral("d3"); };
    QHash<QString, FolderStatistics> measured;
    FolderMeasurementLog<QString> log;
    const auto keep = [&](const QString& folder, FolderStatistics statistics) {
        const auto kept = measured.constFind(folder);
        log.keep(folder, kept == measured.constEnd() ? nullptr : &*kept, statistics);
        measured.insert(folder, statistics);
    };
    keep("d1", {100, 2});
    SelectionSizeTally tally = tallyOf(rows, measured);
    FolderMeasurementLog<QString>::Mark seen = log.mark();

    // Each folder measured since is taken in once; another's, or the same figures again, add nothing.
    for (const auto& [folder, statistics] :
         {std::pair("d2", FolderStatistics(20, 1)), {"d3", {3, 1}}, {"d2", {20, 1}}}) {
        keep(folder, statistics);
        ASSERT_TRUE(log.bringUpToDate(tally, seen, measured, holds));
        EXPECT_EQ(tally.summary(std::nullopt), tallyOf(rows, measured).summary(std::nullopt));
    }

    // Other figures for a folder counted already, or the measurements dropped: made anew.
    keep("d1", {101, 2});
    EXPECT_FALSE(log.bringUpToDate(tally, seen, measured, holds));
    seen = log.mark();
    log.restart();
    EXPECT_FALSE(log.bringUpToDate(tally, seen, measured, holds));
}

} // namespace

} // namespace quillbarrow
