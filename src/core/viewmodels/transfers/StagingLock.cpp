#include "StagingLock.h"

#include "LocalFolder.h"
#include "domain/LocalPath.h"

#include <QRegularExpression>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

namespace {

// Locks the item open at `descriptor` for as long as it stays open; the lock is refused while a
// running transfer (of this process or another) holds it.
StagingLock locked(int descriptor)
{
    if (descriptor < 0) {
        return StagingLock(-1, errno);
    }
    StagingLock held(descriptor);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return StagingLock();
    }
    return held;
}

} // namespace

StagingLock::StagingLock(StagingLock&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_error(other.m_error)
{
}

StagingLock& StagingLock::operator=(StagingLock&& other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    std::swap(m_error, other.m_error);
    return *this;
}

StagingLock::~StagingLock()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

StagingLock StagingLock::file(const LocalFolder& folder, const QString& name)
{
    return locked(::openat(folder.descriptor(), LocalPath::encoded(name).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

void StagingLock::removeStale(const LocalFolder& folder)
{
    static const QRegularExpression stagingName(QStringLiteral(
        "^\\.quillbarrow-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.(partial|copying)$"));
    struct Closer {
        void operator()(DIR* directory) const { ::closedir(directory); }
    };
    const int listed = ::openat(folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) {
        return;
    }
    const std::unique_ptr<DIR, Closer> directory(::fdopendir(listed));
    if (directory == nullptr) {
        ::close(listed);
        return;
    }
    while (const dirent* entry = ::readdir(directory.get())) {
        const QRegularExpressionMatch match = stagingName.match(QLatin1StringView(entry->d_name));
        if (!match.hasMatch()) {
            continue;
        }
        const bool copying = match.capturedView(1) == QLatin1StringView("copying");
        const StagingLock probe(
            ::openat(::dirfd(directory.get()), entry->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!probe.isHeld() || ::fstat(probe.descriptor(), &info) != 0 ||
            !(S_ISREG(info.st_mode) || (copying && S_ISDIR(info.st_mode))) ||
            ::flock(probe.descriptor(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        // Removed while the lock is held, so that no transfer can take the item up meanwhile.
        folder.removeEntry(QString::fromLatin1(entry->d_name));
    }
}

} // namespace quillbarrow
