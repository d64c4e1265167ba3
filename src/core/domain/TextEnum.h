#pragma once

#include "JsonDecodingError.h"

#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace quillbarrow {

// The shared rules of the enumerations that have a text form (connection kind, item kind, sort
// key, transfer direction and purpose). Each enumeration specialises TextEnumTraits with its type
// name and its cases in declaration order, each with its text:
//
//     template <> struct TextEnumTraits<FileSort> {
//         static constexpr const char* typeName = "FileSort";
//         static constexpr std::array cases{std::pair{FileSort::name, "name"}, ...};
//     };
//
// Creating a value from a text accepts exactly one of the case texts (letter case matters).
template <typename E>
struct TextEnumTraits;

template <typename E>
QLatin1StringView toText(E value)
{
    for (const auto& [candidate, text] : TextEnumTraits<E>::cases) {
        if (candidate == value) {
            return QLatin1StringView(text);
        }
    }
    return {};
}

template <typename E>
std::optional<E> fromText(QStringView text)
{
    for (const auto& [candidate, caseText] : TextEnumTraits<E>::cases) {
        if (text == QLatin1StringView(caseText)) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Every case, in declaration order.
template <typename E>
constexpr auto allCases()
{
    constexpr auto& cases = TextEnumTraits<E>::cases;
    std::array<E, cases.size()> values{};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        values[i] = cases[i].first;
    }
    return values;
}

// Encoded as its text, a bare JSON string.
template <typename E>
QJsonValue toJson(E value)
{
    return QJsonValue(QString(toText(value)));
}

// Throws JsonDecodingError unless the value is a JSON string holding one of the case texts.
template <typename E>
E enumFromJson(const QJsonValue& json)
{
    const QLatin1StringView typeName(TextEnumTraits<E>::typeName);
    if (!json.isString()) {
        throw JsonDecodingError(QStringLiteral("Expected a JSON string for %1, found %2.")
                                    .arg(typeName, JsonDecodingError::describeType(json.type())));
    }
    const QString text = json.toString();
    if (const std::optional<E> value = fromText<E>(text)) {
        return *value;
    }
    throw JsonDecodingError(QStringLiteral("\"%1\" is not a %2.").arg(text, typeName));
}

} // namespace quillbarrow
