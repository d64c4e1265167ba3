#pragma once

#include <QString>
#include <QtGlobal>

namespace quillbarrow {

// Byte counts in the form file sizes are shown in: decimal units (1,000 bytes to the kilobyte),
// "Zero KB" for nothing, "1 byte" and "N bytes" below a kilobyte, whole kilobytes, megabytes with
// at most one fraction digit and larger units with at most two, trailing zeros dropped, and '.' as
// the decimal separator whatever the machine's locale. A count that rounds to 1,000 of a unit is
// shown in the next unit ("1 MB", never "1000 KB"). A negative count is its magnitude with a
// leading "-".
class ByteCountFormatter {
public:
    static QString string(qint64 byteCount);
};

} // namespace quillbarrow
