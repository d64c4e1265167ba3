#include "ErrorDescription.h"

namespace quillbarrow {

namespace {

QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'"', QStringLiteral("\\\""));
    return u'"' + escaped + u'"';
}

} // namespace

QString plainDescription(const QuillbarrowError& error)
{
    using Kind = QuillbarrowError::Kind;
    const QString name = QuillbarrowError::kindName(error.kind());
    switch (error.kind()) {
    case Kind::usbInterfaceBusy:
    case Kind::sessionFailed:
    case Kind::transferFailed:
    case Kind::backendProtocolError:
    case Kind::unsupportedOperation:
    case Kind::unknown:
    case Kind::localFileFailed:
        return name + u'(' + quoted(error.message()) + u')';
    case Kind::nameConflict:
        return name + QStringLiteral("(existingName: ") + quoted(error.existingName()) + u')';
    case Kind::fileTooLargeToOpen:
        return name + QStringLiteral("(fileName: ") + quoted(error.fileName()) + QStringLiteral(", size: ") +
               QString::number(error.size()) + QStringLiteral(", limit: ") + QString::number(error.limit()) + u')';
    case Kind::fileSizeUnavailableToOpen:
        return name + QStringLiteral("(fileName: ") + quoted(error.fileName()) + QStringLiteral(", limit: ") +
               QString::number(error.limit()) + u')';
    case Kind::fileOpenFailed:
        return name + QStringLiteral("(fileName: ") + quoted(error.fileName()) + QStringLiteral(", reason: ") +
               quoted(error.reason()) + u')';
    case Kind::deviceNotFound:
    case Kind::deviceLockedOrUnavailable:
    case Kind::permissionDenied:
    case Kind::pathNotFound:
    case Kind::insufficientSpace:
    case Kind::transferInterrupted:
    case Kind::userCancelled:
    case Kind::deviceChanged:
        return name;
    }
    return name;
}

QString plainDescription(const std::exception_ptr& error)
{
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const QuillbarrowError& caught) {
        return plainDescription(caught);
    } catch (const std::exception& caught) {
        return QString::fromUtf8(caught.what());
    } catch (...) {
    }
    return QStringLiteral("Unknown error");
}

} // namespace quillbarrow
