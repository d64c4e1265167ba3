#pragma once

#include <QString>

namespace quillbarrow {

// Hands a local file to the desktop's default application for it. Injected into the transfer
// coordinator so that tests can record what would be opened and launch nothing.
class DefaultApplicationOpener {
public:
    virtual ~DefaultApplicationOpener() = default;

    // False when no application could be asked to open the file.
    virtual bool open(const QString& path) = 0;
};

} // namespace quillbarrow
