#pragma once

#include "LocalFolder.h"
#include "StagingRecord.h"

#include <QString>
#include <memory>
#include <optional>

namespace quillbarrow {

// The lock a running transfer holds on the hidden item it writes before the item takes its final
// name (a download's ".partial" file, a local copy's ".copying" folder), so that no sweep removes
// it. It ends with the object, and with the process: an item left by a transfer killed with its
// process is held by nobody, and the next transfer into that folder removes it, when the item is
// noted in the staging record as one this program made.
class StagingLock {
public:
    StagingLock() = default;
    explicit StagingLock(int descriptor, int error = 0) : m_descriptor(descriptor), m_error(error) {}
    // The lock on an item made as `identity`, held on `descriptor`; or, with -1, the item only
    // known (a link, or an item another transfer holds), so that discard() removes it and only it.
    StagingLock(int descriptor, std::optional<StagingRecord::Identity> identity)
        : m_descriptor(descriptor), m_identity(identity)
    {
    }
    StagingLock(StagingLock&& other) noexcept;
    StagingLock& operator=(StagingLock&& other) noexcept;
    StagingLock(const StagingLock&) = delete;
    StagingLock& operator=(const StagingLock&) = delete;
    ~StagingLock();

    bool isHeld() const { return m_descriptor >= 0; }
    int descriptor() const { return m_descriptor; }
    // Why the item could not be made, when it was not: the system's error number.
    int error() const { return m_error; }

    // Notes the held item, named `name` in `folder`, in `record` as one this program made; the
    // note is dropped when the lock ends (a killed program leaves it, for the next sweep). Nothing
    // is noted for a lock that is not held: a sweep of another program could take such an item
    // while it is written.
    void noteIn(std::shared_ptr<StagingRecord> record, const LocalFolder& folder, const QString& name);
    // Ends the lock now: the descriptor is closed, so the space of an item removed meanwhile is
    // free again, and the note is dropped.
    void release();
    // Moves the lock (and the note) to the plain file now at `name` in `folder` when it is no
    // longer the one held: a device session may write a download beside its destination and move
    // it over it. Only a file of the same owner that holds the bytes received is taken for the
    // session's: as many as `reportedBytes` (what the session reported) or as the file held
    // received itself, whichever is more; any other file put at the name is somebody else's, and
    // the lock stays on the file held. The file held before is let go of. False when the file
    // held is not at the name. Once followed, the item is known with its bytes (see item()): the
    // file held, with `received` (the bytes a complete receipt says it wrote), so that one written
    // to by another meanwhile (grown or cut) is not taken for the download.
    bool follow(const LocalFolder& folder, const QString& name, qint64 reportedBytes,
                std::optional<qint64> received);
    // Removes the held item, named `name` in `folder`, only while that name still leads to it
    // and it holds the bytes it is known with (whatever has been put at the name meanwhile, or
    // written into the item by another, stays), then ends the lock. False when something of the
    // item is left.
    bool discard(const LocalFolder& folder, const QString& name);
    // The held item as this program knows it, the bytes it received too once follow() weighed
    // them; none when it could not be read.
    std::optional<LocalFolder::Item> item() const;

    // Creates the file `name` in `folder` (never over anything, never through a link), locks it
    // and notes it in `record` when one is given.
    static StagingLock file(const LocalFolder& folder, const QString& name,
                            std::shared_ptr<StagingRecord> record = nullptr);
    // Removes the staging items in `folder` that `record` notes and no transfer holds:
    // ".partial" files and ".copying" files and folders of the hidden staging names only, each
    // only as the item that was noted; links are never followed, and an item the record does not
    // know is left alone, whatever its name, and so is one the note cannot tell from another item
    // (StagingRecord::Note::proves).
    static void removeStale(const LocalFolder& folder, StagingRecord& record);

private:
    int m_descriptor = -1;
    int m_error = 0;
    // The item, as it was made; none when it could not be read.
    std::optional<StagingRecord::Identity> m_identity;
    // The bytes it received, once weighed by follow().
    std::optional<qint64> m_bytes;
    // Where it is noted, and the note; none when it is not.
    std::shared_ptr<StagingRecord> m_record;
    StagingRecord::Note m_note;
};

} // namespace quillbarrow
