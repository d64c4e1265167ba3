#include "LocalFileOperations.h"

#include "domain/LocalPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace quillbarrow {

namespace {

// A failed step of a recursive copy: the entry it failed on (from the copied item down; empty
// for the item itself) and why.
struct CopyFailure {
    QString entry;
    QString reason;
    // The system's error number when the entry itself could not be made there, else 0.
    int unmade = 0;
};

LocalFileOperations::SpaceHook& spaceHook()
{
    static LocalFileOperations::SpaceHook hook;
    return hook;
}

QString describeErrno(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A descriptor closed with the object.
struct Descriptor {
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd;
};

// What a copy has done so far, and whom to ask whether it goes on.
struct CopyTally {
    const LocalFileOperations::CopyStep* goOn = nullptr;
    qint64 bytes = 0;
    // The path of the folder being written, for the words of a full disk.
    QString folder;
    QList<LocalFileOperations::StagedCopy::LeftOut> leftOut;
    // The copy's own hidden name: met inside the source, the source holds the destination.
    QByteArray stagingName;

    // Counts an entry copied; false when the copy is to stop.
    bool copied(qint64 entryBytes)
    {
        bytes += entryBytes;
        return goOn == nullptr || !*goOn || (*goOn)(bytes);
    }
};

std::function<void(const QString&)>& listingHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

// The entry could not be made in the folder of its copy, for the reason `code`.
CopyFailure unmade(const QString& shown, int code)
{
    return CopyFailure{shown, describeErrno(code), code};
}

std::optional<CopyFailure> stopped(const QString& shown)
{
    return CopyFailure{shown, QStringLiteral("the copy was stopped")};
}

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

// The permission bits a copy takes from its source, as a plain copy gives them: never set-user-ID
// or set-group-ID, which would hand whoever runs the copy of another user's program the rights
// of the one who copied it.
mode_t copiedMode(const struct stat& source)
{
    return source.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID);
}

void keepModificationTime(int descriptor, const struct stat& source)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    ::futimens(descriptor, times);
}

// How many bytes a copy moves at a time where it moves them itself.
constexpr std::size_t copyBufferBytes = std::size_t(1) << 20;

// The buffer a copy moves bytes through where the kernel cannot copy between the two files itself
// (they lie on two disks): one per copying thread, made when first needed and kept while the
// thread lives, never cleared. A block this big is mapped apart by the allocator (see
// configureAllocator()): made for each file, each small file cost a mapping, a page fault for
// every page cleared and an unmapping, many times the copy itself.
char* copyBuffer()
{
    thread_local const std::unique_ptr<char[]> buffer(new char[copyBufferBytes]);
    return buffer.get();
}

// Copies the bytes of `in` to `out`, counting them in `written`; the errno of a failure, or 0.
int copyBytes(int in, int out, qint64* written)
{
    char* buffer = nullptr;
    for (;;) {
        ssize_t count = 0;
        if (buffer == nullptr) {
            count = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
            if (count < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                buffer = copyBuffer();
                continue;
            }
        } else {
            count = ::read(in, buffer, copyBufferBytes);
            for (ssize_t done = 0; count > 0 && done < count;) {
                const ssize_t step = ::write(out, buffer + done, static_cast<size_t>(count - done));
                if (step < 0 && errno != EINTR) {
                    return errno;
                }
                done += std::max<ssize_t>(step, 0);
            }
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (count == 0) {
            return 0;
        }
        *written += count;
    }
}

// The copied item itself, while it is being made: what is known of it and where it is noted.
struct CopyTop {
    LocalFileOperations::StagedCopy* staged;
    std::shared_ptr<StagingRecord> record;
};

// Locks the copy open at `descriptor` for as long as the staged copy lives, and notes it, when it
// is the copied item itself.
void holdWith(CopyTop* top, int descriptor)
{
    if (top == nullptr) {
        return;
    }
    int held = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) != 0) {
        ::close(std::exchange(held, -1));
    }
    top->staged->lock = StagingLock(held, StagingRecord::identityOf(descriptor));
    top->staged->lock.noteIn(top->record, *top->staged->holder, top->staged->name);
}

