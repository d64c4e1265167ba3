#pragma once

#include "LocalFolder.h"
#include "PlacedItems.h"
#include "StagingLock.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>

namespace quillbarrow {

// The Mac-side file work of the transfer workflows. Every writing operation writes through
// folders held open (LocalFolder), never through a link, and puts its result in place only when
// it is complete: a copy is made under a hidden temporary name inside the destination folder and
// renamed to its final name at the end, and an item being replaced is moved aside first and
// deleted only after the new one is in place, so a failure never leaves a half-written item under
// the final name nor loses the old one.
class LocalFileOperations {
public:
    // `folder` with `name` appended, as the workflows spell destination paths.
    static QString childPath(const QString& folder, const QString& name);
    // The last component of a path, ignoring trailing slashes ("" for "/").
    static QString lastComponent(const QString& path);
    // Something (file, folder or link, even a dangling one) exists at the path.
    static bool itemExists(const QString& path);
    // The size attribute of the item itself (a link's or folder entry's own size, not its target's
    // or contents'); nothing when its attributes cannot be read.
    static std::optional<qint64> attributeBytes(const QString& path);
    // The Keep Both name: `name` itself when free, else the base name, a blank, 2, 3, ... and the
    // extension (the text after the last dot; a leading dot does not start one), the first that
    // is not taken. With `nextNumber`, numbers below the one it holds are known to be taken and
    // are not tried, and it is left holding the number after the one used, so that many items of
    // one name are numbered without trying every earlier number again.
    static QString keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken,
                                qint64* nextNumber = nullptr);
    // The same, each numbered name cut to `maximumBytes` (when above 0) by shortening the stem
    // before its number, by bytes and never splitting a character.
    static QString keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken,
                                qint64* nextNumber, qsizetype maximumBytes);
    // The most bytes a local name may have.
    static constexpr qsizetype maximumNameBytes = 255;
    // The Keep Both name in a local folder: taken when its path in `folder` is in `reserved` or
    // something exists there; never longer than maximumNameBytes. `nextNumber` as for keepBothName.
    static QString uniqueLocalName(const QString& name, const QString& folder, const QSet<QString>& reserved,
                                   qint64* nextNumber = nullptr);
    // `path` equals `folder` or lies inside it, both given as physical locations.
    static bool isSameOrInside(const QString& path, const QString& folder);
    // How one item stands to another: it is that item, it lies inside it (a folder holding it at
    // any depth), or neither.
    enum class Standing { apart, same, inside };
    // Where an item is: the link-free path of its folder with its own name appended (a link itself
    // is not followed; the cleaned absolute path when the folder cannot be resolved), and the
    // identities of the item itself and of every folder above it up to the root, and the item's
    // own status (a link itself; none of either when it is not there).
    struct Place {
        QString physical;
        QList<LocalFolder::Identity> lineage;
        std::optional<struct stat> status;
    };
    // Finds where items are and how they stand to each other, reading what lies above each folder
    // once, and each folder's names at most once: the items of one paste mostly share their
    // folders. Blocking.
    class Places {
    public:
        Place of(const QString& path);
        // How the item at `item` stands to the item at `other`. Identity decides first. A disk in
        // user space may give one entry another inode number for each spelling of its name (the
        // exFAT one does), so the paths are then compared name by name: two names that differ in
        // letter case alone are one entry where the disk answers to a spelling it does not list.
        // Taking too many names alike only refuses a copy.
        Standing standing(const Place& item, const Place& other);

        // For tests only: called with the path of every folder whose names are read. An empty
        // function (the default) removes the hook.
        static void setListingHookForTesting(std::function<void(const QString& folder)> hook);

    private:
        // `one` and `another`, two names in `folder`, are spellings of one entry (see standing()).
        bool spellingsOfOneEntry(const QString& folder, const QString& one, const QString& another);

        QHash<QString, Place> m_folders;
        // The names of each folder read, none for one that could not be listed.
        QHash<QString, std::optional<QSet<QByteArray>>> m_names;
    };

    // A new hidden path beside `target` ending in `suffix`: on the same file system, so moving it
    // to `target` is a rename, and never listed by the local browser, which skips hidden entries.
    static QString hiddenSibling(const QString& target, const QString& suffix);
    // A new hidden name ending in `suffix`, as hiddenSibling makes them.
    static QString hiddenName(const QString& suffix);

    // The most levels of folders, one inside another, that a copied folder may hold: a deeper tree
    // fails, named, rather than running the copying thread's stack or the process's descriptors out.
    static constexpr int maximumCopyDepth = 256;
    // Why a folder is not copied into itself or into a folder inside it: the copy would go on
    // copying its own copy.
    static QString intoItselfReason();
    // A path inside a copied item as a failure names it: one of more than eight names keeps its
    // first three and last three around "…", so that the sentence stays short however deep it lies.
    static QString shortened(const QString& path);

    // A copy made under a hidden name inside the destination folder, ready to take its final name.
    struct StagedCopy {
        // The lock on the copy (a file or a folder; a link is not locked): no sweep takes it. It
        // knows the copy as it was made, a link too; nothing before the copy exists.
        StagingLock lock;
        // The copy's hidden ".copying" name in `holder`, the destination folder.
        QString name;
        std::shared_ptr<LocalFolder> holder;
        // Why the copy could not be made; nothing of it is left then, and the space it took is
        // free again.
        std::optional<QString> failure;
        // Entries inside a copied folder that were left out, each to fail on its own: those that
        // are not files, folders or links (named pipes, sockets, devices), and those whose name
        // the disk already holds for an entry copied before (on a disk that ignores case, "b"
        // beside "B"). Their paths from the copied item down, and why.
        struct LeftOut {
            QString entry;
            QString reason;
        };
        QList<LeftOut> leftOut;
        // Removes the copy when it still has its hidden name (it was not put in place), and only
        // the copy, then ends its lock.
        void discard();
    };
    // Copies the item at `source` (a file, a link as a link, or a folder with everything in it)
    // into `destination` under a new hidden ".copying" name, writing only through held
    // descriptors. A copy takes the source's permission bits without set-user-ID and
    // set-group-ID, less the umask, as a plain copy does; a folder made in a set-group-ID folder
    // keeps the set-group-ID bit the system gives it there. A folder's mode is applied after its
    // contents are in, so a read-only folder can be copied by its owner. A folder's entries are
    // copied in name order. An entry that is neither a file, a folder nor a link, or whose name
    // the disk already holds there, is left out of a copied folder and listed in leftOut; as the
    // copied item itself it fails the copy. The copy never enters its own hidden item: met inside
    // the source, it fails the copy as a folder copied into itself. A tree deeper than
    // maximumCopyDepth fails it too, saying so. A file or folder copy is noted in `record`, when
    // given, from the moment it is made until its lock ends.
    //
    // `goOn`, when given, is called on the copying thread after each entry with the bytes of the
    // files copied so far; false stops the copy, removes what was made of it and gives a failure.
    using CopyStep = std::function<bool(qint64 bytesCopied)>;
    static StagedCopy stageCopy(const QString& source, const LocalFolder& destination, const CopyStep& goOn = {},
                                std::shared_ptr<StagingRecord> record = nullptr);
    // stageCopy into the folder of `target`, then moveIntoPlace. Nothing on success, else a
    // description of the failure.
    static std::optional<QString> copyItem(const QString& source, const QString& target, bool replace,
                                           const CopyStep& goOn = {}, std::shared_ptr<StagingRecord> record = nullptr);

    // How putting an item in place ended.
    struct Placement {
        enum class Outcome {
            placed,
            // Without Replace, the disk holds an item of that name (whatever case it has there):
            // the staged item is still there, to be placed under another name or not at all.
            taken,
            // Replace met an item this paste put in place itself: it was left as it is, and so is
            // the staged item.
            ownItem,
            // The staged item is removed, and `failure` says why; or, when it is the item replaced
            // that could not be removed whole (or was moved away from where it was set aside),
            // the staged item is in place and `failure` says where the old one is.
            failed,
        };
        Outcome outcome;
        QString failure;
    };
    // Puts the complete item `staging` of `from` at `name` in `to` with a rename that never
    // replaces anything, so an item that appeared there meanwhile is never overwritten. Only while
    // `staging` is `made`, the item the paste wrote (its identity, and for a download the bytes
    // received): another item put at that name fails the placing, names where it is, and stays
    // there. With `replace`, the item at `name` is first held and moved aside to a hidden name,
    // moved back when the new item cannot take its place, and deleted once it has; each only while
    // it is the item held, so that an item put at either name meanwhile stays where it is (see
    // LocalFolder::moveIfSame and removeIfSame). An old item that holds another file
    // system (a mounted disk), which nothing is removed from, is not replaced: it stays where it
    // is. A failure's description begins with `failureLead` ("Could not save a.txt in /dest"), or
    // "Could not replace <name>" when the old item could not be moved aside or removed whole; an
    // old item that could not be moved back is named with the path where it now is, and so
    // is what is left of one that could not be removed whole once the new item took its place
    // (placed then, and failed). With `placed` (and the paste's `root`), an item the paste itself
    // put in place is never replaced: known by what the name reaches before anything moves (the
    // staged item, beside it, tells whether the disk ignores case); a placed item is
    // recorded there.
    static Placement moveIntoPlace(const LocalFolder& from, const QString& staging,
                                   const std::optional<LocalFolder::Item>& made, const LocalFolder& to,
                                   const QString& name, bool replace, const QString& failureLead,
                                   PlacedItems* placed = nullptr, const LocalFolder* root = nullptr);
    // moveIntoPlace for absolute paths in one folder, without a record of placed items, for the
    // item at `staging` now; a name taken is a failure. On failure that item is removed.
    static std::optional<QString> moveIntoPlace(const QString& staging, const QString& target, bool replace,
                                                const QString& failureLead);
    // Removes the item, a folder with everything in it; false when something is left. Folders
    // that their owner may not write to (a copied read-only folder) are opened up first.
    static bool removeItem(const QString& path);

    // The bytes this user may still write on the file system that holds `folder`; nothing when
    // unknown.
    static std::optional<qint64> availableBytes(const QString& folder);
    // Why writing `expectedBytes` (of which `writtenBytes` are in) into `folder` failed when the
    // cause is the computer's own: ENOSPC when the file system has no room left for the rest,
    // else the errno of a folder that cannot be written to; 0 when neither holds.
    static int localWriteFault(const QString& folder, std::optional<qint64> expectedBytes, qint64 writtenBytes);

    // For tests only: answers availableBytes instead of the file system while set.
    using SpaceHook = std::function<std::optional<qint64>(const QString& folder)>;
    static void setAvailableBytesHookForTesting(SpaceHook hook);

    // For tests only: called before every rename that moves an item into place, aside or back,
    // with its two paths; a nonzero result is taken as that rename's errno and the rename is not
    // made. An empty function (the default) removes the hook.
    using RenameHook = LocalFolder::RenameHook;
    static void setRenameHookForTesting(RenameHook hook);
};

} // namespace quillbarrow
