#include "RemotePath.h"

#include "HashFeed.h"
#include "NfcText.h"

#include <algorithm>

namespace quillbarrow {

RemotePath::RemotePath(StorageID storageID, QStringList components)
    : storageID(std::move(storageID)), components(std::move(components))
{
}

QString RemotePath::name() const
{
    return isRoot() ? QStringLiteral("Storage") : components.last();
}

QString RemotePath::description() const
{
    return QLatin1Char('/') + components.join(QLatin1Char('/'));
}

RemotePath RemotePath::appending(const QString& component) const
{
    QStringList longer = components;
    longer.append(component);
    return RemotePath(storageID, std::move(longer));
}

std::optional<RemotePath> RemotePath::deletingLastComponent() const
{
    if (isRoot()) {
        return std::nullopt;
    }
    return RemotePath(storageID, components.mid(0, components.size() - 1));
}

bool operator==(const RemotePath& a, const RemotePath& b)
{
    return a.storageID == b.storageID &&
           std::equal(a.components.begin(), a.components.end(), b.components.begin(), b.components.end(),
                      [](const QString& x, const QString& y) { return NfcText::equal(x, y); });
}

std::size_t qHash(const RemotePath& path, std::size_t seed)
{
    return HashFeed(seed).add(path.storageID).texts(path.components).result();
}

} // namespace quillbarrow
