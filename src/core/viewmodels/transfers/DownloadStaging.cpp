#include "DownloadStaging.h"

#include "LocalFileOperations.h"
#include "domain/LocalPath.h"

#include <QRegularExpression>

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

QString DownloadStaging::stagingPath(const QString& destination)
{
    return LocalFileOperations::hiddenSibling(destination, QStringLiteral(".partial"));
}

std::optional<QString> DownloadStaging::place(const QString& staging, const QString& destination, bool replace)
{
    return LocalFileOperations::moveIntoPlace(staging, destination, replace,
                                              QStringLiteral("Could not save ") +
                                                  LocalFileOperations::lastComponent(destination));
}

DownloadStaging::Hold::Hold(Hold&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_error(other.m_error)
{
}

DownloadStaging::Hold& DownloadStaging::Hold::operator=(Hold&& other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    std::swap(m_error, other.m_error);
    return *this;
}

DownloadStaging::Hold::~Hold()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

DownloadStaging::Hold DownloadStaging::hold(const QString& staging)
{
    const int descriptor = ::open(LocalPath::encoded(staging).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return Hold(-1, errno);
    }
    Hold held(descriptor);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return Hold();
    }
    return held;
}

void DownloadStaging::removeStale(const QString& folder)
{
    static const QRegularExpression stagingName(
        QStringLiteral("^\\.quillbarrow-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.partial$"));
    struct Closer {
        void operator()(DIR* directory) const { ::closedir(directory); }
    };
    const std::unique_ptr<DIR, Closer> directory(::opendir(LocalPath::encoded(folder).constData()));
    if (directory == nullptr) {
        return;
    }
    const int folderDescriptor = ::dirfd(directory.get());
    while (const dirent* entry = ::readdir(directory.get())) {
        if (!stagingName.match(QLatin1StringView(entry->d_name)).hasMatch()) {
            continue;
        }
        // Held by a running download (of this process or another), the lock is refused.
        const Hold probe(::openat(folderDescriptor, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (!probe.isHeld() || ::fstat(probe.descriptor(), &info) != 0 || !S_ISREG(info.st_mode) ||
            ::flock(probe.descriptor(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        ::unlinkat(folderDescriptor, entry->d_name, 0);
    }
}

} // namespace quillbarrow
