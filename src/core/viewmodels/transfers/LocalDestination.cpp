#include "LocalDestination.h"

#include "domain/LocalPath.h"

#include <cerrno>
#include <sys/stat.h>

namespace quillbarrow {

namespace {

// The identity of the item the path `path` leads to, links followed.
std::optional<LocalFolder::Identity> identityAt(const QString& path)
{
    struct stat info {};
    if (::stat(LocalPath::encoded(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return LocalFolder::Identity::of(info);
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The folders on the way to the absolute `path`, from the first below the root down to it.
QStringList wayTo(const QString& path)
{
    QStringList way;
    for (qsizetype slash = path.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
        way.append(path.left(slash));
    }
    if (path.size() > 1) {
        way.append(path);
    }
    return way;
}

} // namespace

LocalDestination::LocalDestination(QString path) : m_path(std::move(path)), m_root(LocalFolder::open(m_path))
{
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || slash == m_path.size() - 1) {
        return; // the root, or no absolute path: nothing above it to make it in
    }
    struct stat info {};
    if (::lstat(LocalPath::encoded(m_path).constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
        m_chosenLink = LocalFolder::Identity::of(info);
    }
    m_abovePath = parentOf(m_path);
    m_below = QStringList{m_path.mid(slash + 1)};
    m_above = LocalFolder::open(m_abovePath);
    while (!m_above.isOpen() && m_above.error() == ENOENT && m_abovePath != QStringLiteral("/")) {
        // Missing folders above it are made with it, from the nearest folder that is there.
        m_below.prepend(m_abovePath.mid(m_abovePath.lastIndexOf(QLatin1Char('/')) + 1));
        m_abovePath = parentOf(m_abovePath);
        m_above = LocalFolder::open(m_abovePath);
    }
    for (const QString& folder : wayTo(m_abovePath)) {
        m_way.append(identityAt(folder));
    }
}

LocalFolder LocalDestination::reach(const QString& folder, bool create)
{
    struct stat held {};
    const bool removed = m_root.isOpen() && ::fstat(m_root.descriptor(), &held) == 0 && held.st_nlink == 0;
    if (create && (removed || !m_root.isOpen())) {
        // Deleted since it was chosen (or never there): made again where it was, and held from
        // now on.
        m_root = remade();
    }
    LocalFolder reached = m_root.reopened();
    const QString prefix = m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
    if (!reached.isOpen() || folder == m_path || !folder.startsWith(prefix)) {
        return reached;
    }
    const QStringList names = folder.mid(prefix.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        LocalFolder next = reached.folder(name, create);
        if (!next.isOpen()) {
            return next;
        }
        reached = std::move(next);
    }
    return reached;
}

LocalFolder LocalDestination::remade() const
{
    if (!m_above.isOpen()) {
        return LocalFolder::unreached(m_path, m_root.error() != 0 ? m_root.error() : m_above.error());
    }
    // Only inside the folder held above it, and only while that folder is still the one its path
    // leads to: made inside it anyway, the paste folder would be where the user no longer looks;
    // made by its path, it would be wherever a link put on the way leads.
    if (identityAt(m_abovePath) != m_above.identity()) {
        return changedOnTheWay();
    }
    if (m_chosenLink && m_below.size() == 1) {
        // The folder chosen was a link, and the folder it led to was deleted.
        const std::optional<struct stat> entry = m_above.status(m_below.constFirst());
        if (entry && S_ISLNK(entry->st_mode) && LocalFolder::Identity::of(*entry) == *m_chosenLink) {
            return LocalFolder::unreached(m_path, LocalFolder::linkedFolderGone);
        }
    }
    // Whatever now stands at its name is never followed: a link put there fails the rest of the
    // paste instead of leading it to another place.
    return LocalFolder::madeBelow(m_above, m_below, m_path);
}

LocalFolder LocalDestination::changedOnTheWay() const
{
    const QStringList way = wayTo(m_abovePath);
    for (qsizetype index = 0; index < way.size(); ++index) {
        const QString& folder = way.at(index);
        if (identityAt(folder) == m_way.value(index)) {
            continue;
        }
        struct stat info {};
        if (::lstat(LocalPath::encoded(folder).constData(), &info) != 0) {
            // Gone, and nothing to make the paste folder in.
            return LocalFolder::unreached(m_path, errno);
        }
        return LocalFolder::unreached(folder, S_ISLNK(info.st_mode) ? ELOOP : LocalFolder::replacedFolder);
    }
    return LocalFolder::unreached(m_abovePath, LocalFolder::replacedFolder);
}

} // namespace quillbarrow
