#include "DeviceBrowserViewModel.h"

#include "domain/ItemNameCheck.h"

#include <QPointer>

namespace quillbarrow {

bool DeviceBrowserViewModel::refuseUnusableName(const QString& name, const QString& action)
{
    // "a/b" would land in another folder and "../x" outside this one.
    const std::optional<QString> problem = ItemNameCheck::problem(name.trimmed());
    if (!problem) {
        return false;
    }
    setErrorBanner(ErrorBanner(action + *problem, QStringLiteral("The name was not sent to the device."), {}));
    return true;
}

QCoro::Task<> DeviceBrowserViewModel::createFolder(QString name)
{
    if (!m_currentPage || !m_session) {
        co_return;
    }
    if (refuseUnusableName(name, QStringLiteral("Could not create folder: "))) {
        co_return;
    }
    QPointer<DeviceBrowserViewModel> self(this);
    const DirectoryPage shown = *m_currentPage;
    const std::shared_ptr<DeviceSession> session = m_session;
    const quint64 epoch = m_sessionEpoch;
    const std::stop_token stop = lifetime();
    beginDeviceOperation();
    std::exception_ptr failure;
    try {
        co_await session->createFolder(name, shown.parentID, shown.storage.id);
        if (!self) {
            co_return;
        }
        // Behind a running transfer the device answers the listing only when the transfer lets it;
        // bounded, it would report an interrupted transfer although the folder was made.
        // Once another phone's session has replaced this one, nothing of this one is listed.
        std::optional<DirectoryPage> fresh;
        if (epoch == m_sessionEpoch) {
            QCoro::Task<DirectoryPage> listing =
                shown.parentID
                    ? listFolder(session, *shown.parentID, shown.path, ListingLimit::unlessTransfersActive,
                                 stop, RowPlacement::keepInPlace)
                    : listRoot(session, shown.storage.id, ListingLimit::unlessTransfersActive, stop,
                               RowPlacement::keepInPlace);
            fresh = co_await std::move(listing);
        }
        if (!self) {
            co_return;
        }
        // Shown only while its folder still is: the user may have moved on meanwhile.
        if (fresh && epoch == m_sessionEpoch && m_currentPage && m_currentPage->path == fresh->path) {
            setCurrentPage(std::move(fresh), RowPlacement::keepInPlace);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    endDeviceOperation(epoch == m_sessionEpoch ? failure : nullptr);
}

QCoro::Task<> DeviceBrowserViewModel::deleteItems(QList<RemoteItem> items)
{
    if (!m_session || refuseItemsOfAnotherSession(items)) {
        co_return;
    }
    std::function<QCoro::Task<>(std::shared_ptr<DeviceSession>)> deleteAll =
        [items](std::shared_ptr<DeviceSession> session) { return deleteInOrder(std::move(session), items); };
    const std::stop_token stop = lifetime();
    co_await relistInFrame(std::move(deleteAll), stop);
}

QCoro::Task<> DeviceBrowserViewModel::renameItem(RemoteItem item, QString newName)
{
    if (!m_session || refuseItemsOfAnotherSession({item})) {
        co_return;
    }
    if (refuseUnusableName(newName, QStringLiteral("Could not rename: "))) {
        co_return;
    }
    std::function<QCoro::Task<>(std::shared_ptr<DeviceSession>)> rename =
        [id = item.id, newName](std::shared_ptr<DeviceSession> session) { return session->rename(id, newName); };
    const std::stop_token stop = lifetime();
    co_await relistInFrame(std::move(rename), stop);
}

QCoro::Task<> DeviceBrowserViewModel::relistInFrame(std::function<QCoro::Task<>(std::shared_ptr<DeviceSession>)> change,
                                                    std::stop_token stop, bool keepBanner)
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<DeviceSession> session = m_session;
    if (!session) {
        co_return;
    }
    const quint64 epoch = m_sessionEpoch;
    beginDeviceOperation(keepBanner);
    std::exception_ptr failure;
    try {
        if (change) {
            QCoro::Task<> changing = change(session);
            co_await std::move(changing);
            if (!self) {
                co_return;
            }
        }
        // Another phone's session has replaced this one meanwhile: its folder shown may have the
        // same path, but this session's listing is not its listing.
        if (epoch == m_sessionEpoch) {
            co_await refreshCurrentPageInternal(session, stop, RowPlacement::keepInPlace);
        }
        if (!self) {
            co_return;
        }
        applySort();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    // A failure of a session that has gone is no news about the one open now.
    endDeviceOperation(epoch == m_sessionEpoch ? failure : nullptr);
}

QCoro::Task<> DeviceBrowserViewModel::deleteInOrder(std::shared_ptr<DeviceSession> session, QList<RemoteItem> items)
{
    // The first failure ends the batch: what went stays gone, the rest is not tried.
    for (const RemoteItem& item : std::as_const(items)) {
        co_await session->deleteItem(item.id);
    }
}

} // namespace quillbarrow
