#include "panes/SelectionPreflightStrip.h"
#include "panes/StorageBar.h"
#include "panes/blocks/ElidedLabel.h"
#include "style/SymbolIcons.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

SelectionSizeSummary summary(qint64 selected, qint64 items, qint64 knownBytes, qint64 unknownFolders,
                             std::optional<qint64> destinationFree = std::nullopt)
{
    return SelectionSizeSummary(selected, items, 0, knownBytes, unknownFolders, destinationFree);
}

TEST(SelectionPreflightStrip, StorageTextsForEveryCaseOfFreeSpaceAndCapacity)
{
    struct Case {
        const char* what;
        std::optional<qint64> free;
        std::optional<qint64> capacity;
        QString text;
        std::optional<double> used;
        QString barValue;
    };
    const QList<Case> cases{
        {"both known", 10'000'000'000, 64'000'000'000, "Pixel: 54 GB used · 10 GB free", 54.0 / 64.0,
         "54 GB used, 10 GB free"},
        {"capacity absent", 10'000'000'000, std::nullopt, "Pixel: 10 GB free", std::nullopt, "Free space unknown"},
        {"free absent", std::nullopt, 64'000'000'000, "Pixel: free space unknown", std::nullopt, "Free space unknown"},
        {"both absent", std::nullopt, std::nullopt, "Pixel: free space unknown", std::nullopt, "Free space unknown"},
        {"capacity 0", 5'000, 0, "Pixel: free space unknown", std::nullopt, "Free space unknown"},
        {"capacity negative", 5'000, -1, "Pixel: free space unknown", std::nullopt, "Free space unknown"},
        {"free above capacity", 80'000, 64'000, "Pixel: Zero KB used · 64 KB free", 0.0, "Zero KB used, 64 KB free"},
        {"negative free", -5, 64'000, "Pixel: 64 KB used · Zero KB free", 1.0, "64 KB used, Zero KB free"},
        {"full", 0, 1, "Pixel: 1 byte used · Zero KB free", 1.0, "1 byte used, Zero KB free"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        EXPECT_EQ(SelectionPreflightStrip::storageText(QStringLiteral("Pixel"), item.free, item.capacity), item.text);
        EXPECT_EQ(SelectionPreflightStrip::usedFraction(item.free, item.capacity), item.used);
        EXPECT_EQ(SelectionPreflightStrip::storageBarValue(item.free, item.capacity), item.barValue);
    }
}

TEST(SelectionPreflightStrip, SelectionTextsCountItemsAndUncheckedFolders)
{
    struct Case {
        const char* what;
        SelectionSizeSummary summary;
        QString text;
    };
    const QList<Case> cases{
        {"one file", summary(1, 1, 1'234'567, 0), "1 item · 1.2 MB"},
        {"one measured folder of 40 items", summary(1, 40, 5'000, 0), "40 items · 5 KB"},
        {"nothing known", summary(2, 0, 0, 0), "0 items · Zero KB"},
        {"two folders, one measured", summary(2, 41, 5'000, 1), "41 items · 5 KB known · 1 folder unchecked"},
        {"two unmeasured folders", summary(2, 2, 0, 2), "2 items · Zero KB known · 2 folders unchecked"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        EXPECT_EQ(SelectionPreflightStrip::selectionText(item.summary), item.text);
    }
}

TEST(SelectionPreflightStrip, ACopyIsAllowedUnlessTheKnownBytesSurelyDoNotFit)
{
    EXPECT_TRUE(SelectionPreflightStrip::allowsCopy(summary(1, 1, 500, 0, 500))) << "equal fits";
    EXPECT_FALSE(SelectionPreflightStrip::allowsCopy(summary(1, 1, 501, 0, 500)));
    EXPECT_TRUE(SelectionPreflightStrip::allowsCopy(summary(2, 2, 501, 1, 500))) << "a folder is unmeasured";
    EXPECT_TRUE(SelectionPreflightStrip::allowsCopy(summary(1, 1, 501, 0, std::nullopt))) << "free space unknown";
}

class SelectionPreflightStripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        strip.resize(420, 80);
        strip.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&strip));
    }

    SelectionPreflight preflight(SelectionSizeSummary selection, bool calculating = false) const
    {
        SelectionPreflight shown;
        shown.summary = selection;
        shown.storageName = QStringLiteral("This Mac");
        shown.storageIcon = QStringLiteral("laptopcomputer");
        shown.freeBytes = 10'000'000'000;
        shown.capacityBytes = 64'000'000'000;
        shown.isCalculating = calculating;
        return shown;
    }

    SelectionPreflightStrip strip;
};

TEST_F(SelectionPreflightStripTest, WithoutASelectionOnlyTheStorageLineAndTheBarShow)
{
    strip.setPreflight(preflight(summary(0, 0, 0, 0)));
    EXPECT_EQ(strip.storageLabel()->text(), QStringLiteral("This Mac: 54 GB used · 10 GB free"));
    EXPECT_FALSE(strip.selectionRow()->isVisible());
    EXPECT_TRUE(strip.storageBar()->isVisible());
    EXPECT_EQ(strip.storageBar()->accessibleName(), QStringLiteral("This Mac storage"));
    EXPECT_EQ(strip.storageBar()->usedWidth(), qRound(strip.storageBar()->width() * 54.0 / 64.0));
}

TEST_F(SelectionPreflightStripTest, TheCalculateButtonFollowsUnmeasuredFoldersAndTheBusyState)
{
    QSignalSpy requested(&strip, &SelectionPreflightStrip::calculateRequested);
    strip.setPreflight(preflight(summary(2, 41, 5'000, 1)));
    EXPECT_TRUE(strip.selectionRow()->isVisible());
    EXPECT_EQ(strip.selectionLabel()->text(), QStringLiteral("41 items · 5 KB known · 1 folder unchecked"));
    QToolButton* button = strip.calculateButton();
    ASSERT_TRUE(button->isVisible());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->text(), QStringLiteral("Calculate folder size"));
    EXPECT_EQ(SymbolIcons::symbolOf(button), QStringLiteral("sum"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Calculate selected folder sizes"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(requested.count(), 1);

    strip.setPreflight(preflight(summary(2, 41, 5'000, 1), true));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->text(), QStringLiteral("Calculating folder size…"));
    EXPECT_TRUE(strip.findChild<QWidget*>(QStringLiteral("busySpinner"))->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(requested.count(), 1);

    strip.setPreflight(preflight(summary(2, 80, 9'000, 0)));
    EXPECT_FALSE(button->isVisible());
    EXPECT_FALSE(strip.findChild<QWidget*>(QStringLiteral("busySpinner"))->isVisible());
    EXPECT_EQ(strip.selectionLabel()->text(), QStringLiteral("80 items · 9 KB"));
}

} // namespace
} // namespace quillbarrow
