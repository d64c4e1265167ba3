#pragma once

#include "MountTable.h"
#include "VolumeMonitor.h"

#include <QFile>

#include <memory>

class QSocketNotifier;

namespace quillbarrow {

// The mounted volumes from the kernel's mount table. The kernel marks the open table with an
// urgent event (POLLPRI) whenever a mount, unmount or remount changes it; a socket notifier of
// the exception kind on the main thread turns each mark into volumesChanged().
class MountTableMonitor : public VolumeMonitor {
    Q_OBJECT

public:
    explicit MountTableMonitor(MountTable table = MountTable(), QObject* parent = nullptr);
    ~MountTableMonitor() override;

    QList<MountedVolume> mountedVolumes() const override;
    // Opens the table for watching; without a table to open, no notice ever comes.
    void startWatching() override;

private:
    MountTable m_table;
    QFile m_watched;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace quillbarrow
