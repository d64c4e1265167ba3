#include "DeviceBrowserViewModel.h"

#include "ErrorDescription.h"
#include "domain/SaturatingAdd.h"

#include <QPointer>

#include <utility>

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

SelectionSizeSummary DeviceBrowserViewModel::summaryOf(const QList<RemoteItem>& items,
                                                       std::optional<qint64> destinationFreeBytes) const
{
    return summarizeItems(items, m_computedFolderStatistics, destinationFreeBytes);
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
    // Every folder of the pass counts as being measured from now on, also those still waiting: a
    // quiet pass started meanwhile (another selection's, the automatic one) passes over them
    // instead of walking them a second time. A pass the user asked for holds them as well, and
    // walks what is not measured by the time it gets there: the pass that held a folder first may
    // be stopped before it walks it (the automatic pass, at the next navigation), and a failure
    // asked for is shown, not only logged. A folder given twice is measured once.
    QList<RemoteItem> pending;
    QSet<RemoteObjectID> inPass;
    QSet<RemoteObjectID> measuring = m_calculatingFolderSizeIDs;
    for (const RemoteItem& item : std::as_const(items)) {
        if (item.kind == RemoteItemKind::folder && !m_computedFolderStatistics.contains(item.id) &&
            !inPass.contains(item.id) && (presentsErrors || !m_calculatingFolderSizeIDs.contains(item.id))) {
            pending.append(item);
            inPass.insert(item.id);
            measuring.insert(item.id);
            ++m_folderMeasurementHolds[item.id];
        }
    }
    // The items given (a big folder's whole selection, say) may outlive the rows they were taken
    // from and be their last copy when the pass ends: they are let go of now, on the work pool.
    letGo(std::exchange(items, {}));
    if (pending.isEmpty()) {
        co_return;
    }
    if (measuring.size() != m_calculatingFolderSizeIDs.size()) {
        setCalculatingFolderSizeIDs(std::move(measuring));
    }
    qsizetype next = 0;
    for (; next < pending.size() && !stop.stop_requested(); ++next) {
        const RemoteItem& folder = pending.at(next);
        // Measured meanwhile, or (for a quiet pass) walked by another pass right now.
        if (m_computedFolderStatistics.contains(folder.id) ||
            (!presentsErrors && m_walkingFolderIDs.contains(folder.id))) {
            finishFolderMeasurement(folder.id);
            continue;
        }
        const RemotePath basePath = folder.path         ? *folder.path
                                    : m_currentPage     ? m_currentPage->path.appending(folder.name)
                                                        : RemotePath(folder.storageID, {folder.name});
        auto visited = std::make_shared<QSet<RemoteObjectID>>();
        std::optional<FolderStatistics> measured;
        std::exception_ptr failure;
        ++m_walkingFolderIDs[folder.id];
        try {
            measured = co_await recursiveFolderStatistics(folder, basePath, session, visited, 0, epoch, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            co_return;
        }
        if (const auto walking = m_walkingFolderIDs.find(folder.id);
            epoch == m_sessionEpoch && walking != m_walkingFolderIDs.end() && --*walking <= 0) {
            m_walkingFolderIDs.erase(walking);
        }
        // Sizes and failures of a session that has gone belong to another device.
        if (epoch != m_sessionEpoch) {
            break;
        }
        if (measured) {
            keepMeasurement(folder.id, *measured);
        } else if (presentsErrors) {
            present(failure);
        } else if (!isCancellation(failure)) {
            m_logger.info(QStringLiteral("automatic folder-size calculation failed for ") + folder.name +
                          QStringLiteral(": ") + plainDescription(failure));
        }
        finishFolderMeasurement(folder.id);
    }
    // A stopped pass gives up the folders it has not measured. A change of session has emptied
    // the set already, and the ids may name objects of the new device there.
    if (epoch == m_sessionEpoch) {
        for (; next < pending.size(); ++next) {
            finishFolderMeasurement(pending.at(next).id);
        }
    }
    letGo(std::exchange(pending, {}));
    // What the pass measured shows before it returns.
    applyFinishedFolderMeasurements();
}

void DeviceBrowserViewModel::keepMeasurement(const RemoteObjectID& folder, FolderStatistics statistics)
{
    const auto kept = m_computedFolderStatistics.constFind(folder);
    m_measurementLog.keep(folder, kept == m_computedFolderStatistics.constEnd() ? nullptr : &*kept,
                          statistics);
    m_computedFolderStatistics.insert(folder, statistics);
    ++m_measurementsVersion;
}

void DeviceBrowserViewModel::finishFolderMeasurement(const RemoteObjectID& folder)
{
    // Measurements that end in one turn of the event loop are shown together on the next one.
    m_finishedFolderMeasurements.append(FinishedFolderMeasurement{folder, m_sessionEpoch});
    if (m_finishedFolderMeasurements.size() == 1) {
        QMetaObject::invokeMethod(this, &DeviceBrowserViewModel::applyFinishedFolderMeasurements,
                                  Qt::QueuedConnection);
    }
}

void DeviceBrowserViewModel::applyFinishedFolderMeasurements()
{
    const QList<FinishedFolderMeasurement> finished = std::exchange(m_finishedFolderMeasurements, {});
    if (finished.isEmpty()) {
        return;
    }
    QSet<RemoteObjectID> measuring = std::exchange(m_calculatingFolderSizeIDs, {});
    bool measured = false;
    bool left = false;
    for (const FinishedFolderMeasurement& each : finished) {
        // Ended under a session that has gone: the set was emptied with it.
        if (each.epoch != m_sessionEpoch) {
            continue;
        }
        const auto holds = m_folderMeasurementHolds.find(each.folder);
        const bool heldElsewhere = holds != m_folderMeasurementHolds.end() && --*holds > 0;
        if (!heldElsewhere) {
            m_folderMeasurementHolds.remove(each.folder);
        }
        // Measured, or let go by the last pass that held it: no longer being measured. A folder
        // another pass still waits to walk stays so.
        if (m_computedFolderStatistics.contains(each.folder)) {
            measured = true;
        } else if (heldElsewhere) {
            continue;
        }
        left = measuring.remove(each.folder) || left;
    }
    if (left) {
        setCalculatingFolderSizeIDs(std::move(measuring));
    } else {
        m_calculatingFolderSizeIDs = std::move(measuring);
    }
    if (!measured) {
        return;
    }
    // The sizes fill in their rows where they stand, whatever the order (see
    // orderByMeasuredSizes()). The rows of a big page, which would have to be looked through and
    // copied here, take them on the work pool (see resortRows()).
    if (m_currentPage && m_currentPage->items.size() >= bigListing) {
        resortRows();
        return;
    }
    // The rows are shared with the table: they are copied only when a size is to be filled in.
    QList<RemoteItem> rows = m_items;
    std::vector<qsizetype> filledIn = fillInMeasuredSizes(rows, m_computedFolderStatistics);
    if (filledIn.empty()) {
        return; // none of them is shown
    }
    showRows(rowsInputs(), std::move(rows), std::move(filledIn));
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
    for (const RemoteItem& child : std::as_const(listed->items)) {
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
    for (const RemoteItem& item : std::as_const(m_items)) {
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
