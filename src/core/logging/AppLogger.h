#pragma once

#include <QString>

class QLoggingCategory;

namespace quillbarrow {

// The logging handle each long-lived component keeps: messages go to the logging category
// "com.quillbarrow.app.<category>" at debug, info or error (critical) level. The message is
// written exactly as given, never read as a format string, with nothing added to it. A small
// value: copies write to the same category, and any thread may log through its copy.
class AppLogger {
public:
    explicit AppLogger(const QString& category);

    void debug(const QString& message) const;
    void info(const QString& message) const;
    // `what` followed by `subject` (a file's name, say): put together only when info messages are
    // written, so that a line per file costs nothing where they are off.
    void info(QLatin1StringView what, const QString& subject) const;
    void error(const QString& message) const;

    // The full category name, "com.quillbarrow.app." followed by the component's category.
    const char* categoryName() const;

private:
    // Owned by a process-wide registry and never destroyed, so the name stays valid for the life
    // of the process and every logger of one category shares one object.
    const QLoggingCategory* m_category;
};

} // namespace quillbarrow
