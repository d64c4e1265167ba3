#include "LocalFileOperations.h"
#include "domain/LocalPath.h"
#include "MainThreadYield.h"
#include "TransferCoordinator.h"
#include "VisitedLocalFolders.h"
#include "TransferItemFailure.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"
#include "domain/NfcText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStorageInfo>
#include <QThreadPool>
#include <QUuid>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <variant>

namespace quillbarrow {

namespace fs = std::filesystem;

// The state of one paste into a device folder, shared by its planning and its uploads and
// dropped when the paste returns.
struct TransferCoordinator::UploadBatch {
    // The paste's target folder; absent for the storage root.
    std::optional<RemoteObjectID> rootParent;
    StorageID storageID;
    std::shared_ptr<DeviceSession> session;
    // The standardized path of each item found by the candidate walk, mapped to its job.
    QHash<QString, TransferID> jobIDsByPath;
    // The children (by canonical name) of each device folder listed in this batch, under
    // "id:<folder id>" or "root:<storage id>".
    QHash<QString, QHash<QString, RemoteItem>> childrenCache;
    // The plans in the order they run. A plan whose name a later file took over (Replace of a name
    // that an earlier file of the batch was to get) is emptied, so the others keep their order.
    QList<std::optional<PlannedUpload>> plans;
    // For each name a plan gives its file, the index of that plan: keyed by the device folder's
    // relative key, "/" and the canonical name, so that two files never land on one name unasked
    // and the clash is found without looking through the earlier plans.
    QHash<QString, qsizetype> planByName;
    // The device folder standing for each relative key ("/" and a folder name per level below the
    // target folder): existing folders that planning merges into, and folders the uploads create.
    QHash<QString, RemoteObjectID> folderIDs;
    // The same folders by id: what this batch writes into is never the target of its own Replace.
    QSet<RemoteObjectID> ownFolderIDs;
    // Local folders the planning walk has entered.
    VisitedLocalFolders visitedFolders;
    // Planning hands the main thread back now and then, however many items the paste has.
    MainThreadPace pace;
    // The free space of the storage as last read or listed in this batch (a listing carries its
    // storage): what a Replace counts on when the device cannot be asked again at that moment.
    std::optional<qint64> lastFreeSpace;

    explicit UploadBatch(MainThreadPace::Duration slice) : pace(slice) {}

