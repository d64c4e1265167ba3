#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <mutex>
#include <optional>

namespace quillbarrow {

// The staging items (a download's ".partial" file, a local copy's ".copying" file or folder) that
// this program made and has not yet put in place or removed, so that the next transfer into a
// folder removes those a killed transfer left there, and never an item that merely carries such a
// name: in a folder others may write to, anyone can give one of the user's own folders that name.
//
// Each item is known by its device, inode and birth time, noted in a file of the user's (mode
// 0600) after the item is made and locked and before anything is written into it, and dropped
// once it has its final name or is gone. The file is a log of records, one a line ("+" noted,
// "-" dropped), appended to and not synced: a note has to outlive the program, which it does
// without, and a transfer of many small files must not wait for the disk. Now and then it is
// rewritten with only the items still noted, never more than maximumItems of them, when no other
// program has it open to note in it (a lock on the file tells).
//
// A file that is missing, cannot be read, is not a plain file of this user's, or says nothing
// that reads as a record knows no item: nothing is removed then. A record that cannot be written
// loses nothing but the chance to clean up after a killed transfer. Thread-safe; every call blocks
// on the file system.
class StagingRecord {
public:
    // What tells one item from every other for as long as it exists, renamed or not.
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        // Nanoseconds since the epoch; 0 where the file system does not keep it.
        qint64 born = 0;

        bool operator==(const Identity&) const = default;
    };

    // The most items the file keeps noted; the oldest beyond them are dropped when it is
    // rewritten. One transfer notes one item at a time, so only a great many killed transfers
    // whose items were never swept come near it.
    static constexpr qsizetype maximumItems = 4096;

    // The record in `file`, created (with its folder) when first written.
    explicit StagingRecord(QString file);
    ~StagingRecord();
    StagingRecord(const StagingRecord&) = delete;
    StagingRecord& operator=(const StagingRecord&) = delete;

    // The application's: "quillbarrow/staging-items" in the user's state folder ($XDG_STATE_HOME,
    // else ~/.local/state).
    static QString standardFile();
    const QString& file() const { return m_file; }

    // The identity of the item open at `descriptor`, or of the entry `name` in the folder open at
    // `folder` (a link itself, not what it leads to); none when it cannot be read.
    static std::optional<Identity> identityOf(int descriptor);
    static std::optional<Identity> identityAt(int folder, const QByteArray& name);

    // Notes the item; false when the note could not be written.
    bool add(const Identity& item);
    // Drops the note of the item, if any.
    void remove(const Identity& item);
    // The items noted and not dropped, as the file says now. Rewrites the file when dropped notes
    // make up most of it.
    QSet<Identity> known();

private:
    bool append(const QByteArray& line);
    void compact();

    const QString m_file;
    std::mutex m_mutex;
    // The file, open for appending under a shared lock; -1 until first needed.
    int m_descriptor = -1;
};

size_t qHash(const StagingRecord::Identity& identity, size_t seed = 0);

} // namespace quillbarrow
