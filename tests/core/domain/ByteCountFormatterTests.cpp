#include "domain/ByteCountFormatter.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

namespace quillbarrow {
namespace {

struct Example {
    qint64 bytes;
    const char* text;
};

TEST(ByteCountFormatterTest, FileStyleExamples)
{
    const Example examples[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {2, "2 bytes"},
        {999, "999 bytes"},
        {1'000, "1 KB"},
        {1'499, "1 KB"},
        {1'500, "2 KB"},
        {999'499, "999 KB"},
        {999'500, "1 MB"}, // never "1000 KB"
        {1'000'000, "1 MB"},
        {1'049'999, "1 MB"},
        {1'050'000, "1.1 MB"},
        {1'500'000, "1.5 MB"},
        {1'234'567, "1.2 MB"},
        {100'000'000, "100 MB"},
        {999'949'999, "999.9 MB"},
        {999'950'000, "1 GB"},
        {1'234'567'890, "1.23 GB"},
        {1'005'000'000, "1.01 GB"},
        {1'050'000'000, "1.05 GB"},
        {1'100'000'000, "1.1 GB"},
        {256'000'000'000, "256 GB"},
        {999'995'000'000, "1 TB"},
        {2'500'000'000'000, "2.5 TB"},
        {7'000'000'000'000'000, "7 PB"},
        {1'000'000'000'000'000'000, "1 EB"},
        {std::numeric_limits<qint64>::max(), "9.22 EB"},
    };
    for (const Example& example : examples) {
        EXPECT_EQ(ByteCountFormatter::string(example.bytes), QString::fromUtf8(example.text)) << example.bytes;
    }
}

TEST(ByteCountFormatterTest, NegativeCountsAreTheMagnitudeWithAMinus)
{
    EXPECT_EQ(ByteCountFormatter::string(-1), "-1 byte");
    EXPECT_EQ(ByteCountFormatter::string(-1'500'000), "-1.5 MB");
    EXPECT_EQ(ByteCountFormatter::string(std::numeric_limits<qint64>::min()), "-9.22 EB");
}

TEST(ByteCountFormatterTest, DecimalPointDoesNotFollowTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = ByteCountFormatter::string(1'500'000);
    QLocale::setDefault(previous);
    EXPECT_EQ(text, "1.5 MB");
}

} // namespace
} // namespace quillbarrow
