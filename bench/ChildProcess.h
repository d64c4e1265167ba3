#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quillbarrow {

// One run of another program, waited for: how it ended, how long it took on the wall clock from
// spawn to exit, its peak resident memory, and what it wrote (stdout and stderr kept apart).
struct ChildRun {
    int exitCode = -1; // -1 when it could not be started or did not exit normally
    double seconds = 0;
    long maxResidentKiB = 0;
    QByteArray output;
    QByteArray errors;

    bool succeeded() const { return exitCode == 0; }
    // The last line of stdout that starts with `prefix` (libmtp writes notes of its own there).
    QByteArray lineStartingWith(const QByteArray& prefix) const;
    // The value of `key=` on that line, e.g. seconds= or id=; empty when absent.
    QByteArray field(const QByteArray& linePrefix, const QByteArray& key) const;
    // The first lines of stderr, for error messages.
    QString errorSummary() const;
};

// Runs `arguments` (the program first, looked up in PATH) with stdin from /dev/null and its output
// captured through files in `scratchFolder`.
ChildRun runChild(const QStringList& arguments, const QString& scratchFolder);

} // namespace quillbarrow
