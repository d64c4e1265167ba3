#include "MountTableMonitor.h"

#include <QSocketNotifier>

namespace quillbarrow {

MountTableMonitor::MountTableMonitor(MountTable table, QObject* parent)
    : VolumeMonitor(parent), m_table(std::move(table))
{
}

MountTableMonitor::~MountTableMonitor() = default;

QList<MountedVolume> MountTableMonitor::mountedVolumes() const
{
    return m_table.mountedVolumes();
}

void MountTableMonitor::startWatching()
{
    if (m_notifier != nullptr) {
        return;
    }
    m_watched.setFileName(m_table.paths().mountInfo);
    if (!m_watched.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_watched.handle(), QSocketNotifier::Exception);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &VolumeMonitor::volumesChanged);
}

} // namespace quillbarrow
