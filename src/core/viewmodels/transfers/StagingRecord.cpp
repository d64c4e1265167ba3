#include "StagingRecord.h"

#include "domain/LocalPath.h"

#include <QByteArrayView>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QHashFunctions>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace quillbarrow {

namespace {

// What the disk is taken to keep (setDiskKeepsForTesting).
std::atomic<bool> birthTimesShown{true};
std::atomic<bool> generationsShown{true};

// A line is a mark ("+" noted, "-" dropped), a space and the note's text: the item's device, inode
// and birth time, then (in notes that have them) its generation ("-" for none), the folder's
// device, inode and birth time, and the staging name percent-encoded, all separated by one space.
// Older programs wrote and read the first three fields alone; they pass over a longer line.
constexpr qsizetype itemFields = 3;
constexpr qsizetype noteFields = 8;

QByteArray noteText(const StagingRecord::Note& note)
{
    QByteArray text;
    text.reserve(128);
    text += QByteArray::number(note.item.device);
    text += ' ';
    text += QByteArray::number(note.item.inode);
    text += ' ';
    text += QByteArray::number(note.item.born);
    if (note.name.isEmpty()) {
        return text; // as an older program noted it
    }
    text += ' ';
    text += note.generation ? QByteArray::number(*note.generation) : QByteArrayLiteral("-");
    text += ' ';
    text += QByteArray::number(note.folder.device);
    text += ' ';
    text += QByteArray::number(note.folder.inode);
    text += ' ';
    text += QByteArray::number(note.folder.born);
    text += ' ';
    text += note.name.toPercentEncoding();
    return text;
}

QByteArray recordLine(char mark, const StagingRecord::Note& note)
{
    return mark + (' ' + noteText(note)) + '\n';
}

template <typename Number> bool readNumber(QByteArrayView field, Number* number)
{
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, *number);
    return !field.isEmpty() && error == std::errc() && stop == end;
}

// The fields of a note's text, split at single spaces; none when there are neither 3 nor 8 of them.
struct Fields {
    std::array<QByteArrayView, noteFields> field{};
    qsizetype count = 0;
};

Fields fieldsOf(QByteArrayView text)
{
    Fields fields;
    const char* const end = text.data() + text.size();
    for (const char* start = text.data();;) {
        const void* space = std::memchr(start, ' ', size_t(end - start));
        const char* stop = space != nullptr ? static_cast<const char*>(space) : end;
        if (fields.count == noteFields) {
            return {};
        }
        fields.field[size_t(fields.count++)] = QByteArrayView(start, stop - start);
        if (stop == end) {
            break;
        }
        start = stop + 1;
    }
    return fields.count == itemFields || fields.count == noteFields ? fields : Fields{};
}

std::optional<StagingRecord::Identity> identityIn(const Fields& fields, qsizetype first)
{
    StagingRecord::Identity identity;
    if (!readNumber(fields.field[size_t(first)], &identity.device) ||
        !readNumber(fields.field[size_t(first + 1)], &identity.inode) ||
        !readNumber(fields.field[size_t(first + 2)], &identity.born)) {
        return std::nullopt;
    }
    return identity;
}

// The item a line's text notes, and whether it notes the item alone (as older programs did); none
// when the text does not read as a note. The name is not decoded.
struct Noted {
    StagingRecord::Identity item;
    bool itemAlone = false;
};

std::optional<Noted> itemIn(QByteArrayView text)
{
    const Fields fields = fieldsOf(text);
    const std::optional<StagingRecord::Identity> item = fields.count == 0 ? std::nullopt : identityIn(fields, 0);
    if (!item) {
        return std::nullopt;
    }
    if (fields.count == itemFields) {
        return Noted{*item, true};
    }
    quint32 generation = 0;
    if ((fields.field[3] != "-" && !readNumber(fields.field[3], &generation)) || !identityIn(fields, 4) ||
        fields.field[7].isEmpty()) {
        return std::nullopt;
    }
    return Noted{*item, false};
}

