#include "DeviceBrowserViewModel.h"

#include "viewmodels/transfers/MainThreadYield.h"

#include <QPointer>

#include <algorithm>

namespace quillbarrow {

namespace {

// The errors that another application or service holding the phone can cause.
bool mayComeFromAConflictingApp(QuillbarrowError::Kind kind)
{
    switch (kind) {
    case QuillbarrowError::Kind::usbInterfaceBusy:
    case QuillbarrowError::Kind::sessionFailed:
    case QuillbarrowError::Kind::backendProtocolError:
    case QuillbarrowError::Kind::permissionDenied:
        return true;
    default:
        return false;
    }
}

} // namespace

void DeviceBrowserViewModel::present(const std::exception_ptr& error)
{
    present(QuillbarrowError::fromException(error));
}

void DeviceBrowserViewModel::present(const QuillbarrowError& error, std::optional<TransferDirection> direction)
{
    const QString message = direction ? error.userMessage(*direction) : error.userMessage();
    m_logger.error(message + u' ' + error.technicalDetails());
    setErrorBanner(ErrorBanner(message, error.technicalDetails(), {}));
    if (mayComeFromAConflictingApp(error.kind())) {
        QCoro::Task<> lookup = lookUpConflicts();
        Q_UNUSED(lookup) // runs on by itself; never stored, never stopped
    }
}

void DeviceBrowserViewModel::clearError()
{
    setErrorBanner(std::nullopt);
}

QCoro::Task<> DeviceBrowserViewModel::lookUpConflicts()
{
    QPointer<DeviceBrowserViewModel> self(this);
    const std::shared_ptr<AppConflictDetecting> detector = m_conflictDetector;
    // The lookup is a task of its own: the report that started it has finished first.
    co_await MainThreadYield{};
    if (!self) {
        co_return;
    }
    QList<DetectedConflictApp> found;
    try {
        found = co_await detector->runningConflicts();
    } catch (...) {
        co_return; // the detector does not fail; should it, the banner stays as it is
    }
    if (!self || found.isEmpty() || !m_errorBanner) {
        co_return;
    }
    const QString detail = m_errorBanner->detail + QStringLiteral(" Possible conflicting apps or services: ") +
                           ErrorBanner::conflictDisplayNames(found).join(QStringLiteral(", ")) + u'.';
    setErrorBanner(ErrorBanner(m_errorBanner->message, detail, found));
}

std::optional<ListingSession> DeviceBrowserViewModel::currentListingSession() const
{
    if (!m_session) {
        return std::nullopt;
    }
    return ListingSession(m_sessionEpoch, m_session->device().id, m_session);
}

bool DeviceBrowserViewModel::belongToCurrentSession(const QList<RemoteItem>& items) const
{
    const std::optional<ListingSession> current = currentListingSession();
    return std::all_of(items.cbegin(), items.cend(), [&current](const RemoteItem& item) {
        return !item.listedIn || (current && *item.listedIn == *current);
    });
}

bool DeviceBrowserViewModel::refuseItemsOfAnotherSession(const QList<RemoteItem>& items)
{
    if (belongToCurrentSession(items)) {
        return false;
    }
    // Their ids may name other objects in this session: nothing of them goes to the device.
    present(QuillbarrowError::deviceChanged());
    return true;
}

} // namespace quillbarrow
