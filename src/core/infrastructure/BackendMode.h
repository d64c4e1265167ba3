#pragma once

#include "domain/TextEnum.h"

#include <QHashFunctions>
#include <array>
#include <cstddef>
#include <utility>

namespace quillbarrow {

// Which kind of device backend serves the run: fake phones from memory, Android phones seen on
// the USB bus but not opened, or real phones through libmtp.
enum class BackendMode { mock, usbProbe, libmtp };

template <> struct TextEnumTraits<BackendMode> {
    static constexpr const char* typeName = "BackendMode";
    static constexpr std::array cases{std::pair{BackendMode::mock, "mock"},
                                      std::pair{BackendMode::usbProbe, "usbProbe"},
                                      std::pair{BackendMode::libmtp, "libmtp"}};
};

inline std::size_t qHash(BackendMode value, std::size_t seed = 0) noexcept
{
    return qHash(toText(value), seed);
}

} // namespace quillbarrow