// The note a line's text holds; none when it does not read as one.
std::optional<StagingRecord::Note> noteIn(QByteArrayView text)
{
    const Fields fields = fieldsOf(text);
    if (fields.count == 0) {
        return std::nullopt;
    }
    StagingRecord::Note note;
    const std::optional<StagingRecord::Identity> item = identityIn(fields, 0);
    if (!item) {
        return std::nullopt;
    }
    note.item = *item;
    if (fields.count == itemFields) {
        return note;
    }
    if (fields.field[3] != "-") {
        quint32 generation = 0;
        if (!readNumber(fields.field[3], &generation)) {
            return std::nullopt;
        }
        note.generation = generation;
    }
    const std::optional<StagingRecord::Identity> folder = identityIn(fields, 4);
    note.name = QByteArray::fromPercentEncoding(fields.field[7].toByteArray());
    if (!folder || note.name.isEmpty()) {
        return std::nullopt;
    }
    note.folder = *folder;
    return note;
}

// What a record's text leaves noted: the text of each note made and not dropped, oldest first, and
// how many of its lines are notes. A line that does not read as one (torn by a crash, written by
// something else) is passed over. A note is dropped by a line that repeats it; a line of an older
// program, which gives the item alone, drops every note of that item.
struct Reading {
    QList<QByteArrayView> notes;
    qsizetype records = 0;
};

Reading readRecords(QByteArrayView bytes)
{
    struct Made {
        QByteArrayView text;
        bool live = true;
    };
    QList<Made> made;
    QHash<StagingRecord::Identity, QVarLengthArray<qsizetype, 1>> byItem;
    byItem.reserve(bytes.size() / 128); // about one item a line
    Reading reading;
    for (const char *start = bytes.data(), *const stop = start + bytes.size(); start < stop;) {
        const void* found = std::memchr(start, '\n', size_t(stop - start));
        const char* end = found != nullptr ? static_cast<const char*>(found) : stop;
        const QByteArrayView line(start, end - start);
        start = end + 1;
        if (line.size() < 2 || (line.front() != '+' && line.front() != '-') || line.at(1) != ' ') {
            continue;
        }
        const QByteArrayView text = line.sliced(2);
        const std::optional<Noted> noted = itemIn(text);
        if (!noted) {
            continue;
        }
        ++reading.records;
        QVarLengthArray<qsizetype, 1>& notesOfItem = byItem[noted->item];
        for (qsizetype index = 0; index < notesOfItem.size();) {
            Made& earlier = made[notesOfItem.at(index)];
            if ((noted->itemAlone && line.front() == '-') || earlier.text == text) {
                earlier.live = false;
                notesOfItem.remove(index);
            } else {
                ++index;
            }
        }
        if (line.front() == '+') {
            notesOfItem.append(made.size());
            made.append(Made{text});
        }
    }
    for (const Made& note : std::as_const(made)) {
        if (note.live) {
            reading.notes.append(note.text);
        }
    }
    return reading;
}

// Whether a record read so is to be rewritten: most of it is notes dropped, or it notes more items
// than it keeps.
bool worthRewriting(const Reading& reading)
{
    return reading.records > 2 * reading.notes.size() + 256 || reading.notes.size() > StagingRecord::maximumItems;
}

