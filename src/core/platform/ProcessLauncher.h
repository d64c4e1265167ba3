#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quillbarrow {

// How a launched tool ended.
struct LaunchResult {
    enum class Ending {
        notStarted, // the program is missing or cannot be executed
        exited,     // it ran and exited; exitCode holds its status
        crashed,    // it ran and was ended by a signal
    };

    Ending ending = Ending::notStarted;
    int exitCode = -1;
    QByteArray standardOutput;

    friend bool operator==(const LaunchResult&, const LaunchResult&) = default;
};

// Runs a command-line tool to its end. Blocking: call it from a worker thread, never from
// the main thread.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Standard output is read to its end while the tool runs; standard error is drained and
    // dropped, so that neither pipe can fill up and stall the tool.
    virtual LaunchResult run(const QString& program, const QStringList& arguments) = 0;
};

} // namespace quillbarrow
