#include "LibMTPErrorMapper.h"

#include <initializer_list>
#include <optional>

namespace quillbarrow::LibMTPErrorMapper {

namespace {

bool containsAny(const QString& message, std::initializer_list<const char*> keywords)
{
    for (const char* keyword : keywords) {
        if (message.contains(QLatin1StringView(keyword), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

// Hexadecimal digits as a character test counts them, full-width forms included.
bool isHexDigitCharacter(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')
        || (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF26) || (c >= 0xFF41 && c <= 0xFF46);
}

// The value of an ASCII hexadecimal digit; -1 for any other character (full-width included).
int asciiHexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// libmtp's own code for a USB transfer that failed or timed out: the device stopped answering
// (pulled out, reset or hung). It is no answer of the device's.
constexpr std::uint16_t libmtpInputOutputError = 0x02FF;

// The response code after the first "PTP Layer error " of the message (case ignored): the longest
// run of hexadecimal digits there, full-width forms included, read into 16 bits. Nothing when the
// marker is missing, no digit follows it, a full-width digit is in the run or the value is larger.
std::optional<std::uint16_t> ptpCodeOf(const QString& message)
{
    static const QString marker = QStringLiteral("PTP Layer error ");
    const qsizetype at = message.indexOf(marker, 0, Qt::CaseInsensitive);
    if (at < 0) {
        return std::nullopt;
    }
    qsizetype end = at + marker.size();
    const qsizetype start = end;
    while (end < message.size() && isHexDigitCharacter(message[end].unicode())) {
        ++end;
    }
    if (end == start) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (qsizetype i = start; i < end; ++i) {
        const int digit = asciiHexValue(message[i].unicode());
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
        if (value > 0xFFFF) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

QuillbarrowError map(std::int32_t code, const QString& message)
{
    switch (code) {
    case 1:
        if (containsAny(message, {"store full", "storage full", "not enough space", "full"})) {
            return QuillbarrowError::insufficientSpace();
        }
        if (ptpCodeOf(message) == libmtpInputOutputError) {
            return QuillbarrowError::transferInterrupted();
        }
        return QuillbarrowError::transferFailed(cleanedDeviceMessage(message));
    case 2:
        return QuillbarrowError::backendProtocolError(message);
    case 3:
        if (containsAny(message, {"exclusive", "claimed", "could not be opened"})) {
            return QuillbarrowError::usbInterfaceBusy(message);
        }
        return QuillbarrowError::sessionFailed(message);
    case 5:
        return QuillbarrowError::deviceNotFound();
    case 6:
        return QuillbarrowError::insufficientSpace();
    case 7:
        if (containsAny(message, {"exclusive", "claimed"})) {
            return QuillbarrowError::usbInterfaceBusy(message);
        }
        return QuillbarrowError::sessionFailed(message);
    case 8:
        return QuillbarrowError::userCancelled();
    default:
        return QuillbarrowError::sessionFailed(message);
    }
}

QString cleanedDeviceMessage(const QString& message)
{
    const std::optional<std::uint16_t> code = ptpCodeOf(message);
    if (!code) {
        return message;
    }
    return QStringLiteral("The device reported ") + ptpResponseMeaning(*code) + QStringLiteral(" (PTP code 0x")
        + QStringLiteral("%1").arg(*code, 4, 16, QLatin1Char('0')).toUpper() + QStringLiteral(").");
}

QString ptpResponseMeaning(std::uint16_t code)
{
    switch (code) {
    case 0x2002: return QStringLiteral("a general error");
    case 0x2003: return QStringLiteral("that no session is open");
    case 0x2005: return QStringLiteral("that the operation isn\u2019t supported");
    case 0x2006: return QStringLiteral("an unsupported parameter");
    case 0x2007: return QStringLiteral("an incomplete transfer");
    case 0x2008: return QStringLiteral("an invalid storage location");
    case 0x2009: return QStringLiteral("an invalid object");
    case 0x200B: return QStringLiteral("an invalid object format");
    case 0x200C: return QStringLiteral("that its storage is full");
    case 0x200D: return QStringLiteral("that the item is write-protected");
    case 0x200E: return QStringLiteral("that the storage is read-only");
    case 0x200F: return QStringLiteral("that access was denied");
    case 0x2013: return QStringLiteral("that the storage isn\u2019t available");
    case 0x2014: return QStringLiteral("an unsupported format");
    case 0x2019: return QStringLiteral("that it is busy");
    case 0x201A: return QStringLiteral("an invalid parent folder");
    case 0x201D: return QStringLiteral("an invalid parameter");
    case 0x201F: return QStringLiteral("that the transaction was cancelled");
    default: return QStringLiteral("an error");
    }
}

} // namespace quillbarrow::LibMTPErrorMapper
