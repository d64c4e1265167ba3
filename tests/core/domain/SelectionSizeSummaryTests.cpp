#include "domain/FolderStatistics.h"
#include "domain/SelectionSizeSummary.h"

#include <gtest/gtest.h>

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

} // namespace quillbarrow
