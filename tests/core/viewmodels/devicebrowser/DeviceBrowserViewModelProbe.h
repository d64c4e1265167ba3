#pragma once

#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

namespace quillbarrow {

// The tests' access to the view model's private state and operations.
class DeviceBrowserViewModelProbe {
public:
    using ListingLimit = DeviceBrowserViewModel::ListingLimit;

    explicit DeviceBrowserViewModelProbe(DeviceBrowserViewModel& viewModel) : m(viewModel) {}

    // A listing of this many items is prepared and re-sorted on the work pool.
    static constexpr qsizetype bigListing = DeviceBrowserViewModel::bigListing;
    bool isSortingOnPool() const { return m.m_isSortingOnPool; }

    void setCurrentPage(std::optional<DirectoryPage> page, RowPlacement placement = RowPlacement::orderAnew)
    {
        m.setCurrentPage(std::move(page), placement);
    }
    void setSelectedDevice(std::optional<AndroidDevice> device) { m.setSelectedDevice(std::move(device)); }
    void setConnectionPhase(DeviceConnectionPhase phase) { m.setConnectionPhase(phase); }
    void setSession(std::shared_ptr<DeviceSession> session) { m.setSession(std::move(session)); }
    void setDevices(QList<AndroidDevice> devices) { m.setDevices(std::move(devices)); }
    static bool isRetryableConnectError(const std::exception_ptr& error)
    {
        return DeviceBrowserViewModel::isRetryableConnectError(error);
    }
    QList<NavigationNode> navigationStack() const { return m.m_navigationStack; }
    quint64 navigationGeneration() const { return m.m_navigationGeneration; }
    quint64 connectGeneration() const { return m.m_connectGeneration; }
    void setErrorBanner(std::optional<ErrorBanner> banner) { m.setErrorBanner(std::move(banner)); }
    void setMeasuredSize(const RemoteObjectID& id, FolderStatistics statistics)
    {
        m.keepMeasurement(id, statistics);
    }
    void applySort() { m.applySort(); }
    void putInCache(const DirectoryPage& page) { m.m_directoryCache.insert(page.path, page); }
    QCoro::Task<> prepareCachedRows(const DirectoryPage& page)
    {
        return m.prepareCachedRows(page.path, page.parentID);
    }
    void refreshFavoriteLocations() { m.refreshFavoriteLocations(); }
    void rememberCurrentLocation() { m.rememberCurrentLocation(); }
    void present(const QuillbarrowError& error) { m.present(error); }
    void present(const std::exception_ptr& error) { m.present(error); }
    quint64 sessionEpoch() const { return m.m_sessionEpoch; }
    void setShowingStalePage(bool stale) { m.setShowingStalePage(stale); }
    void cache(const DirectoryPage& page) { m.cache(page); }
    std::optional<DirectoryPage> cachedPage(const RemotePath& path) const
    {
        const auto found = m.m_directoryCache.constFind(path);
        return found == m.m_directoryCache.constEnd() ? std::nullopt : std::optional<DirectoryPage>(*found);
    }
    qsizetype cacheSize() const { return m.m_directoryCache.size(); }
    bool canServeCachedPageDuringTransfer(const RemotePath& path, const std::optional<RemoteObjectID>& parentID) const
    {
        return m.canServeCachedPageDuringTransfer(path, parentID);
    }
    void scheduleStalePageRefresh() { m.scheduleStalePageRefresh(); }
    bool stalePageRefreshRunning() const { return m.m_stalePageRefreshTask.isRunning(); }
    QCoro::Task<> reloadCurrentPage(std::stop_token stop) { return m.reloadCurrentPage(orLifetime(std::move(stop))); }
    QCoro::Task<> refreshCurrentPageInternal(std::shared_ptr<DeviceSession> session)
    {
        return m.refreshCurrentPageInternal(std::move(session), m.lifetime());
    }

    std::stop_token startMonitorTask() { return m.m_monitorTask.start(); }
    std::stop_token startStalePageRefreshTask() { return m.m_stalePageRefreshTask.start(); }
    std::stop_token startAutomaticFolderSizeTask() { return m.m_automaticFolderSizeTask.start(); }

    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID id, std::stop_token stop = {})
    {
        return m.openSessionWithinLimit(std::move(id), OpenSessionOptions(false), orLifetime(std::move(stop)));
    }
    QCoro::Task<QList<StorageRoot>> readStorages(std::shared_ptr<DeviceSession> session, std::stop_token stop = {})
    {
        return m.readStoragesWithinLimit(std::move(session), orLifetime(std::move(stop)));
    }
    QCoro::Task<DirectoryPage> listRoot(std::shared_ptr<DeviceSession> session, StorageID storage, ListingLimit limit,
                                        std::stop_token stop = {})
    {
        return m.listRoot(std::move(session), std::move(storage), limit, orLifetime(std::move(stop)));
    }
    QCoro::Task<DirectoryPage> listFolder(std::shared_ptr<DeviceSession> session, RemoteObjectID parent,
                                          RemotePath path, ListingLimit limit, std::stop_token stop = {})
    {
        return m.listFolder(std::move(session), std::move(parent), std::move(path), limit, orLifetime(std::move(stop)));
    }

private:
    // Without a token of the test's own, a call waits as the view model's operations do: until
    // the view model goes away.
    std::stop_token orLifetime(std::stop_token stop) const { return stop.stop_possible() ? stop : m.lifetime(); }

    DeviceBrowserViewModel& m;
};

} // namespace quillbarrow
