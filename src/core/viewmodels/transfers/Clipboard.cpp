#include "Clipboard.h"

namespace quillbarrow {

Clipboard::Clipboard(QObject* parent) : QObject(parent), m_contents(ClipboardContents::empty()) {}

void Clipboard::copyLocal(QList<QUrl> urls)
{
    setContents(urls.isEmpty() ? ClipboardContents::empty() : ClipboardContents::localFiles(std::move(urls)));
}

void Clipboard::copyDevice(QList<RemoteItem> items, StorageID storageID)
{
    setContents(items.isEmpty() ? ClipboardContents::empty()
                                : ClipboardContents::deviceFiles(std::move(items), std::move(storageID)));
}

void Clipboard::clear()
{
    setContents(ClipboardContents::empty());
}

void Clipboard::setContents(ClipboardContents contents)
{
    m_contents = std::move(contents);
    Q_EMIT contentsChanged();
}

} // namespace quillbarrow
