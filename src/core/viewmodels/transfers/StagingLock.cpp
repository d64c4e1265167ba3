#include "StagingLock.h"

#include "LocalFolder.h"
#include "domain/LocalPath.h"

#include <QMultiHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

StagingLock::StagingLock(StagingLock&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_error(other.m_error),
      m_identity(std::exchange(other.m_identity, std::nullopt)),
      m_bytes(std::exchange(other.m_bytes, std::nullopt)), m_record(std::move(other.m_record)),
      m_note(std::move(other.m_note))
{
}

StagingLock& StagingLock::operator=(StagingLock&& other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    std::swap(m_error, other.m_error);
    std::swap(m_identity, other.m_identity);
    std::swap(m_bytes, other.m_bytes);
    std::swap(m_record, other.m_record);
    std::swap(m_note, other.m_note);
    return *this;
}

StagingLock::~StagingLock()
{
    release();
}

void StagingLock::noteIn(std::shared_ptr<StagingRecord> record, const LocalFolder& folder, const QString& name)
{
    if (!record || !isHeld()) {
        return;
    }
    if (!m_identity) {
        m_identity = StagingRecord::identityOf(m_descriptor);
    }
    if (!m_identity) {
        return;
    }
    StagingRecord::Note note =
        StagingRecord::noteOf(*m_identity, m_descriptor, folder.descriptor(), LocalPath::encoded(name));
    if (record->add(note)) {
        m_record = std::move(record);
        m_note = std::move(note);
    }
}

void StagingLock::release()
{
    if (m_descriptor >= 0) {
        ::close(std::exchange(m_descriptor, -1));
    }
    if (m_record) {
        m_record->remove(m_note);
    }
    m_record.reset();
}

bool StagingLock::follow(const LocalFolder& folder, const QString& name, qint64 reportedBytes,
                         std::optional<qint64> received)
{
    const QByteArray encoded = LocalPath::encoded(name);
    const std::optional<StagingRecord::Identity> there = StagingRecord::identityAt(folder.descriptor(), encoded);
    struct stat own {};
    const bool weighed = isHeld() && ::fstat(m_descriptor, &own) == 0;
    if (there && there == m_identity) {
        // Not the file's own size, which would take in whatever another wrote into it. A receipt
        // that ended early tells nothing: its last bytes may not have been reported.
        m_bytes = received;
        return true;
    }
    if (!there || !weighed) {
        return false;
    }
    const qint64 bytes = std::max<qint64>(reportedBytes, own.st_size);
    StagingLock replacement(
        ::openat(folder.descriptor(), encoded.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!replacement.isHeld() || ::fstat(replacement.descriptor(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != own.st_uid || info.st_size != bytes ||
        ::flock(replacement.descriptor(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    replacement.m_identity = StagingRecord::identityOf(replacement.descriptor());
    if (replacement.m_identity != there) {
        return false; // replaced once more meanwhile
    }
    replacement.m_bytes = bytes;
    std::shared_ptr<StagingRecord> record = m_record;
    *this = std::move(replacement); // the file held before is let go of with `replacement`
    noteIn(std::move(record), folder, name);
    return true;
}

bool StagingLock::discard(const LocalFolder& folder, const QString& name)
{
    if (!m_identity && isHeld()) {
        m_identity = StagingRecord::identityOf(m_descriptor);
    }
    const std::optional<LocalFolder::Item> held = item();
    const bool removed =
        held && folder.removeIfSame(name, *held).outcome == LocalFolder::Removal::Outcome::removed;
    release();
    return removed;
}

std::optional<LocalFolder::Item> StagingLock::item() const
{
    if (!m_identity) {
        return std::nullopt;
    }
    return LocalFolder::Item{
        LocalFolder::Identity{static_cast<dev_t>(m_identity->device), static_cast<ino_t>(m_identity->inode)},
        m_bytes};
}

StagingLock StagingLock::file(const LocalFolder& folder, const QString& name, std::shared_ptr<StagingRecord> record)
{
    const int descriptor = ::openat(folder.descriptor(), LocalPath::encoded(name).constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return StagingLock(-1, errno);
    }
    StagingLock held(descriptor, StagingRecord::identityOf(descriptor));
    // The lock is refused while a running transfer (of this program or another) holds it.
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return StagingLock(-1, held.m_identity);
    }
    held.noteIn(std::move(record), folder, name);
    return held;
}

void StagingLock::removeStale(const LocalFolder& folder, StagingRecord& record)
{
    static const QRegularExpression stagingName(QStringLiteral(
        "^\\.quillbarrow-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.(partial|copying)$"));
    struct Closer {
        void operator()(DIR* directory) const { ::closedir(directory); }
    };
    // Read before the folder: an item made after this is not yet noted, and not taken.
    QMultiHash<StagingRecord::Identity, StagingRecord::Note> ours;
    for (StagingRecord::Note& note : record.known()) {
        ours.insert(note.item, std::move(note));
    }
    if (ours.isEmpty()) {
        return;
    }
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
        StagingLock probe(
            ::openat(::dirfd(directory.get()), entry->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!probe.isHeld() || ::fstat(probe.descriptor(), &info) != 0 ||
            !(S_ISREG(info.st_mode) || (copying && S_ISDIR(info.st_mode)))) {
            continue;
        }
        probe.m_identity = StagingRecord::identityOf(probe.descriptor());
        if (!probe.m_identity) {
            continue;
        }
        const StagingRecord::Note found = StagingRecord::noteOf(*probe.m_identity, probe.descriptor(),
                                                                folder.descriptor(), QByteArray(entry->d_name));
        const auto [first, last] = ours.equal_range(found.item);
        const auto noted = std::find_if(first, last, [&found](const auto& note) { return note.proves(found); });
        if (noted == last || ::flock(probe.descriptor(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        // Removed while the lock is held, so that no transfer can take the item up meanwhile; its
        // note goes with it, and stays for another try when something of it is left.
        if (probe.discard(folder, QString::fromLatin1(entry->d_name))) {
            record.remove(*noted);
        }
    }
}

} // namespace quillbarrow
