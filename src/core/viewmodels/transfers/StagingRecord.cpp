#include "StagingRecord.h"

#include "domain/LocalPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QHash>
#include <QList>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

namespace {

QByteArray recordLine(char mark, const StagingRecord::Identity& item)
{
    QByteArray line;
    line.reserve(64);
    line += mark;
    line += ' ';
    line += QByteArray::number(item.device);
    line += ' ';
    line += QByteArray::number(item.inode);
    line += ' ';
    line += QByteArray::number(item.born);
    line += '\n';
    return line;
}

// The items a record's text leaves noted, oldest first, and how many of its lines are records;
// a line that does not read as one (torn by a crash, written by something else) is passed over.
struct Reading {
    QList<StagingRecord::Identity> items;
    qsizetype records = 0;
};

Reading readRecords(const QByteArray& bytes)
{
    // Each item noted, with the place of its latest note.
    QHash<StagingRecord::Identity, qsizetype> noted;
    Reading reading;
    for (const QByteArray& line : bytes.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4 || (fields.at(0) != "+" && fields.at(0) != "-")) {
            continue;
        }
        bool deviceRead = false;
        bool inodeRead = false;
        bool bornRead = false;
        const StagingRecord::Identity item{fields.at(1).toULongLong(&deviceRead), fields.at(2).toULongLong(&inodeRead),
                                           fields.at(3).toLongLong(&bornRead)};
        if (!deviceRead || !inodeRead || !bornRead) {
            continue;
        }
        ++reading.records;
        if (fields.at(0) == "+") {
            noted.insert(item, reading.records);
        } else {
            noted.remove(item);
        }
    }
    reading.items = noted.keys();
    std::sort(reading.items.begin(), reading.items.end(),
              [&noted](const StagingRecord::Identity& a, const StagingRecord::Identity& b) {
                  return noted.value(a) < noted.value(b);
              });
    return reading;
}

// The record's file opened with `flags`, never through a link, and only when it is a plain file
// of this user's: nobody else's file says which of the user's items may be removed. -1 otherwise.
int openOwnFile(const QString& file, int flags)
{
    const int descriptor = ::open(LocalPath::encoded(file).constData(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// The file open at `descriptor` is still the record: a rewrite by another program (or by this
// one, through another descriptor) moves a new file over it, which leaves this one without a name.
bool isStillTheFile(int descriptor)
{
    struct stat held {};
    return ::fstat(descriptor, &held) == 0 && held.st_nlink > 0;
}

// Writes all of `bytes` at the descriptor's place (its end, for one opened to append).
bool writeAll(int descriptor, const QByteArray& bytes)
{
    QFile file;
    return file.open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
           file.write(bytes) == bytes.size();
}

std::optional<QByteArray> readAll(int descriptor)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (count == 0) {
            return bytes;
        }
        bytes.append(buffer, count);
    }
}

// Makes the folder and the missing ones above it, each private to the user.
void makePrivateFolder(const QString& folder)
{
    const QStringList names = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString& name : names) {
        path += QLatin1Char('/') + name;
        ::mkdir(LocalPath::encoded(path).constData(), 0700);
    }
}

std::optional<StagingRecord::Identity> identityFrom(int result, const struct statx& info)
{
    if (result != 0 || (info.stx_mask & STATX_INO) == 0) {
        return std::nullopt;
    }
    StagingRecord::Identity identity;
    identity.device = static_cast<quint64>(makedev(info.stx_dev_major, info.stx_dev_minor));
    identity.inode = info.stx_ino;
    if ((info.stx_mask & STATX_BTIME) != 0) {
        identity.born = static_cast<qint64>(info.stx_btime.tv_sec) * 1'000'000'000 + info.stx_btime.tv_nsec;
    }
    return identity;
}

} // namespace

size_t qHash(const StagingRecord::Identity& identity, size_t seed)
{
    return qHashMulti(seed, identity.device, identity.inode, identity.born);
}

StagingRecord::StagingRecord(QString file) : m_file(std::move(file)) {}

StagingRecord::~StagingRecord()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

QString StagingRecord::standardFile()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) {
        state = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return state + QStringLiteral("/quillbarrow/staging-items");
}

