#pragma once

#include <QString>
#include <QUrl>

#include <cstddef>

namespace quillbarrow {

// One segment of the volume switcher: the home folder, or a mounted volume a person would open.
// Identified by `id`, the volume's root (the home folder for Home), which is also `url`.
struct VolumeLocation {
    VolumeLocation(QUrl id, QString name, QUrl url, QString systemImage, bool isRemovable);

    QUrl id;
    QString name;
    // The folder opened when the segment is chosen.
    QUrl url;
    // The name of the symbol shown with it.
    QString systemImage;
    // The volume can be removed or ejected.
    bool isRemovable;
};

bool operator==(const VolumeLocation& a, const VolumeLocation& b);
std::size_t qHash(const VolumeLocation& location, std::size_t seed = 0);

} // namespace quillbarrow
