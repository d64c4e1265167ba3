#pragma once

#include "transport/DeviceSession.h"
#include "transport/MTPBackend.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace quillbarrow::e2e {

// The real MTP responder that scripts/e2e/run-in-guest.sh attached to this guest, read from the
// runner's environment, with what it can and cannot do. Both responders serve the runner's
// shared folder, so what the device holds can also be read there, byte for byte.
class E2EResponder {
  public:
    enum class Kind { qemu, umtp };

    // The responder of this run. Throws std::runtime_error when the program does not run inside
    // the runner's guest.
    static const E2EResponder& current();

    Kind kind() const { return m_kind; }
    // "QEMU usb-mtp" or "uMTP-Responder", for messages.
    QString name() const;
    // The host folder that the device serves (mounted at the same path in the guest).
    const QString& share() const { return m_share; }

    // QEMU's device refuses every rename ("could not get property description").
    bool supportsRename() const { return m_kind == Kind::umtp; }
    // QEMU's device refuses to delete a folder that is not empty ("Partial Deletion").
    bool deletesFoldersRecursively() const { return m_kind == Kind::umtp; }
    // uMTP-Responder does not answer libmtp's device-status request after a cancelled download in
    // time, then leaves the next download unanswered or drops off the bus: it must be plugged in
    // again.
    bool survivesCancelledDownloads() const { return m_kind == Kind::qemu; }
    // uMTP-Responder waits about half a second (500 sleeps of a millisecond, signalling its
    // transfer thread halfway) for that thread to notice a cancelled upload, then closes its
    // endpoints, which takes the device off the bus. On a busy host the thread is often still
    // writing the bytes it received to the served folder (a 9p share) and misses the signal: the
    // device must be plugged in again.
    bool survivesCancelledUploads() const { return m_kind == Kind::qemu; }
    // QEMU's device learns of the objects in a folder only when the folder is listed: it creates
    // folders and accepts uploads only in folders listed in the session. (It takes in what it has
    // just created from inotify, after it answered; the runner's placement of QEMU's threads makes
    // sure it has done so before it answers the next request.)
    bool needsListedParents() const { return m_kind == Kind::qemu; }

    // Whether the device takes an upload of `size` bytes (see qemuTakesUploadOf for the sizes
    // QEMU 7.2's device cannot take).
    bool acceptsUploadOf(qint64 size) const;

    // Where the tests write: a folder in the storage root (an upload into uMTP-Responder's storage
    // root wedges it until a USB reset).
    static QString writableFolderName();
    // A folder in the storage root that holds the big file of LocalTree, for the tests that only
    // read it from the device.
    static QString seedFolderName();
    // Makes the writable folder and the seed folder in the served folder. Run before the first
    // session, so that both responders find them when they first list the storage root (a folder
    // made behind a responder's back later may go unnoticed).
    void prepareServedFolder() const;

    // The backend as the application makes it for real devices.
    std::shared_ptr<MTPBackend> makeBackend() const;
    // Opens the device through the backend and wraps the session for the responder's quirks
    // (see ResponderSession); with `writableAlias`, that identifier stands for the writable folder.
    QCoro::Task<std::shared_ptr<DeviceSession>>
    openSession(std::shared_ptr<MTPBackend> backend, DeviceID deviceID,
                std::optional<RemoteObjectID> writableAlias = {}) const;

    // Asks the runner to "unplug" or "plug" the device without waiting for the answer.
    void sendRequest(const QString& action) const;
    // Whether the answer to an earlier request has come (from any thread, without waiting).
    bool answered(const QString& action) const;
    // Waits, keeping the event loop running, for the answer to an earlier request: true when it
    // came and was "ok"; `*answer` holds the first line (or why there is none).
    bool awaitAnswer(const QString& action, std::chrono::milliseconds watchdog, QString* answer) const;

  private:
    E2EResponder(Kind kind, QString share, QString requests);

    Kind m_kind;
    QString m_share;
    QString m_requests;
};

} // namespace quillbarrow::e2e
