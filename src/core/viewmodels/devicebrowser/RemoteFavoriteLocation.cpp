#include "RemoteFavoriteLocation.h"

#include "domain/HashFeed.h"
#include "domain/NfcText.h"

namespace quillbarrow {

RemoteFavoriteLocation::RemoteFavoriteLocation(QString id, QString name, RemotePath path, QString systemImage,
                                               bool isUserFavorite, bool isDefault)
    : id(std::move(id)), name(std::move(name)), path(std::move(path)), systemImage(std::move(systemImage)),
      isUserFavorite(isUserFavorite), isDefault(isDefault)
{
}

bool operator==(const RemoteFavoriteLocation& a, const RemoteFavoriteLocation& b)
{
    return NfcText::equal(a.id, b.id) && NfcText::equal(a.name, b.name) && a.path == b.path &&
           NfcText::equal(a.systemImage, b.systemImage) && a.isUserFavorite == b.isUserFavorite &&
           a.isDefault == b.isDefault;
}

std::size_t qHash(const RemoteFavoriteLocation& location, std::size_t seed)
{
    return HashFeed(seed)
        .text(location.id)
        .text(location.name)
        .add(location.path)
        .text(location.systemImage)
        .add(location.isUserFavorite)
        .add(location.isDefault)
        .result();
}

} // namespace quillbarrow
