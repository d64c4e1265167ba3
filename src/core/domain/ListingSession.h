#pragma once

#include "DeviceID.h"

#include <QtGlobal>

#include <memory>

namespace quillbarrow {

// The device session a device item was listed in. Object ids mean something only within the
// session that gave them: phones number their objects and storages alike, and a phone plugged in
// again may give an old id to another object. So an action on listed items first asks whether
// they were listed in the session it is about to use.
//
// `epoch` is the device browser's session epoch and `deviceID` the phone; the session object itself
// is named too (held weakly, so it never keeps a session alive), for the transfer paths, which are
// lent a session rather than told an epoch. Every item of a listing carries one, so copies share
// a single record.
class ListingSession {
public:
    ListingSession(quint64 epoch, DeviceID deviceID, std::weak_ptr<const void> session);

    quint64 epoch() const;
    const DeviceID& deviceID() const;
    // True when `other` is the very session this names (never for a session that was closed and
    // replaced, even if a new one sits at the same address).
    bool isSession(const std::shared_ptr<const void>& other) const;

    // Same epoch, same phone, same session object.
    friend bool operator==(const ListingSession& a, const ListingSession& b);

private:
    struct Record {
        quint64 epoch;
        DeviceID deviceID;
        std::weak_ptr<const void> session;
    };
    std::shared_ptr<const Record> m_record;
};

} // namespace quillbarrow
