#pragma once

#include "domain/RemotePath.h"

#include <QString>

#include <cstddef>

namespace quillbarrow {

// One entry of the Android favourites menu: a built-in shortcut to a common top-level folder or
// a folder the user stored. Identified by `id`; equality and hashing cover all six fields.
struct RemoteFavoriteLocation {
    RemoteFavoriteLocation(QString id, QString name, RemotePath path, QString systemImage, bool isUserFavorite,
                           bool isDefault);

    QString id;
    // The menu label.
    QString name;
    // The folder the entry opens.
    RemotePath path;
    // The symbol name of the menu icon.
    QString systemImage;
    // Stored by the user, as opposed to built in.
    bool isUserFavorite;
    // The path is the device's stored default location.
    bool isDefault;
};

bool operator==(const RemoteFavoriteLocation& a, const RemoteFavoriteLocation& b);
std::size_t qHash(const RemoteFavoriteLocation& location, std::size_t seed = 0);

} // namespace quillbarrow
