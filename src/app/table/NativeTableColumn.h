#pragma once

#include "domain/FileSort.h"

#include <QList>
#include <QString>

#include <optional>

namespace quillbarrow {

// One column of a native table: a plain value. `content` says which field of the row the column
// shows; both panes use the three standard columns.
struct NativeTableColumn {
    enum class Content {
        // The item's name after its kind's symbol (a blue folder or a quiet document).
        name,
        // The file-style byte count, or "--".
        size,
        // The modification date, or "--".
        modified,
    };

    QString identifier;
    QString title;
    int width;
    int minimumWidth;
    bool isSortable;
    Content content;

    // "name" (Name, 320, at least 120), "size" (Size, 100, at least 60) and "modified" (Modified,
    // 160, at least 80), all sortable.
    static QList<NativeTableColumn> standardColumns();

    // The column identifier a browser sort key is shown in, and back: "name", "size", "modified"
    // (compared exactly); nothing for any other identifier.
    static QString sortColumnIdentifier(FileSort sort);
    static std::optional<FileSort> fileSort(const QString& identifier);
};

} // namespace quillbarrow
