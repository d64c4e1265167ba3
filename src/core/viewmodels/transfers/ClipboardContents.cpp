#include "ClipboardContents.h"

namespace quillbarrow {

namespace {

QString countedItems(qsizetype count, const QString& noun)
{
    QString text = QString::number(count) + noun;
    if (count != 1) {
        text += QLatin1Char('s');
    }
    return text;
}

} // namespace

ClipboardContents::ClipboardContents(Kind kind, QList<QUrl> urls, QList<RemoteItem> items, StorageID storageID)
    : m_kind(kind), m_urls(std::move(urls)), m_items(std::move(items)), m_storageID(std::move(storageID))
{
}

ClipboardContents ClipboardContents::localFiles(QList<QUrl> urls)
{
    return ClipboardContents(Kind::localFiles, std::move(urls), {}, StorageID());
}

ClipboardContents ClipboardContents::deviceFiles(QList<RemoteItem> items, StorageID storageID)
{
    return ClipboardContents(Kind::deviceFiles, {}, std::move(items), std::move(storageID));
}

ClipboardContents ClipboardContents::empty()
{
    return ClipboardContents(Kind::empty, {}, {}, StorageID());
}

QString ClipboardContents::summary() const
{
    switch (m_kind) {
    case Kind::localFiles:
        return countedItems(m_urls.size(), QStringLiteral(" Mac item"));
    case Kind::deviceFiles:
        return countedItems(m_items.size(), QStringLiteral(" Android item"));
    case Kind::empty:
        break;
    }
    return QStringLiteral("Clipboard empty");
}

bool operator==(const ClipboardContents& a, const ClipboardContents& b)
{
    if (a.m_kind != b.m_kind) {
        return false;
    }
    switch (a.m_kind) {
    case ClipboardContents::Kind::localFiles:
        return a.m_urls == b.m_urls;
    case ClipboardContents::Kind::deviceFiles:
        return a.m_items == b.m_items && a.m_storageID == b.m_storageID;
    case ClipboardContents::Kind::empty:
        break;
    }
    return true;
}

} // namespace quillbarrow
