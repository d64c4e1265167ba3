#include "VisitedLocalFolders.h"
#include "domain/LocalPath.h"

#include <QFile>
#include <sys/stat.h>

namespace quillbarrow {

bool VisitedLocalFolders::enter(const QString& path)
{
    struct stat info {};
    if (::stat(LocalPath::encoded(path).constData(), &info) != 0) {
        return true;
    }
    const LocalFolder::Identity identity = LocalFolder::Identity::of(info);
    if (m_entered.contains(identity)) {
        return false;
    }
    m_entered.insert(identity);
    return true;
}

} // namespace quillbarrow
