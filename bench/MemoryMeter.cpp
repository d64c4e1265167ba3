#include "MemoryMeter.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <malloc.h>
#include <unistd.h>

namespace quillbarrow::bench {

namespace {

constexpr double mebibyte = 1024.0 * 1024.0;

QByteArray readProcFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

MemoryNow memoryNow()
{
    const struct mallinfo2 info = mallinfo2();
    const QList<QByteArray> pages = readProcFile("/proc/self/statm").split(' ');
    const double pageBytes = static_cast<double>(sysconf(_SC_PAGESIZE));
    return MemoryNow{static_cast<double>(info.uordblks + info.hblkhd) / mebibyte,
                     pages.size() > 1 ? pages[1].toDouble() * pageBytes / mebibyte : 0};
}

void resetPeakResident()
{
    // The kernel's own reset of VmHWM (see proc(5), clear_refs).
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

double peakResidentMiB()
{
    for (const QByteArray& line : readProcFile("/proc/self/status").split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024.0;
        }
    }
    return 0;
}

} // namespace quillbarrow::bench
