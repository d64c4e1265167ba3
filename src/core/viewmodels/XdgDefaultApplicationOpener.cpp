#include "XdgDefaultApplicationOpener.h"

#include <QProcess>
#include <QStringList>

namespace quillbarrow {

bool XdgDefaultApplicationOpener::open(const QString& path)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{path});
}

} // namespace quillbarrow
