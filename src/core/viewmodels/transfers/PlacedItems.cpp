#include "PlacedItems.h"

#include "domain/LocalPath.h"

#include <fcntl.h>
#include <unistd.h>

namespace quillbarrow {

QString PlacedItems::caseless(const QStringList& path)
{
    // Upper case first, then folded: a disk's table of capitals and folding do not pair every
    // letter alike (the Kelvin sign, a dotless "ı"). Comparing more names alike than the disk
    // does only refuses a Replace, never loses an item.
    return path.join(QLatin1Char('/')).normalized(QString::NormalizationForm_C).toUpper().toCaseFolded();
}

void PlacedItems::record(const LocalFolder& root, const LocalFolder& folder, const QString& name)
{
    if (const std::optional<struct stat> info = folder.status(name)) {
        m_identities.insert(LocalFolder::Identity::of(*info));
    }
    const QStringList& above = folder.components();
    m_caselessPaths.insert(caseless(above + QStringList{name}));
    if (above.isEmpty() || m_folders.contains(above)) {
        return;
    }
    // The folders that hold it, each noted once: reached again from the destination, one name
    // at a time and never through a link, as the paste reached them.
    int reached = root.descriptor();
    for (qsizetype depth = 1; depth <= above.size(); ++depth) {
        const int next = ::openat(reached, LocalPath::encoded(above.at(depth - 1)).constData(),
                                  O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (reached != root.descriptor()) {
            ::close(reached);
        }
        reached = next;
        if (reached < 0) {
            return;
        }
        const QStringList path = above.first(depth);
        struct stat info {};
        if (!m_folders.contains(path) && ::fstat(reached, &info) == 0) {
            m_folders.insert(path);
            m_identities.insert(LocalFolder::Identity::of(info));
            m_caselessPaths.insert(caseless(path));
        }
    }
    ::close(reached);
}

bool PlacedItems::holds(const struct stat& entry) const
{
    return m_identities.contains(LocalFolder::Identity::of(entry));
}

bool PlacedItems::holdsTwinOf(const LocalFolder& folder, const QString& name) const
{
    return m_caselessPaths.contains(caseless(folder.components() + QStringList{name}));
}

bool PlacedItems::ignoresCase(const LocalFolder& folder, const QString& existing)
{
    const QString upper = existing.toUpper();
    const QString other = upper != existing ? upper : existing.toLower();
    return other != existing && folder.status(other).has_value();
}

} // namespace quillbarrow
