#pragma once

#include <QString>
#include <QUrl>

#include <cstddef>

namespace quillbarrow {

// One entry of the favourites menu: a standard folder of the home folder, or one the user added.
// Identified by `id`, which is also `url`.
struct LocalFavoriteLocation {
    LocalFavoriteLocation(QUrl id, QString name, QUrl url, QString systemImage, bool isUserFavorite, bool isDefault);

    QUrl id;
    QString name;
    // The folder opened when the entry is chosen.
    QUrl url;
    // The name of the symbol shown with it.
    QString systemImage;
    // Added by the user: only these can be removed.
    bool isUserFavorite;
    // The stored default start folder.
    bool isDefault;
};

bool operator==(const LocalFavoriteLocation& a, const LocalFavoriteLocation& b);
std::size_t qHash(const LocalFavoriteLocation& location, std::size_t seed = 0);

} // namespace quillbarrow
