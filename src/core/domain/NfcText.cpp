#include "NfcText.h"

#include <QHashFunctions>

#include <algorithm>

namespace quillbarrow {

namespace {
// Fed before an optional's value so that absence and every present value hash differently.
constexpr std::size_t absentMarker = 0x5a17a5e1u;
constexpr std::size_t presentMarker = 0x9e3779b9u;
} // namespace

namespace {

// ASCII text is its own normal form, and two different ASCII texts are never equivalent.
bool isAscii(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar unit) { return unit.unicode() < 0x80; });
}

} // namespace

QString NfcText::normalized(const QString& text)
{
    // Pure ASCII text is returned shared, without a copy; only other text pays for normalisation.
    return text.normalized(QString::NormalizationForm_C);
}

bool NfcText::equal(const QString& a, const QString& b)
{
    if (a == b) {
        return true;
    }
    if (isAscii(a) && isAscii(b)) {
        return false;
    }
    return normalized(a) == normalized(b);
}

bool NfcText::equal(const std::optional<QString>& a, const std::optional<QString>& b)
{
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a.has_value() || equal(*a, *b);
}

std::size_t NfcText::hash(const QString& text, std::size_t seed)
{
    return isAscii(text) ? qHash(text, seed) : qHash(normalized(text), seed);
}

std::size_t NfcText::hash(const std::optional<QString>& text, std::size_t seed)
{
    if (!text.has_value()) {
        return ::qHash(absentMarker, seed);
    }
    return hash(*text, ::qHash(presentMarker, seed));
}

} // namespace quillbarrow
