#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillbarrow {

// The user's stored preferences: values under text keys that persist across launches. Any text is
// a key, "/" and "\" included; a key holds one value at a time, and setting it replaces what was
// there whatever its type. A getter gives nothing when the key is absent or its value cannot be
// read as the asked type.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    virtual std::optional<QString> string(const QString& key) const = 0;
    virtual std::optional<QStringList> stringList(const QString& key) const = 0;
    virtual std::optional<bool> boolean(const QString& key) const = 0;

    virtual void setData(const QString& key, const QByteArray& value) = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    virtual void setStringList(const QString& key, const QStringList& value) = 0;
    virtual void setBoolean(const QString& key, bool value) = 0;

    virtual void remove(const QString& key) = 0;
    // Every key that holds a value, as it was given.
    virtual QStringList allKeys() const = 0;
};

} // namespace quillbarrow
