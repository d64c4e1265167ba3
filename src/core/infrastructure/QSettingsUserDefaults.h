#pragma once

#include "UserDefaults.h"

#include <QSettings>

#include <memory>

namespace quillbarrow {

// The application's user defaults, kept by QSettings under the organisation "Quillbarrow". Keys
// are stored escaped, so that a "/" or "\" in a key (a device name, a folder path) never makes a
// settings group: "%" becomes "%25", "/" "%2F" and "\" "%5C".
class QSettingsUserDefaults : public UserDefaults {
public:
    // The user's settings of the application.
    QSettingsUserDefaults();
    // Settings kept in the INI file at `filePath` (tests, tools).
    explicit QSettingsUserDefaults(const QString& filePath);
    ~QSettingsUserDefaults() override;

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

    static QString escapedKey(const QString& key);
    static QString unescapedKey(const QString& storedKey);

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace quillbarrow
