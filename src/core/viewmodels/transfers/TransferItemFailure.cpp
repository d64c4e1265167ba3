#include "TransferItemFailure.h"

namespace quillbarrow::TransferItemFailure {

namespace {

QString sentence(QString text)
{
    text = text.trimmed();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('.'))) {
        text += QLatin1Char('.');
    }
    return text;
}

} // namespace

QuillbarrowError named(const QString& action, const QString& item, const QString& why)
{
    return QuillbarrowError::transferFailed(QStringLiteral("Could not ") + action + QLatin1Char(' ') + item +
                                            QStringLiteral(": ") + sentence(why));
}

QString goneReason()
{
    return QStringLiteral("it is no longer there.");
}

QString deviceReason(const QuillbarrowError& error)
{
    if (error.kind() == QuillbarrowError::Kind::pathNotFound) {
        return goneReason();
    }
    if (!error.message().trimmed().isEmpty()) {
        return sentence(error.message());
    }
    // A case without words of the device's: its own sentence, continuing the one that names the item.
    QString own = error.userMessage();
    if (!own.isEmpty()) {
        own[0] = own[0].toLower();
    }
    return own;
}

} // namespace quillbarrow::TransferItemFailure
