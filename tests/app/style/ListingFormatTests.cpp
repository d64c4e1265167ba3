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

TEST(ListingFormat, DatesHaveAnAbbreviatedMonthAndAShortTimeWithoutSecondsInLocalTime)
{
    const QDateTime local(QDate(2024, 3, 5), QTime(14, 7, 41), Qt::LocalTime);
    const std::pair<QLocale, QString> cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), QStringLiteral("Mar 5, 2024, 2:07 PM")},
        {QLocale::c(), QStringLiteral("5 Mar 2024, 14:07")},
        {QLocale(QLocale::German, QLocale::Germany), QStringLiteral("5. M\u00e4rz 2024, 14:07")}};
    for (const auto& [locale, expected] : cases) {
        EXPECT_EQ(ListingFormat::dateText(local.toUTC(), locale).replace(QChar(0x202F), u' '), expected)
            << locale.name().toStdString(); // newer locale data puts a narrow space before PM
    }
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
