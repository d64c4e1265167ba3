#include "DeviceBrowserViewModel.h"

#include "DeviceCallLimit.h"
#include "async/SerialExecutor.h"
#include "async/WorkPool.h"

#include <QCoro/QCoroFuture>

namespace quillbarrow {

namespace {

void stampListing(DirectoryPage& page, const ListingSession& origin)
{
    for (RemoteItem& item : page.items) {
        item.listedIn = origin;
    }
}

bool listsSameFolder(const DirectoryPage& a, const DirectoryPage& b)
{
    return a.storage.id == b.storage.id && a.path == b.path && a.parentID == b.parentID;
}

// Where an item of `fresh` equals one of `earlier`, listed in the same session, it becomes that
// item again, sharing all its data: the pane then finds its row by where its id keeps its data,
// without reading it. When every item is as it was, in the same order, the listing becomes the
// earlier one itself (and its names' ranks stay right). Stamped items only; runs on any thread.
void takeEarlierItems(DirectoryPage& fresh, const DirectoryPage& earlier)
{
    const QList<RemoteItem>& before = earlier.items;
    const QList<RemoteItem>& listed = std::as_const(fresh.items);
    const auto sameItem = [](const RemoteItem& a, const RemoteItem& b) { return a == b && a.listedIn == b.listedIn; };
    if (listed.size() == before.size() && std::equal(listed.begin(), listed.end(), before.begin(), sameItem)) {
        fresh.items = before;
        return;
    }
    QHash<RemoteObjectID, qsizetype> placeOf;
    placeOf.reserve(before.size());
    for (qsizetype place = 0; place < before.size(); ++place) {
        placeOf.insert(before[place].id, place);
    }
    for (RemoteItem& item : fresh.items) {
        const auto found = placeOf.constFind(item.id);
        if (found != placeOf.constEnd() && sameItem(before[*found], item)) {
            item = before[*found];
        }
    }
}

} // namespace

QCoro::Task<DirectoryPage> DeviceBrowserViewModel::prepareListing(DirectoryPage page, ListingSession origin,
                                                                  RowPlacement placement)
{
    if (page.items.size() < bigListing) {
        stampListing(page, origin);
        co_return page;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    // The folder's listing before, when it is of this session: the page shown, else the cached one.
    std::optional<DirectoryPage> earlier;
    if (m_currentPage && listsSameFolder(*m_currentPage, page)) {
        earlier = m_currentPage;
    } else if (const DirectoryPage* cached = cachedPage(page.path, page.parentID);
               cached != nullptr && listsSameFolder(*cached, page)) {
        earlier = *cached;
    }
    if (earlier && (earlier->items.isEmpty() || earlier->items.constFirst().listedIn != origin)) {
        earlier.reset();
    }
    // The rows are prepared only for the folder shown (or the first one a connection shows): the
    // listings of a folder-size walk or of a stored location's levels are not shown like this.
    const bool forShowing = !m_currentPage || listsSameFolder(*m_currentPage, page);
    // A page shown is placed by every size measured by then, unless it is to keep the rows shown
    // in place: then among the rows shown now, by the sizes they are placed by (the rows are used
    // only if they are still those shown when the page is).
    const bool keepsRows =
        placement == RowPlacement::keepInPlace && !m_isOrderAnewPending && forShowing && m_currentPage;
    RowsInputs inputs{{},
                      m_sort,
                      m_sortAscending,
                      m_showHiddenFiles,
                      m_measurementsVersion,
                      keepsRows ? m_orderedMeasurementsVersion : m_measurementsVersion,
                      m_sessionEpoch,
                      keepsRows ? m_items : QList<RemoteItem>()};
    struct Prepared {
        DirectoryPage page;
        std::shared_ptr<const BrowserRanking> ranking;
        std::optional<QList<RemoteItem>> rows;
    };
    std::shared_ptr<const BrowserRanking> earlierRanking = earlier ? rankingOf(*earlier) : nullptr;
    auto preparing = [page = std::move(page), origin, earlier = std::move(earlier),
                      earlierRanking = std::move(earlierRanking), forShowing, inputs,
                      measured = m_computedFolderStatistics,
                      ordered =
                          keepsRows ? m_orderedFolderStatistics : m_computedFolderStatistics]() mutable {
        stampListing(page, origin);
        if (earlier) {
            takeEarlierItems(page, *earlier);
        }
        // Held by pointer: taken out of it, the listing leaves nothing behind in the future.
        auto prepared = std::make_shared<Prepared>(Prepared{std::move(page), nullptr, std::nullopt});
        const QList<RemoteItem>& items = prepared->page.items;
        const bool sameAsEarlier = earlier && sameListing(earlier->items, items);
        if (sameAsEarlier) {
            prepared->ranking = std::move(earlierRanking);
        }
        if (!prepared->ranking && forShowing) {
            prepared->ranking = std::make_shared<const BrowserRanking>(browserRanking(items));
        }
        // The very listing shown already has its rows.
        if (forShowing && !sameAsEarlier) {
            prepared->rows = rowsOf(items, prepared->ranking.get(), inputs.sort, inputs.ascending,
                                    inputs.showHidden, measured, ordered, inputs.keptRows);
        }
        return prepared;
    };
    QFuture<std::shared_ptr<Prepared>> future = runOnThreadPool(workPool(), std::move(preparing), rowsPriority);
    const std::shared_ptr<Prepared> held = co_await future;
    Prepared prepared = std::move(*held);
    // Kept for the page only while its session is the open one; used only if the page is shown
    // with the sort, hidden-name choice and measured sizes of the moment it was prepared for.
    if (self && origin.epoch() == self->m_sessionEpoch) {
        self->keepRanking(prepared.page.path, prepared.page.items, std::move(prepared.ranking), true);
    }
    if (self && prepared.rows && origin.epoch() == self->m_sessionEpoch) {
        inputs.pageItems = prepared.page.items;
        letGo(std::exchange(self->m_preparedRows, DerivedRows{std::move(inputs), std::move(*prepared.rows)}));
    } else if (prepared.rows) {
        letGo(std::move(*prepared.rows));
    }
    co_return std::move(prepared.page);
}

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
                                                            std::stop_token stop, RowPlacement placement)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const ListingSession origin = listingSessionOf(session);
    std::function<QCoro::Task<DirectoryPage>()> list = [session, storageID] {
        return session->rootDirectory(storageID);
    };
    DirectoryPage page = co_await listWithin(std::move(list), limit, std::move(stop));
    if (!self) {
        stampListing(page, origin);
        co_return page;
    }
    co_return co_await prepareListing(std::move(page), origin, placement);
}

QCoro::Task<DirectoryPage> DeviceBrowserViewModel::listFolder(std::shared_ptr<DeviceSession> session,
                                                              RemoteObjectID parentID, RemotePath path,
                                                              ListingLimit limit, std::stop_token stop,
                                                              RowPlacement placement)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const ListingSession origin = listingSessionOf(session);
    std::function<QCoro::Task<DirectoryPage>()> list = [session, parentID, path] {
        return session->listDirectory(parentID, path);
    };
    DirectoryPage page = co_await listWithin(std::move(list), limit, std::move(stop));
    if (!self) {
        stampListing(page, origin);
        co_return page;
    }
    co_return co_await prepareListing(std::move(page), origin, placement);
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