    void noteStorage(const StorageRoot& storage)
    {
        if (storage.id == storageID) {
            lastFreeSpace = storage.freeSpace;
        }
    }
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
    return LocalPath::fromUrl(url);
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
    fs::directory_iterator entries(fs::path(LocalPath::encoded(folder).toStdString()), error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        const QString name = LocalPath::decoded(QByteArray::fromStdString(entries->path().filename().native()));
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

QString systemDescription(int error)
{
    return QString::fromLocal8Bit(std::error_code(error, std::generic_category()).message());
}

// What a local item is, links followed: only a regular file can be sent. The type is read from
// the file system's attributes, never by opening the item, since opening a named pipe or a device
// can wait for ever.
struct LocalItem {
    enum class Kind {
        // Nothing at the path, not even a link.
        missing,
        // A link whose target does not exist (or cannot be reached).
        brokenLink,
        // Links that lead back to themselves.
        linkLoop,
        folder,
        regularFile,
        // A named pipe, socket or device.
        special,
    };
    Kind kind = Kind::missing;
    mode_t mode = 0;
    qint64 size = 0;
};

LocalItem inspectEncodedItem(const QByteArray& encoded)
{
    struct stat info {};
    if (::stat(encoded.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return LocalItem{LocalItem::Kind::folder, info.st_mode, 0};
        }
        if (S_ISREG(info.st_mode)) {
            return LocalItem{LocalItem::Kind::regularFile, info.st_mode, static_cast<qint64>(info.st_size)};
        }
        return LocalItem{LocalItem::Kind::special, info.st_mode, 0};
    }
    if (errno == ELOOP) {
        return LocalItem{LocalItem::Kind::linkLoop, 0, 0};
    }
    struct stat own {};
    if (::lstat(encoded.constData(), &own) == 0 && S_ISLNK(own.st_mode)) {
        return LocalItem{LocalItem::Kind::brokenLink, 0, 0};
    }
    return LocalItem{};
}

LocalItem inspectLocalItem(const QString& path)
{
    return inspectEncodedItem(LocalPath::encoded(path));
}

QString specialKindName(mode_t mode)
{
    if (S_ISFIFO(mode)) {
        return QStringLiteral("a named pipe");
    }
    if (S_ISSOCK(mode)) {
        return QStringLiteral("a socket");
    }
    if (S_ISCHR(mode)) {
        return QStringLiteral("a character device");
    }
    if (S_ISBLK(mode)) {
        return QStringLiteral("a block device");
    }
    return QStringLiteral("a special file");
}

QuillbarrowError sendFailure(const QString& path, const QString& why)
{
    return TransferItemFailure::named(QStringLiteral("send"), path, why);
}

// Why the item at `path` cannot be sent: it is gone, or it is not a regular file.
QuillbarrowError unsendableItemError(const LocalItem& item, const QString& path)
{
    switch (item.kind) {
    case LocalItem::Kind::linkLoop:
        return sendFailure(LocalPath::shown(path), QStringLiteral("its symbolic links form a loop."));
    case LocalItem::Kind::brokenLink:
        return sendFailure(path, QStringLiteral("its symbolic link leads nowhere."));
    case LocalItem::Kind::special:
    case LocalItem::Kind::folder:
        return sendFailure(LocalPath::shown(path), QStringLiteral("it is ") +
                                                       (item.kind == LocalItem::Kind::folder
                                                            ? QStringLiteral("a folder")
                                                            : specialKindName(item.mode)) +
                                                       QStringLiteral(", not a regular file."));
    case LocalItem::Kind::missing:
    case LocalItem::Kind::regularFile:
        break;
    }
    return sendFailure(path, TransferItemFailure::goneReason());
}

// Why an item that planning or sending expected is not there, naming it.
QuillbarrowError goneError(const QString& path)
{
    return sendFailure(path, TransferItemFailure::goneReason());
}

QuillbarrowError linkLoopError(const QString& path)
{
    return sendFailure(path, QStringLiteral("its symbolic links form a loop."));
}

// Whether `path` is a link to a folder that holds it (as "ln -s . here" or "ln -s .. up" make):
// walking it would go round for ever.
bool leadsBackUp(const QString& path)
{
    struct stat own {};
    if (::lstat(QFile::encodeName(path).constData(), &own) != 0 || !S_ISLNK(own.st_mode)) {
        return false;
    }
    const QString target = QFileInfo(path).canonicalFilePath();
    const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    if (target.isEmpty() || folder.isEmpty()) {
        return false;
    }
    return folder == target || folder.startsWith(target.endsWith(QLatin1Char('/')) ? target : target + QLatin1Char('/'));
}

// The file about to be sent, as it is now: a regular file that can be opened for reading, and its
// size. It is opened without waiting, so that whatever was put in its place since planning cannot
// hold the transfer.
struct SourceCheck {
    std::optional<QuillbarrowError> problem;
    qint64 size = 0;
};

SourceCheck checkSource(const QString& path)
{
    const QByteArray encoded = LocalPath::encoded(path);
    const LocalItem item = inspectEncodedItem(encoded);
    if (item.kind != LocalItem::Kind::regularFile) {
        return SourceCheck{unsendableItemError(item, path), 0};
    }
    const int descriptor = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ELOOP) {
            return SourceCheck{unsendableItemError(inspectEncodedItem(encoded), path), 0};
        }
        return SourceCheck{QuillbarrowError::transferFailed(QStringLiteral("Could not read ") + LocalPath::shown(path) +
                                                            QStringLiteral(": ") + systemDescription(error)),
                           0};
    }
    struct stat opened {};
    const bool statted = ::fstat(descriptor, &opened) == 0;
    ::close(descriptor);
    if (statted && !S_ISREG(opened.st_mode)) {
        return SourceCheck{unsendableItemError(LocalItem{LocalItem::Kind::special, opened.st_mode, 0}, path), 0};
    }
    return SourceCheck{std::nullopt, statted ? static_cast<qint64>(opened.st_size) : item.size};
}

bool isGone(const QString& path)
{
    const LocalItem::Kind kind = inspectLocalItem(path).kind;
    return kind == LocalItem::Kind::missing || kind == LocalItem::Kind::brokenLink;
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

// A name for a file on its way to replacing another, unlike any name a person gives. Not hidden:
// some devices never take an object whose name begins with a dot.
QString temporaryDeviceName()
{
    return QStringLiteral("quillbarrow-upload-") + QUuid::createUuid().toString(QUuid::Id128).left(16) +
           QStringLiteral(".part");
}

// Runs a device call; its error, or nothing when it succeeded.
QCoro::Task<std::optional<QuillbarrowError>> failureOf(QCoro::Task<> call)
{
    try {
        co_await std::move(call);
    } catch (...) {
        co_return QuillbarrowError::fromException(std::current_exception());
    }
    co_return std::nullopt;
}

// Sends the local file to the device under `name`: the new object, or why it is not there.
QCoro::Task<std::variant<RemoteItem, QuillbarrowError>> sendFile(std::shared_ptr<DeviceSession> session,
                                                                  QString source, QString name,
                                                                  std::optional<RemoteObjectID> parent,
                                                                  StorageID storageID,
                                                                  TransferProgressFunction progress)
{
    try {
        QCoro::Task<RemoteItem> sending = session->uploadFile(source, name, parent, storageID, progress);
        co_return co_await std::move(sending);
    } catch (...) {
        co_return QuillbarrowError::fromException(std::current_exception());
    }
}

std::optional<QuillbarrowError> failureIn(const std::variant<RemoteItem, QuillbarrowError>& outcome)
{
    if (const auto* failure = std::get_if<QuillbarrowError>(&outcome)) {
        return *failure;
    }
    return std::nullopt;
}

// One read of the device's storages: the batch's storage as the device lists it now (nothing when
// it is not listed), or why the device could not be asked.
struct StorageRead {
    std::optional<StorageRoot> storage;
    std::optional<QuillbarrowError> failure;
};

QCoro::Task<StorageRead> readStorage(std::shared_ptr<DeviceSession> session, StorageID storageID)
{
    StorageRead read;
    try {
        QCoro::Task<QList<StorageRoot>> reading = session->storages();
        const QList<StorageRoot> storages = co_await std::move(reading);
        for (const StorageRoot& storage : storages) {
            if (storage.id == storageID) {
                read.storage = storage;
            }
        }
    } catch (...) {
        read.failure = QuillbarrowError::fromException(std::current_exception());
    }
    co_return read;
}

QString byteCountText(const std::optional<qint64>& bytes)
{
    return bytes ? QString::number(*bytes) + QStringLiteral(" bytes") : QStringLiteral("unknown");
}

// Writes `file` and the entry for it in `folder` through to the disk; 0, or the error number.
int syncToDisk(const QString& file, const QString& folder)
{
    for (const QString& path : {file, folder}) {
        const int descriptor = ::open(LocalPath::encoded(path).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            return errno;
        }
        const int error = ::fsync(descriptor) == 0 ? 0 : errno;
        ::close(descriptor);
        if (error != 0) {
            return error;
        }
    }
    return 0;
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
        const LocalItem item = inspectLocalItem(path);
        switch (item.kind) {
        case LocalItem::Kind::missing:
            return;
        case LocalItem::Kind::regularFile:
            candidates.append(UploadCandidate{path, item.size});
            return;
        case LocalItem::Kind::brokenLink:
        case LocalItem::Kind::linkLoop:
        case LocalItem::Kind::special:
            // Not sent, but not dropped in silence either: its job fails, naming it.
            candidates.append(UploadCandidate{path, std::nullopt});
            return;
        case LocalItem::Kind::folder:
            break;
        }
        if (leadsBackUp(path)) {
            candidates.append(UploadCandidate{path, std::nullopt}); // its job fails, naming it
            return;
        }
        if (!visitedFolders.enter(path)) {
            return;
        }
        const FolderListing listing = listVisibleEntries(path);
        if (listing.failure) {
            // A folder that cannot be read gets a job of its own, which fails naming it.
            candidates.append(UploadCandidate{path, std::nullopt});
            return;
        }
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

    // The paste keeps the turn it arrived with, though its files are looked at first.
    QCoro::Task<AsyncGate::Lease> workflowTurn = queueForTransferWorkflow();
    QPointer<TransferCoordinator> self(this);
    AsyncGate::Lease queueing = co_await m_uploadQueueingGate.acquire();
    if (!self || !queueing) {
        co_return;
    }
    const quint64 cancelAllsBefore = m_cancelAllCount;
    // The walk waits on the file system, for each of possibly many thousands of items.
    QFuture<QList<UploadCandidate>> walking =
        runOnThreadPool(workPool(), [urls] { return collectUploadCandidates(urls); });
    const QList<UploadCandidate> candidates = co_await walking;
    if (!self || candidates.isEmpty()) {
        co_return;
    }

    auto batch = std::make_shared<UploadBatch>(m_planningSlice);
    batch->rootParent = std::move(parentID);
    batch->storageID = std::move(storageID);
    batch->session = std::move(deviceSession);
    for (const UploadCandidate& candidate : candidates) {
        if (batch->pace.due()) {
            refreshTransferJobs();
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            batch->pace.yielded();
        }
        const TransferJob job(TransferID::create(), TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                              LocalPath::shown(LocalFileOperations::lastComponent(candidate.path)), candidate.size,
                              TransferState::queued(), 0);
        enqueueTransfer(job);
        batch->jobIDsByPath.insert(candidate.path, job.id);
    }
    refreshTransferJobs();
    queueing.release();
    if (m_cancelAllCount != cancelAllsBefore) {
        // Everything was cancelled while the jobs were being made: the later ones go too.
        cancelTransfers(batch->jobIDsByPath.values());
        co_return;
    }

    // The jobs show as queued, and can be cancelled, while an earlier workflow runs.
    AsyncGate::Lease workflow = co_await std::move(workflowTurn);
    if (!self || !workflow) {
        co_return;
    }
    clearStickyResolution();

    for (const QUrl& url : urls) {
        if (localPathOf(url).isEmpty()) {
            setLastError(sendFailure(url.toDisplayString(), QStringLiteral("it is not a file on this computer.")));
            continue;
        }
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
    for (const std::optional<PlannedUpload>& plan : std::as_const(batch->plans)) {
        if (plan) {
            plannedJobs.insert(plan->jobID);
        }
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

    const QList<std::optional<PlannedUpload>> plans = batch->plans;
    if (std::any_of(plans.begin(), plans.end(), [](const std::optional<PlannedUpload>& plan) { return plan.has_value(); })) {
        // The free space is asked for once for the whole batch: the session reckons it down by
        // what it sends and asks again only before a file that would not fit.
        const StorageRead read = co_await readStorage(batch->session, batch->storageID);
        if (!self) {
            co_return;
        }
        if (read.storage) {
            batch->noteStorage(*read.storage);
        }
    }
    batch->pace.yielded();
    for (const std::optional<PlannedUpload>& plan : plans) {
        if (!plan) {
            continue;
        }
        co_await executeUpload(*plan, batch);
        if (!self) {
            co_return;
        }
        // A session that answers at once (an emulated one) never suspends the loop by itself.
        if (batch->pace.due()) {
            co_await MainThreadYield{};
            if (!self) {
                co_return;
            }
            batch->pace.yielded();
        }
    }
}

QCoro::Task<bool> TransferCoordinator::planUploads(QString path, QStringList parentRel,
                                                   std::optional<RemoteObjectID> deviceParentID, bool checkConflicts,
                                                   std::shared_ptr<UploadBatch> batch)
{
    if (batch->pace.due()) {
        refreshTransferJobs();
        QPointer<TransferCoordinator> self(this);
        co_await MainThreadYield{};
        if (!self) {
            co_return true;
        }
        batch->pace.yielded();
    }
    if (inspectLocalItem(path).kind != LocalItem::Kind::folder) {
        co_return co_await planUploadFile(std::move(path), std::move(parentRel), std::move(deviceParentID),
                                          checkConflicts, batch);
    }
    if (leadsBackUp(path)) {
        const QString standardized = standardizedPath(path);
        if (const auto job = batch->jobIDsByPath.constFind(standardized); job != batch->jobIDsByPath.constEnd()) {
            if (canStartTransfer(*job)) {
                finishFailed(*job, linkLoopError(standardized));
            }
        } else {
            setLastError(linkLoopError(standardized));
        }
        co_return true;
    }

    // A folder reached again (through a link, or a link loop) is not walked a second time.
    if (!batch->visitedFolders.enter(path)) {
        co_return true;
    }
    // A folder can hold tens of thousands of entries: it is read off the main thread.
    QFuture<FolderListing> reading = runOnThreadPool(workPool(), [path] {
        return listVisibleEntries(path);
    });
    QPointer<TransferCoordinator> self(this);
    const FolderListing listing = co_await reading;
    if (!self) {
        co_return true;
    }
    if (listing.failure) {
        // This computer's fault, not the device's: the window shows the sentence itself.
        const QuillbarrowError error = QuillbarrowError::localFileFailed(
            QStringLiteral("Could not read ") + LocalPath::shown(path) + QStringLiteral(": ") + *listing.failure);
        const auto job = batch->jobIDsByPath.constFind(standardizedPath(path));
        if (job != batch->jobIDsByPath.constEnd() && canStartTransfer(*job)) {
            finishFailed(*job, error);
        } else {
            setLastError(error);
        }
        co_return true;
    }
    // The device's name for the folder: a byte that is not UTF-8 becomes U+FFFD there.
    const QString name = LocalPath::shown(LocalFileOperations::lastComponent(standardizedPath(path)));
    QStringList chain = parentRel;
    chain.append(name);

    // An existing device folder of the same name is merged into, and its files are checked one by
    // one; anywhere else the folder will be new, so nothing below it can clash with the device.
    std::optional<RemoteObjectID> entriesParent;
    bool checkEntries = false;
    if (checkConflicts) {
        const QHash<QString, RemoteItem> children = co_await cachedDeviceChildren(deviceParentID, batch);
        if (!self) {
            co_return true;
        }
        const auto existing = children.constFind(NfcText::normalized(name));
        if (existing != children.constEnd() && existing->kind == RemoteItemKind::folder) {
            batch->folderIDs.insert(relativeKey(chain), existing->id);
            batch->ownFolderIDs.insert(existing->id);
            entriesParent = existing->id;
            checkEntries = true;
        }
    }

    for (const QString& entry : listing.paths) {
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
    const QString standardized = standardizedPath(path);
    const auto job = batch->jobIDsByPath.constFind(standardized);
    if (job == batch->jobIDsByPath.constEnd()) {
        // Gone, or appeared after the candidate walk: there is no job to run it under.
        setLastError(inspectLocalItem(path).kind == LocalItem::Kind::missing
                         ? goneError(standardized)
                         : sendFailure(standardized, QStringLiteral("it appeared after the paste began.")));
        co_return true;
    }
    const TransferID jobID = *job;
    if (!canStartTransfer(jobID)) {
        co_return true;
    }
    const LocalItem item = inspectLocalItem(path);
    if (item.kind != LocalItem::Kind::regularFile) {
        // Vanished since the walk, or never a regular file: its job fails, naming it and why.
        finishFailed(jobID, unsendableItemError(item, standardized));
        co_return true;
    }

    const QString name = LocalPath::shown(LocalFileOperations::lastComponent(standardized));
    QHash<QString, RemoteItem> children;
    if (checkConflicts) {
        QPointer<TransferCoordinator> self(this);
        children = co_await cachedDeviceChildren(deviceParentID, batch);
        if (!self || !canStartTransfer(jobID)) {
            // Cancelled while the folder was listed: nothing is asked about it.
            co_return true;
        }
    }
    const QString folderKey = relativeKey(parentRel) + QLatin1Char('/');
    const QString key = NfcText::normalized(name);
    const auto onDevice = children.constFind(key);
    const qsizetype earlierPlan = batch->planByName.value(folderKey + key, -1);
    if (earlierPlan >= 0 && batch->plans.at(earlierPlan)->jobID == jobID) {
        // The same file reached twice on the same way (it is on the clipboard twice).
        co_return true;
    }

    QString fileName = name;
    std::optional<RemoteObjectID> replaceExistingID;
    std::optional<qint64> replaceExistingSize;
    if (onDevice != children.constEnd() || earlierPlan >= 0) {
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
                // and with it the replacement of the device object it would have taken over.
                replaceExistingID = batch->plans.at(earlierPlan)->replaceExistingID;
                replaceExistingSize = batch->plans.at(earlierPlan)->replaceExistingSize;
                batch->plans[earlierPlan].reset();
            } else {
                replaceExistingID = onDevice->id;
                replaceExistingSize = onDevice->size;
            }
            break;
        case ConflictResolution::keepBoth:
            // The device's file system takes names of as many bytes as the computer's does.
            fileName = LocalFileOperations::keepBothName(
                name,
                [&](const QString& candidate) {
                    const QString candidateKey = NfcText::normalized(candidate);
                    return children.contains(candidateKey) || batch->planByName.contains(folderKey + candidateKey);
                },
                nullptr, LocalFileOperations::maximumNameBytes);
            showUnderName(jobID, fileName);
            break;
        }
    }
    batch->planByName.insert(folderKey + NfcText::normalized(fileName), batch->plans.size());
    batch->plans.append(
        PlannedUpload{jobID, path, parentRel, fileName, item.size, replaceExistingID, replaceExistingSize});
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
        batch->noteStorage(page->storage);
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
    if (!markStarted(jobID)) {
        co_return;
    }
    m_logger.info(QLatin1StringView("started upload "), plan.fileName);
    refreshTransferJobs();

    // A file that vanished, or was swapped for something that is not a file, since planning fails
    // before anything is created or deleted on the device, and is never handed to the session.
    const SourceCheck source = checkSource(plan.localPath);
    if (source.problem) {
        finishFailed(jobID, *source.problem);
        co_return;
    }

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
        batch->ownFolderIDs.insert(created->id);
        parent = created->id;
    }

    if (plan.replaceExistingID) {
        co_await replaceOnDevice(plan, parent, source.size, batch);
        co_return;
    }
    const TransferProgressFunction progress =
        makeProgressFunction(jobID, plan.size, std::make_shared<TransferByteLimit>(std::nullopt));
    if (token->isCancelled()) {
        finishCancelled(jobID, QString());
        co_return;
    }
    const std::variant<RemoteItem, QuillbarrowError> sent =
        co_await sendFile(batch->session, plan.localPath, plan.fileName, parent, batch->storageID, progress);
    if (!self) {
        co_return;
    }
    finishUpload(plan, failureIn(sent));
}

QCoro::Task<> TransferCoordinator::replaceOnDevice(PlannedUpload plan, std::optional<RemoteObjectID> parent,
                                                   qint64 size, std::shared_ptr<UploadBatch> batch)
{
    QPointer<TransferCoordinator> self(this);
    const TransferID jobID = plan.jobID;
    const RemoteObjectID oldID = *plan.replaceExistingID;
    const std::shared_ptr<DeviceSession> session = batch->session;
    const std::shared_ptr<TransferCancellationToken> token = cancellationToken(jobID);

    // A folder this paste merges into (or made) holds what the paste has just written there.
    if (batch->ownFolderIDs.contains(oldID)) {
        finishFailed(jobID, replacingBatchItemRefused(plan.fileName, TransferDirection::macToAndroid));
        co_return;
    }

    // Where the device can rename, the new file goes up beside the old one under a temporary
    // name and takes the old one's name only once it is complete. That needs room for both; a
    // file that fits only in the old one's place is sent after the old one is deleted, as on a
    // device that cannot rename. A read of the free space that fails leaves the one last read or
    // listed standing: a file that did not fit then is not let through for want of a new answer.
    const StorageRead read = co_await readStorage(session, batch->storageID);
    if (!self) {
        co_return;
    }
    if (read.storage) {
        batch->noteStorage(*read.storage);
    }
    const std::optional<qint64> freeSpace = batch->lastFreeSpace;
    m_logger.info(QStringLiteral("replacing ") + plan.fileName + QStringLiteral(" (") + byteCountText(size) +
                  QStringLiteral("): free space ") + byteCountText(freeSpace) +
                  (read.failure ? QStringLiteral(" as last listed; the device could not be asked again: ") +
                                      read.failure->technicalDetails()
                                : QString()));
    const qint64 freedByDelete = std::max<qint64>(0, plan.replaceExistingSize.value_or(0));
    if (freeSpace && size - freedByDelete > *freeSpace) {
        finishFailed(jobID, QuillbarrowError::insufficientSpace());
        co_return;
    }
    std::optional<bool> renames;
    if (m_renameProbedSession.lock() == session) {
        renames = m_probedSessionRenames;
    }
    const TransferProgressFunction progress =
        makeProgressFunction(jobID, plan.size, std::make_shared<TransferByteLimit>(std::nullopt));

    if (renames != false && (!freeSpace || size <= *freeSpace)) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
            co_return;
        }
        QString temporaryName = temporaryDeviceName();
        m_logger.info(QStringLiteral("sending ") + plan.fileName + QStringLiteral(" beside the old one as ") +
                      temporaryName);
        const std::variant<RemoteItem, QuillbarrowError> sent =
            co_await sendFile(session, plan.localPath, temporaryName, parent, batch->storageID, progress);
        if (!self) {
            co_return;
        }
        if (const std::optional<QuillbarrowError> failure = failureIn(sent)) {
            finishUpload(plan, failure);
            co_return;
        }
        const RemoteObjectID newID = std::get<RemoteItem>(sent).id;

        // The first time a session is asked, renaming the new file to a second temporary name
        // tells whether the device renames at all, while the old object is still in place.
        if (!renames) {
            const QString probeName = temporaryDeviceName();
            const std::optional<QuillbarrowError> refused = co_await failureOf(session->rename(newID, probeName));
            if (!self) {
                co_return;
            }
            m_renameProbedSession = session;
            m_probedSessionRenames = !refused;
            renames = !refused;
            if (renames) {
                temporaryName = probeName;
            }
        }
        if (token->isCancelled() || !*renames) {
            const std::optional<QuillbarrowError> leftover = co_await failureOf(session->deleteItem(newID));
            Q_UNUSED(leftover)
            if (!self) {
                co_return;
            }
        }
        if (*renames) {
            if (token->isCancelled()) {
                finishCancelled(jobID, QString());
                co_return;
            }
            // A failed delete still lets the new file try the name, as on a device that keeps two
            // objects of one name; where it cannot, the old one stays and the new one goes.
            const std::optional<QuillbarrowError> undeleted = co_await failureOf(session->deleteItem(oldID));
            if (!self) {
                co_return;
            }
            const std::optional<QuillbarrowError> unnamed =
                co_await failureOf(session->rename(newID, plan.fileName));
            if (!self) {
                co_return;
            }
            if (!unnamed) {
                finishUpload(plan, std::nullopt);
            } else if (undeleted) {
                const std::optional<QuillbarrowError> leftover = co_await failureOf(session->deleteItem(newID));
                Q_UNUSED(leftover)
                if (!self) {
                    co_return;
                }
                finishFailed(jobID, *undeleted);
            } else {
                finishFailed(jobID, QuillbarrowError::transferFailed(
                                        QStringLiteral("Could not rename ") + temporaryName + QStringLiteral(" to ") +
                                        plan.fileName + QStringLiteral(": ") + unnamed->technicalDetails() +
                                        QStringLiteral(" The new file is on the device as ") + temporaryName +
                                        QLatin1Char('.')));
            }
            co_return;
        }
    }

