#pragma once

#include <QSet>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace quillbarrow {

// The Mac-side file work of the transfer workflows, on absolute local paths. Every writing
// operation puts its result in place only when it is complete: a copy is made under a hidden
// temporary name inside the destination folder and renamed to its final name at the end, and an
// item being replaced is moved aside first and deleted only after the new one is in place, so a
// failure never leaves a half-written item under the final name nor loses the old one.
class LocalFileOperations {
public:
    // `folder` with `name` appended, as the workflows spell destination paths.
    static QString childPath(const QString& folder, const QString& name);
    // The last component of a path, ignoring trailing slashes ("" for "/").
    static QString lastComponent(const QString& path);
    // Something (file, folder or link, even a dangling one) exists at the path.
    static bool itemExists(const QString& path);
    // The size attribute of the item itself (a link's or folder entry's own size, not its target's
    // or contents'); nothing when its attributes cannot be read.
    static std::optional<qint64> attributeBytes(const QString& path);
    // The Keep Both name: `name` itself when free, else the base name, a blank, 2, 3, ... and the
    // extension (the text after the last dot; a leading dot does not start one), the first that
    // is not taken.
    static QString keepBothName(const QString& name, const std::function<bool(const QString&)>& isTaken);
    // The Keep Both name in a local folder: taken when its path in `folder` is in `reserved` or
    // something exists there.
    static QString uniqueLocalName(const QString& name, const QString& folder, const QSet<QString>& reserved);
    // Where the item at `path` physically is: the link-free path of its parent folder with its own
    // name appended (a link itself is not followed). The cleaned absolute path when the parent
    // cannot be resolved.
    static QString physicalLocation(const QString& path);
    // `path` equals `folder` or lies inside it, both given as physical locations.
    static bool isSameOrInside(const QString& path, const QString& folder);
    // A real folder (not a link to one) at the path.
    static bool isRealFolder(const QString& path);

    // Copies the item at `source` (a file, a link as a link, or a folder with everything in it) to
    // `target`. Without `replace` it fails when something exists at `target` by the time the copy
    // is complete; with it, the existing item is swapped out only after the copy is complete and
    // put back when the swap fails. Returns nothing on success, else a description of the failure.
    static std::optional<QString> copyItem(const QString& source, const QString& target, bool replace);
    // Removes the item, a folder with everything in it; false when something is left.
    static bool removeItem(const QString& path);
};

} // namespace quillbarrow
