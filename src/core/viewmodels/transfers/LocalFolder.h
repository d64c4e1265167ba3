#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace quillbarrow {

// A local folder held open, so that everything written into it lands in that very folder even
// when its path is changed meanwhile: a folder renamed, or swapped for a link to another place,
// after a paste was planned. Folders inside it are reached one name at a time without following
// links, so a link found on the way is a failure, never a way out of the folder.
//
// Move-only; the descriptor is closed with the object. Blocking: every call asks the disk.
class LocalFolder {
public:
    LocalFolder() = default;
    LocalFolder(LocalFolder&& other) noexcept;
    LocalFolder& operator=(LocalFolder&& other) noexcept;
    LocalFolder(const LocalFolder&) = delete;
    LocalFolder& operator=(const LocalFolder&) = delete;
    ~LocalFolder();

    // Why a folder could not be reached where the system gives no error number: the folder has
    // been replaced by another one since the paste began, or it is a link whose folder is gone.
    static constexpr int replacedFolder = -2;
    static constexpr int linkedFolderGone = -3;
    // Why an entry was not moved: its name holds another item than the one expected.
    static constexpr int anotherItem = -4;

    // An entry's identity on this computer (a folder's, or any other item's), whatever path leads
    // to it.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        // The identity of the entry whose status is `status`.
        static Identity of(const struct stat& status) { return Identity{status.st_dev, status.st_ino}; }
        friend bool operator==(const Identity&, const Identity&) = default;
    };

    // The folder at `path` as it is now (links on the way to it are followed: it is the folder
    // the user chose). Not open when it cannot be opened; error() says why.
    static LocalFolder open(const QString& path);
    // The folder reached from `above` by `names`, one name at a time, each made when missing and
    // never through a link; held as a folder of its own at `path`, as open() would give it. Not
    // open on failure: path() is the folder that could not be reached, error() why (ELOOP when a
    // link stands at its name).
    static LocalFolder madeBelow(const LocalFolder& above, const QStringList& names, const QString& path);
    // A folder that could not be reached, at `path`, for `error`.
    static LocalFolder unreached(const QString& path, int error);

    bool isOpen() const { return m_descriptor >= 0; }
    int descriptor() const { return m_descriptor; }
    // Why the folder could not be reached: the system's error number, ELOOP for a link in the way.
    int error() const { return m_error; }
    // The path the folder was reached by, for messages.
    const QString& path() const { return m_path; }
    // The names of the folders from the one opened with open() down to this one (empty for it).
    const QStringList& components() const { return m_components; }
    // The path of `name` in this folder, for messages.
    QString childPath(const QString& name) const;
    // `folder` with `name` appended, as the transfers spell local paths.
    static QString pathIn(const QString& folder, const QString& name);
    // A path to `name` in this folder that reaches it through the held descriptor, for callers
    // that can only be given a path: it leads into this folder wherever it has been moved.
    QString pathThrough(const QString& name) const;

    // The folder `name` inside this one, never through a link; with `create`, made when missing.
    // Not open on failure, with the reason in error().
    LocalFolder folder(const QString& name, bool create) const;
    // This folder once more, on a descriptor of its own; not open, with the same error, when
    // this one is not.
    LocalFolder reopened() const;
    // The identity of this folder; nothing when it is not open.
    std::optional<Identity> identity() const;
    // The identities of this folder and of every folder above it up to the root, found by going
    // up from the folder itself: how a path to it is spelled, or the links it leads through, does
    // not matter. Empty when it is not open.
    QList<Identity> lineage() const;
    // The status of the entry `name` itself (a link is not followed); nothing when there is none.
    std::optional<struct stat> status(const QString& name) const;
    bool contains(const QString& name) const { return status(name).has_value(); }
    // The status of the entry `name` as the disk holds it now, never as remembered from an
    // earlier look (a disk in user space is asked again): its kind and size only.
    std::optional<struct stat> freshStatus(const QString& name) const;

    // An item a paste moved or made, as the paste knows it: its identity and, for a file whose
    // bytes were received, how many bytes it holds. An entry that is not this item is never
    // moved or removed in its place.
    struct Item {
        Identity identity;
        std::optional<qint64> bytes = std::nullopt;
    };
    // An entry of a folder held open as it was looked at (a link itself, never what it leads
    // to): its item is told from whatever is put at its name later, and it is found wherever it
    // is moved meanwhile. Move-only; not open when nothing could be held.
    class HeldEntry {
    public:
        HeldEntry() = default;
        HeldEntry(HeldEntry&& other) noexcept;
        HeldEntry& operator=(HeldEntry&& other) noexcept;
        HeldEntry(const HeldEntry&) = delete;
        HeldEntry& operator=(const HeldEntry&) = delete;
        ~HeldEntry();

        bool isOpen() const { return m_descriptor >= 0; }
        // The entry's status when it was held.
        const struct stat& status() const { return m_status; }
        Item item() const { return Item{Identity::of(m_status)}; }
        // The path of the entry now: `name` in `folder` while the entry is still there, else where
        // the system finds it; empty when it is gone.
        QString whereNow(const LocalFolder& folder, const QString& name) const;

    private:
        friend class LocalFolder;
        int m_descriptor = -1;
        struct stat m_status {};
    };
    // The entry `name` held as it is now; not open when there is none (errno says why).
    HeldEntry hold(const QString& name) const;
    // Whether the entry `name` is `item` now: 0, anotherItem, or the errno of the look (ENOENT
    // when nothing is there).
    int holdsItem(const QString& name, const Item& item) const;

    // Renames `from` in this folder to `to` in `target` only when nothing is there: atomically
    // where the file system can, else after a look. The errno of a failure, or 0.
    int renameWithoutReplacing(const QString& from, const LocalFolder& target, const QString& to) const;
    // Renames `from` to `to` in this folder even when the system remembers an item at `to` (for a
    // name just found free by opening it). The errno of a failure, or 0.
    int renameOver(const QString& from, const QString& to) const;
    // Where entries of this folder are checked before they are moved or removed, when users other
    // than this one may change its entries: a private hidden folder made inside it, for as long as
    // the object lives (see CheckingPlace). Nothing is made where nobody else may change them.
    class CheckingPlace;
    CheckingPlace checkingPlace() const;
    // renameWithoutReplacing (or, with `overRemembered`, renameOver into `target`), only while
    // `from` is still `item`: an entry put at its name meanwhile is not moved, and the result is
    // anotherItem. Where users other than this one may change the folder's entries, the entry is
    // first moved to a private hidden folder inside this one (`place`, made by checkingPlace(), or
    // one made for the move), where nobody else can change anything, checked there and only then
    // moved on; elsewhere what moved is looked at once it has. Another item found goes back to its
    // name. The errno of a failure (the entry is back at `from` then), or 0.
    int moveIfSame(const QString& from, const Item& item, const LocalFolder& target, const QString& to,
                   bool overRemembered = false, const CheckingPlace* place = nullptr) const;
    // Removes the entry `name`, a folder with everything in it, without following links and
    // without crossing into another file system (a disk mounted inside stays, with all it holds);
    // folders the owner may not write to are opened up first, each only once held and known to be
    // the folder that was looked at. False when something is left.
    bool removeEntry(const QString& name) const;
    // How removing an entry a paste moved or made ended.
    struct Removal {
        enum class Outcome {
            removed,
            // Nothing is at the name.
            gone,
            // Another item is at the name: it stays where it is.
            anotherItem,
            // Something of the item could not be removed: it is at `leftAt`.
            partly,
        };
        Outcome outcome;
        QString leftAt = {};
    };
    // removeEntry, only while `name` is still `item`: whatever was put at the name meanwhile
    // stays. The entry is removed from where nobody else can change it (see moveIfSame; `place`
    // as there), a folder emptied through a descriptor of its own; what cannot be removed of it
    // goes back to its name.
    Removal removeIfSame(const QString& name, const Item& item, const CheckingPlace* place = nullptr) const;
    // The path of the first place inside the entry `name` (or the entry itself) where another file
    // system is mounted (on a folder, or on a single file), as removeEntry would leave it; nothing
    // when there is none. A folder of the same disk bound there counts as well.
    std::optional<QString> otherFileSystemIn(const QString& name) const;

    // The words for an error(): the system's own, or what became of the folder (now a link,
    // replaced, or a link whose folder is gone).
    static QString describe(int error);
    // The error says what became of the folder rather than what the system refused.
    static bool isChangedFolder(int error);

    // For tests only: called before every renameWithoutReplacing, and every moveIfSame that
    // never replaces once it has found the item at its name, with the two paths (as childPath
    // gives them); a nonzero result is taken as that rename's errno and the rename is not made. An
    // empty function (the default) removes the hook.
    using RenameHook = std::function<int(const QString& from, const QString& to)>;
    static void setRenameHookForTesting(RenameHook hook);
    // For tests only: with a nonzero errno, the rename of renameWithoutReplacing that never
    // replaces fails with it without being made, as on a file system that has no such rename, and
    // the way taken there runs instead. 0 (the default) removes it.
    static void setNoReplaceRefusalForTesting(int error);
    // For tests only: called by removeEntry with the name of each folder it is about to open up
    // and empty, once it has looked at it and before it changes anything; and by removeIfSame with
    // the entry's name once it has found the item there, before it moves or removes anything. An
    // empty function (the default) removes the hook.
    using RemovalHook = std::function<void(const QString& name)>;
    static void setRemovalHookForTesting(RemovalHook hook);
    // For tests only: while set, an entry that renameWithoutReplacing moves away still answers
    // status(), contains() and freshStatus() in its old folder, under its old name in any letter
    // case, with its status from before the move, for as long as nothing else is there: as a
    // share that ignores case and keeps names for a while answers. Unset (the default), nothing
    // answers that way any more.
    static void setMovedNamesLingerForTesting(bool linger);

