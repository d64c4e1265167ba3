#include "ProcProcessTable.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quillbarrow {

namespace {

std::optional<qint32> pidFromFolderName(const QString& name)
{
    if (name.isEmpty() || !std::all_of(name.begin(), name.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        return std::nullopt;
    }
    bool ok = false;
    const qint32 pid = name.toInt(&ok, 10);
    if (!ok || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

} // namespace

ProcProcessTable::ProcProcessTable(QString root) : m_root(std::move(root)) {}

QList<ProcessEntry> ProcProcessTable::processes() const
{
    QList<ProcessEntry> entries;
    const QStringList names = QDir(m_root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const std::optional<qint32> pid = pidFromFolderName(name);
        if (!pid) {
            continue;
        }
        // A process may end while the table is read; it is then simply not listed.
        if (std::optional<ProcessEntry> entry = readEntry(*pid)) {
            entries.append(std::move(*entry));
        }
    }
    std::sort(entries.begin(), entries.end(), [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return entries;
}

uint ProcProcessTable::currentUserId() const
{
    return static_cast<uint>(::getuid());
}

std::optional<uint> ProcProcessTable::realUserIdFromStatus(const QByteArray& status)
{
    for (const QByteArray& line : status.split('\n')) {
        if (!line.startsWith("Uid:")) {
            continue;
        }
        // "Uid:" then the real, effective, saved and file-system ids, separated by white space.
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        bool ok = false;
        const uint uid = fields.value(0).toUInt(&ok, 10);
        return ok ? std::optional<uint>(uid) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<ProcessEntry> ProcProcessTable::readEntry(qint32 pid) const
{
    const QString folder = m_root + u'/' + QString::number(pid);
    QFile statusFile(folder + QStringLiteral("/status"));
    if (!statusFile.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const std::optional<uint> uid = realUserIdFromStatus(statusFile.readAll());
    if (!uid) {
        return std::nullopt;
    }
    ProcessEntry entry;
    entry.pid = pid;
    entry.realUserId = *uid;
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::read_symlink(QFile::encodeName(folder + QStringLiteral("/exe")).toStdString(), error);
    if (!error && !target.empty()) {
        entry.executablePath = QFile::decodeName(QByteArray::fromStdString(target.native()));
    }
    return entry;
}

} // namespace quillbarrow
