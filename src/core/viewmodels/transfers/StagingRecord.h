#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <mutex>
#include <optional>

namespace quillbarrow {

// The staging items (a download's ".partial" file, a local copy's ".copying" file or folder) that
// this program made and has not yet put in place or removed, so that the next transfer into a
// folder removes those a killed transfer left there, and never an item that merely carries such a
// name: in a folder others may write to, anyone can give one of the user's own folders that name.
//
// Each item is noted with what tells it from every other: its device, inode and birth time, the
// inode's generation where the disk keeps no birth time, the staging name it was given and the
// folder it is in. The note is written after the item is made and locked and before anything is
// written into it, and dropped once the item has its final name or is gone. The file is a log of
// notes, one a line ("+" noted, "-" dropped), appended to and not synced: a note has to outlive the
// program, which it does without, and a transfer of many small files must not wait for the disk.
//
// Any number of running copies of the program note in the same file. Each takes the file's lock
// only for as long as one line takes to write (shared, so that notes go in side by side) and finds
// the file anew when it has been rewritten meanwhile, so that no note goes to a file without a
// name. Whoever finds most of the file dropped notes, or more than maximumItems live, rewrites it
// beside itself with only the newest items still noted and moves it over the old one, under the
// lock for itself alone: the file stays small however many copies run and however long, and a
// reading at the start of a paste reads little.
//
// A file that is missing, cannot be read, is not a plain file of this user's, or says nothing
// that reads as a note knows no item: nothing is removed then. Nothing here waits on what stands
// at the file's name (a pipe there is not opened to wait for a writer). A record that cannot be
// written loses nothing but the chance to clean up after a killed transfer. Thread-safe; every
// call blocks on the file system.
class StagingRecord {
public:
    // What tells one item from every other on a disk that keeps birth times, for as long as it
    // exists, renamed or not.
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        // Nanoseconds since the epoch; 0 where the file system does not keep it.
        qint64 born = 0;

        bool operator==(const Identity&) const = default;
    };

    // One staging item as noted, or as found on the disk by a sweep.
    struct Note {
        Identity item;
        // The inode's generation, read only where the disk keeps no birth time, and only from a
        // file system of the kernel's own that gives one: such a disk gives an inode number freed
        // by a removal to the next new item, with a new generation. None where there is none.
        std::optional<quint32> generation;
        // The folder holding the item; all 0, and the name empty, in a note an older program wrote.
        Identity folder;
        // The staging name the item was given, as the bytes it is.
        QByteArray name;

        bool operator==(const Note&) const = default;
        // Whether `found`, an item as a sweep reads it now, is the very item this note was made
        // for, so that removing it removes nothing but what the paste left. Every part of the note
        // has to match, and the disk must not have been able to give the item's identity to
        // another item meanwhile: a birth time or a generation rules that out. Where the disk
        // keeps neither (exFAT through FUSE hands inode numbers out afresh each time it is
        // mounted), nothing does, and the item is left alone. A note an older program wrote (no
        // name, no folder) is trusted only with a birth time.
        bool proves(const Note& found) const;
    };

    // The most items the file keeps noted; the oldest beyond them are dropped when it is
    // rewritten. One transfer notes one item at a time, so only a great many killed transfers
    // whose items were never swept come near it.
    static constexpr qsizetype maximumItems = 4096;
    // How much the file may grow by beyond what its last rewrite left before a note
    // rewrites it, in bytes: about two thousand notes, so that a rewrite (a new file moved over
    // the old one, which the disk makes dear) comes about once in a thousand items of a paste of
    // many small files, and a reading still reads little.
    static constexpr qint64 growthBeforeRewrite = 256 * 1024;

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
    // The note for the item `item`, open at `descriptor` and named `name` in the folder open at
    // `folder` (any descriptor of it, O_PATH too).
    static Note noteOf(const Identity& item, int descriptor, int folder, const QByteArray& name);

    // Notes the item; false when the note could not be written.
    bool add(const Note& note);
    // Drops the note, if it is there.
    void remove(const Note& note);
    // The notes made and not dropped, oldest first, as the file says now. Rewrites the file when
    // dropped notes make up most of it, or it notes more than maximumItems.
    QList<Note> known();

    // For tests: the disk is taken to keep no birth times (as ext4 with 128-byte inodes), and with
    // `generations` false no inode generations either (as exFAT through FUSE). Both true again
    // gives the disk's own.
    static void setDiskKeepsForTesting(bool birthTimes, bool generations);

private:
    bool append(const QByteArray& line);
    // Rewrites the file open at `descriptor` with the items still noted when that is worth it,
    // unless another writer holds it this moment (a later note tries again). `read` is what was
    // read of it, if anything.
    void rewrite(int descriptor, const QByteArray* read);

    const QString m_file;
    std::mutex m_mutex;
    // The file, open for appending, without a lock between writes; -1 until first needed.
    int m_descriptor = -1;
    // The file's size just after this record's last note on it, which ended a line; -1 if unknown.
    qint64 m_end = -1;
    // The file's size past which the next write rewrites it.
    qint64 m_rewriteAt = growthBeforeRewrite;
};

size_t qHash(const StagingRecord::Identity& identity, size_t seed = 0);

} // namespace quillbarrow
