#pragma once

#include "DeviceConnectionKind.h"
#include "DeviceID.h"

#include <QString>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// One connected phone. Identified by `id`, but equality and hashing cover every field: a backend
// that learns more about a device builds a new record, and a record whose fields changed is a
// changed device. Fields are not changed after construction.
struct AndroidDevice {
    AndroidDevice(DeviceID id, QString displayName, std::optional<QString> manufacturer,
                  std::optional<QString> model, std::optional<QString> serialNumber,
                  DeviceConnectionKind connection);

    DeviceID id;
    QString displayName;
    std::optional<QString> manufacturer;
    std::optional<QString> model;
    std::optional<QString> serialNumber;
    DeviceConnectionKind connection;
};

bool operator==(const AndroidDevice& a, const AndroidDevice& b);
std::size_t qHash(const AndroidDevice& device, std::size_t seed = 0);

} // namespace quillbarrow
