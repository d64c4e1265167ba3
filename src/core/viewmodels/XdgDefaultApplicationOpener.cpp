#include "XdgDefaultApplicationOpener.h"
#include "domain/LocalPath.h"

#include <QProcess>
#include <QStringList>

namespace quillbarrow {

bool XdgDefaultApplicationOpener::open(const QString& path)
{
    // A name that is not UTF-8 cannot pass as text: its address carries the real bytes.
    const QString argument = LocalPath::hasKeptBytes(path) ? QString::fromLatin1(LocalPath::url(path).toEncoded()) : path;
    return QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{argument});
}

} // namespace quillbarrow
