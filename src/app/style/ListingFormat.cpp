#include "ListingFormat.h"

#include "domain/ByteCountFormatter.h"

#include <QRegularExpression>

namespace quillbarrow {

const QString& ListingFormat::absentText()
{
    static const QString text = QStringLiteral("--");
    return text;
}

QString ListingFormat::sizeText(std::optional<qint64> bytes)
{
    return bytes ? ByteCountFormatter::string(*bytes) : absentText();
}

QString ListingFormat::abbreviatedDatePattern(const QLocale& locale)
{
    QString pattern = locale.dateFormat(QLocale::LongFormat);
    // The weekday with whatever separates it from the rest ("dddd, " or ", dddd").
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*|[,]?\\s*d{4}"));
    pattern.remove(weekday);
    // Full month names become abbreviated ones; "MMM" and shorter stay as they are.
    static const QRegularExpression fullMonth(QStringLiteral("M{4}"));
    pattern.replace(fullMonth, QStringLiteral("MMM"));
    return pattern.trimmed();
}

QString ListingFormat::dateText(const std::optional<QDateTime>& date, const QLocale& locale)
{
    if (!date || !date->isValid()) {
        return absentText();
    }
    const QDateTime local = date->toLocalTime();
    // The C locale's short time keeps the seconds, which no named locale's does.
    static const QRegularExpression seconds(QStringLiteral("[:.]s+"));
    const QString time = locale.timeFormat(QLocale::ShortFormat).remove(seconds);
    return locale.toString(local.date(), abbreviatedDatePattern(locale)) + QStringLiteral(", ") +
           locale.toString(local.time(), time);
}

} // namespace quillbarrow
