// The libmtp backend's device identity: matching a wanted identifier to a detected device, and
// the names an opened device reports about itself.

#include "LibMTPBackend.h"
#include "LibMTPDeviceScanner.h"

#include <QStringList>
#include <array>

namespace quillbarrow {

namespace {

QStringList identifierPieces(const DeviceID& id)
{
    return id.rawValue().split(QLatin1Char('-'), Qt::SkipEmptyParts);
}

// The first entry whose identifier has at least `count` pieces, the first `count` of them equal
// to the wanted ones; nothing when the wanted identifier has fewer pieces.
std::optional<LibMTPDeviceEntry> firstSharingPieces(const QStringList& wanted, qsizetype count,
                                                    const QList<LibMTPDeviceEntry>& entries)
{
    if (wanted.size() < count) {
        return std::nullopt;
    }
    for (const LibMTPDeviceEntry& entry : entries) {
        const QStringList pieces = identifierPieces(entry.device.id);
        if (pieces.size() >= count && pieces.first(count) == wanted.first(count)) {
            return entry;
        }
    }
    return std::nullopt;
}

std::optional<QString> cleanedOr(const QString& reported, const std::optional<QString>& fallback)
{
    const QString cleaned = LibMTPBackend::cleanedIdentityText(reported);
    return cleaned.isEmpty() ? fallback : std::optional<QString>(cleaned);
}

} // namespace

std::optional<LibMTPDeviceEntry> LibMTPBackend::matchEntry(const DeviceID& wanted,
                                                           const QList<LibMTPDeviceEntry>& entries)
{
    for (const LibMTPDeviceEntry& entry : entries) {
        if (entry.device.id == wanted) {
            return entry;
        }
    }
    const QStringList pieces = identifierPieces(wanted);
    // Same port: "mtp", vendor, product and bus location agree; the device number moved on.
    if (std::optional<LibMTPDeviceEntry> samePort = firstSharingPieces(pieces, 4, entries)) {
        return samePort;
    }
    // Same model, on any port.
    return firstSharingPieces(pieces, 3, entries);
}

QString LibMTPBackend::cleanedIdentityText(const QString& text)
{
    QString cleaned = text;
    cleaned.replace(QLatin1Char('_'), QLatin1Char(' '));
    return cleaned.trimmed();
}

bool LibMTPBackend::isRejectedDisplayName(const QString& cleaned)
{
    static const std::array<QLatin1StringView, 5> rejected{
        QLatin1StringView("mtp"), QLatin1StringView("android"), QLatin1StringView("samsung android"),
        QLatin1StringView("unknown"), QLatin1StringView("unknown device")};
    const QString lower = cleaned.toLower();
    for (QLatin1StringView name : rejected) {
        if (lower == name) {
            return true;
        }
    }
    return false;
}

QString LibMTPBackend::bestDisplayName(const QString& friendly, const QString& model,
                                       const QString& manufacturer, const QString& fallback)
{
    const QString cleanedFriendly = cleanedIdentityText(friendly);
    if (!cleanedFriendly.isEmpty() && !isRejectedDisplayName(cleanedFriendly)) {
        return cleanedFriendly;
    }
    const QString cleanedModel = cleanedIdentityText(model);
    if (cleanedModel.isEmpty() || isRejectedDisplayName(cleanedModel)) {
        return fallback;
    }
    const QString cleanedManufacturer = cleanedIdentityText(manufacturer);
    if (cleanedManufacturer.isEmpty() || cleanedModel.contains(cleanedManufacturer, Qt::CaseInsensitive)) {
        return cleanedModel;
    }
    return cleanedManufacturer + QLatin1Char(' ') + cleanedModel;
}

AndroidDevice LibMTPBackend::enrichedDevice(const AndroidDevice& base, CMTPDeviceHandle* session,
                                            LibMTPBridge& bridge)
{
    // The record's code is not looked at: a failed query has empty texts, which keep the base's.
    const CMTPDeviceIdentity identity = bridge.deviceIdentity(session);
    using LibMTPDeviceScanner::fieldText;
    const QString friendly = fieldText(identity.friendly_name, sizeof identity.friendly_name);
    const QString model = fieldText(identity.model_name, sizeof identity.model_name);
    const QString manufacturer = fieldText(identity.manufacturer, sizeof identity.manufacturer);
    const QString serial = fieldText(identity.serial_number, sizeof identity.serial_number);
    return AndroidDevice(base.id, bestDisplayName(friendly, model, manufacturer, base.displayName),
                         cleanedOr(manufacturer, base.manufacturer), cleanedOr(model, base.model),
                         cleanedOr(serial, base.serialNumber), base.connection);
}

} // namespace quillbarrow
