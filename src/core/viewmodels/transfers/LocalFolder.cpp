#include "LocalFolder.h"

#include "domain/LocalPath.h"

#include <QByteArrayList>
#include <QHash>
#include <QHashFunctions>
#include <QUuid>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

namespace {

LocalFolder::RenameHook& renameHook()
{
    static LocalFolder::RenameHook hook;
    return hook;
}

// The errno the no-replace rename fails with instead of being made, for tests; 0 when it is made.
int& noReplaceRefusal()
{
    static int refusal = 0;
    return refusal;
}

LocalFolder::RemovalHook& removalHook()
{
    static LocalFolder::RemovalHook hook;
    return hook;
}

// The entries moved away that still answer under their old names, by that name's path in any
// letter case, for tests; answering at all only while `linger` is set.
struct MovedNames {
    bool linger = false;
    QHash<QString, struct stat> byPath;
};

MovedNames& movedNames()
{
    static MovedNames names;
    return names;
}

// Gives the owner full access to the folder held at `held` (an O_PATH descriptor), by way of the
// descriptor: the folder that was checked, whatever its name leads to by now.
void openUpForOwner(int held, mode_t mode)
{
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(held);
    ::chmod(path.constData(), (mode & 07777) | S_IRWXU);
}

// Another file system is mounted at the entry `name` of the folder open at `parent`, whose
// status is `info`: it lies on another device than `device`, or is the root of a mount of the
// same one (a folder bound there).
bool isMountedAt(int parent, const QByteArray& name, const struct stat& info, dev_t device)
{
    if (info.st_dev != device) {
        return true;
    }
    struct statx status {};
    return ::statx(parent, name.constData(), AT_SYMLINK_NOFOLLOW, 0, &status) == 0 &&
           (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// The entries of the folder open at `descriptor`, which the listing takes over.
std::optional<QByteArrayList> entriesOf(int descriptor, DIR** listing)
{
    *listing = ::fdopendir(descriptor);
    if (*listing == nullptr) {
        ::close(descriptor);
        return std::nullopt;
    }
    QByteArrayList entries;
    while (const dirent* entry = ::readdir(*listing)) {
        const QByteArray entryName(entry->d_name);
        if (entryName != "." && entryName != "..") {
            entries.append(entryName);
        }
    }
    return entries;
}

// Removes the entry and, for a folder, everything in it, relative to `parent`; links are removed
// as links, and nothing on another file system than `device` is removed or entered. With
// `expected`, only while the entry is that item. True when nothing is left.
bool removeAt(int parent, const QByteArray& name, dev_t device, const LocalFolder::Identity* expected = nullptr)
{
    struct stat info {};
    if (expected != nullptr) {
        if (::fstatat(parent, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT;
        }
        if (LocalFolder::Identity::of(info) != *expected) {
            return false;
        }
        if (!S_ISDIR(info.st_mode)) {
            return ::unlinkat(parent, name.constData(), 0) == 0 || errno == ENOENT;
        }
    } else {
        // Inside a folder held and checked: whatever its entries are, they are the folder's.
        if (::unlinkat(parent, name.constData(), 0) == 0 || errno == ENOENT) {
            return true;
        }
        if (::fstatat(parent, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT;
        }
    }
    if (!S_ISDIR(info.st_mode) || isMountedAt(parent, name, info, device)) {
        return false;
    }
    if (const LocalFolder::RemovalHook& hook = removalHook()) {
        hook(LocalPath::decoded(name));
    }
    // Only the folder that was checked is opened up and emptied: held without following a link,
    // and the same folder still, so that nothing put at its name meanwhile (a link to another of
    // the user's items, say) has its mode changed or loses its contents.
    const int held = ::openat(parent, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (held < 0) {
        return false;
    }
    struct stat heldInfo {};
    if (::fstat(held, &heldInfo) != 0 || heldInfo.st_dev != info.st_dev || heldInfo.st_ino != info.st_ino) {
        ::close(held);
        return false;
    }
    // Removing a folder's entries needs access to it; the folder is being removed on purpose, so
    // its owner opens it up first (a copied read-only folder, say).
    if ((heldInfo.st_mode & S_IRWXU) != S_IRWXU) {
        openUpForOwner(held, heldInfo.st_mode);
    }
    const int descriptor = ::openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(held);
    if (descriptor < 0) {
        return false;
    }
    DIR* directory = nullptr;
    const std::optional<QByteArrayList> entries = entriesOf(descriptor, &directory);
    if (!entries) {
        return false;
    }
    bool emptied = true;
    for (const QByteArray& entry : *entries) {
        emptied = removeAt(::dirfd(directory), entry, device) && emptied;
    }
    ::closedir(directory);
    return emptied && ::unlinkat(parent, name.constData(), AT_REMOVEDIR) == 0;
}

// The path (from `shown`, the entry's own) of the first place at or below the entry `name` of
// `parent` where another file system than `device` is mounted. Folders that cannot be read are
// not looked into.
std::optional<QByteArray> mountInside(int parent, const QByteArray& name, dev_t device, const QByteArray& shown)
{
    struct stat info {};
    if (::fstatat(parent, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    // A single file can be bound at a name as well as a folder.
    if (isMountedAt(parent, name, info, device)) {
        return shown;
    }
    if (!S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    const int descriptor = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    DIR* directory = nullptr;
    const std::optional<QByteArrayList> entries = entriesOf(descriptor, &directory);
    std::optional<QByteArray> found;
    for (qsizetype index = 0; entries && !found && index < entries->size(); ++index) {
        found = mountInside(::dirfd(directory), entries->at(index), device, shown + '/' + entries->at(index));
    }
    if (directory != nullptr) {
        ::closedir(directory);
    }
    return found;
}

// Users other than this one (root aside, who may do anything) may add, rename or remove entries
// of the folder whose status is `info`: its owner is another user who may write it, or its group
// or everyone may (an access list that lets others write shows in the group's bits).
bool othersMayChange(const struct stat& info)
{
    const bool ownedByAnother = info.st_uid != ::geteuid() && info.st_uid != 0;
    return (ownedByAnother && (info.st_mode & S_IWUSR) != 0) || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

LocalFolder::LocalFolder(int descriptor, int error, QString path, QStringList components)
    : m_descriptor(descriptor), m_error(error), m_path(std::move(path)), m_components(std::move(components))
{
}

LocalFolder::LocalFolder(LocalFolder&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_error(other.m_error), m_path(std::move(other.m_path)),
      m_components(std::move(other.m_components))
{
}

LocalFolder& LocalFolder::operator=(LocalFolder&& other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    std::swap(m_error, other.m_error);
    std::swap(m_path, other.m_path);
    std::swap(m_components, other.m_components);
    return *this;
}

LocalFolder::~LocalFolder()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

LocalFolder LocalFolder::open(const QString& path)
{
    const int descriptor = ::open(LocalPath::encoded(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return LocalFolder(descriptor, descriptor < 0 ? errno : 0, path, {});
}

LocalFolder LocalFolder::madeBelow(const LocalFolder& above, const QStringList& names, const QString& path)
{
    LocalFolder reached = above.reopened();
    for (const QString& name : names) {
        if (!reached.isOpen()) {
            break;
        }
        reached = reached.folder(name, true);
    }
    if (!reached.isOpen()) {
        return reached;
    }
    return LocalFolder(std::exchange(reached.m_descriptor, -1), 0, path, {});
}

LocalFolder LocalFolder::unreached(const QString& path, int error)
{
    return LocalFolder(-1, error, path, {});
}

QString LocalFolder::childPath(const QString& name) const
{
    return pathIn(m_path, name);
}

QString LocalFolder::pathIn(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/'))) {
        return folder + name;
    }
    return folder + QLatin1Char('/') + name;
}

QString LocalFolder::pathThrough(const QString& name) const
{
    return QStringLiteral("/proc/self/fd/") + QString::number(m_descriptor) + QLatin1Char('/') + name;
}

LocalFolder LocalFolder::folder(const QString& name, bool create) const
{
    const QByteArray encoded = LocalPath::encoded(name);
    constexpr int flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int descriptor = ::openat(m_descriptor, encoded.constData(), flags);
    if (descriptor < 0 && errno == ENOENT && create) {
        if (::mkdirat(m_descriptor, encoded.constData(), 0777) != 0 && errno != EEXIST) {
            return LocalFolder(-1, errno, childPath(name), {});
        }
        descriptor = ::openat(m_descriptor, encoded.constData(), flags);
    }
    if (descriptor < 0) {
        int error = errno;
        if (const std::optional<struct stat> info = status(name); info && S_ISLNK(info->st_mode)) {
            error = ELOOP;
        }
        return LocalFolder(-1, error, childPath(name), {});
    }
    return LocalFolder(descriptor, 0, childPath(name), m_components + QStringList{name});
}

LocalFolder LocalFolder::reopened() const
{
    if (!isOpen()) {
        return LocalFolder(-1, m_error, m_path, m_components);
    }
    const int descriptor = ::openat(m_descriptor, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return LocalFolder(descriptor, descriptor < 0 ? errno : 0, m_path, m_components);
}

size_t qHash(const LocalFolder::Identity& identity, size_t seed)
{
    return qHashMulti(seed, identity.device, identity.inode);
}

std::optional<LocalFolder::Identity> LocalFolder::identity() const
{
    struct stat info {};
    if (!isOpen() || ::fstat(m_descriptor, &info) != 0) {
        return std::nullopt;
    }
    return Identity::of(info);
}

QList<LocalFolder::Identity> LocalFolder::lineage() const
{
    QList<Identity> identities;
    std::optional<Identity> current = identity();
    if (!current) {
        return identities;
    }
    identities.append(*current);
    int held = ::openat(m_descriptor, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    // The root is its own parent. A path holds at most PATH_MAX / 2 folders.
    for (int level = 0; held >= 0 && level < PATH_MAX / 2; ++level) {
        const int parent = ::openat(held, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(held);
        held = parent;
        struct stat info {};
        if (held < 0 || ::fstat(held, &info) != 0 || Identity::of(info) == identities.last()) {
            break;
        }
        identities.append(Identity::of(info));
    }
    if (held >= 0) {
        ::close(held);
    }
    return identities;
}

std::optional<struct stat> LocalFolder::status(const QString& name) const
{
    struct stat info {};
    if (::fstatat(m_descriptor, LocalPath::encoded(name).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return lingering(name);
    }
    return info;
}

std::optional<struct stat> LocalFolder::lingering(const QString& name) const
{
    const MovedNames& moved = movedNames();
    if (!moved.linger) {
        return std::nullopt;
    }
    const auto found = moved.byPath.constFind(childPath(name).toCaseFolded());
    return found == moved.byPath.constEnd() ? std::nullopt : std::optional(*found);
}

std::optional<struct stat> LocalFolder::freshStatus(const QString& name) const
{
    struct statx fresh {};
    if (::statx(m_descriptor, LocalPath::encoded(name).constData(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC,
                STATX_TYPE | STATX_SIZE, &fresh) != 0) {
        return lingering(name);
    }
    struct stat info {};
    info.st_mode = fresh.stx_mode;
    info.st_size = static_cast<off_t>(fresh.stx_size);
    return info;
}

int LocalFolder::renameOver(const QString& from, const QString& to) const
{
    return renameNow(from, *this, to, true);
}

int LocalFolder::renameWithoutReplacing(const QString& from, const LocalFolder& target, const QString& to) const
{
    MovedNames& moved = movedNames();
    const std::optional<struct stat> moving = moved.linger ? status(from) : std::nullopt;
    const int code = renameWithoutReplacingNow(from, target, to);
    if (code == 0 && moving) {
        moved.byPath.insert(childPath(from).toCaseFolded(), *moving);
    }
    return code;
}

int LocalFolder::renameWithoutReplacingNow(const QString& from, const LocalFolder& target, const QString& to) const
{
    if (const RenameHook& hook = renameHook()) {
        if (const int injected = hook(childPath(from), target.childPath(to))) {
            return injected;
        }
    }
    return renameNow(from, target, to, false);
}

int LocalFolder::renameNow(const QString& from, const LocalFolder& target, const QString& to, bool over) const
{
    const QByteArray source = LocalPath::encoded(from);
    const QByteArray destination = LocalPath::encoded(to);
    if (over) {
        return ::renameat(m_descriptor, source.constData(), target.m_descriptor, destination.constData()) == 0
                   ? 0
                   : errno;
    }
    int refusal = noReplaceRefusal();
    if (refusal == 0) {
        if (::renameat2(m_descriptor, source.constData(), target.m_descriptor, destination.constData(),
                        RENAME_NOREPLACE) == 0) {
            return 0;
        }
        refusal = errno;
    }
    if (refusal != EINVAL && refusal != ENOSYS) {
        return refusal;
    }
    // Without the flag where the file system has no such rename, after a look.
    if (target.contains(to)) {
        return EEXIST;
    }
    if (::renameat(m_descriptor, source.constData(), target.m_descriptor, destination.constData()) == 0) {
        return 0;
    }
    // A file system that knows the flag refuses a name it cannot hold with EINVAL; tried without
    // the flag, some then say the item is missing although it is there. The first answer is the
    // true one.
    if (errno == ENOENT && refusal == EINVAL && contains(from)) {
        return EINVAL;
    }
    return errno;
}

bool LocalFolder::removeEntry(const QString& name) const
{
    struct stat own {};
    if (::fstat(m_descriptor, &own) != 0) {
        return false;
    }
    return removeAt(m_descriptor, LocalPath::encoded(name), own.st_dev);
}

LocalFolder::HeldEntry::HeldEntry(HeldEntry&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_status(other.m_status)
{
}

LocalFolder::HeldEntry& LocalFolder::HeldEntry::operator=(HeldEntry&& other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    std::swap(m_status, other.m_status);
    return *this;
}

LocalFolder::HeldEntry::~HeldEntry()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

QString LocalFolder::HeldEntry::whereNow(const LocalFolder& folder, const QString& name) const
{
    struct stat now {};
    if (!isOpen() || ::fstat(m_descriptor, &now) != 0 || now.st_nlink == 0) {
        return QString();
    }
    if (const std::optional<struct stat> there = folder.status(name);
        there && Identity::of(*there) == item().identity) {
        return folder.childPath(name);
    }
    // Moved by someone else: the system follows the held entry to its new name.
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(m_descriptor);
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.constData(), target.data(), static_cast<size_t>(target.size()));
    if (length <= 0 || length >= target.size() || target.front() != '/') {
        return QString();
    }
    target.truncate(length);
    return LocalPath::decoded(target);
}

LocalFolder::HeldEntry LocalFolder::hold(const QString& name) const
{
    HeldEntry held;
    held.m_descriptor =
        ::openat(m_descriptor, LocalPath::encoded(name).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (held.m_descriptor >= 0 && ::fstat(held.m_descriptor, &held.m_status) != 0) {
        const int error = errno;
        ::close(std::exchange(held.m_descriptor, -1));
        errno = error;
    }
    return held;
}

int LocalFolder::holdsItem(const QString& name, const Item& item) const
{
    struct stat info {};
    if (::fstatat(m_descriptor, LocalPath::encoded(name).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    const bool sameBytes = !item.bytes || (S_ISREG(info.st_mode) && info.st_size == *item.bytes);
    return Identity::of(info) == item.identity && sameBytes ? 0 : anotherItem;
}

int LocalFolder::moveIfSame(const QString& from, const Item& item, const LocalFolder& target,
                            const QString& to, bool overRemembered, const CheckingPlace* place) const
{
    if (const int code = holdsItem(from, item)) {
        return code;
    }
    if (const RenameHook& hook = overRemembered ? RenameHook() : renameHook()) {
        if (const int injected = hook(childPath(from), target.childPath(to))) {
            return injected;
        }
    }
    MovedNames& moved = movedNames();
    const std::optional<struct stat> moving = moved.linger ? status(from) : std::nullopt;
    int code = 0;
    const CheckingPlace made = place != nullptr ? CheckingPlace() : checkingPlace();
    if (const LocalFolder* aside = (place != nullptr ? place : &made)->folder()) {
        // Out of everyone else's reach before the last look: what is checked there is what moves.
        const LocalFolder& checking = *aside;
        code = renameNow(from, checking, from, false);
        if (code == 0) {
            code = checking.holdsItem(from, item);
            if (code == 0) {
                code = checking.renameNow(from, target, to, overRemembered);
            }
            // Back to its name; when another item took it meanwhile, the entry stays in the
            // private folder, which stays with it.
            if (code != 0) {
                checking.renameNow(from, *this, from, false);
            }
        }
    } else {
        code = renameNow(from, target, to, overRemembered);
        // Nobody else may change the folder, but the user's own programs may: what moved is looked
        // at, and goes back when it is not the item.
        if (code == 0 && target.holdsItem(to, item) == anotherItem) {
            target.renameNow(to, *this, from, false);
            code = anotherItem;
        }
    }
    if (code == 0 && moving) {
        moved.byPath.insert(childPath(from).toCaseFolded(), *moving);
    }
    return code;
}

LocalFolder::Removal LocalFolder::removeIfSame(const QString& name, const Item& item,
                                               const CheckingPlace* place) const
{
    switch (holdsItem(name, item)) {
    case 0:
        break;
    case ENOENT:
        return Removal{Removal::Outcome::gone};
    case anotherItem:
        return Removal{Removal::Outcome::anotherItem, childPath(name)};
    default:
        return Removal{Removal::Outcome::partly, childPath(name)};
    }
    struct stat own {};
    if (::fstat(m_descriptor, &own) != 0) {
        return Removal{Removal::Outcome::partly, childPath(name)};
    }
    if (const RemovalHook& hook = removalHook()) {
        hook(name);
    }
    const QByteArray encoded = LocalPath::encoded(name);
    const CheckingPlace made = place != nullptr ? CheckingPlace() : checkingPlace();
    const LocalFolder* aside = (place != nullptr ? place : &made)->folder();
    if (aside == nullptr) {
        // Nobody else may change this folder: the item is looked at once more as it is removed.
        if (removeAt(m_descriptor, encoded, own.st_dev, &item.identity)) {
            return Removal{Removal::Outcome::removed};
        }
        return Removal{holdsItem(name, item) == anotherItem ? Removal::Outcome::anotherItem
                                                            : Removal::Outcome::partly,
                       childPath(name)};
    }
    const LocalFolder& checking = *aside;
    if (const int code = renameNow(name, checking, name, false)) {
        return Removal{code == ENOENT ? Removal::Outcome::gone : Removal::Outcome::partly, childPath(name)};
    }
    const bool same = checking.holdsItem(name, item) == 0;
    if (same && removeAt(checking.descriptor(), encoded, own.st_dev, &item.identity)) {
        return Removal{Removal::Outcome::removed};
    }
    // Another item, or what is left of this one, goes back to its name; when another item took
    // the name meanwhile, it stays in the private folder.
    const QString left =
        checking.renameNow(name, *this, name, false) == 0 ? childPath(name) : checking.childPath(name);
    return Removal{same ? Removal::Outcome::partly : Removal::Outcome::anotherItem, left};
}

LocalFolder::CheckingPlace LocalFolder::checkingPlace() const
{
    CheckingPlace place;
    struct stat info {};
    if (!isOpen() || ::fstat(m_descriptor, &info) != 0 || !othersMayChange(info)) {
        return place;
    }
    place.m_name = QStringLiteral(".quillbarrow-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                   QStringLiteral(".private");
    if (::mkdirat(m_descriptor, LocalPath::encoded(place.m_name).constData(), 0700) != 0) {
        return place;
    }
    place.m_parent = std::make_unique<LocalFolder>(reopened());
    place.m_folder = std::make_unique<LocalFolder>(folder(place.m_name, false));
    // Made by this user and open to nobody else: on a disk that keeps no owners or modes everyone
    // may change everything anyway, and entries are looked at where they are.
    struct stat made {};
    place.m_private = place.m_folder->isOpen() && ::fstat(place.m_folder->descriptor(), &made) == 0 &&
                      S_ISDIR(made.st_mode) && made.st_uid == ::geteuid() && (made.st_mode & 0777) == 0700;
    return place;
}

LocalFolder::CheckingPlace::~CheckingPlace()
{
    if (!m_folder || !m_folder->isOpen() || !m_parent) {
        return;
    }
    // An empty folder put at its name meanwhile could be removed in its place, but only by whoever
    // may remove it anyway: they could move it there.
    const std::optional<struct stat> there = m_parent->status(m_name);
    if (there && Identity::of(*there) == m_folder->identity()) {
        ::unlinkat(m_parent->descriptor(), LocalPath::encoded(m_name).constData(), AT_REMOVEDIR);
    }
}

const LocalFolder* LocalFolder::CheckingPlace::folder() const
{
    return m_private ? m_folder.get() : nullptr;
}

std::optional<QString> LocalFolder::otherFileSystemIn(const QString& name) const
{
    struct stat own {};
    if (::fstat(m_descriptor, &own) != 0) {
        return std::nullopt;
    }
    const QByteArray encoded = LocalPath::encoded(name);
    const std::optional<QByteArray> found = mountInside(m_descriptor, encoded, own.st_dev, encoded);
    if (!found) {
        return std::nullopt;
    }
    return childPath(LocalPath::decoded(*found));
}

QString LocalFolder::describe(int error)
{
    switch (error) {
    case ELOOP:
        return QStringLiteral("it is now a link to another place, and nothing is written through links.");
    case replacedFolder:
        return QStringLiteral("it was replaced by another folder since the paste began.");
    case linkedFolderGone:
        return QStringLiteral("it is a link, and the folder it led to is gone.");
    default:
        return qt_error_string(error);
    }
}

bool LocalFolder::isChangedFolder(int error)
{
    return error == ELOOP || error == replacedFolder || error == linkedFolderGone;
}

void LocalFolder::setRenameHookForTesting(RenameHook hook)
{
    renameHook() = std::move(hook);
}

void LocalFolder::setNoReplaceRefusalForTesting(int error)
{
    noReplaceRefusal() = error;
}

void LocalFolder::setRemovalHookForTesting(RemovalHook hook)
{
    removalHook() = std::move(hook);
}

void LocalFolder::setMovedNamesLingerForTesting(bool linger)
{
    movedNames() = MovedNames{linger, {}};
}

} // namespace quillbarrow