// The record's file opened with `flags`, never through a link and never waiting on what stands at
// the name (a pipe there opens at once, to be turned down), and only when it is a plain file of
// this user's: nobody else's file says which of the user's items may be removed. -1 otherwise.
int openOwnFile(const QString& file, int flags)
{
    const int descriptor =
        ::open(LocalPath::encoded(file).constData(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600);
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

// The file open at `descriptor` is still the record, or was when `info` was read: a rewrite moves a
// new file over it, which leaves this one without a name.
bool isStillTheFile(int descriptor, struct stat* info)
{
    return ::fstat(descriptor, info) == 0 && info->st_nlink > 0;
}

// Writes all of `bytes` at the descriptor's place (its end, for one opened to append).
bool writeAll(int descriptor, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t step = ::write(descriptor, bytes.data() + done, size_t(bytes.size() - done));
        if (step < 0 && errno != EINTR) {
            return false;
        }
        done += std::max<ssize_t>(step, 0);
    }
    return true;
}

// The whole file open at `descriptor`, from its start.
std::optional<QByteArray> readAll(int descriptor)
{
    QByteArray bytes;
    if (struct stat info{}; ::fstat(descriptor, &info) == 0 && info.st_size > 0) {
        bytes.reserve(qsizetype(info.st_size) + 1);
    }
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::pread(descriptor, buffer, sizeof buffer, bytes.size());
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

// Takes the lock `operation` on the descriptor, waiting for it unless asked not to.
bool lock(int descriptor, int operation)
{
    int result = 0;
    while ((result = ::flock(descriptor, operation)) != 0 && errno == EINTR) {
    }
    return result == 0;
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
    if ((info.stx_mask & STATX_BTIME) != 0 && birthTimesShown) {
        identity.born = static_cast<qint64>(info.stx_btime.tv_sec) * 1'000'000'000 + info.stx_btime.tv_nsec;
    }
    return identity;
}

// The generation of the inode open at `descriptor`, where it tells an inode number used anew: ext4
// and others give each new inode one (ext4 picks it at random). A file system through FUSE answers
// whatever its program says, and one that keeps none says 0; neither is taken.
std::optional<quint32> generationOf(int descriptor)
{
    struct statfs disk {};
    if (!generationsShown || ::fstatfs(descriptor, &disk) != 0 || disk.f_type == FUSE_SUPER_MAGIC) {
        return std::nullopt;
    }
    // The request is numbered for a long; file systems write an int at its start.
    long answer = 0;
    quint32 generation = 0;
    if (::ioctl(descriptor, FS_IOC_GETVERSION, &answer) != 0) {
        return std::nullopt;
    }
    std::memcpy(&generation, &answer, sizeof generation);
    return generation != 0 ? std::optional(generation) : std::nullopt;
}

} // namespace

size_t qHash(const StagingRecord::Identity& identity, size_t seed)
{
    return qHashMulti(seed, identity.device, identity.inode, identity.born);
}

bool StagingRecord::Note::proves(const Note& found) const
{
    if (item != found.item) {
        return false;
    }
    if (name.isEmpty()) {
        return item.born != 0;
    }
    return name == found.name && folder == found.folder && generation == found.generation &&
           (item.born != 0 || generation.has_value());
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

StagingRecord::Note StagingRecord::noteOf(const Identity& item, int descriptor, int folder, const QByteArray& name)
{
    Note note{item, std::nullopt, {}, name};
    // A birth time tells the item on its own; the generation is asked for only without one.
    if (item.born == 0) {
        note.generation = generationOf(descriptor);
    }
    if (const std::optional<Identity> holder = identityOf(folder)) {
        note.folder = *holder;
    }
    return note;
}

void StagingRecord::setDiskKeepsForTesting(bool birthTimes, bool generations)
{
    birthTimesShown = birthTimes;
    generationsShown = generations;
}

bool StagingRecord::add(const Note& note)
{
    return append(recordLine('+', note));
}

void StagingRecord::remove(const Note& note)
{
    append(recordLine('-', note));
}

bool StagingRecord::append(const QByteArray& line)
{
    bool written = false;
    bool due = false;
    {
        const std::lock_guard guard(m_mutex);
        // The file stays open between notes, unlocked. A rewrite, which takes the lock for itself
        // alone, moves a new file over it meanwhile, so once the lock is held the file is checked
        // to still have its name, and opened anew when it has lost it.
        for (int attempt = 0; attempt < 4 && !written; ++attempt) {
            if (m_descriptor < 0) {
                makePrivateFolder(QFileInfo(m_file).path());
                m_descriptor = openOwnFile(m_file, O_RDWR | O_APPEND | O_CREAT);
                if (m_descriptor < 0) {
                    return false;
                }
            }
            struct stat info {};
            if (!lock(m_descriptor, LOCK_SH) || !isStillTheFile(m_descriptor, &info)) {
                ::close(std::exchange(m_descriptor, -1));
                m_end = -1;
                continue;
            }
            // A record torn by a crash (or a full disk) mid-line ends before this note, so that
            // the torn line spoils no other. Where the file still ends with this record's last
            // note, nothing can have torn it.
            char last = '\n';
            const bool torn = info.st_size > 0 && info.st_size != m_end &&
                              ::pread(m_descriptor, &last, 1, info.st_size - 1) == 1 && last != '\n';
            written = writeAll(m_descriptor, torn ? '\n' + line : line);
            m_end = written ? info.st_size + line.size() + (torn ? 1 : 0) : -1;
            due = written && m_end > m_rewriteAt;
            lock(m_descriptor, LOCK_UN);
            if (!written) {
                return false;
            }
        }
    }
    if (due) {
        if (const int descriptor = openOwnFile(m_file, O_RDONLY); descriptor >= 0) {
            rewrite(descriptor, nullptr);
            ::close(descriptor);
        }
    }
    return written;
}

QList<StagingRecord::Note> StagingRecord::known()
{
    const int descriptor = openOwnFile(m_file, O_RDONLY);
    if (descriptor < 0) {
        return {};
    }
    // Read without the lock: a rewrite moves a whole file over this one, and a note being written
    // this moment is of an item made a moment ago, which its transfer holds.
    const std::optional<QByteArray> bytes = readAll(descriptor);
    const Reading reading = bytes ? readRecords(*bytes) : Reading{};
    if (bytes && worthRewriting(reading)) {
        rewrite(descriptor, &*bytes);
    }
    ::close(descriptor);
    QList<Note> notes;
    notes.reserve(std::min(reading.notes.size(), maximumItems));
    for (qsizetype index = std::max<qsizetype>(0, reading.notes.size() - maximumItems); index < reading.notes.size();
         ++index) {
        notes.append(*noteIn(reading.notes.at(index)));
    }
    return notes;
}

void StagingRecord::rewrite(int descriptor, const QByteArray* read)
{
    struct stat info {};
    // While another writer holds the file (for a line, or an older program for as long as it
    // runs) it is left as it is: a note written some way past the mark tries again.
    if (::fstat(descriptor, &info) != 0 || !lock(descriptor, LOCK_EX | LOCK_NB) || !isStillTheFile(descriptor, &info)) {
        const std::lock_guard guard(m_mutex);
        m_rewriteAt = std::max<qint64>(m_rewriteAt, info.st_size + growthBeforeRewrite / 16);
        return;
    }
    // Notes only ever go at the end, so a file as long as what was read of it holds just that.
    std::optional<QByteArray> bytes;
    if (read == nullptr || info.st_size != read->size()) {
        bytes = readAll(descriptor);
        read = bytes ? &*bytes : nullptr;
    }
    const Reading reading = read ? readRecords(*read) : Reading{};
    qint64 kept = info.st_size;
    if (read && worthRewriting(reading)) {
        QByteArray rewritten;
        for (qsizetype index = std::max<qsizetype>(0, reading.notes.size() - maximumItems);
             index < reading.notes.size(); ++index) {
            rewritten += "+ ";
            rewritten += reading.notes.at(index);
            rewritten += '\n';
        }
        // Written beside the file and moved over it once whole, so that a reading finds one or the
        // other whole. Not synced, as the notes are not: a crash of the computer may cost notes,
        // which costs no item of the user's.
        const QByteArray path = LocalPath::encoded(m_file);
        const QByteArray temporary = path + ".new";
        ::unlink(temporary.constData());
        const int written = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const bool whole = written >= 0 && writeAll(written, rewritten);
        if (written >= 0) {
            ::close(written);
        }
        if (whole && std::rename(temporary.constData(), path.constData()) == 0) {
            kept = rewritten.size();
        } else {
            ::unlink(temporary.constData());
        }
    }
    lock(descriptor, LOCK_UN);
    const std::lock_guard guard(m_mutex);
    m_rewriteAt = kept + growthBeforeRewrite;
}

} // namespace quillbarrow
