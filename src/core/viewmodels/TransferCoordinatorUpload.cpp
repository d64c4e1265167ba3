#include "LocalFileOperations.h"
#include "TransferCoordinator.h"
#include "VisitedLocalFolders.h"
#include "domain/NfcText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <system_error>

namespace quillbarrow {

namespace fs = std::filesystem;

// The state of one paste into a device folder, shared by its planning and its uploads and
// dropped when the paste returns.
struct TransferCoordinator::UploadBatch {
    // The paste's target folder; absent for the storage root.
    std::optional<RemoteObjectID> rootParent;
    StorageID storageID;
    std::shared_ptr<DeviceSession> session;
    // The standardized path of each file found by the candidate walk, mapped to its job.
    QHash<QString, TransferID> jobIDsByPath;
    // The children (by canonical name) of each device folder listed in this batch, under
    // "id:<folder id>" or "root:<storage id>".
    QHash<QString, QHash<QString, RemoteItem>> childrenCache;
    // The canonical names that earlier plans of the batch give their files, per device folder
    // (by relative key), so that two files never land on one name unasked.
    QHash<QString, QSet<QString>> plannedNames;
    QList<PlannedUpload> plans;
    // The device folder standing for each relative key ("/" and a folder name per level below the
    // target folder): existing folders that planning merges into, and folders the uploads create.
    QHash<QString, RemoteObjectID> folderIDs;
    // Local folders the planning walk has entered.
    VisitedLocalFolders visitedFolders;
};

namespace {

// The platform's standardized form of a local address: absolute, "." and ".." resolved, no
// trailing slash; links are kept as spelled so that the same file is found again by every walk.
// Empty for an address that is not a local file.
QString standardizedPath(const QString& path)
{
    if (path.isEmpty()) {
        return QString();
    }
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString localPathOf(const QUrl& url)
{
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

// The entries of a local folder, hidden ones left out, in the order the system lists them.
struct FolderListing {
    QStringList paths;
    std::optional<QString> failure;
};

FolderListing listVisibleEntries(const QString& folder)
{
    FolderListing listing;
    std::error_code error;
    fs::directory_iterator entries(fs::path(QFile::encodeName(folder).toStdString()), error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        const QString name = QFile::decodeName(QByteArray::fromStdString(entries->path().filename().native()));
        if (!name.startsWith(QLatin1Char('.'))) {
            listing.paths.append(LocalFileOperations::childPath(folder, name));
        }
    }
    if (error) {
        listing.paths.clear();
        listing.failure = QString::fromLocal8Bit(error.message());
    }
    return listing;
}

// The size of the file itself, links followed (a link's own size says nothing about what is
// uploaded).
std::optional<qint64> fileSize(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(info.st_size);
}

QString relativeKey(const QStringList& components)
{
    QString key;
    for (const QString& name : components) {
        key += QLatin1Char('/') + name;
    }
    return key;
}

QString destinationName(const QStringList& parentRel)
{
    return parentRel.isEmpty() ? QStringLiteral("the destination folder") : parentRel.last();
}

} // namespace

// ---- Candidates -------------------------------------------------------------------------------

QList<UploadCandidate> TransferCoordinator::collectUploadCandidates(const QList<QUrl>& urls)
{
    QList<UploadCandidate> candidates;
    QSet<QString> visitedPaths;
    VisitedLocalFolders visitedFolders;
    std::function<void(const QString&)> collect = [&](const QString& path) {
        if (path.isEmpty() || visitedPaths.contains(path)) {
            return;
        }
        visitedPaths.insert(path);
        const QFileInfo info(path);
        if (!info.exists()) {
            return;
        }
        if (!info.isDir()) {
            candidates.append(UploadCandidate{path, fileSize(path)});
            return;
        }
        if (!visitedFolders.enter(path)) {
            return;
        }
        const FolderListing listing = listVisibleEntries(path);
        for (const QString& entry : listing.paths) {
            collect(entry);
        }
    };
    for (const QUrl& url : urls) {
        collect(standardizedPath(localPathOf(url)));
    }
    return candidates;
}

QString TransferCoordinator::uniqueName(const QString& name, const QSet<QString>& taken)
{
    QSet<QString> takenKeys;
    for (const QString& takenName : taken) {
        takenKeys.insert(NfcText::normalized(takenName));
    }
    return LocalFileOperations::keepBothName(
        name, [&](const QString& candidate) { return takenKeys.contains(NfcText::normalized(candidate)); });
}

// ---- Paste and planning -----------------------------------------------------------------------

QCoro::Task<> TransferCoordinator::pasteIntoDevice(std::optional<RemoteObjectID> parentID, StorageID storageID,
                                                   std::shared_ptr<DeviceSession> deviceSession)
{
    const ClipboardContents contents = m_clipboard->contents();
    switch (contents.kind()) {
    case ClipboardContents::Kind::empty:
        co_return;
    case ClipboardContents::Kind::deviceFiles:
        reportError(QuillbarrowError::unsupportedOperation(
            QStringLiteral("Copying within the Android device is not supported yet.")));
        co_return;
    case ClipboardContents::Kind::localFiles:
        break;
    }
    if (!deviceSession) {
        setLastError(QuillbarrowError::sessionFailed(QStringLiteral("No Android device session is open.")));
        co_return;
    }
    const QList<QUrl> urls = contents.urls();
    const QList<UploadCandidate> candidates = collectUploadCandidates(urls);
    if (candidates.isEmpty()) {
        co_return;
    }

    auto batch = std::make_shared<UploadBatch>();
    batch->rootParent = std::move(parentID);
    batch->storageID = std::move(storageID);
    batch->session = std::move(deviceSession);
    for (const UploadCandidate& candidate : candidates) {
        const TransferJob job(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                              LocalFileOperations::lastComponent(candidate.path), candidate.size,
                              TransferState::queued(), 0);
        enqueueTransfer(job);
        batch->jobIDsByPath.insert(candidate.path, job.id);
    }
    refreshTransferJobs();

    // The jobs show as queued, and can be cancelled, while an earlier workflow runs.
    QPointer<TransferCoordinator> self(this);
    AsyncGate::Lease workflow = co_await acquireTransferWorkflow();
    if (!self || !workflow) {
        co_return;
    }
    clearStickyResolution();

    for (const QUrl& url : urls) {
        const bool goOn = co_await planUploads(localPathOf(url), QStringList(), batch->rootParent, true, batch);
        if (!self) {
            co_return;
        }
        if (!goOn) {
            cancelTransfers(batch->jobIDsByPath.values());
            co_return;
        }
    }

    // Jobs that no plan carries (skipped, or their files gone) leave the list; a job that is no
    // longer queued (cancelled while it waited) stays as it is.
    QSet<TransferID> plannedJobs;
    for (const PlannedUpload& plan : std::as_const(batch->plans)) {
        plannedJobs.insert(plan.jobID);
    }
    for (const TransferID& id : batch->jobIDsByPath) {
        if (plannedJobs.contains(id)) {
            continue;
        }
        const std::optional<TransferJob> job = m_transferQueue->job(id);
        if (job && job->state.kind() == TransferState::Kind::queued) {
            m_transferQueue->remove(id);
            dropCancellationToken(id);
        }
    }
    refreshTransferJobs();

    const QList<PlannedUpload> plans = batch->plans;
    for (const PlannedUpload& plan : plans) {
        co_await executeUpload(plan, batch);
        if (!self) {
            co_return;
        }
    }
}

QCoro::Task<bool> TransferCoordinator::planUploads(QString path, QStringList parentRel,
                                                   std::optional<RemoteObjectID> deviceParentID, bool checkConflicts,
                                                   std::shared_ptr<UploadBatch> batch)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        setLastError(QuillbarrowError::pathNotFound());
        co_return true;
    }
    if (!info.isDir()) {
        co_return co_await planUploadFile(std::move(path), std::move(parentRel), std::move(deviceParentID),
                                          checkConflicts, batch);
    }

