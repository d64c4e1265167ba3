#include "LocalTree.h"

#include "E2EResponder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <memory>
#include <stdexcept>
#include <vector>

namespace quillbarrow::e2e {

namespace {

constexpr qint64 chunkSize = 1 << 20;

struct TreeFile {
    const char16_t* path; // relative to the top folder
    qint64 size;
};

// The files of the tree that the attached device can take (see E2EResponder::acceptsUploadOf).
bool takenByTheDevice(const TreeFile& file)
{
    return E2EResponder::current().acceptsUploadOf(file.size);
}

constexpr quint64 bigFileSeed = 0x5EED;

// Names in NFC, as the tree is written. Sizes on either side of USB packet boundaries (512 bytes
// for high-speed bulk, 64 KiB for libmtp's blocks; an upload's data container carries 12 bytes of
// header before the file, so 500 bytes fill a packet exactly) and files with no bytes at all.
const std::array<TreeFile, 11>& treeFiles()
{
    static const std::array<TreeFile, 11> files{{
        {u"empty.txt", 0},
        {u"Caf\u00e9 cr\u00e8me/na\u00efve r\u00e9sum\u00e9.txt", 1000},
        {u"Caf\u00e9 cr\u00e8me/empty too.dat", 0},
        {u"Caf\u00e9 "
         u"cr\u00e8me/\u65e5\u672c\u8a9e\u306e\u30d5\u30a9\u30eb\u30c0/\u6f22\u5b57\u30c6\u30b9\u30c8.txt",
         777},
        {u"Caf\u00e9 cr\u00e8me/\u65e5\u672c\u8a9e\u306e\u30d5\u30a9\u30eb\u30c0/\u30c7\u30fc\u30bf.bin",
         65536},
        {u"deep/a/b/c/\u00dcn\u00efc\u00f6d\u00e9 \u00f1ame.txt", 513},
        {u"deep/a/b/c/512.bin", 512},
        {u"deep/a/b/c/196625.bin", 3 * 65536 + 17},
        {u"deep/a/b/c/500.bin", 500},
        {u"deep/a/b/c/511.bin", 511},
        {u"deep/a/b/c/\u00e9t\u00e9 2024/\u4e2d\u6587 \u6587\u4ef6.dat", 4096},
    }};
    return files;
}

class PseudoRandom {
  public:
    explicit PseudoRandom(quint64 seed) : m_state(seed == 0 ? 0x9E3779B97F4A7C15ull : seed) {}
    quint64 next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }

  private:
    quint64 m_state;
};

void makeFolder(const QString& path)
{
    if (!QDir().mkpath(path)) {
        throw std::runtime_error("cannot create " + path.toStdString());
    }
}

} // namespace

QString LocalTree::topName()
{
    return QStringLiteral("Quillbarrow tree \u2014 \u00e0 l'\u00e9t\u00e9 \u6a39");
}

QString LocalTree::bigFileName()
{
    return QStringLiteral("big 100 MB.bin");
}

const QString& LocalTree::root()
{
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        auto made = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                                    QStringLiteral("/quillbarrow-e2e-source-XXXXXX"));
        if (!made->isValid()) {
            throw std::runtime_error("cannot create a temporary folder for the source tree");
        }
        const QString top = made->path() + QLatin1Char('/') + topName();
        quint64 seed = 1;
        for (const TreeFile& file : treeFiles()) {
            if (!takenByTheDevice(file)) {
                continue;
            }
            const QString path = top + QLatin1Char('/') + QString::fromUtf16(file.path);
            makeFolder(QFileInfo(path).path());
            writePseudoRandomFile(path, file.size, ++seed);
        }
        writeBigFile(top + QLatin1Char('/') + bigFileName());
        return made;
    }();
    static const QString path = folder->path();
    return path;
}

int LocalTree::fileCount()
{
    int count = 1; // the big file
    for (const TreeFile& file : treeFiles()) {
        if (takenByTheDevice(file)) {
            ++count;
        }
    }
    return count;
}

void LocalTree::writeBigFile(const QString& path)
{
    writePseudoRandomFile(path, bigFileSize, bigFileSeed);
}

void LocalTree::writePseudoRandomFile(const QString& path, qint64 size, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    }
    PseudoRandom random(seed);
    std::vector<quint64> words(chunkSize / sizeof(quint64));
    for (qint64 written = 0; written < size;) {
        for (quint64& word : words) {
            word = random.next();
        }
        const qint64 count = std::min(chunkSize, size - written);
        if (file.write(reinterpret_cast<const char*>(words.data()), count) != count) {
            throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                     file.errorString().toStdString());
        }
        written += count;
    }
}

std::optional<QString> LocalTree::fileDifference(const QString& expected, const QString& actual)
{
    QFile a(expected);
    QFile b(actual);
    if (!a.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot read ") + expected;
    }
    if (!b.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot read ") + actual;
    }
    if (a.size() != b.size()) {
        return QStringLiteral("%1 bytes instead of %2").arg(b.size()).arg(a.size());
    }
    for (qint64 offset = 0;;) {
        const QByteArray left = a.read(chunkSize);
        const QByteArray right = b.read(chunkSize);
        if (left.size() != right.size()) {
            return QStringLiteral("the files read differently from byte %1").arg(offset);
        }
        if (left.isEmpty()) {
            return std::nullopt;
        }
        if (left != right) {
            qint64 at = 0;
            while (left[at] == right[at]) {
                ++at;
            }
            return QStringLiteral("first different byte at %1").arg(offset + at);
        }
        offset += left.size();
    }
}

QStringList LocalTree::entries(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        it.next();
        const QString relative = base.relativeFilePath(it.filePath());
        found.append(it.fileInfo().isDir() ? relative + QLatin1Char('/') : relative);
    }
    found.sort();
    return found;
}

QStringList LocalTree::treeDifferences(const QString& expected, const QString& actual)
{
    const QStringList want = entries(expected);
    const QStringList have = entries(actual);
    QStringList differences;
    for (const QString& entry : want) {
        if (!have.contains(entry)) {
            differences.append(QStringLiteral("missing: ") + entry);
        } else if (!entry.endsWith(QLatin1Char('/'))) {
            if (const auto difference =
                    fileDifference(expected + QLatin1Char('/') + entry, actual + QLatin1Char('/') + entry)) {
                differences.append(entry + QStringLiteral(": ") + *difference);
            }
        }
    }
    for (const QString& entry : have) {
        if (!want.contains(entry)) {
            differences.append(QStringLiteral("unexpected: ") + entry);
        }
    }
    return differences;
}

} // namespace quillbarrow::e2e
