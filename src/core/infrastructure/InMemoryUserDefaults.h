#pragma once

#include "UserDefaults.h"

#include <QHash>

namespace quillbarrow {

// User defaults that live as long as the object: for tests and throw-away sessions. Values
// keep exactly the kind they were written with.
class InMemoryUserDefaults final : public UserDefaults {
public:
    void remove(const QString& key) override;
    QStringList allKeys() const override;

protected:
    QVariant value(const QString& key) const override;
    std::optional<QString> setValue(const QString& key, const QVariant& value) override;

private:
    QHash<QString, QVariant> m_values;
};

} // namespace quillbarrow