    // A folder reached again (through a link, or a link loop) is not walked a second time.
    if (!batch->visitedFolders.enter(path)) {
        co_return true;
    }
    const FolderListing listing = listVisibleEntries(path);
    if (listing.failure) {
        setLastError(QuillbarrowError::sessionFailed(QStringLiteral("Could not read ") + path + QStringLiteral(": ") +
                                                     *listing.failure));
        co_return true;
    }
    const QString name = LocalFileOperations::lastComponent(standardizedPath(path));
    QStringList chain = parentRel;
    chain.append(name);

    // An existing device folder of the same name is merged into, and its files are checked one by
    // one; anywhere else the folder will be new, so nothing below it can clash with the device.
    std::optional<RemoteObjectID> entriesParent;
    bool checkEntries = false;
    if (checkConflicts) {
        QPointer<TransferCoordinator> self(this);
        const QHash<QString, RemoteItem> children = co_await cachedDeviceChildren(deviceParentID, batch);
        if (!self) {
            co_return true;
        }
        const auto existing = children.constFind(NfcText::normalized(name));
        if (existing != children.constEnd() && existing->kind == RemoteItemKind::folder) {
            batch->folderIDs.insert(relativeKey(chain), existing->id);
            entriesParent = existing->id;
            checkEntries = true;
        }
    }

