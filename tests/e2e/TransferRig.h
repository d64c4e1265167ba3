#pragma once

#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace quillbarrow::e2e {

// The transfer coordinator as the window uses it: its own clipboard and queue, an opened-files
// cache in a folder of the test's, and the test in the place of the user. A name-conflict
// question fails the test (the tests paste into fresh folders) and is answered with Cancel, so a
// paste never waits for ever, unless the test gives `conflictAnswer`.
class TransferRig {
  public:
    explicit TransferRig(const QString& openedFilesCache);
    TransferRig(const TransferRig&) = delete;
    TransferRig& operator=(const TransferRig&) = delete;

    // Called on the main thread, outside the coordinator's own call, for every published job that
    // is running with bytes moved.
    std::function<void(const TransferJob&)> onBytesMoved;
    // When set, every name-conflict question is answered with it, as the sheet would: on the
    // next turn of the event loop, after `onConflict` has run.
    std::optional<ConflictResolution> conflictAnswer;
    std::function<void()> onConflict;

    // "name: state" for each job, with the error's technical details for a failed one and the
    // bytes moved for a running one.
    QStringList jobStates() const;
    // The jobs in the given state.
    QList<TransferJob> jobsIn(TransferState::Kind kind) const;

    Clipboard clipboard;
    std::shared_ptr<TransferQueue> queue;
    TransferCoordinator coordinator;

  private:
    void jobsChanged();

    QObject m_context;
};

} // namespace quillbarrow::e2e
