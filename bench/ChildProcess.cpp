#include "ChildProcess.h"

#include <QFile>

#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quillbarrow {

QByteArray ChildRun::lineStartingWith(const QByteArray& prefix) const
{
    QByteArray found;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith(prefix)) {
            found = line.trimmed();
        }
    }
    return found;
}

QByteArray ChildRun::field(const QByteArray& linePrefix, const QByteArray& key) const
{
    for (const QByteArray& word : lineStartingWith(linePrefix).split(' ')) {
        if (word.startsWith(key + '=')) {
            return word.mid(key.size() + 1);
        }
    }
    return {};
}

QString ChildRun::errorSummary() const
{
    QStringList lines;
    for (const QByteArray& line : errors.split('\n')) {
        // libmtp names every unknown device it opens; that is no error.
        if (!line.trimmed().isEmpty() && !line.contains("UNKNOWN in libmtp") && !line.contains("Please report")) {
            lines.append(QString::fromUtf8(line));
        }
    }
    return lines.mid(0, 8).join(QStringLiteral(" / "));
}

ChildRun runChild(const QStringList& arguments, const QString& scratchFolder)
{
    ChildRun run;
    const QByteArray outPath = QFile::encodeName(scratchFolder + QStringLiteral("/child.out"));
    const QByteArray errPath = QFile::encodeName(scratchFolder + QStringLiteral("/child.err"));
    std::vector<QByteArray> storage;
    for (const QString& argument : arguments) {
        storage.push_back(QFile::encodeName(argument));
    }
    std::vector<char*> argv;
    for (QByteArray& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    const auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.errors = QByteArray("cannot start ") + storage.front() + ": " + strerror(spawned);
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            run.errors = QByteArray("cannot wait for ") + storage.front();
            return run;
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.maxResidentKiB = usage.ru_maxrss;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile out(QFile::decodeName(outPath));
    if (out.open(QIODevice::ReadOnly)) {
        run.output = out.readAll();
    }
    QFile err(QFile::decodeName(errPath));
    if (err.open(QIODevice::ReadOnly)) {
        run.errors += err.readAll();
    }
    return run;
}

} // namespace quillbarrow
