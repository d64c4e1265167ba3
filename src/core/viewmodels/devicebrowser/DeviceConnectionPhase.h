#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <type_traits>

namespace quillbarrow {

// How far the device browser's connection has come. `idle` before any connection, after a
// failed one and after the selected device went away; `detecting` while the monitoring waits for
// a device with none selected; `opening`, `loadingStorage` and `loadingContents` are the steps of
// a connection, `connected` its end.
enum class DeviceConnectionPhase { idle, detecting, opening, loadingStorage, loadingContents, connected };

// The case name, for test output and log lines.
QString toText(DeviceConnectionPhase phase);

inline std::size_t qHash(DeviceConnectionPhase phase, std::size_t seed = 0) noexcept
{
    return ::qHash(static_cast<std::underlying_type_t<DeviceConnectionPhase>>(phase), seed);
}

} // namespace quillbarrow