    // The device cannot rename (or has room for the new file only in the old one's place): the
    // old object is first copied here, then deleted and the new file sent; should the new one not
    // arrive whole, the session sends the copy back. Without a copy nothing is deleted.
    if (token->isCancelled()) {
        finishCancelled(jobID, QString());
        co_return;
    }
    const std::variant<QString, QuillbarrowError> kept =
        co_await keepCopyOf(oldID, plan.fileName, plan.replaceExistingSize, session, token);
    if (!self) {
        if (const auto* copy = std::get_if<QString>(&kept)) {
            QFile::remove(*copy);
        }
        co_return;
    }
    if (const auto* failure = std::get_if<QuillbarrowError>(&kept)) {
        if (token->isCancelled()) {
            finishCancelled(jobID, QString());
        } else {
            finishFailed(jobID, *failure);
        }
        co_return;
    }
    const QString keptCopy = std::get<QString>(kept);
    if (token->isCancelled()) {
        QFile::remove(keptCopy);
        finishCancelled(jobID, QString());
        co_return;
    }
    m_logger.info(QStringLiteral("sending ") + plan.fileName +
                  QStringLiteral(" in the old one's place; its copy is kept at ") + keptCopy);
    std::optional<QuillbarrowError> failure;
    try {
        co_await session->replaceFile(plan.localPath, plan.fileName, parent, batch->storageID, oldID, keptCopy,
                                      progress);
    } catch (...) {
        failure = QuillbarrowError::fromException(std::current_exception());
    }
    if (!self) {
        co_return;
    }
    finishUpload(plan, failure);
}

