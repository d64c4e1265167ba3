#pragma once

#include <QString>

namespace quillbarrow::testing {

// "café" spelled two canonically equivalent ways: precomposed U+00E9, and "e" + combining U+0301.
inline QString precomposedCafe()
{
    return QStringLiteral("caf") + QChar(0x00E9);
}

inline QString decomposedCafe()
{
    return QStringLiteral("cafe") + QChar(0x0301);
}

} // namespace quillbarrow::testing
