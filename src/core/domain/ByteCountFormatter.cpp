#include "ByteCountFormatter.h"

#include <array>
#include <cstdint>

namespace quillbarrow {

namespace {

struct Unit {
    const char* name;
    std::uint64_t bytes;
    int fractionDigits;
};

constexpr std::array<Unit, 6> units{{
    {"KB", 1'000ull, 0},
    {"MB", 1'000'000ull, 1},
    {"GB", 1'000'000'000ull, 2},
    {"TB", 1'000'000'000'000ull, 2},
    {"PB", 1'000'000'000'000'000ull, 2},
    {"EB", 1'000'000'000'000'000'000ull, 2},
}};

std::uint64_t powerOfTen(int exponent)
{
    std::uint64_t value = 1;
    for (int i = 0; i < exponent; ++i) {
        value *= 10;
    }
    return value;
}

// `magnitude` divided by `step`, rounded half up, in integers so that no count loses precision.
std::uint64_t roundedQuotient(std::uint64_t magnitude, std::uint64_t step)
{
    const std::uint64_t quotient = magnitude / step;
    const std::uint64_t remainder = magnitude % step;
    return remainder >= step - remainder ? quotient + 1 : quotient;
}

QString formatMagnitude(std::uint64_t magnitude)
{
    if (magnitude == 0) {
        return QStringLiteral("Zero KB");
    }
    if (magnitude == 1) {
        return QStringLiteral("1 byte");
    }
    if (magnitude < 1000) {
        return QString::number(magnitude) + QStringLiteral(" bytes");
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const Unit& unit = units[i];
        const std::uint64_t scale = powerOfTen(unit.fractionDigits);
        // The count in units of the last shown fraction digit, e.g. tenths of a megabyte.
        const std::uint64_t scaled = roundedQuotient(magnitude, unit.bytes / scale);
        const bool lastUnit = i + 1 == units.size();
        if (scaled >= 1000 * scale && !lastUnit) {
            continue; // rounds to 1,000 or more of this unit: the next unit shows it
        }
        QString text = QString::number(scaled / scale);
        if (unit.fractionDigits > 0) {
            QString fraction = QString::number(scaled % scale).rightJustified(unit.fractionDigits, QLatin1Char('0'));
            while (fraction.endsWith(QLatin1Char('0'))) {
                fraction.chop(1);
            }
            if (!fraction.isEmpty()) {
                text += QLatin1Char('.') + fraction;
            }
        }
        return text + QLatin1Char(' ') + QLatin1StringView(unit.name);
    }
    return {}; // not reached: the last unit always formats
}

} // namespace

QString ByteCountFormatter::string(qint64 byteCount)
{
    if (byteCount < 0) {
        // The magnitude of the lowest qint64 does not fit in a qint64 but does in 64 unsigned bits.
        const std::uint64_t magnitude = std::uint64_t{0} - static_cast<std::uint64_t>(byteCount);
        return QLatin1Char('-') + formatMagnitude(magnitude);
    }
    return formatMagnitude(static_cast<std::uint64_t>(byteCount));
}

} // namespace quillbarrow
