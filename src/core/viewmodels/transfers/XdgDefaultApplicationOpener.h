#pragma once

#include "DefaultApplicationOpener.h"

namespace quillbarrow {

// Opens files through the desktop's "xdg-open" helper, which picks the user's default
// application. The core library has no GUI module, so the desktop services are reached through
// that helper rather than a GUI call. The helper is given the file's address (file://), never
// its bare path.
class XdgDefaultApplicationOpener : public DefaultApplicationOpener {
public:
    // Runs the helper without blocking and waits for its end: false when it cannot be started or
    // exits with a non-zero status (no application for the file, the file not readable).
    QCoro::Task<bool> open(const QString& path) override;

    // Runs `program` with the file instead of "xdg-open"; for tests of the exit handling.
    explicit XdgDefaultApplicationOpener(QString program = QStringLiteral("xdg-open"));

private:
    QString m_program;
};

} // namespace quillbarrow
