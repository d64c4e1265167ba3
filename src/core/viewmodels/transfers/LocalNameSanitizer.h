#pragma once

#include <QString>
#include <QtGlobal>

namespace quillbarrow {

// Turns names that come from a device into names that are safe on the local file system. A
// device may report any text as a name ("", "..", "../x", "a/b", text with NUL characters), and
// joining such a text to a local folder could reach outside it.
class LocalNameSanitizer {
public:
    // The name every unusable device name becomes.
    static const QString fallbackName;
    // The most bytes a local file name may have.
    static constexpr qsizetype maximumNameBytes = 255;
    // Longer names are cut to this many bytes, leaving room for a Keep Both number.
    static constexpr qsizetype shortenedNameBytes = 240;

    // The device name's last "/"-separated component without NUL characters; "", "." and ".."
    // become fallbackName. A name longer than maximumNameBytes is shortened to
    // shortenedNameBytes, keeping a short extension.
    static QString localName(const QString& deviceName);
    // `path` lies strictly inside `folder` (both absolute; compared after resolving "." and "..").
    static bool liesInside(const QString& path, const QString& folder);
};

} // namespace quillbarrow
