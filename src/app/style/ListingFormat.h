#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace quillbarrow {

// The texts of a listing's size and date cells. Both give "--" for an absent value.
class ListingFormat final {
public:
    static const QString& absentText();

    // The byte count in the file style ("Zero KB", "1.2 MB").
    static QString sizeText(std::optional<qint64> bytes);
    // The date and time in local time, the date with an abbreviated month and the time short,
    // without seconds, in the order the locale writes them ("Mar 5, 2024, 2:07 PM" in American
    // English, "5 Mar 2024, 14:07" in the C locale).
    static QString dateText(const std::optional<QDateTime>& date, const QLocale& locale = QLocale());
    // The locale's long date pattern without the day of the week, its month abbreviated
    // ("MMM d, yyyy" in American English, "d. MMM yyyy" in German).
    static QString abbreviatedDatePattern(const QLocale& locale);
};

} // namespace quillbarrow
