#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace quillbarrow {

// The application's small persistent settings: values under flat text keys, where any
// character, "/" and "\" included, is part of the key and never a group separator. Each typed
// reader gives nothing when the key is missing or holds a value of another kind. A writer that
// would store what the key already holds writes nothing: a store on disk is then not rewritten,
// which for a big store (tens of thousands of favourites) is most of the start-up. Main thread.
//
// Each writer returns nothing once the value is kept, or the sentence people are shown when it
// could not be written to disk ("Could not save settings in <file>: <reason>"). Such a value still
// reads back for the rest of the run and goes to disk with the next write that can be made; what
// the disk held before stays as it was.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // Raw bytes (stored documents such as JSON); a text value is not data.
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QString> setData(const QString& key, const QByteArray& value);

    std::optional<QString> string(const QString& key) const;
    std::optional<QString> setString(const QString& key, const QString& value);

    std::optional<QStringList> stringList(const QString& key) const;
    std::optional<QString> setStringList(const QString& key, const QStringList& value);

    // False when the key is missing or holds no truth value.
    bool boolValue(const QString& key) const;
    std::optional<QString> setBool(const QString& key, bool value);

    // Some value could not be written to disk and no write has worked since (it still reads back).
    // A writer with nothing to write returns nothing, also then.
    virtual bool hasUnsavedValues() const;

    virtual void remove(const QString& key) = 0;
    // Every key that holds a value, in no promised order.
    virtual QStringList allKeys() const = 0;

protected:
    // What a store keeps: an invalid QVariant for a missing key.
    virtual QVariant value(const QString& key) const = 0;
    virtual std::optional<QString> setValue(const QString& key, const QVariant& value) = 0;
    // How this store reads back a list of texts; a store may lose the list's type on disk.
    virtual std::optional<QStringList> stringListFrom(const QVariant& stored) const;
    virtual std::optional<bool> boolFrom(const QVariant& stored) const;
};

} // namespace quillbarrow
