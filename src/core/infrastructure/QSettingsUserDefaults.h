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
//
// Each write reaches the disk before it returns, so that a write the disk refuses (a read-only or
// full disk, a folder that cannot be made) is told to the writer with the file and the system's
// reason. QSettings replaces the file whole or not at all, so the file keeps what it held.
class QSettingsUserDefaults final : public UserDefaults {
public:
    // The user's settings of the organisation and application "Quillbarrow" in the platform's
    // settings folder (QSettings::setPath moves that folder).
    QSettingsUserDefaults();
    // The settings in the given INI file.
    explicit QSettingsUserDefaults(const QString& iniFilePath);

    bool hasUnsavedValues() const override;
    void remove(const QString& key) override;
    QStringList allKeys() const override;
    // Writes pending changes to disk (a removal; a value whose write failed).
    void sync();
    QString fileName() const;

    static QString escapedKey(const QString& key);
    static QString unescapedKey(const QString& stored);

protected:
    QVariant value(const QString& key) const override;
    std::optional<QString> setValue(const QString& key, const QVariant& value) override;
    std::optional<QStringList> stringListFrom(const QVariant& stored) const override;
    std::optional<bool> boolFrom(const QVariant& stored) const override;

private:
    std::unique_ptr<QSettings> m_settings;
    // The last write failed.
    bool m_unsaved = false;
};

} // namespace quillbarrow
