#include "DeviceBrowserViewModel.h"

#include "ErrorDescription.h"
#include "domain/SaturatingAdd.h"

#include <QPointer>

namespace quillbarrow {

namespace {

bool isCancellation(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const QuillbarrowError& caught) {
        return caught.kind() == QuillbarrowError::Kind::userCancelled;
    } catch (...) {
        return false;
    }
}

QString quoted(const QString& name)
{
    return u'"' + name + u'"';
}

} // namespace

SelectionSizeSummary DeviceBrowserViewModel::selectionSummary(const QSet<RemoteObjectID>& selectedIDs,
                                                              std::optional<qint64> destinationFreeBytes) const
{
    return summarizeSelection(m_items, selectedIDs, m_computedFolderStatistics, destinationFreeBytes);
}

QCoro::Task<> DeviceBrowserViewModel::calculateFolderSizes(QList<RemoteItem> items)
{
    const std::stop_token stop = lifetime();
    co_await calculateFolderSizes(std::move(items), true, stop);
}

QCoro::Task<> DeviceBrowserViewModel::precalculateFolderSizes(QList<RemoteItem> items)
{
    const std::stop_token stop = lifetime();
    co_await calculateFolderSizes(std::move(items), false, stop);
}

QCoro::Task<> DeviceBrowserViewModel::calculateFolderSizes(QList<RemoteItem> items, bool presentsErrors,
                                                           std::stop_token stop)
{
    const std::shared_ptr<DeviceSession> session = m_session;
    if (!session) {
        co_return;
    }
    // Folders of another session would be walked by ids that name other objects here.
    if (!belongToCurrentSession(items)) {
        if (presentsErrors) {
            present(QuillbarrowError::deviceChanged());
        } else {
            m_logger.info(QStringLiteral("automatic folder-size calculation skipped: ") +
                          QuillbarrowError::deviceChanged().userMessage());
        }
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    const quint64 epoch = m_sessionEpoch;
    QList<RemoteItem> pending;
    for (const RemoteItem& item : items) {
        if (item.kind == RemoteItemKind::folder && !m_computedFolderStatistics.contains(item.id) &&
            !m_calculatingFolderSizeIDs.contains(item.id)) {
            pending.append(item);
        }
    }
    for (const RemoteItem& folder : pending) {
        QSet<RemoteObjectID> calculating = m_calculatingFolderSizeIDs;
        calculating.insert(folder.id);
        setCalculatingFolderSizeIDs(std::move(calculating));
        const RemotePath basePath = folder.path         ? *folder.path
                                    : m_currentPage     ? m_currentPage->path.appending(folder.name)
                                                        : RemotePath(folder.storageID, {folder.name});
        auto visited = std::make_shared<QSet<RemoteObjectID>>();
        std::optional<FolderStatistics> measured;
        std::exception_ptr failure;
        try {
            measured = co_await recursiveFolderStatistics(folder, basePath, session, visited, 0, epoch, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            co_return;
        }
        // Sizes and failures of a session that has gone belong to another device.
        const bool current = epoch == m_sessionEpoch;
        if (current && measured) {
            m_computedFolderStatistics.insert(folder.id, *measured);
        } else if (current && presentsErrors) {
            present(failure);
        } else if (current && !isCancellation(failure)) {
            m_logger.info(QStringLiteral("automatic folder-size calculation failed for ") + folder.name +
                          QStringLiteral(": ") + plainDescription(failure));
        }
        calculating = m_calculatingFolderSizeIDs;
        calculating.remove(folder.id);
        setCalculatingFolderSizeIDs(std::move(calculating));
        applySort();
        if (!current) {
            co_return;
        }
    }
}

QCoro::Task<FolderStatistics> DeviceBrowserViewModel::recursiveFolderStatistics(
    RemoteItem folder, RemotePath basePath, std::shared_ptr<DeviceSession> session,
    std::shared_ptr<QSet<RemoteObjectID>> visited, int depth, quint64 epoch, std::stop_token stop)
{
    // A device that lists a folder inside itself, or hands out a new folder at every level, would
    // keep the walk going for ever.
    if (visited->contains(folder.id)) {
        throw QuillbarrowError::backendProtocolError(QStringLiteral("The folder ") + quoted(folder.name) +
                                                     QStringLiteral(" is listed inside itself."));
    }
    if (depth > m_timing.maximumFolderDepth) {
        throw QuillbarrowError::backendProtocolError(QStringLiteral("The folder ") + quoted(folder.name) +
                                                     QStringLiteral(" lies more than ") +
                                                     QString::number(m_timing.maximumFolderDepth) +
                                                     QStringLiteral(" levels deep."));
    }
    visited->insert(folder.id);
    QPointer<DeviceBrowserViewModel> self(this);
    std::optional<DirectoryPage> listed;
    try {
        listed = co_await listFolder(session, folder.id, basePath, ListingLimit::unlessTransfersActive, stop);
    } catch (...) {
        if (stop.stop_requested()) {
            throw QuillbarrowError::userCancelled(); // the wait was ended, not the listing
        }
        throw;
    }
    // Stopped, or the session has gone: what follows would only be dropped.
    if (!self || stop.stop_requested() || epoch != m_sessionEpoch) {
        throw QuillbarrowError::userCancelled();
    }
    cache(*listed);
    qint64 bytes = 0;
    qint64 count = 0;
    for (const RemoteItem& child : listed->items) {
        if (stop.stop_requested()) {
            throw QuillbarrowError::userCancelled();
        }
        count = saturatingAdd(count, 1);
        if (child.kind != RemoteItemKind::folder) {
            bytes = saturatingAdd(bytes, child.size.value_or(0));
            continue;
        }
        const RemotePath childPath = child.path ? *child.path : basePath.appending(child.name);
        const FolderStatistics inner =
            co_await recursiveFolderStatistics(child, childPath, session, visited, depth + 1, epoch, stop);
        if (!self) {
            throw QuillbarrowError::userCancelled();
        }
        bytes = saturatingAdd(bytes, inner.bytes);
        count = saturatingAdd(count, inner.itemCount);
    }
    co_return FolderStatistics(bytes, count);
}

void DeviceBrowserViewModel::scheduleAutomaticFolderSizePrecalculation()
{
    const quint64 navigation = m_navigationGeneration;
    const std::stop_token stop = m_automaticFolderSizeTask.start(); // stops the pass it replaces
    QCoro::Task<> pass = precalculateShownFolderSizes(navigation, m_automaticFolderSizeTask.generation(), stop);
    Q_UNUSED(pass) // held through its slot
}

QCoro::Task<> DeviceBrowserViewModel::precalculateShownFolderSizes(quint64 navigationGeneration,
                                                                   quint64 slotGeneration, std::stop_token stop)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<WaitClock> clock = m_timing.clock;
    co_await clock->sleep(m_timing.automaticFolderSizeDelay, stop);
    if (!self || stop.stop_requested() || navigationGeneration != m_navigationGeneration) {
        co_return;
    }
    if (m_transferQueue->hasActiveJobs()) {
        co_return; // skipped, not postponed: the device is busy with the transfers
    }
    QList<RemoteItem> folders;
    for (const RemoteItem& item : m_items) {
        if (item.kind == RemoteItemKind::folder) {
            folders.append(item);
        }
    }
    if (folders.isEmpty()) {
        co_return;
    }
    co_await calculateFolderSizes(std::move(folders), false, stop);
    if (self && navigationGeneration == m_navigationGeneration &&
        m_automaticFolderSizeTask.isCurrent(slotGeneration)) {
        m_automaticFolderSizeTask.cancel(); // ended: the slot is free again
    }
}

} // namespace quillbarrow
