#include "XdgDefaultApplicationOpener.h"
#include "domain/LocalPath.h"

#include "async/OneShot.h"

#include <QProcess>
#include <QStringList>

#include <memory>

namespace quillbarrow {

namespace {

// The helper is let go on a later turn: its own signal may be what ends the wait.
struct LaterDeleter {
    void operator()(QProcess* process) const { process->deleteLater(); }
};

} // namespace

XdgDefaultApplicationOpener::XdgDefaultApplicationOpener(QString program) : m_program(std::move(program)) {}

QCoro::Task<bool> XdgDefaultApplicationOpener::open(const QString& path)
{
    const std::unique_ptr<QProcess, LaterDeleter> process(new QProcess);
    process->setProgram(m_program);
    // The file's address, never its bare path: the helper takes an argument that reads as an
    // address of another kind (a name may hold a line break followed by "mailto:") for one, and
    // hands it to the browser. The address also carries the real bytes of a name that is not UTF-8.
    process->setArguments(QStringList{QString::fromLatin1(LocalPath::url(path).toEncoded())});
    // The helper's own chatter is not ours to show.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setStandardInputFile(QProcess::nullDevice());
    // Waits, without blocking, for the helper's end; a helper that cannot start ends it too. Some
    // desktops keep the helper until the application has the file.
    const OneShot<bool> ended;
    QObject::connect(process.get(), &QProcess::finished, process.get(),
                     [ended](int exitCode, QProcess::ExitStatus status) {
                         ended.fulfil(status == QProcess::NormalExit && exitCode == 0);
                     });
    QObject::connect(process.get(), &QProcess::errorOccurred, process.get(), [ended](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            ended.fulfil(false);
        }
    });
    process->start();
    auto end = ended.wait();
    const std::optional<bool> opened = co_await std::move(end);
    co_return opened.value_or(false);
}

} // namespace quillbarrow
