#include "LocalDestination.h"

#include <sys/stat.h>

namespace quillbarrow {

LocalDestination::LocalDestination(QString path) : m_path(std::move(path)), m_root(LocalFolder::open(m_path)) {}

LocalFolder LocalDestination::reach(const QString& folder, bool create)
{
    struct stat held {};
    const bool removed = m_root.isOpen() && ::fstat(m_root.descriptor(), &held) == 0 && held.st_nlink == 0;
    if (create && (removed || !m_root.isOpen())) {
        // Deleted since it was chosen (or never there): made again where it was, and held from
        // now on. Whatever now stands at its name is never followed: a link put there fails the
        // rest of the paste instead of leading it to another place.
        m_root = LocalFolder::made(m_path);
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

} // namespace quillbarrow
