#pragma once

#include <QString>

#include <optional>

namespace quillbarrow {

// Moves items of the computer to the user's Trash (the freedesktop Trash) with
// QFile::moveToTrash: an item on the home folder's file system goes to the home Trash,
// $XDG_DATA_HOME/Trash; one on another file system to that file system's own Trash at its top
// folder, and when there is none the item stays where it is. An item is never copied and never
// removed for good.
//
// QFile::moveToTrash alone is not safe to call: without a data folder it moves the item into
// "files" under the process's working directory and reports success, and with a Trash whose
// "info" folder cannot be written to it never returns. So the Trash the item would go to is made
// and checked first, and the item is left alone with the reason when it cannot take it.
class LocalTrash {
public:
    // Moves the item at the absolute `path` (a link as the link itself). Nothing when it is in
    // the Trash; otherwise the reason, and the item is where it was.
    static std::optional<QString> moveToTrash(const QString& path);

    // The home Trash: "Trash" in the user's data folder ($XDG_DATA_HOME, else ~/.local/share).
    static QString homeTrashPath();
};

} // namespace quillbarrow
