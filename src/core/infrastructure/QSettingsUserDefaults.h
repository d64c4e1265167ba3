#pragma once

#include "UserDefaults.h"

#include <QSettings>

#include <memory>

namespace quillbarrow {

// The application's user defaults, kept by QSettings. QSettings reads "/" and "\" in a key as
// group separators, so every key is escaped before it reaches QSettings ("%" as "%25", "/" as
// "%2F", "\" as "%5C") and unescaped when keys are listed: a device named "A/B" keeps one flat
// key of its own. A list of texts and a truth value come back from the file as plain text after a
// restart; the readers accept those forms.
class QSettingsUserDefaults final : public UserDefaults {
public:
    // The user's settings of the organisation and application "Quillbarrow" in the platform's
    // settings folder (QSettings::setPath moves that folder).
    QSettingsUserDefaults();
    // The settings in the given INI file.
    explicit QSettingsUserDefaults(const QString& iniFilePath);

    void remove(const QString& key) override;
    QStringList allKeys() const override;
    // Writes pending changes to disk (also done on destruction and from time to time by Qt).
    void sync();
    QString fileName() const;

    static QString escapedKey(const QString& key);
    static QString unescapedKey(const QString& stored);

protected:
    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    std::optional<QStringList> stringListFrom(const QVariant& stored) const override;
    std::optional<bool> boolFrom(const QVariant& stored) const override;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace quillbarrow
