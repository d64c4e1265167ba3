#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace quillbarrow {

// A failure of the computer's file system: the system's error number, the path it concerns and
// the sentence people are shown.
class LocalFileError : public std::exception {
public:
    // The sentence is the system's own text for the error number.
    LocalFileError(int code, QString path);
    LocalFileError(int code, QString path, QString description);

    int code() const { return m_code; }
    const QString& path() const { return m_path; }
    // The sentence people are shown, e.g. "No such file or directory".
    const QString& localizedDescription() const { return m_description; }
    // For the log: the error's symbolic name and number, the path and the sentence.
    QString debugDescription() const;
    const char* what() const noexcept override;

private:
    int m_code;
    QString m_path;
    QString m_description;
    QByteArray m_what;
};

} // namespace quillbarrow
