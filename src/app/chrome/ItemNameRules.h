#pragma once

#include <QString>

namespace quillbarrow {

// Whether a typed folder name or new name may be used. Names are judged trimmed of white space
// and line ends; an empty name, "." and "..", and names containing "/" or NUL are refused: they
// would name the folder itself, its parent, or a place inside another folder.
class ItemNameRules final {
public:
    static QString trimmed(const QString& typed);
    static bool isAcceptable(const QString& typed);
};

} // namespace quillbarrow
