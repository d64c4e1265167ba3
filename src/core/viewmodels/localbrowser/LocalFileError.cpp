#include "LocalFileError.h"

#include <cstring>

namespace quillbarrow {

LocalFileError::LocalFileError(int code, QString path) : LocalFileError(code, std::move(path), qt_error_string(code)) {}

LocalFileError::LocalFileError(int code, QString path, QString description)
    : m_code(code), m_path(std::move(path)), m_description(std::move(description)),
      m_what(m_description.toUtf8())
{
}

QString LocalFileError::debugDescription() const
{
    const char* name = ::strerrorname_np(m_code);
    return QStringLiteral("LocalFileError(%1 %2, path: \"%3\"): %4")
        .arg(QLatin1StringView(name != nullptr ? name : "errno"))
        .arg(m_code)
        .arg(m_path, m_description);
}

const char* LocalFileError::what() const noexcept
{
    return m_what.constData();
}

} // namespace quillbarrow
