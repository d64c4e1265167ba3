#include "LocalDestination.h"

#include "LocalFileOperations.h"
#include "domain/LocalPath.h"

#include <cerrno>
#include <sys/stat.h>
#include <filesystem>
#include <system_error>

namespace quillbarrow {

LocalDestination::LocalDestination(QString path) : m_path(std::move(path)), m_root(LocalFolder::open(m_path)) {}

LocalFolder LocalDestination::reach(const QString& folder, bool create)
{
    struct stat held {};
    const bool removed = m_root.isOpen() && ::fstat(m_root.descriptor(), &held) == 0 && held.st_nlink == 0;
    if (create && (removed || (!m_root.isOpen() && m_root.error() == ENOENT))) {
        // Deleted since it was chosen (or never there): made again where it was, held from now on.
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(LocalPath::encoded(m_path).toStdString()), ignored);
        m_root = LocalFolder::open(m_path);
    }
    if (!m_root.isOpen()) {
        return LocalFolder::open(m_path);
    }
    LocalFolder reached = m_root.reopened();
    const QString prefix = m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
    if (folder == m_path || !folder.startsWith(prefix)) {
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
