#pragma once

#include "domain/AndroidDevice.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <mutex>
#include <optional>

namespace quillbarrow {

// The uploads that a session had begun and could not see to their end: what each was about to
// create on the device, so that the next session on that device can remove a truncated object
// that an interrupted upload (a pulled cable, say) left under the file's final name.
//
// Kept in a small file per device in a folder of the user's, so that it outlives the program: an
// entry is written before the first byte is sent and removed once the session knows what the
// upload left. The file is a log of records, one a line, that the device's session keeps open and
// appends to (an upload costs two short writes, never a rewrite); compact() rewrites it with only
// the entries still due, as a session opens and closes. A record torn by a crash is ignored when
// the log is read. Thread-safe; every call blocks on the file system. A log that cannot be written
// loses nothing but the chance to clean up.
class InterruptedUploadLog {
public:
    struct Entry {
        QString storageID;
        // The names of the folders from the storage root down to the upload's parent.
        QStringList folder;
        QString name;
        // The file's full size: a smaller object of that name is what the upload left.
        qint64 size = 0;
        // A whole local copy of the object that the upload replaces, deleted before the upload
        // began: sent back under the name when the upload did not arrive whole. Empty for none.
        QString keptCopy;

        bool operator==(const Entry&) const = default;
        // Whether both name the same object on the device.
        bool sameTarget(const Entry& other) const;
    };

    // The log in `folder`, created when first written.
    explicit InterruptedUploadLog(QString folder);
    ~InterruptedUploadLog();
    InterruptedUploadLog(const InterruptedUploadLog&) = delete;
    InterruptedUploadLog& operator=(const InterruptedUploadLog&) = delete;

    // The application's: "quillbarrow/interrupted-uploads" in the user's state folder
    // ($XDG_STATE_HOME, else ~/.local/state).
    static std::shared_ptr<InterruptedUploadLog> standard();
    // What tells the device apart from others across sessions and plugging: its manufacturer,
    // model and serial number. None for a device without a serial number, which another device of
    // the same model could not be told from.
    static std::optional<QString> deviceKey(const AndroidDevice& device);
    // The key under which earlier versions kept the log of a device whose serial number is a
    // stand-in that phones of a model share; none for any other device. Such a log is only
    // emptied: its copies kept where they are, under their own names.
    static std::optional<QString> formerDeviceKey(const AndroidDevice& device);

    const QString& folder() const { return m_folder; }
    // The device's entries, oldest first; none when there are none or the file cannot be read.
    QList<Entry> entries(const QString& deviceKey) const;
    // Adds the entry, in place of any for the same target; false when it could not be written (or
    // would not be read back: the log's first line does not name the device).
    bool add(const QString& deviceKey, const Entry& entry);
    // Removes the entry for the same target, if any; false when the change could not be written.
    bool remove(const QString& deviceKey, const Entry& entry);
    // Rewrites the device's log with only its entries (removing the file when there are none)
    // and closes it; the next add or remove opens it again. A log that cannot be read whole, or
    // whose rewrite cannot be written, stays as it is.
    void compact(const QString& deviceKey);

private:
    QString fileOf(const QString& deviceKey) const;
    // None when the log is there but cannot be read whole.
    std::optional<QList<Entry>> read(const QString& deviceKey) const;
    bool append(const QString& deviceKey, const QByteArray& record);
    void closeLog(const QString& deviceKey);

    QString m_folder;
    mutable std::mutex m_mutex;
    // The devices' logs open for appending.
    QHash<QString, std::shared_ptr<QFile>> m_open;
};

} // namespace quillbarrow
