#include "DeviceConnectionPhase.h"

namespace quillbarrow {

QString toText(DeviceConnectionPhase phase)
{
    switch (phase) {
    case DeviceConnectionPhase::idle:
        return QStringLiteral("idle");
    case DeviceConnectionPhase::detecting:
        return QStringLiteral("detecting");
    case DeviceConnectionPhase::opening:
        return QStringLiteral("opening");
    case DeviceConnectionPhase::loadingStorage:
        return QStringLiteral("loadingStorage");
    case DeviceConnectionPhase::loadingContents:
        return QStringLiteral("loadingContents");
    case DeviceConnectionPhase::connected:
        return QStringLiteral("connected");
    }
    return {};
}

} // namespace quillbarrow
