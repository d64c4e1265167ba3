#include "VolumeLocation.h"

#include "domain/HashFeed.h"
#include "domain/NfcText.h"

namespace quillbarrow {

VolumeLocation::VolumeLocation(QUrl id, QString name, QUrl url, QString systemImage, bool isRemovable)
    : id(std::move(id)), name(std::move(name)), url(std::move(url)), systemImage(std::move(systemImage)),
      isRemovable(isRemovable)
{
}

bool operator==(const VolumeLocation& a, const VolumeLocation& b)
{
    return a.id == b.id && NfcText::equal(a.name, b.name) && a.url == b.url && a.systemImage == b.systemImage &&
           a.isRemovable == b.isRemovable;
}

std::size_t qHash(const VolumeLocation& location, std::size_t seed)
{
    return HashFeed(seed)
        .add(location.id)
        .text(location.name)
        .add(location.url)
        .text(location.systemImage)
        .add(location.isRemovable)
        .result();
}

} // namespace quillbarrow
