#include "LocalDiskFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillbarrow::testing {

bool inKilledProgram(const std::function<void()>& work)
{
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        work();
        killedNow(false);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void killedNow(bool ready)
{
    ::_exit(ready ? 0 : 1);
}

ScratchDisk::ScratchDisk(const QString& folder, qint64 bytes) : m_folder(folder)
{
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
    if (::mount("quillbarrow-test", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) != 0) {
        m_whyNot = QStringLiteral("a small disk could not be mounted for the test (") +
                   QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral("): it needs root");
        return;
    }
    m_mounted = true;
}

ScratchDisk::~ScratchDisk()
{
    if (m_mounted) {
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }
}

qint64 ScratchDisk::freeBytes() const
{
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(m_folder).constData(), &info) != 0) {
        return -1;
    }
    return static_cast<qint64>(info.f_bfree) * static_cast<qint64>(info.f_frsize);
}

QStringList openStagingItems()
{
    QStringList open;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString& descriptor : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFileInfo(descriptors.filePath(descriptor)).symLinkTarget();
        if (target.contains(QStringLiteral("/.quillbarrow-"))) {
            open.append(target);
        }
    }
    return open;
}

UmaskScope::UmaskScope(mode_t mask) : m_before(::umask(mask)) {}

UmaskScope::~UmaskScope()
{
    ::umask(m_before);
}

} // namespace quillbarrow::testing
