#include "LocalFileOperations.h"
#include "LocalNameSanitizer.h"
#include "OpenedFilesCache.h"
#include "ProgramFileTypes.h"
#include "TransferCoordinator.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <system_error>

namespace quillbarrow {

namespace {

// Why a phone file that the desktop would run is not opened.
QuillbarrowError programRefusal(const QString& fileName)
{
    return QuillbarrowError::fileOpenFailed(
        fileName, QStringLiteral("It is a program, and programs from the Android device are not opened."));
}

} // namespace

void TransferCoordinator::setDefaultApplicationOpener(std::shared_ptr<DefaultApplicationOpener> opener)
{
    Q_ASSERT(opener != nullptr);
    m_defaultApplicationOpener = std::move(opener);
}

QCoro::Task<std::optional<QUrl>> TransferCoordinator::downloadFileForOpening(RemoteItem item,
                                                                             std::shared_ptr<DeviceSession> deviceSession)
{
    if (item.kind == RemoteItemKind::folder) {
        co_return std::nullopt;
    }
    if (!deviceSession) {
        reportError(QuillbarrowError::fileOpenFailed(item.name, QStringLiteral("The Android device is not connected.")));
        co_return std::nullopt;
    }
    if (refuseItemsOfAnotherSession({item}, deviceSession)) {
        co_return std::nullopt;
    }
    // Both size checks come before anything is created: no job, no folder.
    if (!item.size || *item.size < 0) {
        reportError(QuillbarrowError::fileSizeUnavailableToOpen(item.name, maximumOpenFileBytes));
        co_return std::nullopt;
    }
    if (*item.size > maximumOpenFileBytes) {
        reportError(QuillbarrowError::fileTooLargeToOpen(item.name, *item.size, maximumOpenFileBytes));
        co_return std::nullopt;
    }
    // A name that makes it a program costs no download; its contents are looked at once they are here.
    if (ProgramFileTypes::isProgramName(LocalNameSanitizer::localName(item.name))) {
        reportError(programRefusal(item.name));
        co_return std::nullopt;
    }
    if (m_openingRemoteFileIDs.contains(item.id)) {
        // Already being opened: that open gives the file.
        co_return std::nullopt;
    }
    m_openingRemoteFileIDs.insert(item.id);

    QString destination;
    const OpenedFilesCache cache(m_openedFilesCacheDirectory);
    LocalFolder::Identity made;
    try {
        destination = cache.makeOpenedFileDestination(item.name, QDateTime::currentDateTimeUtc(), &made);
    } catch (const std::exception& error) {
        reportError(QuillbarrowError::fileOpenFailed(
            item.name, QStringLiteral("Quillbarrow could not prepare its temporary cache. ") +
                           QString::fromLocal8Bit(error.what())));
        m_openingRemoteFileIDs.remove(item.id);
        co_return std::nullopt;
    }
    clearLastError();

    const TransferJob job(TransferID::create(), TransferDirection::androidToMac, TransferPurpose::openForViewing,
                          item.name, item.size, TransferState::queued(), 0);
    enqueueTransfer(job);
    refreshTransferJobs();

    QPointer<TransferCoordinator> self(this);
    AsyncGate::Lease workflow = co_await acquireTransferWorkflow();
    bool downloaded = false;
    if (self && workflow) {
        // Named first: GCC 12 destroys a braced temporary inside a co_await expression twice.
        PlannedDownload plan{job.id, item, destination, false, maximumOpenFileBytes, shownDevicePath(item), QString()};
        auto folder = std::make_shared<LocalDestination>(QFileInfo(destination).path());
        downloaded = co_await executeDownload(std::move(plan), std::move(deviceSession), std::move(folder));
    }
    const bool isProgram = downloaded && ProgramFileTypes::isProgramFile(destination);
    if (!downloaded || isProgram) {
        // The open's own folder goes with a failed download, and with a program's copy.
        cache.removeOpenedFolder(destination, made);
    }
    workflow.release();
    if (!self) {
        co_return std::nullopt;
    }
    m_openingRemoteFileIDs.remove(item.id);
    if (isProgram) {
        reportError(programRefusal(item.name));
    }
    if (!downloaded || isProgram) {
        co_return std::nullopt;
    }
    co_return QUrl::fromLocalFile(destination);
}

QCoro::Task<> TransferCoordinator::openDeviceFile(RemoteItem item, std::shared_ptr<DeviceSession> deviceSession)
{
    if (item.kind == RemoteItemKind::folder) {
        co_return;
    }
    QPointer<TransferCoordinator> self(this);
    const QString name = item.name;
    const std::optional<QUrl> local = co_await downloadFileForOpening(std::move(item), std::move(deviceSession));
    if (!self || !local) {
        co_return;
    }
    const std::shared_ptr<DefaultApplicationOpener> opener = m_defaultApplicationOpener;
    QCoro::Task<bool> opening = opener->open(local->toLocalFile());
    const bool opened = co_await std::move(opening);
    if (!opened && self) {
        reportError(
            QuillbarrowError::fileOpenFailed(name, QStringLiteral("No compatible Mac application is available.")));
    }
}

} // namespace quillbarrow
