#include "CoordinatorHarness.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QMetaObject>
#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    // A long file's bytes are shown by their start and count.
    *out << '"' << bytes.left(200).toStdString() << '"'
         << (bytes.size() > 200 ? " (" + std::to_string(bytes.size()) + " bytes)" : std::string());
}

void quillbarrow::PrintTo(const QuillbarrowError& error, std::ostream* out)
{
    *out << QuillbarrowError::kindName(error.kind()).toStdString() << ": "
         << error.technicalDetails().toStdString();
}

namespace quillbarrow::testing {

CoordinatorHarness::CoordinatorHarness(Clipboard* clipboard, std::shared_ptr<TransferQueue> queue,
                                       std::optional<QString> openedFilesCache)
    : TransferCoordinator(clipboard, std::move(queue), AppLogger(QStringLiteral("TransferCoordinator")),
                          openedFilesCache ? *openedFilesCache
                                           : QDir::tempPath() + QStringLiteral("/quillbarrow-test-cache"))
{
}

TransferID CoordinatorFixture::addJob(const QString& name, std::optional<qint64> totalBytes)
{
    const TransferJob job(TransferID::create(), TransferDirection::androidToMac, TransferPurpose::fileTransfer, name,
                          totalBytes, TransferState::queued(), 0);
    coordinator.enqueueTransfer(job);
    coordinator.refreshTransferJobs();
    return job.id;
}

ConflictAnswerer::ConflictAnswerer(TransferCoordinator& coordinator, QList<Answer> script) : m_script(std::move(script))
{
    QObject::connect(&coordinator, &TransferCoordinator::pendingConflictChanged, &m_context,
                     [this, &coordinator] { answerNext(coordinator); });
}

void ConflictAnswerer::answerNext(TransferCoordinator& coordinator)
{
    if (!coordinator.pendingConflict()) {
        return;
    }
    asked.append(*coordinator.pendingConflict());
    if (m_script.isEmpty()) {
        ADD_FAILURE() << "unexpected question about " << coordinator.pendingConflict()->fileName.toStdString();
        m_script.append(Answer{});
    }
    const Answer next = m_script.takeFirst();
    QMetaObject::invokeMethod(
        &m_context,
        [&coordinator, next] {
            if (next.resolution) {
                coordinator.resolveConflict(*next.resolution, next.applyToAll);
            } else {
                coordinator.cancelConflicts();
            }
        },
        Qt::QueuedConnection);
}

ConflictAnswerer::Answer answer(ConflictResolution resolution, bool applyToAll)
{
    return ConflictAnswerer::Answer{resolution, applyToAll};
}

ConflictAnswerer::Answer cancelAnswer()
{
    return ConflictAnswerer::Answer{std::nullopt, false};
}

AndroidDevice HeldDownloadSession::device() const
{
    return AndroidDevice(DeviceID(QStringLiteral("held")), QStringLiteral("Held"), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

QCoro::Task<QList<StorageRoot>> HeldDownloadSession::storages()
{
    co_return QList<StorageRoot>();
}

QCoro::Task<DirectoryPage> HeldDownloadSession::rootDirectory(StorageID)
{
    throw QuillbarrowError::pathNotFound();
}

QCoro::Task<DirectoryPage> HeldDownloadSession::listDirectory(RemoteObjectID, RemotePath)
{
    throw QuillbarrowError::pathNotFound();
}

QCoro::Task<RemoteItem> HeldDownloadSession::createFolder(QString, std::optional<RemoteObjectID>, StorageID)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("not used"));
}

QCoro::Task<> HeldDownloadSession::rename(RemoteObjectID, QString)
{
    co_return;
}

QCoro::Task<> HeldDownloadSession::deleteItem(RemoteObjectID)
{
    co_return;
}

QCoro::Task<> HeldDownloadSession::downloadFile(RemoteObjectID, QString destination, TransferProgressFunction progress)
{
    started = true;
    bool goOn = true;
    std::thread first([&] { goOn = progress(1024, std::nullopt); });
    first.join();
    const std::optional<bool> released = co_await release.wait();
    Q_UNUSED(released)
    std::thread last([&] { goOn = goOn && progress(4096, std::nullopt); });
    last.join();
    if (!goOn) {
        throw QuillbarrowError::userCancelled();
    }
    QFile file(destination);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
}

QCoro::Task<RemoteItem> HeldDownloadSession::uploadFile(QString, QString, std::optional<RemoteObjectID>, StorageID,
                                                        TransferProgressFunction)
{
    throw QuillbarrowError::unsupportedOperation(QStringLiteral("not used"));
}

QCoro::Task<> HeldDownloadSession::close()
{
    co_return;
}

namespace {

QString capturedCategory;
QStringList capturedLines;

void captureLine(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (QString::fromUtf8(context.category) == capturedCategory) {
        capturedLines.append(message);
    }
}

} // namespace

LogCapture::LogCapture(QString category)
{
    capturedCategory = std::move(category);
    capturedLines.clear();
    m_previous = qInstallMessageHandler(captureLine);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines() const
{
    return capturedLines;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

bool inKilledProgram(const std::function<void()>& work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        killedNow(false);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ScratchDisk::ScratchDisk(const QString& at, qint64 bytes) : folder(at)
{
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
    if (::mount("quillbarrow-test", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) != 0) {
        whyNot = QStringLiteral("mounting a small disk needs root: ") + qt_error_string(errno);
    }
}

ScratchDisk::~ScratchDisk()
{
    if (whyNot.isEmpty()) {
        ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    }
}

BindMount::BindMount(const QString& source, const QString& where) : at(where)
{
    const QByteArray from = QFile::encodeName(source), to = QFile::encodeName(at);
    if (::mount(from.constData(), to.constData(), nullptr, MS_BIND, nullptr) != 0) {
        whyNot = QStringLiteral("binding a folder or file needs root: ") + qt_error_string(errno);
        return;
    }
    held = ::open(to.constData(), O_PATH | O_CLOEXEC);
}

BindMount::~BindMount()
{
    if (whyNot.isEmpty()) {
        const QByteArray mounted =
            held >= 0 ? "/proc/self/fd/" + QByteArray::number(held) : QFile::encodeName(at);
        ::umount2(mounted.constData(), MNT_DETACH);
    }
    if (held >= 0) {
        ::close(held);
    }
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList localTreeOf(const QString& folder)
{
    QStringList paths;
    QDirIterator walk(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QFileInfo info = walk.fileInfo();
        paths.append(QDir(folder).relativeFilePath(path) + (info.isDir() && !info.isSymLink() ? "/" : ""));
    }
    paths.sort();
    return paths;
}

} // namespace quillbarrow::testing
