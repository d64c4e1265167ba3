#include "QuillbarrowError.h"

#include "ByteCountFormatter.h"
#include "NfcText.h"

namespace quillbarrow {

namespace {

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

QuillbarrowError::QuillbarrowError(Kind kind, QString message, QString name, QString reason, qint64 size,
                                   qint64 limit)
    : m_kind(kind), m_message(std::move(message)), m_name(std::move(name)), m_reason(std::move(reason)),
      m_size(size), m_limit(limit), m_what(technicalDetails().toUtf8())
{
}

QuillbarrowError QuillbarrowError::plain(Kind kind)
{
    return QuillbarrowError(kind, {}, {}, {}, 0, 0);
}

QuillbarrowError QuillbarrowError::withMessage(Kind kind, QString message)
{
    return QuillbarrowError(kind, std::move(message), {}, {}, 0, 0);
}

QuillbarrowError QuillbarrowError::usbInterfaceBusy(QString message)
{
    return withMessage(Kind::usbInterfaceBusy, std::move(message));
}

QuillbarrowError QuillbarrowError::sessionFailed(QString message)
{
    return withMessage(Kind::sessionFailed, std::move(message));
}

QuillbarrowError QuillbarrowError::nameConflict(QString existingName)
{
    return QuillbarrowError(Kind::nameConflict, {}, std::move(existingName), {}, 0, 0);
}

QuillbarrowError QuillbarrowError::transferFailed(QString message)
{
    return withMessage(Kind::transferFailed, std::move(message));
}

QuillbarrowError QuillbarrowError::backendProtocolError(QString message)
{
    return withMessage(Kind::backendProtocolError, std::move(message));
}

QuillbarrowError QuillbarrowError::unsupportedOperation(QString message)
{
    return withMessage(Kind::unsupportedOperation, std::move(message));
}

QuillbarrowError QuillbarrowError::fileTooLargeToOpen(QString fileName, qint64 size, qint64 limit)
{
    return QuillbarrowError(Kind::fileTooLargeToOpen, {}, std::move(fileName), {}, size, limit);
}

QuillbarrowError QuillbarrowError::fileSizeUnavailableToOpen(QString fileName, qint64 limit)
{
    return QuillbarrowError(Kind::fileSizeUnavailableToOpen, {}, std::move(fileName), {}, 0, limit);
}

QuillbarrowError QuillbarrowError::fileOpenFailed(QString fileName, QString reason)
{
    return QuillbarrowError(Kind::fileOpenFailed, {}, std::move(fileName), std::move(reason), 0, 0);
}

QuillbarrowError QuillbarrowError::unknown(QString message)
{
    return withMessage(Kind::unknown, std::move(message));
}

QuillbarrowError QuillbarrowError::localFileFailed(QString message)
{
    return withMessage(Kind::localFileFailed, std::move(message));
}

QuillbarrowError QuillbarrowError::localFileFailed(QString message, int systemError)
{
    QuillbarrowError error = withMessage(Kind::localFileFailed, std::move(message));
    error.m_systemError = systemError;
    return error;
}

QuillbarrowError QuillbarrowError::deviceNotFound()
{
    return plain(Kind::deviceNotFound);
}

QuillbarrowError QuillbarrowError::deviceLockedOrUnavailable()
{
    return plain(Kind::deviceLockedOrUnavailable);
}

QuillbarrowError QuillbarrowError::permissionDenied()
{
    return plain(Kind::permissionDenied);
}

QuillbarrowError QuillbarrowError::pathNotFound()
{
    return plain(Kind::pathNotFound);
}

QuillbarrowError QuillbarrowError::insufficientSpace()
{
    return plain(Kind::insufficientSpace);
}

QuillbarrowError QuillbarrowError::transferInterrupted()
{
    return plain(Kind::transferInterrupted);
}

QuillbarrowError QuillbarrowError::userCancelled()
{
    return plain(Kind::userCancelled);
}

QuillbarrowError QuillbarrowError::deviceChanged()
{
    return plain(Kind::deviceChanged);
}

QuillbarrowError QuillbarrowError::fromException(std::exception_ptr caught)
{
    if (!caught) {
        return unknown(QStringLiteral("Unknown error"));
    }
    try {
        std::rethrow_exception(caught);
    } catch (const QuillbarrowError& error) {
        return error;
    } catch (const std::exception& error) {
        const char* description = error.what();
        return unknown(description ? QString::fromUtf8(description) : QStringLiteral("Unknown error"));
    } catch (...) {
        return unknown(QStringLiteral("Unknown error"));
    }
}

QString QuillbarrowError::kindName(Kind kind)
{
    switch (kind) {
    case Kind::usbInterfaceBusy:
        return QStringLiteral("usbInterfaceBusy");
    case Kind::sessionFailed:
        return QStringLiteral("sessionFailed");
    case Kind::nameConflict:
        return QStringLiteral("nameConflict");
    case Kind::transferFailed:
        return QStringLiteral("transferFailed");
    case Kind::backendProtocolError:
        return QStringLiteral("backendProtocolError");
    case Kind::unsupportedOperation:
        return QStringLiteral("unsupportedOperation");
    case Kind::fileTooLargeToOpen:
        return QStringLiteral("fileTooLargeToOpen");
    case Kind::fileSizeUnavailableToOpen:
        return QStringLiteral("fileSizeUnavailableToOpen");
    case Kind::fileOpenFailed:
        return QStringLiteral("fileOpenFailed");
    case Kind::unknown:
        return QStringLiteral("unknown");
    case Kind::localFileFailed:
        return QStringLiteral("localFileFailed");
    case Kind::deviceNotFound:
        return QStringLiteral("deviceNotFound");
    case Kind::deviceLockedOrUnavailable:
        return QStringLiteral("deviceLockedOrUnavailable");
    case Kind::permissionDenied:
        return QStringLiteral("permissionDenied");
    case Kind::pathNotFound:
        return QStringLiteral("pathNotFound");
    case Kind::insufficientSpace:
        return QStringLiteral("insufficientSpace");
    case Kind::transferInterrupted:
        return QStringLiteral("transferInterrupted");
    case Kind::userCancelled:
        return QStringLiteral("userCancelled");
    case Kind::deviceChanged:
        return QStringLiteral("deviceChanged");
    }
    return {};
}

QString QuillbarrowError::userMessage() const
{
    switch (m_kind) {
    case Kind::usbInterfaceBusy:
        return QStringLiteral("Another app or macOS service is already using this phone.");
    case Kind::sessionFailed:
        return QStringLiteral("Could not start a file transfer session with this device.");
    case Kind::nameConflict:
        return QStringLiteral("An item named ") + quoted(m_name) + QStringLiteral(" already exists.");
    case Kind::transferFailed:
        return QStringLiteral("The file couldn't be copied to the device. ") + m_message;
    case Kind::backendProtocolError:
        return QStringLiteral("The device returned an invalid MTP response.");
    case Kind::unsupportedOperation:
        return QStringLiteral("This device does not support that operation.");
    case Kind::fileTooLargeToOpen:
        return quoted(m_name) + QStringLiteral(" is ") + ByteCountFormatter::string(m_size) +
               QStringLiteral(" and exceeds Quillbarrow's ") + ByteCountFormatter::string(m_limit) +
               QStringLiteral(" open-file limit.");
    case Kind::fileSizeUnavailableToOpen:
        return QStringLiteral("Quillbarrow could not verify the size of ") + quoted(m_name) +
               QStringLiteral(". Android files must be ") + ByteCountFormatter::string(m_limit) +
               QStringLiteral(" or smaller to open.");
    case Kind::fileOpenFailed:
        return QStringLiteral("Could not open ") + quoted(m_name) + QStringLiteral(". ") + m_reason;
    case Kind::unknown:
        return QStringLiteral("Something went wrong while talking to the device.");
    case Kind::deviceNotFound:
        return QStringLiteral("No Android file transfer device was found.");
    case Kind::deviceLockedOrUnavailable:
        return QStringLiteral("The device is locked or has not granted file access.");
    case Kind::permissionDenied:
        return QStringLiteral("The device denied access to this file or folder.");
    case Kind::pathNotFound:
        return QStringLiteral("The selected file or folder is no longer available.");
    case Kind::insufficientSpace:
        return QStringLiteral("The device does not have enough free space.");
    case Kind::transferInterrupted:
        return QStringLiteral("The transfer was interrupted. Check the cable and keep the phone unlocked.");
    case Kind::userCancelled:
        return QStringLiteral("The operation was cancelled.");
    case Kind::localFileFailed:
        return m_message;
    case Kind::deviceChanged:
        return QStringLiteral("The Android device changed since these items were chosen.");
    }
    return {};
}

QString QuillbarrowError::userMessage(TransferDirection direction) const
{
    if (direction == TransferDirection::androidToMac && m_kind == Kind::transferFailed && !m_message.trimmed().isEmpty()) {
        return m_message;
    }
    return userMessage();
}

QString QuillbarrowError::technicalDetails() const
{
    switch (m_kind) {
    case Kind::usbInterfaceBusy:
    case Kind::sessionFailed:
    case Kind::transferFailed:
    case Kind::backendProtocolError:
    case Kind::unsupportedOperation:
    case Kind::unknown:
    case Kind::localFileFailed:
        return m_message;
    case Kind::nameConflict:
        return QStringLiteral("Conflicting item: ") + m_name;
    case Kind::fileTooLargeToOpen:
        return QStringLiteral("File size: ") + QString::number(m_size) +
               QStringLiteral(" bytes; open-file limit: ") + QString::number(m_limit) + QStringLiteral(" bytes.");
    case Kind::fileSizeUnavailableToOpen:
        return QStringLiteral("Android did not report a file size; open-file limit: ") +
               QString::number(m_limit) + QStringLiteral(" bytes.");
    case Kind::fileOpenFailed:
        return m_reason;
    case Kind::deviceNotFound:
    case Kind::deviceLockedOrUnavailable:
    case Kind::permissionDenied:
    case Kind::pathNotFound:
    case Kind::insufficientSpace:
    case Kind::transferInterrupted:
    case Kind::userCancelled:
    case Kind::deviceChanged:
        return kindName(m_kind);
    }
    return {};
}

bool operator==(const QuillbarrowError& a, const QuillbarrowError& b)
{
    return a.m_kind == b.m_kind && NfcText::equal(a.m_message, b.m_message) && NfcText::equal(a.m_name, b.m_name) &&
           NfcText::equal(a.m_reason, b.m_reason) && a.m_size == b.m_size && a.m_limit == b.m_limit &&
           a.m_systemError == b.m_systemError;
}

} // namespace quillbarrow
