#include "QProcessLauncher.h"

#include <QProcess>

namespace quillbarrow {

LaunchResult QProcessLauncher::run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    LaunchResult result;
    if (!process.waitForStarted(-1)) {
        return result;
    }
    // While it waits, QProcess keeps emptying both pipes into its own buffers, so a process
    // table longer than a pipe's capacity never stalls the tool.
    process.waitForFinished(-1);
    result.standardOutput = process.readAllStandardOutput();
    if (process.exitStatus() == QProcess::CrashExit) {
        result.ending = LaunchResult::Ending::crashed;
        return result;
    }
    result.ending = LaunchResult::Ending::exited;
    result.exitCode = process.exitCode();
    return result;
}

} // namespace quillbarrow
