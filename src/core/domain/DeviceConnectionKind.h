#pragma once

#include "TextEnum.h"

#include <QHashFunctions>

#include <array>
#include <cstddef>
#include <utility>

namespace quillbarrow {

// How a phone is connected; the system knows only USB.
enum class DeviceConnectionKind { usb };

template <>
struct TextEnumTraits<DeviceConnectionKind> {
    static constexpr const char* typeName = "DeviceConnectionKind";
    static constexpr std::array cases{std::pair{DeviceConnectionKind::usb, "usb"}};
};

inline std::size_t qHash(DeviceConnectionKind value, std::size_t seed = 0) noexcept
{
    return qHash(toText(value), seed);
}

} // namespace quillbarrow
