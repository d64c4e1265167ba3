#pragma once

#include <QString>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// Text equality and hashing as the whole system uses them: letter case matters, and canonically
// equivalent sequences (a precomposed "é" and "e" followed by a combining acute accent) are the
// same text. Every record compares and hashes its texts through here so that the rule lives in one
// place. An absent optional text equals only another absent one and hashes apart from any present
// text.
struct NfcText {
    static QString normalized(const QString& text);
    static bool equal(const QString& a, const QString& b);
    static bool equal(const std::optional<QString>& a, const std::optional<QString>& b);
    static std::size_t hash(const QString& text, std::size_t seed = 0);
    static std::size_t hash(const std::optional<QString>& text, std::size_t seed = 0);
};

} // namespace quillbarrow
