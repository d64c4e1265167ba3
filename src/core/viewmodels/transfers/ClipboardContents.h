#pragma once

#include "domain/RemoteItem.h"
#include "domain/StorageID.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace quillbarrow {

// What the in-app clipboard holds: Mac file addresses, device items with the storage they live on,
// or nothing. References only, never file contents. Equal when the same case with equal payloads.
class ClipboardContents {
public:
    enum class Kind { localFiles, deviceFiles, empty };

    static ClipboardContents localFiles(QList<QUrl> urls);
    static ClipboardContents deviceFiles(QList<RemoteItem> items, StorageID storageID);
    static ClipboardContents empty();

    Kind kind() const { return m_kind; }
    bool isEmpty() const { return m_kind == Kind::empty; }
    // The Mac addresses of localFiles, in the order the pane listed them; empty otherwise.
    const QList<QUrl>& urls() const { return m_urls; }
    // The device items of deviceFiles; empty otherwise.
    const QList<RemoteItem>& items() const { return m_items; }
    // The storage of deviceFiles; an empty identifier otherwise.
    const StorageID& storageID() const { return m_storageID; }

    // "3 Mac items", "1 Android item", "Clipboard empty".
    QString summary() const;

    friend bool operator==(const ClipboardContents& a, const ClipboardContents& b);

private:
    ClipboardContents(Kind kind, QList<QUrl> urls, QList<RemoteItem> items, StorageID storageID);

    Kind m_kind;
    QList<QUrl> m_urls;
    QList<RemoteItem> m_items;
    StorageID m_storageID;
};

} // namespace quillbarrow
