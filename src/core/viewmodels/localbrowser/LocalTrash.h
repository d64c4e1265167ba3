#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace quillbarrow {

// Moves items of the computer to the user's Trash, written as the freedesktop Trash is: the item
// is moved (never copied, never removed for good) into the Trash's "files" folder, and an info
// file in its "info" folder records where it came from ("Path", percent-encoded) and when.
//
// Which Trash: an item on the file system of the home Trash ($XDG_DATA_HOME/Trash) goes there. An
// item on another file system goes to that file system's own Trash at its top folder: the
// shared "$top/.Trash/<uid>" when "$top/.Trash" is a real folder with the sticky bit, else
// "$top/.Trash-<uid>", used only when it is a real folder owned by the user and made with mode
// 0700 when missing. No Trash folder of another file system is ever reached through a link: on
// a shared disk anybody can plant one, and the item would land in another user's folder. The home
// Trash, and its "files" and "info", may be links the user owns to folders of the user's own:
// nobody else can put a link in the user's home. Where no Trash can take the item it stays where
// it is and the reason is given.
//
// The item keeps its name in the Trash when it is free and fits, with its info file, in a name
// the file system allows; else it is shortened (never splitting a character) and numbered. The
// info file is created exclusively first, so two deletes never claim one name. Blocking: call
// it off the main thread.
class LocalTrash {
public:
    // Where the Trash of each file system is.
    struct Places {
        // The home Trash folder.
        QString homeTrash;
        // The top folder of the file system that holds the item at the absolute path, when that
        // is not the home Trash's file system; nothing when it is.
        std::function<std::optional<QString>(const QString& path)> otherFileSystemTop;
    };

    // The Places of this computer for the current user.
    static Places userPlaces();
    // The home Trash: "Trash" in the user's data folder ($XDG_DATA_HOME, else ~/.local/share).
    static QString homeTrashPath();

    // Moves the item at the absolute `path` (a link as the link itself, also when its target is
    // missing). Nothing when it is in the Trash; otherwise the reason, and the item is where it was.
    static std::optional<QString> moveToTrash(const QString& path);
    static std::optional<QString> moveToTrash(const QString& path, const Places& places);
};

} // namespace quillbarrow
