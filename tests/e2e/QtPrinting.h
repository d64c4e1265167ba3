#pragma once

#include <QString>
#include <ostream>

// Readable texts in GoogleTest's failure messages (QString lives in the global namespace, where
// GoogleTest looks for its printer).
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
