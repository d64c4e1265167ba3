#pragma once

#include "DefaultApplicationOpener.h"

namespace quillbarrow {

// Opens files through the desktop's "xdg-open" helper, which picks the user's default
// application. The core library has no GUI module, so the desktop services are reached through
// that helper rather than a GUI call.
class XdgDefaultApplicationOpener : public DefaultApplicationOpener {
public:
    // False when the helper cannot be started (it is missing, for example).
    bool open(const QString& path) override;
};

} // namespace quillbarrow