QCoro::Task<std::variant<QString, QuillbarrowError>>
TransferCoordinator::keepCopyOf(RemoteObjectID objectID, QString name, std::optional<qint64> size,
                                std::shared_ptr<DeviceSession> session,
                                std::shared_ptr<TransferCancellationToken> token)
{
    const auto refused = [&name](const QString& why) {
        return QuillbarrowError::transferFailed(QStringLiteral("Could not keep a copy of ") + name +
                                                QStringLiteral(" on this computer before replacing it: ") + why +
                                                QStringLiteral(" Nothing was deleted."));
    };
    if (!size) {
        co_return refused(QStringLiteral("the device does not say how large it is (it may be a folder)."));
    }
    const QString folder = keptCopiesFolder();
    if (!QDir().mkpath(folder)) {
        co_return refused(QStringLiteral("the folder ") + folder + QStringLiteral(" cannot be made."));
    }
    const QStorageInfo volume(folder);
    if (volume.isValid() && volume.bytesAvailable() >= 0 && volume.bytesAvailable() < *size) {
        co_return refused(QStringLiteral("there is not enough room for it in ") + folder + QLatin1Char('.'));
    }
    const QString copy = folder + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::Id128) +
                         QStringLiteral(".kept");
    const TransferProgressFunction untilCancelled = [token](qint64, std::optional<qint64>) {
        return !token->isCancelled();
    };
    std::optional<QuillbarrowError> failure;
    try {
        co_await session->downloadFile(objectID, copy, untilCancelled);
    } catch (...) {
        failure = QuillbarrowError::fromException(std::current_exception());
    }
    const std::optional<qint64> copied = LocalFileOperations::attributeBytes(copy);
    // A device may send more than it listed, never less of a whole file.
    if (!failure && copied.value_or(0) < *size) {
        failure = QuillbarrowError::transferFailed(QStringLiteral("the copy has ") +
                                                   QString::number(copied.value_or(0)) +
                                                   QStringLiteral(" bytes where the device listed ") +
                                                   QString::number(*size) + QLatin1Char('.'));
    }
    // The copy is the only whole old file once the object is deleted: it is on the disk, and
    // in its folder, before that, so that a power cut cannot leave an empty file in its place.
    // Off the main thread, as a large file may take a while.
    if (!failure) {
        QFuture<int> syncing = runOnThreadPool(workPool(),
                                               [copy, folder] { return syncToDisk(copy, folder); });
        if (const int error = co_await syncing; error != 0) {
            failure = QuillbarrowError::transferFailed(
                QStringLiteral("the copy could not be written to the disk: ") +
                QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.'));
        }
    }
    if (failure) {
        QFile::remove(copy);
        co_return refused(failure->technicalDetails() +
                          (failure->technicalDetails().endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")));
    }
    co_return copy;
}

void TransferCoordinator::finishUpload(const PlannedUpload& plan, const std::optional<QuillbarrowError>& failure)
{
    if (!failure) {
        finishCompleted(plan.jobID, plan.fileName, QLatin1StringView("uploaded "));
    } else if (cancellationToken(plan.jobID)->isCancelled() ||
               failure->kind() == QuillbarrowError::Kind::userCancelled) {
        finishCancelled(plan.jobID, QStringLiteral("cancelled upload ") + plan.fileName);
    } else if (isGone(plan.localPath)) {
        // The file went away while it was being sent: that, not the device, is why.
        finishFailed(plan.jobID, goneError(plan.localPath));
    } else {
        finishFailed(plan.jobID, *failure);
    }
}

} // namespace quillbarrow
