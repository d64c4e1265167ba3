#include "HashFeed.h"

#include "NfcText.h"

namespace quillbarrow {

HashFeed& HashFeed::text(const QString& value)
{
    return mix(NfcText::hash(value));
}

HashFeed& HashFeed::text(const std::optional<QString>& value)
{
    presence(value.has_value());
    return value ? text(*value) : *this;
}

HashFeed& HashFeed::texts(const QStringList& values)
{
    add(values.size());
    for (const QString& value : values) {
        text(value);
    }
    return *this;
}

HashFeed& HashFeed::presence(bool present)
{
    return mix(present ? std::size_t(0x9e3779b97f4a7c15ull) : std::size_t(0x2545f4914f6cdd1dull));
}

HashFeed& HashFeed::mix(std::size_t hash)
{
    // Order-dependent combination: the same values fed in another order hash differently.
    m_state ^= hash + 0x9e3779b9u + (m_state << 6) + (m_state >> 2);
    return *this;
}

} // namespace quillbarrow
