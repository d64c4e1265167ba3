#include "AppDelegate.h"

#include "infrastructure/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quillbarrow {

QString AppDelegate::defaultBundleIdentifier()
{
    return QStringLiteral("com.quillbarrow.app");
}

void AppDelegate::removeStaleSavedApplicationState(const QString& homePath,
                                                   const std::optional<QString>& bundleIdentifier)
{
    const QString identifier =
        bundleIdentifier && !bundleIdentifier->isEmpty() ? *bundleIdentifier : defaultBundleIdentifier();
    // Only an entry of exactly this name: an identifier with a "/" in it names nothing.
    const QString name = identifier + QStringLiteral(".savedState");
    if (name.contains(QLatin1Char('/'))) {
        return;
    }
    const QString path =
        QDir(homePath).filePath(QStringLiteral("Library/Saved Application State/") + name);
    const QFileInfo entry(path);
    // A link is removed itself, never what it points to; a failure leaves what could not be
    // removed, silently.
    if (entry.isSymLink() || !entry.isDir()) {
        QFile::remove(path);
    } else {
        QDir(path).removeRecursively();
    }
}

void AppDelegate::disableWindowRestorationDefaults(UserDefaults& defaults)
{
    defaults.setBool(QStringLiteral("NSQuitAlwaysKeepsWindows"), false);
    defaults.setBool(QStringLiteral("ApplePersistenceIgnoreState"), true);
    const QStringList keys = defaults.allKeys();
    for (const QString& key : keys) {
        if (key.startsWith(QStringLiteral("NSWindow Frame ")) ||
            key.startsWith(QStringLiteral("NSSplitView Subview Frames "))) {
            defaults.remove(key);
        }
    }
}

} // namespace quillbarrow
