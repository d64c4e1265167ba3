#include "ListingSession.h"

namespace quillbarrow {

namespace {

bool sameOwner(const std::weak_ptr<const void>& a, const std::weak_ptr<const void>& b)
{
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace

ListingSession::ListingSession(quint64 epoch, DeviceID deviceID, std::weak_ptr<const void> session)
    : m_record(std::make_shared<const Record>(Record{epoch, std::move(deviceID), std::move(session)}))
{
}

quint64 ListingSession::epoch() const
{
    return m_record->epoch;
}

const DeviceID& ListingSession::deviceID() const
{
    return m_record->deviceID;
}

bool ListingSession::isSession(const std::shared_ptr<const void>& other) const
{
    // Compared by owner: the weak reference keeps the control block, so a later session can never
    // share it, whatever address it gets.
    return other && sameOwner(m_record->session, other);
}

bool operator==(const ListingSession& a, const ListingSession& b)
{
    return a.m_record == b.m_record ||
           (a.m_record->epoch == b.m_record->epoch && a.m_record->deviceID == b.m_record->deviceID &&
            sameOwner(a.m_record->session, b.m_record->session));
}

} // namespace quillbarrow
