#pragma once

#include <QString>

#include <optional>

class QLabel;

namespace quillbarrow {

// Whether a typed folder name or new name may be used. Names are judged trimmed of white space
// and line ends; an empty name, "." and "..", and names containing "/" or NUL are refused: they
// would name the folder itself, its parent, or a place inside another folder.
class ItemNameRules final {
public:
    static QString trimmed(const QString& typed);
    static bool isAcceptable(const QString& typed);
    // The one-line reason shown under the field while the typed name is refused ("A name cannot
    // contain “/”."); nothing while it is acceptable or the field is still empty.
    static std::optional<QString> reason(const QString& typed);
    // The line under a sheet's name field that shows reason(): small, red, and keeping its room
    // while empty so the sheet does not jump as the user types.
    static QLabel* makeReasonLabel();
    static void showReason(QLabel* label, const QString& typed);
};

} // namespace quillbarrow
