#include "LocalFavoriteLocation.h"

#include "domain/HashFeed.h"
#include "domain/NfcText.h"

namespace quillbarrow {

LocalFavoriteLocation::LocalFavoriteLocation(QUrl id, QString name, QUrl url, QString systemImage, bool isUserFavorite,
                                             bool isDefault)
    : id(std::move(id)), name(std::move(name)), url(std::move(url)), systemImage(std::move(systemImage)),
      isUserFavorite(isUserFavorite), isDefault(isDefault)
{
}

bool operator==(const LocalFavoriteLocation& a, const LocalFavoriteLocation& b)
{
    return a.id == b.id && NfcText::equal(a.name, b.name) && a.url == b.url && a.systemImage == b.systemImage &&
           a.isUserFavorite == b.isUserFavorite && a.isDefault == b.isDefault;
}

std::size_t qHash(const LocalFavoriteLocation& location, std::size_t seed)
{
    return HashFeed(seed)
        .add(location.id)
        .text(location.name)
        .add(location.url)
        .text(location.systemImage)
        .add(location.isUserFavorite)
        .add(location.isDefault)
        .result();
}

} // namespace quillbarrow
