#include "style/ListingFormat.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

TEST(ListingFormat, AbsentValuesShowTwoDashes)
{
    EXPECT_EQ(ListingFormat::sizeText(std::nullopt), QStringLiteral("--"));
    EXPECT_EQ(ListingFormat::dateText(std::nullopt), QStringLiteral("--"));
    EXPECT_EQ(ListingFormat::dateText(QDateTime()), QStringLiteral("--"));
}

TEST(ListingFormat, SizesAreFileStyleByteCounts)
{
    EXPECT_EQ(ListingFormat::sizeText(0), QStringLiteral("Zero KB"));
    EXPECT_EQ(ListingFormat::sizeText(1), QStringLiteral("1 byte"));
    EXPECT_EQ(ListingFormat::sizeText(1'234'567), QStringLiteral("1.2 MB"));
}

TEST(ListingFormat, DatesHaveAnAbbreviatedMonthAndAShortTimeInLocalTime)
{
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    const QDateTime local(QDate(2024, 3, 5), QTime(14, 7, 41), Qt::LocalTime);
    QString text = ListingFormat::dateText(local.toUTC(), american);
    text.replace(QChar(0x202F), u' '); // newer locale data puts a narrow space before PM
    EXPECT_EQ(text, QStringLiteral("Mar 5, 2024, 2:07 PM"));
}

TEST(ListingFormat, TheDatePatternFollowsTheLocale)
{
    EXPECT_EQ(ListingFormat::abbreviatedDatePattern(QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("MMM d, yyyy"));
    EXPECT_EQ(ListingFormat::abbreviatedDatePattern(QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("d. MMM yyyy"));
}

} // namespace
} // namespace quillbarrow
