#pragma once

#include "domain/FileSort.h"
#include "domain/LocalItem.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace quillbarrow {

// Reads folders of the computer for the local browser. Touches no shared state: any thread may
// call it.
class LocalDirectoryReader {
public:
    // One level of the folder at `path`: every entry, hidden ones too (a name that begins with
    // "."), as one LocalItem, in browser order by `sort` and `ascending`. A link is listed as what
    // it points to; an entry whose details cannot be read (a broken link) is a file without size
    // or date. Folders have no size. Throws LocalFileError when the folder cannot be listed.
    // When `nameRanks` is given, it receives the names' ranks (browserNameRanks) in the listed
    // order, for later sorts of the same listing.
    static QList<LocalItem> read(const QString& path, FileSort sort, bool ascending,
                                 std::vector<qsizetype>* nameRanks = nullptr);

    // The address of the folder at `path` when something exists there and it is a folder;
    // nothing for an absent or empty text or anything else. Creates nothing.
    static std::optional<QUrl> existingDirectoryURL(const std::optional<QString>& path);

    // `folder` with `name` appended, as the address of the entry.
    static QUrl childURL(const QString& folder, const QString& name);
};

} // namespace quillbarrow
