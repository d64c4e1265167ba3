#pragma once

#include <QCoro/QCoroTask>
#include <QString>

namespace quillbarrow {

// Hands a local file to the desktop's default application for it. Injected into the transfer
// coordinator and the panes so that tests can record what would be opened and launch nothing.
class DefaultApplicationOpener {
public:
    virtual ~DefaultApplicationOpener() = default;

    // True once the desktop has opened the file; false when no application could be asked or the
    // desktop's helper said it could not open it. Never blocks the thread that awaits it.
    virtual QCoro::Task<bool> open(const QString& path) = 0;
};

} // namespace quillbarrow
