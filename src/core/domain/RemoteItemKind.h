#pragma once

#include "TextEnum.h"

#include <QHashFunctions>

#include <array>
#include <cstddef>
#include <utility>

namespace quillbarrow {

// What an item is, on the phone or on the computer (a local listing yields only file or folder).
enum class RemoteItemKind { file, folder, unknown };

template <>
struct TextEnumTraits<RemoteItemKind> {
    static constexpr const char* typeName = "RemoteItemKind";
    static constexpr std::array cases{std::pair{RemoteItemKind::file, "file"},
                                      std::pair{RemoteItemKind::folder, "folder"},
                                      std::pair{RemoteItemKind::unknown, "unknown"}};
};

inline std::size_t qHash(RemoteItemKind value, std::size_t seed = 0) noexcept
{
    return qHash(toText(value), seed);
}

} // namespace quillbarrow
