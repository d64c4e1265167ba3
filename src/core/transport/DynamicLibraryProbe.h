#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace quillbarrow {

// Looks for a libmtp library file. Only a presence test: libmtp is linked at build time, and the
// answer tells the backend selection and the libmtp backend whether this machine has libmtp at
// all. The file is never opened or loaded. A small value, cheap to copy; findLibMTP() may be
// called from any thread (an injected existence test must allow that).
class DynamicLibraryProbe {
  public:
    using FileExists = std::function<bool(const QString& path)>;

    // The candidates of this machine, tested against the file system.
    DynamicLibraryProbe();
    // The given candidates, in order, tested with `fileExists`.
    DynamicLibraryProbe(QStringList candidates, FileExists fileExists);

    // The first candidate that exists, or nothing.
    std::optional<QString> findLibMTP() const;

    const QStringList& candidates() const { return m_candidates; }

    // In this order: libmtp.so.9 and libmtp.so in the application's own lib folder (the "lib"
    // folder beside the folder that holds the executable; left out without an executable), then
    // the same two names in the system's multiarch library folder, then in /usr/local/lib.
    static QStringList standardCandidates(const std::optional<QString>& executablePath);
    // The running program's file, when the system tells it.
    static std::optional<QString> executablePath();
    // The folder of the platform's own libraries, "/usr/lib/<multiarch triplet>" where the
    // target is known, else "/usr/lib".
    static QString multiarchLibraryFolder();
    // True for anything at the path (symbolic links followed).
    static bool fileExists(const QString& path);

  private:
    QStringList m_candidates;
    FileExists m_fileExists;
};

} // namespace quillbarrow