// The mode a new copy of `source` ends with: its permission bits as copiedMode gives them, less
// the umask, with the set-group-ID bit a folder takes from a set-group-ID folder it is made in, so
// that what is made inside the copy later takes that folder's group too. `made` is the mode the
// system gave the copy when it was made with copiedMode's bits (and the owner's own): the umask is
// applied there by the system, so it is never read here, where another thread could be changing
// it meanwhile; and set-group-ID there is the system's own, as copiedMode never asks for it.
mode_t finalMode(const struct stat& source, mode_t made)
{
    return (copiedMode(source) & made) | (made & S_ISGID);
}

// Gives the copy open at `descriptor`, whose permission bits are `now`, the bits `wanted`, only
// when they differ: the system clears the set-group-ID bit of a folder whose mode is set by a user
// outside its group. The errno of a failure, or 0.
int applyMode(int descriptor, mode_t now, mode_t wanted)
{
    return (now & 07777) == wanted || ::fchmod(descriptor, wanted) == 0 ? 0 : errno;
}

// Copies the entry `name` of the folder `from` to `targetName` in `to` and, for a folder,
// everything below it, writing only through descriptors; stops at the first failure. `shown` is
// the entry's path from the copied item down (empty for the item itself), `depth` how many folders
// hold it there. With `top`, the copy (a file or a folder) is locked and noted from the moment it
// exists.
std::optional<CopyFailure> copyEntry(int from, int to, const QByteArray& name, const QByteArray& targetName,
                                     const QString& shown, CopyTally& tally, int depth = 0, CopyTop* top = nullptr)
{
    struct stat info {};
    if (::fstatat(from, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return CopyFailure{shown, describeErrno(errno)};
    }
    if (S_ISLNK(info.st_mode)) {
        std::vector<char> target(static_cast<size_t>(std::max<off_t>(info.st_size, 255)) + 1);
        const ssize_t length = ::readlinkat(from, name.constData(), target.data(), target.size() - 1);
        if (length < 0) {
            return CopyFailure{shown, describeErrno(errno)};
        }
        target[static_cast<size_t>(length)] = '\0';
        if (::symlinkat(target.data(), to, targetName.constData()) != 0) {
            return unmade(shown, errno);
        }
        if (top != nullptr) {
            top->staged->lock = StagingLock(-1, StagingRecord::identityAt(to, targetName));
        }
        return tally.copied(0) ? std::nullopt : stopped(shown);
    }
    if (S_ISREG(info.st_mode)) {
        const Descriptor in(::openat(from, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.fd < 0) {
            return CopyFailure{shown, describeErrno(errno)};
        }
        const Descriptor out(::openat(to, targetName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                      copiedMode(info) | S_IRUSR | S_IWUSR));
        if (out.fd < 0) {
            return unmade(shown, errno);
        }
        struct stat made {};
        if (::fstat(out.fd, &made) != 0) {
            return CopyFailure{shown, describeErrno(errno)};
        }
        holdWith(top, out.fd);
        qint64 written = 0;
        if (const int code = copyBytes(in.fd, out.fd, &written)) {
            // A full disk can come back as a plain input/output error: name the real cause.
            const int fault =
                LocalFileOperations::localWriteFault(tally.folder, static_cast<qint64>(info.st_size), written);
            return CopyFailure{shown, describeErrno(fault != 0 ? fault : code)};
        }
        if (const int code = applyMode(out.fd, made.st_mode, finalMode(info, made.st_mode))) {
            return CopyFailure{shown, describeErrno(code)};
        }
        keepModificationTime(out.fd, info);
        return tally.copied(written) ? std::nullopt : stopped(shown);
    }
    if (!S_ISDIR(info.st_mode)) {
        return CopyFailure{shown, QStringLiteral("it is not a regular file, folder or link.")};
    }
    // Said of the copied item, not of the folder met: its path would be as long as the tree is deep.
    if (depth >= LocalFileOperations::maximumCopyDepth) {
        return CopyFailure{QString(), QStringLiteral("it holds folders more than ") +
                                          QString::number(LocalFileOperations::maximumCopyDepth) +
                                          QStringLiteral(" levels deep.")};
    }
    // The copy stays open to its owner while its contents go in and takes the folder's own mode
    // only then: a read-only folder's copy could not receive them otherwise.
    if (::mkdirat(to, targetName.constData(), copiedMode(info) | S_IRWXU) != 0) {
        return unmade(shown, errno);
    }
    const Descriptor made(::openat(to, targetName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat madeInfo {};
    if (made.fd < 0 || ::fstat(made.fd, &madeInfo) != 0) {
        return CopyFailure{shown, describeErrno(errno)};
    }
    holdWith(top, made.fd);
    const mode_t open = (madeInfo.st_mode & 07777) | S_IRWXU;
    if (const int code = applyMode(made.fd, madeInfo.st_mode, open)) {
        return CopyFailure{shown, describeErrno(code)};
    }
    const int source = ::openat(from, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = source >= 0 ? ::fdopendir(source) : nullptr;
    if (listing == nullptr) {
        const int code = errno;
        if (source >= 0) {
            ::close(source);
        }
        return CopyFailure{shown, describeErrno(code)};
    }
    std::vector<QByteArray> entries;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray entryName(entry->d_name);
        if (entryName != "." && entryName != "..") {
            entries.push_back(entryName);
        }
    }
    // In name order: of two names the disk takes for one, the same one is copied every time.
    std::sort(entries.begin(), entries.end());
    std::optional<CopyFailure> failure;
    for (const QByteArray& entry : entries) {
        if (entry == tally.stagingName) {
            // The copy itself, made in a destination that lies inside the source: on a disk that
            // ignores case, a path spelled otherwise may lead there, or the destination was moved
            // into the source since the paste was planned.
            failure = CopyFailure{QString(), LocalFileOperations::intoItselfReason()};
            break;
        }
        const QString entryShown = joined(shown, LocalPath::decoded(entry));
        struct stat entryInfo {};
        if (::fstatat(::dirfd(listing), entry.constData(), &entryInfo, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISLNK(entryInfo.st_mode) && !S_ISREG(entryInfo.st_mode) && !S_ISDIR(entryInfo.st_mode)) {
            // A pipe, socket or device inside the folder fails on its own; the rest is copied.
            tally.leftOut.append({entryShown, QStringLiteral("it is not a regular file, folder or link.")});
            continue;
        }
        if ((failure = copyEntry(::dirfd(listing), made.fd, entry, entry, entryShown, tally, depth + 1))) {
            if (failure->unmade != EEXIST) {
                break;
            }
            // This copy made the folder a moment ago, so a name it already holds is one the disk
            // takes for an entry copied before (on a disk that ignores case, "b" is "B"): this one
            // is left out, named, and the rest is copied.
            tally.leftOut.append({entryShown, failure->reason});
            failure.reset();
        }
    }
    ::closedir(listing);
    if (failure) {
        return failure;
    }
    if (const int code = applyMode(made.fd, open, finalMode(info, madeInfo.st_mode))) {
        return CopyFailure{shown, describeErrno(code)};
    }
    keepModificationTime(made.fd, info);
    return tally.copied(0) ? std::nullopt : stopped(shown);
}

// Puts the item `old` set aside at `setAside` in `folder` back under `name`, only while it is
// still there; the errno of a failure, LocalFolder::anotherItem, or 0. The system may still
// remember an item under that name, which the disk no longer holds: then it goes back over that
// memory, but only when the disk, asked afresh, holds nothing there.
int putBack(const LocalFolder& folder, const QString& setAside, const LocalFolder::HeldEntry& old,
            const QString& name, const LocalFolder::CheckingPlace& place)
{
    int code = folder.moveIfSame(setAside, old.item(), folder, name, false, &place);
    if (code == EEXIST && !folder.freshStatus(name)) {
        code = folder.moveIfSame(setAside, old.item(), folder, name, true, &place);
    }
    return code;
}

// The words for a failed move of an item the paste holds: the system's, or that another item
// stands at its name.
QString describeMove(int code)
{
    return code == LocalFolder::anotherItem ? QStringLiteral("another item was put at its name meanwhile")
                                            : describeErrno(code);
}

// Where the item `old`, set aside at `setAside` in `folder`, is now: there, or wherever it was moved
// meanwhile (there when that cannot be told).
QString whereNow(const LocalFolder::HeldEntry& old, const LocalFolder& folder, const QString& setAside)
{
    const QString now = old.whereNow(folder, setAside);
    return now.isEmpty() ? folder.childPath(setAside) : now;
}

QString failureText(const QString& source, const CopyFailure& failure)
{
    QString text = QStringLiteral("Could not copy ") + LocalFileOperations::lastComponent(source) +
                   QStringLiteral(": ");
    if (!failure.entry.isEmpty()) {
        text += LocalFileOperations::shortened(failure.entry) + QStringLiteral(": ");
    }
    return text + failure.reason;
}

} // namespace

QString LocalFileOperations::childPath(const QString& folder, const QString& name)
{
    return LocalFolder::pathIn(folder, name);
}

QString LocalFileOperations::lastComponent(const QString& path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == QLatin1Char('/')) {
        --end;
    }
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'), end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

bool LocalFileOperations::itemExists(const QString& path)
{
    struct stat info {};
    return ::lstat(LocalPath::encoded(path).constData(), &info) == 0;
}

std::optional<qint64> LocalFileOperations::attributeBytes(const QString& path)
{
    struct stat info {};
    if (::lstat(LocalPath::encoded(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(info.st_size);
}

QString LocalFileOperations::keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken,
                                          qint64* nextNumber)
{
    return keepBothName(name, isTaken, nextNumber, 0);
}

QString LocalFileOperations::keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken,
                                          qint64* nextNumber, qsizetype maximumBytes)
{
    if (!isTaken(name)) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    for (qint64 number = nextNumber ? std::max<qint64>(*nextNumber, 2) : 2;; ++number) {
        QString tail = QLatin1Char(' ') + QString::number(number) + extension;
        QString stem = base;
        if (maximumBytes > 0 && LocalPath::encoded(base + tail).size() > maximumBytes) {
            // A long name makes room for its number at the end of its stem, by bytes, never
            // splitting a character; an extension too long to keep is cut with the stem.
            if (LocalPath::encoded(tail).size() >= maximumBytes) {
                tail = QLatin1Char(' ') + QString::number(number);
                stem = name;
            }
            stem = LocalPath::cutToBytes(stem, maximumBytes - LocalPath::encoded(tail).size());
        }
        const QString candidate = stem + tail;
        if (!isTaken(candidate)) {
            if (nextNumber) {
                *nextNumber = number + 1;
            }
            return candidate;
        }
    }
}

QString LocalFileOperations::uniqueLocalName(const QString& name, const QString& folder, const QSet<QString>& reserved,
                                             qint64* nextNumber)
{
    return keepBothName(
        name,
        [&](const QString& candidate) {
            const QString path = childPath(folder, candidate);
            return reserved.contains(path) || itemExists(path);
        },
        nextNumber, maximumNameBytes);
}

bool LocalFileOperations::isSameOrInside(const QString& path, const QString& folder)
{
    if (path == folder || folder == QLatin1String("/")) {
        return true;
    }
    return path.startsWith(folder + QLatin1Char('/'));
}

LocalFileOperations::Place LocalFileOperations::Places::of(const QString& path)
{
    const QString cleaned = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString folder = QFileInfo(cleaned).path();
    auto known = m_folders.constFind(folder);
    if (known == m_folders.constEnd()) {
        known = m_folders.insert(folder, Place{QFileInfo(folder).canonicalFilePath(),
                                               LocalFolder::open(folder).lineage(), std::nullopt});
    }
    Place place{known->physical.isEmpty() ? cleaned : childPath(known->physical, lastComponent(cleaned)), {},
                std::nullopt};
    struct stat info {};
    if (::lstat(LocalPath::encoded(cleaned).constData(), &info) == 0) {
        place.lineage = QList<LocalFolder::Identity>{LocalFolder::Identity::of(info)} + known->lineage;
        place.status = info;
    }
    return place;
}

LocalFileOperations::Standing LocalFileOperations::Places::standing(const Place& item, const Place& other)
{
    if (const qsizetype level = other.lineage.isEmpty() ? -1 : item.lineage.indexOf(other.lineage.first());
        level >= 0) {
        return level == 0 ? Standing::same : Standing::inside;
    }
    const QStringList names = item.physical.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QStringList others = other.physical.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (others.size() > names.size()) {
        return Standing::apart;
    }
    QString folder = QStringLiteral("/");
    for (qsizetype index = 0; index < others.size(); ++index) {
        if (names.at(index) != others.at(index) &&
            !spellingsOfOneEntry(folder, names.at(index), others.at(index))) {
            return Standing::apart;
        }
        folder = childPath(folder, others.at(index));
    }
    return names.size() == others.size() ? Standing::same : Standing::inside;
}

// They differ in letter case alone, and the disk does not list both, so it answers to a spelling
// it does not hold. A disk that tells case apart lists every name it answers to. A folder that
// cannot be listed takes them alike. The folder is read only when its names are first needed.
bool LocalFileOperations::Places::spellingsOfOneEntry(const QString& folder, const QString& one,
                                                      const QString& another)
{
    if (PlacedItems::caseless({one}) != PlacedItems::caseless({another})) {
        return false;
    }
    auto listed = m_names.constFind(folder);
    if (listed == m_names.constEnd()) {
        if (const auto& hook = listingHook()) {
            hook(folder);
        }
        std::optional<QSet<QByteArray>> names;
        if (DIR* directory = ::opendir(LocalPath::encoded(folder).constData())) {
            names.emplace();
            while (const dirent* entry = ::readdir(directory)) {
                names->insert(QByteArray(entry->d_name));
            }
            ::closedir(directory);
        }
        listed = m_names.insert(folder, std::move(names));
    }
    return !*listed || !(*listed)->contains(LocalPath::encoded(one)) ||
           !(*listed)->contains(LocalPath::encoded(another));
}

void LocalFileOperations::Places::setListingHookForTesting(std::function<void(const QString& folder)> hook)
{
    listingHook() = std::move(hook);
}

QString LocalFileOperations::intoItselfReason()
{
    return QStringLiteral("a folder cannot be copied into itself or into a folder inside it.");
}

QString LocalFileOperations::shortened(const QString& path)
{
    const QStringList names = path.split(QLatin1Char('/'));
    if (names.size() <= 8) {
        return path;
    }
    const QStringList kept = names.mid(0, 3) + QStringList{QStringLiteral("…")} + names.mid(names.size() - 3);
    return kept.join(QLatin1Char('/'));
}

QString LocalFileOperations::hiddenSibling(const QString& target, const QString& suffix)
{
    const QString folder = QFileInfo(target).path();
    return childPath(folder, QStringLiteral(".quillbarrow-") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                                 suffix);
}

QString LocalFileOperations::hiddenName(const QString& suffix)
{
    return QStringLiteral(".quillbarrow-") + QUuid::createUuid().toString(QUuid::WithoutBraces) + suffix;
}

void LocalFileOperations::StagedCopy::discard()
{
    if (holder && holder->isOpen()) {
        lock.discard(*holder, name);
    } else {
        lock.release();
    }
}

LocalFileOperations::StagedCopy LocalFileOperations::stageCopy(const QString& source, const LocalFolder& destination,
                                                               const CopyStep& goOn,
                                                               std::shared_ptr<StagingRecord> record)
{
    StagedCopy staged;
    // Beside its final place, so that taking its name is a rename within the folder: a read-only
    // folder could not be moved out of another one.
    staged.name = hiddenName(QStringLiteral(".copying"));
    staged.holder = std::make_shared<LocalFolder>(destination.reopened());
    const Descriptor sourceFolder(
        ::open(LocalPath::encoded(QFileInfo(source).path()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    CopyTally tally{&goOn, 0, destination.path(), {}, LocalPath::encoded(staged.name)};
    std::optional<CopyFailure> failure;
    if (!staged.holder->isOpen()) {
        failure = CopyFailure{QString(), LocalFolder::describe(staged.holder->error())};
    } else if (sourceFolder.fd < 0) {
        failure = CopyFailure{QString(), describeErrno(errno)};
    } else {
        CopyTop top{&staged, std::move(record)};
        failure = copyEntry(sourceFolder.fd, staged.holder->descriptor(), LocalPath::encoded(lastComponent(source)),
                            LocalPath::encoded(staged.name), QString(), tally, 0, &top);
    }
    staged.leftOut = tally.leftOut;
    if (failure) {
        staged.failure = failureText(source, *failure);
        staged.discard();
    }
    return staged;
}

std::optional<QString> LocalFileOperations::copyItem(const QString& source, const QString& target, bool replace,
                                                     const CopyStep& goOn, std::shared_ptr<StagingRecord> record)
{
    const LocalFolder folder = LocalFolder::open(QFileInfo(target).path());
    const QString lead = QStringLiteral("Could not copy ") + lastComponent(source);
    if (!folder.isOpen()) {
        return lead + QStringLiteral(": ") + describeErrno(folder.error());
    }
    const QString name = lastComponent(target);
    StagedCopy staged = stageCopy(source, folder, goOn, std::move(record));
    if (staged.failure) {
        return staged.failure;
    }
    const Placement placement =
        moveIntoPlace(folder, staged.name, staged.lock.item(), folder, name, replace, lead);
    staged.discard();
    if (placement.outcome == Placement::Outcome::placed) {
        return std::nullopt;
    }
    return placement.failure;
}

LocalFileOperations::Placement
LocalFileOperations::moveIntoPlace(const LocalFolder& from, const QString& staging,
                                   const std::optional<LocalFolder::Item>& made, const LocalFolder& to,
                                   const QString& name, bool replace, const QString& failureLead,
                                   PlacedItems* placed, const LocalFolder* root)
{
    // One private folder, where one is needed, serves every move and removal of this placing.
    const LocalFolder::CheckingPlace place = to.checkingPlace();
    const LocalFolder::CheckingPlace* fromPlace = from.identity() == to.identity() ? &place : nullptr;
    const auto failed = [&](QString text) {
        if (made) {
            from.removeIfSame(staging, *made, fromPlace);
        }
        return Placement{Placement::Outcome::failed, std::move(text)};
    };
    // Only the very item the paste wrote is put in place: another one put at its name meanwhile
    // stays where it is, and nothing is moved or set aside for it.
    const auto stagedFailure = [&](int code) {
        if (code != LocalFolder::anotherItem) {
            return failureLead + QStringLiteral(": ") + describeErrno(code);
        }
        return failureLead + QStringLiteral(": what was written for it at ") + from.childPath(staging) +
               QStringLiteral(" was replaced by another item meanwhile, which stays there");
    };
    if (const int code = made ? from.holdsItem(staging, *made) : ENOENT) {
        return failed(stagedFailure(code));
    }
    QString setAside;
    // The item replaced, held from the moment it is set aside: only it goes back or is removed,
    // whatever is put at its name or at the name it is set aside under meanwhile.
    LocalFolder::HeldEntry old;
    if (const std::optional<struct stat> there = replace ? to.status(name) : std::nullopt) {
        // What the name reaches is judged before anything moves: an item this paste put in place,
        // or a folder holding one, stays where it is. The staged item beside it tells whether the
        // disk ignores case.
        if (placed && (placed->holds(*there) ||
                       (placed->holdsTwinOf(to, name) && PlacedItems::ignoresCase(from, staging)))) {
            return Placement{Placement::Outcome::ownItem, QString()};
        }
        if (const std::optional<QString> mounted = to.otherFileSystemIn(name)) {
            // Replacing it would remove all of it but that disk, which would end up inside the
            // hidden item set aside: it is left as it is.
            return failed(QStringLiteral("Could not replace ") + name + QStringLiteral(": a disk is mounted at ") +
                          *mounted + QStringLiteral(", and nothing on another file system is removed. ") + name +
                          QStringLiteral(" stays where it is."));
        }
        old = to.hold(name);
        if (!old.isOpen()) {
            return failed(QStringLiteral("Could not replace ") + name + QStringLiteral(": ") +
                          describeErrno(errno));
        }
        setAside = hiddenName(QStringLiteral(".replaced"));
        if (const int code = to.moveIfSame(name, old.item(), to, setAside, false, &place)) {
            // Another program put an item at the name meanwhile: one of the paste's own stays.
            const std::optional<struct stat> now =
                code == LocalFolder::anotherItem && placed ? to.status(name) : std::nullopt;
            if (now && placed->holds(*now)) {
                return Placement{Placement::Outcome::ownItem, QString()};
            }
            return failed(QStringLiteral("Could not replace ") + name + QStringLiteral(": ") +
                          describeMove(code));
        }
        // What was moved is one of the paste's own only when another program put it at the name
        // meanwhile. It goes back.
        if (placed && placed->holds(old.status())) {
            if (const int code = putBack(to, setAside, old, name, place)) {
                return failed(QStringLiteral("Could not replace ") + name + QStringLiteral(": ") +
                              describeMove(code) +
                              QStringLiteral(". The item this paste put there is now at ") +
                              whereNow(old, to, setAside));
            }
            return Placement{Placement::Outcome::ownItem, QString()};
        }
    }
    if (const int code = from.moveIfSame(staging, *made, to, name, false, fromPlace)) {
        if (code == EEXIST && !replace) {
            return Placement{Placement::Outcome::taken, failureLead + QStringLiteral(": ") + describeErrno(code)};
        }
        QString text = stagedFailure(code);
        if (!setAside.isEmpty() && putBack(to, setAside, old, name, place) != 0) {
            // Never lose track of the user's item: say where it is.
            text += QStringLiteral(". The replaced ") + name +
                    QStringLiteral(" could not be put back and is now at ") + whereNow(old, to, setAside);
        }
        return failed(text);
    }
    if (placed && root) {
        placed->record(*root, to, name);
    }
    if (setAside.isEmpty()) {
        return Placement{Placement::Outcome::placed, QString()};
    }
    // The new item is in place; what could not be removed of the old one stays where it is, and
    // so does an item put where the old one was set aside.
    const LocalFolder::Removal removal = to.removeIfSame(setAside, old.item(), &place);
    const QString lead = QStringLiteral("Could not replace ") + name + QStringLiteral(" whole: ");
    switch (removal.outcome) {
    case LocalFolder::Removal::Outcome::removed:
        break;
    case LocalFolder::Removal::Outcome::partly:
        return Placement{Placement::Outcome::failed, lead + QStringLiteral("what is left of the replaced ") +
                                                         name + QStringLiteral(" is at ") + removal.leftAt};
    case LocalFolder::Removal::Outcome::gone:
    case LocalFolder::Removal::Outcome::anotherItem: {
        const QString now = old.whereNow(to, setAside);
        if (removal.outcome == LocalFolder::Removal::Outcome::gone && now.isEmpty()) {
            break; // removed by someone else meanwhile
        }
        QString text = lead + QStringLiteral("the replaced ") + name +
                       QStringLiteral(" was moved away from ") + to.childPath(setAside) +
                       QStringLiteral(" meanwhile");
        if (!now.isEmpty()) {
            text += QStringLiteral(", and is at ") + now;
        }
        if (removal.outcome == LocalFolder::Removal::Outcome::anotherItem) {
            text += QStringLiteral("; the item now there stays");
        }
        return Placement{Placement::Outcome::failed, text};
    }
    }
    return Placement{Placement::Outcome::placed, QString()};
}

std::optional<QString> LocalFileOperations::moveIntoPlace(const QString& staging, const QString& target, bool replace,
                                                          const QString& failureLead)
{
    const LocalFolder from = LocalFolder::open(QFileInfo(staging).path());
    const LocalFolder to = LocalFolder::open(QFileInfo(target).path());
    const QString stagingName = lastComponent(staging);
    // What stands at the staging path now is the item put in place, and the only one removed.
    const LocalFolder::HeldEntry made = from.isOpen() ? from.hold(stagingName) : LocalFolder::HeldEntry();
    const auto removeStaged = [&] {
        if (made.isOpen()) {
            from.removeIfSame(stagingName, made.item());
        }
    };
    if (!from.isOpen() || !to.isOpen()) {
        removeStaged();
        return failureLead + QStringLiteral(": ") + describeErrno(from.isOpen() ? to.error() : from.error());
    }
    const Placement placement =
        moveIntoPlace(from, stagingName, made.isOpen() ? std::optional(made.item()) : std::nullopt, to,
                      lastComponent(target), replace, failureLead);
    if (placement.outcome == Placement::Outcome::placed) {
        return std::nullopt;
    }
    removeStaged();
    return placement.failure;
}

bool LocalFileOperations::removeItem(const QString& path)
{
    const LocalFolder folder = LocalFolder::open(QFileInfo(path).path());
    if (!folder.isOpen()) {
        return folder.error() == ENOENT;
    }
    return folder.removeEntry(lastComponent(path));
}

std::optional<qint64> LocalFileOperations::availableBytes(const QString& folder)
{
    if (const SpaceHook& hook = spaceHook()) {
        return hook(folder);
    }
    struct statvfs info {};
    if (::statvfs(LocalPath::encoded(folder).constData(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

int LocalFileOperations::localWriteFault(const QString& folder, std::optional<qint64> expectedBytes, qint64 writtenBytes)
{
    if (::access(LocalPath::encoded(folder).constData(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS)) {
        return errno;
    }
    const std::optional<qint64> available = availableBytes(folder);
    const qint64 missing = expectedBytes ? std::max<qint64>(*expectedBytes - writtenBytes, 1) : 1;
    if (available && *available < missing) {
        return ENOSPC;
    }
    return 0;
}

void LocalFileOperations::setAvailableBytesHookForTesting(SpaceHook hook)
{
    spaceHook() = std::move(hook);
}

void LocalFileOperations::setRenameHookForTesting(RenameHook hook)
{
    LocalFolder::setRenameHookForTesting(std::move(hook));
}

} // namespace quillbarrow
