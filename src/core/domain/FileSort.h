#pragma once

#include "TextEnum.h"

#include <QHashFunctions>

#include <array>
#include <cstddef>
#include <utility>

namespace quillbarrow {

// The key a browser listing is sorted by. Its text form doubles as its id in lists of choices;
// allCases<FileSort>() gives the three in this order.
enum class FileSort { name, modifiedDate, size };

template <>
struct TextEnumTraits<FileSort> {
    static constexpr const char* typeName = "FileSort";
    static constexpr std::array cases{std::pair{FileSort::name, "name"},
                                      std::pair{FileSort::modifiedDate, "modifiedDate"},
                                      std::pair{FileSort::size, "size"}};
};

inline std::size_t qHash(FileSort value, std::size_t seed = 0) noexcept
{
    return qHash(toText(value), seed);
}

} // namespace quillbarrow
