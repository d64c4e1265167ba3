#include "InMemoryUserDefaults.h"

namespace quillbarrow {

void InMemoryUserDefaults::remove(const QString& key)
{
    m_values.remove(key);
}

QStringList InMemoryUserDefaults::allKeys() const
{
    return m_values.keys();
}

QVariant InMemoryUserDefaults::value(const QString& key) const
{
    return m_values.value(key);
}

std::optional<QString> InMemoryUserDefaults::setValue(const QString& key, const QVariant& value)
{
    m_values.insert(key, value);
    return std::nullopt;
}

} // namespace quillbarrow
