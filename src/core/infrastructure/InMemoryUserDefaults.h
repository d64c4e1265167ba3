#pragma once

#include "UserDefaults.h"

#include <QMap>
#include <QVariant>

namespace quillbarrow {

// User defaults that live only as long as the object: for tests and throw-away instances.
class InMemoryUserDefaults : public UserDefaults {
public:
    std::optional<QByteArray> data(const QString& key) const override;
    std::optional<QString> string(const QString& key) const override;
    std::optional<QStringList> stringList(const QString& key) const override;
    std::optional<bool> boolean(const QString& key) const override;

    void setData(const QString& key, const QByteArray& value) override;
    void setString(const QString& key, const QString& value) override;
    void setStringList(const QString& key, const QStringList& value) override;
    void setBoolean(const QString& key, bool value) override;

    void remove(const QString& key) override;
    QStringList allKeys() const override;

private:
    QMap<QString, QVariant> m_values;
};

} // namespace quillbarrow
