#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quillbarrow::e2e {

// Local files for the end-to-end runs: fast pseudo-random content, comparisons that stream (a
// 100 MB file is never held in memory), and the folder tree that goes to the device and back.
class LocalTree {
  public:
    // The tree's top folder, inside `root()`.
    static QString topName();
    // The big file, directly in the top folder.
    static QString bigFileName();
    // Exactly the largest file that may be opened for viewing; not a multiple of any packet size.
    static constexpr qint64 bigFileSize = 100'000'000;

    // Builds the tree on first use, in a temporary folder of its own that lives as long as the
    // program: nested folders, empty files, files whose sizes sit on USB packet boundaries, the
    // big file, names with accents and CJK characters (all within the Basic Multilingual Plane).
    // A file that the attached device cannot take is left out (see E2EResponder::acceptsUploadOf). Throws
    // std::runtime_error when it cannot be written.
    static const QString& root();
    static QString top() { return root() + QLatin1Char('/') + topName(); }
    static QString bigFile() { return top() + QLatin1Char('/') + bigFileName(); }
    // The number of files in the tree.
    static int fileCount();

    // Writes the big file's bytes at `path`.
    static void writeBigFile(const QString& path);
    // Writes `size` bytes from a xorshift generator seeded with `seed`.
    static void writePseudoRandomFile(const QString& path, qint64 size, quint64 seed);
    // Nothing when both files hold the same bytes; else what differs (size, first differing byte,
    // or a file that cannot be read).
    static std::optional<QString> fileDifference(const QString& expected, const QString& actual);
    // Every path below `folder`, relative to it, hidden entries included, sorted; folders end in "/".
    static QStringList entries(const QString& folder);
    // What differs between two trees: entries only in one of them, and files whose bytes differ.
    static QStringList treeDifferences(const QString& expected, const QString& actual);
};

} // namespace quillbarrow::e2e