    for (const QString& entry : listing.paths) {
        QPointer<TransferCoordinator> self(this);
        const bool goOn = co_await planUploads(entry, chain, entriesParent, checkEntries, batch);
        if (!self) {
            co_return true;
        }
        if (!goOn) {
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<bool> TransferCoordinator::planUploadFile(QString path, QStringList parentRel,
                                                      std::optional<RemoteObjectID> deviceParentID,
                                                      bool checkConflicts, std::shared_ptr<UploadBatch> batch)
{
    const QString name = LocalFileOperations::lastComponent(standardizedPath(path));
    const auto job = batch->jobIDsByPath.constFind(standardizedPath(path));
    if (job == batch->jobIDsByPath.constEnd()) {
        // The file appeared after the candidate walk: it has no job to run under.
        setLastError(QuillbarrowError::pathNotFound());
        co_return true;
    }
    const TransferID jobID = *job;
    if (!canStartTransfer(jobID)) {
        co_return true;
    }

    const QString folderKey = relativeKey(parentRel);
    QHash<QString, RemoteItem> children;
    if (checkConflicts) {
        QPointer<TransferCoordinator> self(this);
        children = co_await cachedDeviceChildren(deviceParentID, batch);
        if (!self) {
            co_return true;
        }
    }
    const QSet<QString> plannedHere = batch->plannedNames.value(folderKey);
    const QString key = NfcText::normalized(name);
    const auto onDevice = children.constFind(key);
    qsizetype earlierPlan = -1;
    for (qsizetype index = 0; index < batch->plans.size(); ++index) {
        const PlannedUpload& plan = batch->plans.at(index);
        if (relativeKey(plan.parentRelComponents) == folderKey && NfcText::equal(plan.fileName, name)) {
            earlierPlan = index;
            break;
        }
    }
    if (earlierPlan >= 0 && batch->plans.at(earlierPlan).jobID == jobID) {
        // The same file reached twice on the same way (it is on the clipboard twice).
        co_return true;
    }

    QString fileName = name;
    std::optional<RemoteObjectID> replaceExistingID;
    if (onDevice != children.constEnd() || plannedHere.contains(key)) {
        QPointer<TransferCoordinator> self(this);
        const std::optional<ConflictResolution> answer =
            co_await requestResolution(jobID, name, destinationName(parentRel));
        if (!self) {
            co_return true;
        }
        if (!answer) {
            co_return false;
        }
        switch (*answer) {
        case ConflictResolution::skip:
            co_return true;
        case ConflictResolution::replace:
            if (earlierPlan >= 0) {
                // An earlier file of this batch was to get the name: this one takes its place,
                // and with it the replacement of the device object it would have deleted.
                replaceExistingID = batch->plans.at(earlierPlan).replaceExistingID;
                batch->plans.removeAt(earlierPlan);
            } else {
                replaceExistingID = onDevice->id;
            }
            break;
        case ConflictResolution::keepBoth: {
            QSet<QString> taken = plannedHere;
            for (auto child = children.constBegin(); child != children.constEnd(); ++child) {
                taken.insert(child.key());
            }
            fileName = uniqueName(name, taken);
            break;
        }
        }
    }
    batch->plannedNames[folderKey].insert(NfcText::normalized(fileName));
    batch->plans.append(PlannedUpload{jobID, path, parentRel, fileName, fileSize(path), replaceExistingID});
    co_return true;
}

QCoro::Task<QHash<QString, RemoteItem>> TransferCoordinator::cachedDeviceChildren(std::optional<RemoteObjectID> parentID,
                                                                                  std::shared_ptr<UploadBatch> batch)
{
    const QString key = parentID ? QStringLiteral("id:") + parentID->rawValue()
                                 : QStringLiteral("root:") + batch->storageID.rawValue();
    if (const auto cached = batch->childrenCache.constFind(key); cached != batch->childrenCache.constEnd()) {
        co_return QHash<QString, RemoteItem>(*cached);
    }
    QHash<QString, RemoteItem> children;
    try {
        std::optional<DirectoryPage> page;
        if (parentID) {
            // Only the names, kinds and ids of the children are used, so no path is needed.
            const RemotePath anywhere(batch->storageID, QStringList());
            page.emplace(co_await batch->session->listDirectory(*parentID, anywhere));
        } else {
            page.emplace(co_await batch->session->rootDirectory(batch->storageID));
        }
        for (const RemoteItem& item : std::as_const(page->items)) {
            children.insert(NfcText::normalized(item.name), item);
        }
    } catch (...) {
        // A folder that cannot be listed is taken as empty for the rest of the batch.
        children.clear();
    }
    // Only the batch is touched from here on, which the caller keeps alive.
    batch->childrenCache.insert(key, children);
    co_return children;
}

// ---- Execution --------------------------------------------------------------------------------

QCoro::Task<> TransferCoordinator::executeUpload(PlannedUpload plan, std::shared_ptr<UploadBatch> batch)
{
    QPointer<TransferCoordinator> self(this);
    const TransferID jobID = plan.jobID;
    const std::shared_ptr<TransferCancellationToken> token = cancellationToken(jobID);
    if (!canStartTransfer(jobID) || token->isCancelled()) {
        dropCancellationToken(jobID);
        co_return;
    }
    try {
        m_transferQueue->start(jobID, QDateTime::currentDateTimeUtc());
    } catch (const QuillbarrowError&) {
        dropCancellationToken(jobID);
        co_return;
    }
    m_logger.info(QStringLiteral("started upload ") + plan.fileName);
    refreshTransferJobs();

    // The device folder of the file: every folder of its chain that the batch does not know yet
    // is created, once, and remembered for the later files.
    std::optional<RemoteObjectID> parent = batch->rootParent;
    QString key;
    for (const QString& name : std::as_const(plan.parentRelComponents)) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
            co_return;
        }
        key += QLatin1Char('/') + name;
        if (const auto known = batch->folderIDs.constFind(key); known != batch->folderIDs.constEnd()) {
            parent = *known;
            continue;
        }
        std::optional<RemoteItem> created;
        std::optional<QuillbarrowError> failure;
        try {
            created.emplace(co_await batch->session->createFolder(name, parent, batch->storageID));
        } catch (...) {
            failure = QuillbarrowError::fromException(std::current_exception());
        }
        if (!self) {
            co_return;
        }
        if (failure) {
            if (token->isCancelled()) {
                finishCancelled(jobID, QString());
            } else {
                finishFailed(jobID, *failure);
            }
            co_return;
        }
        batch->folderIDs.insert(key, created->id);
        parent = created->id;
    }

    if (plan.replaceExistingID) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
            co_return;
        }
        try {
            co_await batch->session->deleteItem(*plan.replaceExistingID);
        } catch (...) {
            // The upload goes ahead; the old object may remain beside the new one.
        }
        if (!self) {
            co_return;
        }
    }

    const TransferProgressFunction progress =
        makeProgressFunction(jobID, plan.size, std::make_shared<TransferByteLimit>(std::nullopt));
    if (token->isCancelled()) {
        finishCancelled(jobID, QString());
        co_return;
    }
    std::optional<QuillbarrowError> failure;
    try {
        const RemoteItem uploaded =
            co_await batch->session->uploadFile(plan.localPath, plan.fileName, parent, batch->storageID, progress);
        Q_UNUSED(uploaded)
    } catch (...) {
        failure = QuillbarrowError::fromException(std::current_exception());
    }
    if (!self) {
        co_return;
    }
    if (!failure) {
        finishCompleted(jobID, QStringLiteral("uploaded ") + plan.fileName);
    } else if (token->isCancelled() || failure->kind() == QuillbarrowError::Kind::userCancelled) {
        finishCancelled(jobID, QStringLiteral("cancelled upload ") + plan.fileName);
    } else {
        finishFailed(jobID, *failure);
    }
}

} // namespace quillbarrow
