#include "DeviceBrowserViewModel.h"

#include "DeviceCallLimit.h"

namespace quillbarrow {

namespace {

void stampListing(DirectoryPage& page, const ListingSession& origin)
{
    for (RemoteItem& item : page.items) {
        item.listedIn = origin;
    }
}

} // namespace

ListingSession DeviceBrowserViewModel::listingSessionOf(const std::shared_ptr<DeviceSession>& session) const
{
    // Epochs start at 1 with the first session, so 0 is never the open session's.
    const quint64 epoch = session == m_session ? m_sessionEpoch : 0;
    return ListingSession(epoch, session->device().id, session);
}

QCoro::Task<std::shared_ptr<DeviceSession>> DeviceBrowserViewModel::openSessionWithinLimit(DeviceID deviceID,
                                                                                           OpenSessionOptions options,
                                                                                           std::stop_token stop)
{
    const std::shared_ptr<MTPBackend> backend = m_backend;
    std::function<QCoro::Task<std::shared_ptr<DeviceSession>>()> open = [backend, deviceID, options] {
        return backend->openSession(deviceID, options);
    };
    // Nobody waits for a session that opens after its limit: close it rather than leave the
    // device claimed until the last reference goes.
    std::function<void(std::shared_ptr<DeviceSession>)> closeLate = &DeviceBrowserViewModel::closeInBackground;
    co_return co_await callWithinLimit(std::move(open), m_timing.openSessionLimit, std::move(stop),
                                       std::move(closeLate));
}

QCoro::Task<QList<StorageRoot>> DeviceBrowserViewModel::readStoragesWithinLimit(std::shared_ptr<DeviceSession> session,
                                                                                std::stop_token stop)
{
    std::function<QCoro::Task<QList<StorageRoot>>()> read = [session] { return session->storages(); };
    co_return co_await callWithinLimit(std::move(read), m_timing.storagesLimit, std::move(stop));
}

QCoro::Task<DirectoryPage> DeviceBrowserViewModel::listRoot(std::shared_ptr<DeviceSession> session,
                                                            StorageID storageID, ListingLimit limit,
                                                            std::stop_token stop)
{
    const ListingSession origin = listingSessionOf(session);
    std::function<QCoro::Task<DirectoryPage>()> list = [session, storageID] {
        return session->rootDirectory(storageID);
    };
    DirectoryPage page = co_await listWithin(std::move(list), limit, std::move(stop));
    stampListing(page, origin);
    co_return page;
}

QCoro::Task<DirectoryPage> DeviceBrowserViewModel::listFolder(std::shared_ptr<DeviceSession> session,
                                                              RemoteObjectID parentID, RemotePath path,
                                                              ListingLimit limit, std::stop_token stop)
{
    const ListingSession origin = listingSessionOf(session);
    std::function<QCoro::Task<DirectoryPage>()> list = [session, parentID, path] {
        return session->listDirectory(parentID, path);
    };
    DirectoryPage page = co_await listWithin(std::move(list), limit, std::move(stop));
    stampListing(page, origin);
    co_return page;
}

QCoro::Task<DirectoryPage> DeviceBrowserViewModel::listWithin(std::function<QCoro::Task<DirectoryPage>()> call,
                                                              ListingLimit limit, std::stop_token stop)
{
    // Behind an active transfer the device answers only when the transfer lets it, so the
    // listing waits as long as that takes. The queue is asked right before each listing.
    if (limit == ListingLimit::unlessTransfersActive && m_transferQueue->hasActiveJobs()) {
        QCoro::Task<DirectoryPage> direct = call();
        co_return co_await std::move(direct);
    }
    co_return co_await callWithinLimit(std::move(call), m_timing.listingLimit, std::move(stop));
}

} // namespace quillbarrow
