#include "DynamicLibraryProbe.h"

#include <QDir>
#include <QFileInfo>

namespace quillbarrow {

namespace {

const QStringList& libraryNames()
{
    static const QStringList names{QStringLiteral("libmtp.so.9"), QStringLiteral("libmtp.so")};
    return names;
}

// Debian's multiarch triplet of the target this build runs on.
const char* multiarchTriplet()
{
#if defined(__x86_64__) && defined(__ILP32__)
    return "x86_64-linux-gnux32";
#elif defined(__x86_64__)
    return "x86_64-linux-gnu";
#elif defined(__i386__)
    return "i386-linux-gnu";
#elif defined(__aarch64__)
    return "aarch64-linux-gnu";
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
    return "arm-linux-gnueabihf";
#elif defined(__arm__)
    return "arm-linux-gnueabi";
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return "powerpc64le-linux-gnu";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64-linux-gnu";
#elif defined(__s390x__)
    return "s390x-linux-gnu";
#else
    return nullptr;
#endif
}

void appendNamesIn(QStringList& candidates, const QString& folder)
{
    for (const QString& name : libraryNames()) {
        candidates.append(QDir(folder).filePath(name));
    }
}

} // namespace

DynamicLibraryProbe::DynamicLibraryProbe()
    : DynamicLibraryProbe(standardCandidates(executablePath()), fileExists)
{
}

DynamicLibraryProbe::DynamicLibraryProbe(QStringList candidates, FileExists fileExists)
    : m_candidates(std::move(candidates)), m_fileExists(std::move(fileExists))
{
}

std::optional<QString> DynamicLibraryProbe::findLibMTP() const
{
    for (const QString& candidate : m_candidates) {
        if (m_fileExists && m_fileExists(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

QStringList DynamicLibraryProbe::standardCandidates(const std::optional<QString>& executablePath)
{
    QStringList candidates;
    if (executablePath && !executablePath->isEmpty()) {
        // <prefix>/bin/quillbarrow looks in <prefix>/lib.
        const QString programFolder = QFileInfo(*executablePath).absolutePath();
        appendNamesIn(candidates, QDir::cleanPath(programFolder + QStringLiteral("/../lib")));
    }
    appendNamesIn(candidates, multiarchLibraryFolder());
    appendNamesIn(candidates, QStringLiteral("/usr/local/lib"));
    return candidates;
}

std::optional<QString> DynamicLibraryProbe::executablePath()
{
    const QString target = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (target.isEmpty()) {
        return std::nullopt;
    }
    return target;
}

QString DynamicLibraryProbe::multiarchLibraryFolder()
{
    const char* triplet = multiarchTriplet();
    return triplet ? QStringLiteral("/usr/lib/") + QLatin1StringView(triplet) : QStringLiteral("/usr/lib");
}

bool DynamicLibraryProbe::fileExists(const QString& path)
{
    return QFileInfo::exists(path);
}

} // namespace quillbarrow
