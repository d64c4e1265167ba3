#include "DeviceBrowserViewModel.h"

#include <QPointer>

namespace quillbarrow {

void DeviceBrowserViewModel::cache(const DirectoryPage& page)
{
    if (const auto replaced = m_directoryCache.find(page.path); replaced != m_directoryCache.end()) {
        letGo(std::move(replaced->items));
    }
    // The ranks of another listing of the path go with it.
    if (const auto ranked = m_nameRankings.find(page.path);
        ranked != m_nameRankings.end() && !sameListing(ranked->items, page.items)) {
        letGo(std::move(ranked->items));
        m_nameRankings.erase(ranked);
    }
    m_directoryCache.insert(page.path, page);
    // Fresh only for the folder it lists, not for another that has its path now.
    if (m_currentPage && m_currentPage->path == page.path && m_currentPage->parentID == page.parentID) {
        setShowingStalePage(false);
    }
}

const DirectoryPage* DeviceBrowserViewModel::cachedPage(const RemotePath& path,
                                                       const std::optional<RemoteObjectID>& parentID) const
{
    // The cache is keyed by path alone (the path holds the storage), so the object tells the
    // folder asked for from another that had, or shares, its path.
    const auto cached = m_directoryCache.constFind(path);
    if (cached == m_directoryCache.constEnd() || cached->parentID != parentID) {
        return nullptr;
    }
    return &*cached;
}

bool DeviceBrowserViewModel::sameListing(const QList<RemoteItem>& a, const QList<RemoteItem>& b)
{
    return a.constData() == b.constData() && a.size() == b.size();
}

std::shared_ptr<const BrowserRanking> DeviceBrowserViewModel::rankingOf(const DirectoryPage& page) const
{
    const auto ranked = m_nameRankings.constFind(page.path);
    return ranked != m_nameRankings.constEnd() && sameListing(ranked->items, page.items) ? ranked->ranks : nullptr;
}

void DeviceBrowserViewModel::keepRanking(const RemotePath& path, const QList<RemoteItem>& items,
                                         std::shared_ptr<const BrowserRanking> ranking, bool aboutToBeCached)
{
    const auto cached = m_directoryCache.constFind(path);
    const bool isCached = cached != m_directoryCache.constEnd() && sameListing(cached->items, items);
    if (ranking && (aboutToBeCached || isCached)) {
        m_nameRankings.insert(path, NameRanking{items, std::move(ranking)});
    }
}

bool DeviceBrowserViewModel::canServeCachedPageDuringTransfer(const RemotePath& path,
                                                              const std::optional<RemoteObjectID>& parentID) const
{
    return cachedPage(path, parentID) != nullptr && m_transferQueue->hasActiveJobs();
}

void DeviceBrowserViewModel::scheduleStalePageRefresh()
{
    if (m_stalePageRefreshTask.isRunning()) {
        return; // that task lists whatever page is shown when the queue becomes idle
    }
    const std::stop_token stop = m_stalePageRefreshTask.start();
    QCoro::Task<> refreshing = refreshStalePage(stop);
    Q_UNUSED(refreshing) // held through its slot; stopped only by the teardown
}

QCoro::Task<> DeviceBrowserViewModel::refreshStalePage(std::stop_token stop)
{
    QPointer<DeviceBrowserViewModel> self(this);
    co_await reloadCurrentPage(stop);
    if (!self) {
        co_return;
    }
    m_stalePageRefreshTask.cancel();
    setShowingStalePage(false);
}

QCoro::Task<> DeviceBrowserViewModel::reloadCurrentPage()
{
    co_await reloadCurrentPage(lifetime());
}

QCoro::Task<> DeviceBrowserViewModel::reloadCurrentPage(std::stop_token stop)
{
    QPointer<DeviceBrowserViewModel> self(this);
    // The queue is polled rather than observed; a stop is honoured only while jobs are active.
    while (m_transferQueue->hasActiveJobs()) {
        if (stop.stop_requested()) {
            co_return;
        }
        const std::shared_ptr<WaitClock> clock = m_timing.clock;
        co_await clock->sleep(m_timing.reloadPollInterval, stop);
        if (!self) {
            co_return;
        }
    }
    std::function<QCoro::Task<>(std::shared_ptr<DeviceSession>)> nothingToChange;
    co_await relistInFrame(std::move(nothingToChange), stop);
}

QCoro::Task<> DeviceBrowserViewModel::refreshCurrentPageInternal(std::shared_ptr<DeviceSession> session,
                                                                 std::stop_token stop, RowPlacement placement)
{
    if (!m_currentPage) {
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    const quint64 epoch = m_sessionEpoch;
    const DirectoryPage shown = *m_currentPage;
    QCoro::Task<DirectoryPage> listing =
        shown.parentID
            ? listFolder(session, *shown.parentID, shown.path, ListingLimit::unlessTransfersActive, stop,
                         placement)
            : listRoot(session, shown.storage.id, ListingLimit::unlessTransfersActive, stop, placement);
    DirectoryPage listed = co_await std::move(listing);
    // A listing of a session that has been replaced meanwhile belongs to another device.
    if (!self || epoch != m_sessionEpoch) {
        co_return;
    }
    cache(listed);
    // The user may have moved on meanwhile: the path, the crumbs and the stack show another folder,
    // or another folder of the same path (a sibling of a canonically equal name, a folder made
    // anew under the old one's name), whose rows these are not.
    if (!m_currentPage || m_currentPage->path != listed.path || m_currentPage->parentID != listed.parentID ||
        m_currentPage->storage.id != listed.storage.id) {
        co_return;
    }
    setCurrentPage(std::move(listed), placement);
}

} // namespace quillbarrow
