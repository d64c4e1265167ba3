#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "TransferDirection.h"

#include <exception>

namespace quillbarrow {

// The one error of the system. Every failure that crosses a component boundary is thrown or
// stored as one of these cases. Each value has a friendly `userMessage()` for the window and a
// `technicalDetails()` text for detail lines and the log; `what()` gives the technical details.
// Two values are equal when they are the same case with equal payloads.
class QuillbarrowError : public std::exception {
public:
    enum class Kind {
        usbInterfaceBusy,
        sessionFailed,
        nameConflict,
        transferFailed,
        backendProtocolError,
        unsupportedOperation,
        fileTooLargeToOpen,
        fileSizeUnavailableToOpen,
        fileOpenFailed,
        unknown,
        deviceNotFound,
        deviceLockedOrUnavailable,
        permissionDenied,
        pathNotFound,
        insufficientSpace,
        transferInterrupted,
        userCancelled,
        // A fault of the computer's own file system (a full disk, a folder that cannot be
        // written): its message names the local item and the system's cause, and is what people see.
        localFileFailed,
        // Items listed in one device session were acted on in another (the phone was replaced,
        // or unplugged and plugged in again): their object ids may name other objects there.
        deviceChanged,
    };

    static QuillbarrowError usbInterfaceBusy(QString message);
    static QuillbarrowError sessionFailed(QString message);
    static QuillbarrowError nameConflict(QString existingName);
    static QuillbarrowError transferFailed(QString message);
    static QuillbarrowError backendProtocolError(QString message);
    static QuillbarrowError unsupportedOperation(QString message);
    static QuillbarrowError fileTooLargeToOpen(QString fileName, qint64 size, qint64 limit);
    static QuillbarrowError fileSizeUnavailableToOpen(QString fileName, qint64 limit);
    static QuillbarrowError fileOpenFailed(QString fileName, QString reason);
    static QuillbarrowError unknown(QString message);
    static QuillbarrowError localFileFailed(QString message);
    // The same, with the system's error number of the fault (errno): what a fault is is decided
    // by the number, never by the words, which may change.
    static QuillbarrowError localFileFailed(QString message, int systemError);
    static QuillbarrowError deviceNotFound();
    static QuillbarrowError deviceLockedOrUnavailable();
    static QuillbarrowError permissionDenied();
    static QuillbarrowError pathNotFound();
    static QuillbarrowError insufficientSpace();
    static QuillbarrowError transferInterrupted();
    static QuillbarrowError userCancelled();
    static QuillbarrowError deviceChanged();

    // Turns whatever was caught into this error type, as every boundary of the system does with
    // foreign errors: a QuillbarrowError passes through unchanged, any other std::exception
    // becomes unknown(its what()), anything else (or no exception) unknown("Unknown error").
    static QuillbarrowError fromException(std::exception_ptr caught);

    // The case's name as written in code, e.g. "deviceNotFound".
    static QString kindName(Kind kind);

    Kind kind() const { return m_kind; }
    // The text payload of usbInterfaceBusy, sessionFailed, transferFailed, backendProtocolError,
    // unsupportedOperation, unknown and localFileFailed; empty for the other cases.
    const QString& message() const { return m_message; }
    // nameConflict's payload; empty for the other cases.
    const QString& existingName() const { return m_name; }
    // The file name of the fileTooLargeToOpen, fileSizeUnavailableToOpen and fileOpenFailed cases.
    const QString& fileName() const { return m_name; }
    // fileOpenFailed's reason.
    const QString& reason() const { return m_reason; }
    // The system's error number a localFileFailed was made with; 0 when it has none and for the
    // other cases.
    int systemError() const { return m_systemError; }
    // fileTooLargeToOpen's size in bytes; 0 for the other cases.
    qint64 size() const { return m_size; }
    // The open-file limit in bytes of fileTooLargeToOpen and fileSizeUnavailableToOpen.
    qint64 limit() const { return m_limit; }

    QString userMessage() const;
    // The message for a failure of a transfer in this direction: a download's transferFailed is
    // told by its own words, without the lead that speaks of copying to the device.
    QString userMessage(TransferDirection direction) const;
    QString technicalDetails() const;
    const char* what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const QuillbarrowError& a, const QuillbarrowError& b);

private:
    QuillbarrowError(Kind kind, QString message, QString name, QString reason, qint64 size, qint64 limit);
    static QuillbarrowError plain(Kind kind);
    static QuillbarrowError withMessage(Kind kind, QString message);

    Kind m_kind;
    QString m_message;
    QString m_name;
    QString m_reason;
    qint64 m_size;
    qint64 m_limit;
    int m_systemError = 0;
    QByteArray m_what;
};

} // namespace quillbarrow