std::optional<StagingRecord::Identity> StagingRecord::identityOf(int descriptor)
{
    struct statx info {};
    const int result = ::statx(descriptor, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &info);
    return identityFrom(result, info);
}

std::optional<StagingRecord::Identity> StagingRecord::identityAt(int folder, const QByteArray& name)
{
    struct statx info {};
    const int result = ::statx(folder, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &info);
    return identityFrom(result, info);
}

bool StagingRecord::add(const Identity& item)
{
    return append(recordLine('+', item));
}

void StagingRecord::remove(const Identity& item)
{
    append(recordLine('-', item));
}

bool StagingRecord::append(const QByteArray& line)
{
    const std::lock_guard lock(m_mutex);
    // The file stays open, under a shared lock, from the first note on: a rewrite, which takes the
    // lock for itself alone, waits until no program has the file open to note in it. A file that
    // lost its name meanwhile (removed, or replaced by a rewrite between the open and the lock) is
    // opened anew.
    if (m_descriptor >= 0 && !isStillTheFile(m_descriptor)) {
        ::close(std::exchange(m_descriptor, -1));
    }
    for (int attempt = 0; m_descriptor < 0; ++attempt) {
        makePrivateFolder(QFileInfo(m_file).path());
        const int opened = openOwnFile(m_file, O_RDWR | O_APPEND | O_CREAT);
        if (opened < 0 || attempt == 3) {
            if (opened >= 0) {
                ::close(opened);
            }
            return false;
        }
        struct stat info {};
        char last = '\n';
        if (::flock(opened, LOCK_SH) != 0 || !isStillTheFile(opened) || ::fstat(opened, &info) != 0) {
            ::close(opened);
            continue;
        }
        // A record torn by a crash ends here, so that it spoils no other.
        if (info.st_size > 0 && ::pread(opened, &last, 1, info.st_size - 1) == 1 && last != '\n' &&
            !writeAll(opened, QByteArrayLiteral("\n"))) {
            ::close(opened);
            return false;
        }
        m_descriptor = opened;
    }
    return writeAll(m_descriptor, line);
}

QSet<StagingRecord::Identity> StagingRecord::known()
{
    const int descriptor = openOwnFile(m_file, O_RDONLY);
    if (descriptor < 0) {
        return {};
    }
    const std::optional<QByteArray> bytes = readAll(descriptor);
    ::close(descriptor);
    if (!bytes) {
        return {};
    }
    const Reading reading = readRecords(*bytes);
    if (reading.records > 2 * reading.items.size() + 256) {
        compact();
    }
    return QSet<Identity>(reading.items.cbegin(), reading.items.cend());
}

void StagingRecord::compact()
{
    const std::lock_guard lock(m_mutex);
    // This program's own notes go to the new file from now on; while another program has the file
    // open to note in it, it is left as it is until a later try.
    if (m_descriptor >= 0) {
        ::close(std::exchange(m_descriptor, -1));
    }
    const int descriptor = openOwnFile(m_file, O_RDONLY);
    if (descriptor < 0) {
        return;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0 || !isStillTheFile(descriptor)) {
        ::close(descriptor);
        return;
    }
    const std::optional<QByteArray> bytes = readAll(descriptor);
    if (bytes) {
        const QList<Identity> items = readRecords(*bytes).items;
        QByteArray rewritten;
        for (qsizetype index = std::max<qsizetype>(0, items.size() - maximumItems); index < items.size(); ++index) {
            rewritten += recordLine('+', items.at(index));
        }
        // Written beside the file and renamed over it only once it is whole on the disk, so that a
        // crash leaves one or the other whole.
        const QByteArray path = LocalPath::encoded(m_file);
        const QByteArray temporary = path + ".new";
        const int written = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        const bool whole = written >= 0 && writeAll(written, rewritten) && ::fsync(written) == 0;
        if (written >= 0) {
            ::close(written);
        }
        if (!whole || std::rename(temporary.constData(), path.constData()) != 0) {
            ::unlink(temporary.constData());
        }
    }
    ::close(descriptor);
}

} // namespace quillbarrow
