#pragma once

#include "MountedVolume.h"

#include <QList>
#include <QObject>

namespace quillbarrow {

// The computer's mounted volumes, with notice of every mount, unmount and change of a mount.
class VolumeMonitor : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Read anew at every call.
    virtual QList<MountedVolume> mountedVolumes() const = 0;
    // From now on volumesChanged() follows each change; later calls do nothing more.
    virtual void startWatching() = 0;

Q_SIGNALS:
    void volumesChanged();
};

} // namespace quillbarrow
