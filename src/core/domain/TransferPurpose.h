#pragma once

#include "TextEnum.h"

#include <QHashFunctions>

#include <array>
#include <cstddef>
#include <utility>

namespace quillbarrow {

// An ordinary copy, or a download made only to open the file in a local application.
enum class TransferPurpose { fileTransfer, openForViewing };

template <>
struct TextEnumTraits<TransferPurpose> {
    static constexpr const char* typeName = "TransferPurpose";
    static constexpr std::array cases{std::pair{TransferPurpose::fileTransfer, "fileTransfer"},
                                      std::pair{TransferPurpose::openForViewing, "openForViewing"}};
};

inline std::size_t qHash(TransferPurpose value, std::size_t seed = 0) noexcept
{
    return qHash(toText(value), seed);
}

} // namespace quillbarrow
