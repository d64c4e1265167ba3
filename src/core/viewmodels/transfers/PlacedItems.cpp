#include "PlacedItems.h"

#include "LocalFolder.h"
#include "domain/LocalPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbarrow {

namespace {

// Kind and size: what every disk reports alike for one item whatever name reaches it (times
// are not: one that keeps them coarser than the kernel tells a fresh item's finer time first).
QString fingerprintOf(const struct stat& info)
{
    return QString::number(info.st_mode & S_IFMT) + QLatin1Char(' ') + QString::number(info.st_size);
}

// The entry `name` of `folder` is there when the disk is asked afresh, and can be opened (read,
// for a link). A disk in user space may answer a plain look-up of a name, and an open of a
// folder, from what it was told a moment ago: a folder moved away under another name that
// reached it still looks there then. Forcing its attributes to be read again asks the disk.
bool opens(int folder, const QByteArray& name)
{
    struct statx fresh {};
    if (::statx(folder, name.constData(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_TYPE, &fresh) != 0) {
        return false;
    }
    struct stat info {};
    info.st_mode = fresh.stx_mode;
    if (S_ISLNK(info.st_mode)) {
        char target[1];
        return ::readlinkat(folder, name.constData(), target, sizeof target) >= 0;
    }
    const int opened = ::openat(folder, name.constData(),
                                (S_ISDIR(info.st_mode) ? O_DIRECTORY : 0) | O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0) {
        return false;
    }
    ::close(opened);
    return true;
}

// The entry at `path` below `root` is there, reached without following links.
bool reachable(const LocalFolder& root, const QStringList& path)
{
    int folder = root.descriptor();
    bool reached = !path.isEmpty();
    for (qsizetype index = 0; reached && index < path.size(); ++index) {
        const QByteArray name = LocalPath::encoded(path.at(index));
        if (index + 1 == path.size()) {
            reached = opens(folder, name);
            break;
        }
        const int next = ::openat(folder, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder != root.descriptor()) {
            ::close(folder);
        }
        folder = next;
        reached = next >= 0;
    }
    if (folder >= 0 && folder != root.descriptor()) {
        ::close(folder);
    }
    return reached;
}

} // namespace

void PlacedItems::record(const LocalFolder& folder, const QString& name)
{
    const std::optional<struct stat> info = folder.freshStatus(name);
    if (!info) {
        return;
    }
    const QStringList path = folder.components() + QStringList{name};
    const qsizetype index = m_items.size();
    m_items.append(path);
    if (S_ISDIR(info->st_mode)) {
        m_folders.insert(path, index);
    } else {
        m_byFingerprint.insert(fingerprintOf(*info), index);
    }
    if (!folder.components().isEmpty() && !m_folders.contains(folder.components())) {
        m_items.append(folder.components());
        m_folders.insert(folder.components(), index + 1);
    }
}

QList<qsizetype> PlacedItems::candidates(const LocalFolder& root, const LocalFolder& folder, const QString& name) const
{
    const std::optional<struct stat> info = folder.freshStatus(name);
    if (!info) {
        return {};
    }
    // A folder moved aside takes everything in it along.
    const QList<qsizetype> possible =
        S_ISDIR(info->st_mode) ? m_folders.values() : m_byFingerprint.values(fingerprintOf(*info));
    QList<qsizetype> present;
    for (const qsizetype index : possible) {
        if (m_items.at(index).size() > folder.components().size() && reachable(root, m_items.at(index))) {
            present.append(index);
        }
    }
    return present;
}

bool PlacedItems::isFree(const LocalFolder& folder, const QString& name)
{
    return !opens(folder.descriptor(), LocalPath::encoded(name));
}

std::optional<QString> PlacedItems::movedAside(const LocalFolder& root, const LocalFolder& folder,
                                               const QList<qsizetype>& candidates) const
{
    for (const qsizetype index : candidates) {
        if (!reachable(root, m_items.at(index))) {
            return m_items.at(index).at(folder.components().size());
        }
    }
    return std::nullopt;
}

} // namespace quillbarrow
