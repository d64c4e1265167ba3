#include "ProgramFileTypes.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>

namespace quillbarrow {

namespace {

// What runs code, with the names other versions of the database use for the same types.
const char* const programTypes[] = {
    // Linux programs; one built position-independent is typed as a shared library.
    "application/x-executable",
    "application/x-pie-executable",
    "application/x-sharedlib",
    // Windows programs and installers, which a Windows program loader runs.
    "application/x-ms-dos-executable",
    "application/x-msdownload",
    "application/vnd.microsoft.portable-executable",
    "application/x-ms-ne-executable",
    "application/x-msi",
    "application/x-ms-shortcut",
    // Java archives (Android packages among them), class files and Web Start launchers.
    "application/x-java-archive",
    "application/x-java",
    "application/x-java-jnlp-file",
    "application/x-python-bytecode",
    "application/vnd.appimage",
    "application/x-iso9660-appimage",
    // Scripts, also where a database files them apart from the executable type.
    "application/x-shellscript",
    "application/x-perl",
    "text/x-python",
    "text/x-python3",
    "application/x-ruby",
    "text/x-lua",
    "application/x-awk",
    "application/javascript",
    "application/ecmascript",
    "application/x-php",
    "text/tcl",
    "text/vbscript",
    // Launchers.
    "application/x-desktop",
    // Packages, which the desktop hands to an installer that runs the code they carry, and
    // references that have one fetch and install an application.
    "application/vnd.debian.binary-package",
    "application/x-deb",
    "application/x-rpm",
    "application/vnd.flatpak",
    "application/vnd.flatpak.ref",
    "application/vnd.flatpak.repo",
    "application/vnd.snap",
    // Windows registry changes, which the registry editor merges into the system's settings.
    "text/x-ms-regedit",
};

// Programs the database has no type for, by the end of their names (compared without regard to
// case, as the system that runs them does).
const char* const programNameEndings[] = {
    // Shell scripts named after their shell, and self-extracting installers.
    ".bash",
    ".zsh",
    ".ksh",
    ".fish",
    ".run",
    // Python scripts run without a console window.
    ".pyw",
    // Windows batch files, PowerShell scripts, shortcuts, DOS programs and screen savers (programs
    // under another ending).
    ".bat",
    ".cmd",
    ".ps1",
    ".lnk",
    ".com",
    ".scr",
};

// Data written in a program type's syntax; nothing runs it.
const char* const dataTypes[] = {
    "application/json",
    "application/x-theme",
};

bool isProgram(const QMimeType& type)
{
    for (const char* data : dataTypes) {
        if (type.inherits(QLatin1StringView(data))) {
            return false;
        }
    }
    for (const char* program : programTypes) {
        if (type.inherits(QLatin1StringView(program))) {
            return true;
        }
    }
    return false;
}

} // namespace

bool ProgramFileTypes::isProgramName(const QString& fileName)
{
    for (const char* ending : programNameEndings) {
        if (fileName.endsWith(QLatin1StringView(ending), Qt::CaseInsensitive)) {
            return true;
        }
    }
    const QMimeDatabase database;
    for (const QMimeType& type : database.mimeTypesForFileName(fileName)) {
        if (isProgram(type)) {
            return true;
        }
    }
    return false;
}

bool ProgramFileTypes::isProgramFile(const QString& path)
{
    if (isProgramName(QFileInfo(path).fileName())) {
        return true;
    }
    if (isProgram(QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchContent))) {
        return true;
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "#!";
}

} // namespace quillbarrow
