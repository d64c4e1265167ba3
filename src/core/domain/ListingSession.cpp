#include "ListingSession.h"

namespace quillbarrow {

ListingSession::ListingSession(quint64 epoch, DeviceID deviceID, std::weak_ptr<const void> session)
    : epoch(epoch), deviceID(std::move(deviceID)), session(std::move(session))
{
}

bool ListingSession::isSession(const std::shared_ptr<const void>& other) const
{
    // Compared by owner: the weak reference keeps the control block, so a later session can never
    // share it, whatever address it gets.
    return other && !session.owner_before(other) && !other.owner_before(session);
}

bool operator==(const ListingSession& a, const ListingSession& b)
{
    return a.epoch == b.epoch && a.deviceID == b.deviceID && !a.session.owner_before(b.session) &&
           !b.session.owner_before(a.session);
}

} // namespace quillbarrow