private:
    LocalFolder(int descriptor, int error, QString path, QStringList components);
    int renameWithoutReplacingNow(const QString& from, const LocalFolder& target, const QString& to) const;
    // The rename of renameWithoutReplacing itself, or renameOver's into `target` with `over`.
    int renameNow(const QString& from, const LocalFolder& target, const QString& to, bool over) const;
    // What the folder's entry `name`, not there, still answers to look-ups under the test seam.
    std::optional<struct stat> lingering(const QString& name) const;

    int m_descriptor = -1;
    int m_error = 0;
    QString m_path;
    QStringList m_components;
};

// A hidden folder, ".quillbarrow-<id>.private", made inside a folder that users other than this one
// may change and open to nobody but this user: an entry of that folder moved into it is checked and
// acted on there, and nobody else can swap it for another item in between. One serves every move
// and removal of a placing. Removed with the object, only while it is still the folder made and is
// empty. Move-only.
class LocalFolder::CheckingPlace {
  public:
    CheckingPlace() = default;
    CheckingPlace(CheckingPlace&&) noexcept = default;
    CheckingPlace& operator=(CheckingPlace&&) = delete;
    CheckingPlace(const CheckingPlace&) = delete;
    CheckingPlace& operator=(const CheckingPlace&) = delete;
    ~CheckingPlace();

    // The private folder; none where the folder needs none, or none could be made private.
    const LocalFolder* folder() const;

  private:
    friend class LocalFolder;
    // The folder it was made in, held, and its name there.
    std::unique_ptr<LocalFolder> m_parent;
    QString m_name;
    std::unique_ptr<LocalFolder> m_folder;
    bool m_private = false;
};

size_t qHash(const LocalFolder::Identity& identity, size_t seed = 0);

} // namespace quillbarrow
