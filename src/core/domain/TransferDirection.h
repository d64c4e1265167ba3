#pragma once

#include "TextEnum.h"

#include <QHashFunctions>

#include <array>
#include <cstddef>
#include <utility>

namespace quillbarrow {

// Which way a transfer's bytes go.
enum class TransferDirection { macToAndroid, androidToMac };

template <>
struct TextEnumTraits<TransferDirection> {
    static constexpr const char* typeName = "TransferDirection";
    static constexpr std::array cases{std::pair{TransferDirection::macToAndroid, "macToAndroid"},
                                      std::pair{TransferDirection::androidToMac, "androidToMac"}};
};

inline std::size_t qHash(TransferDirection value, std::size_t seed = 0) noexcept
{
    return qHash(toText(value), seed);
}

} // namespace quillbarrow
