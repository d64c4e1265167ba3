#pragma once

#include "ClipboardContents.h"

#include <QObject>

namespace quillbarrow {

// The in-app clipboard: what the user last copied in either pane, kept in memory only and apart
// from the system pasteboard. Main thread only. Every assignment of the contents emits
// contentsChanged, also when the new contents equal the old.
class Clipboard : public QObject {
    Q_OBJECT
    Q_PROPERTY(quillbarrow::ClipboardContents contents READ contents NOTIFY contentsChanged)

public:
    explicit Clipboard(QObject* parent = nullptr);

    const ClipboardContents& contents() const { return m_contents; }

    // Each call replaces the whole contents; an empty list stores empty. Nothing is filtered,
    // sorted or checked.
    void copyLocal(QList<QUrl> urls);
    void copyDevice(QList<RemoteItem> items, StorageID storageID);
    void clear();

Q_SIGNALS:
    void contentsChanged();

private:
    void setContents(ClipboardContents contents);

    ClipboardContents m_contents;
};

} // namespace quillbarrow
