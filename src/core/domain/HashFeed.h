#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// Feeds the fields of a record into one hash, in order. Texts go through NfcText so that
// canonically equivalent texts hash alike; an optional feeds a presence marker first, then its
// value when present, so that absence hashes differently from any present value.
class HashFeed {
public:
    explicit HashFeed(std::size_t seed) : m_state(seed) {}

    HashFeed& text(const QString& value);
    HashFeed& text(const std::optional<QString>& value);
    // The count first, then each text in order.
    HashFeed& texts(const QStringList& values);

    template <typename T>
    HashFeed& add(const T& value)
    {
        using ::qHash; // Qt's overloads for built-in types, beside those found through the value's type
        return mix(qHash(value, std::size_t{0}));
    }

    template <typename T>
    HashFeed& add(const std::optional<T>& value)
    {
        presence(value.has_value());
        return value ? add(*value) : *this;
    }

    std::size_t result() const { return m_state; }

private:
    HashFeed& presence(bool present);
    HashFeed& mix(std::size_t hash);

    std::size_t m_state;
};

} // namespace quillbarrow
