#pragma once

#include <QList>
#include <QString>
#include <QUrl>

class QMimeData;

namespace quillbarrow {

// What one dragged row puts on the drag's data: a file address (rows of the computer) or a
// plain text (rows of the phone carry a marker; their items travel on the in-app clipboard).
struct NativeTablePasteboardItem {
    enum class Kind { fileUrl, plainText };

    static NativeTablePasteboardItem fileUrl(QUrl url);
    static NativeTablePasteboardItem plainText(QString text);

    // The plain text a drag of phone rows carries.
    static const QString& androidDragMarker();

    // The drag data of several rows, in row order: their file addresses as URLs, and their texts
    // once each, one per line.
    static QMimeData* mimeData(const QList<NativeTablePasteboardItem>& items);

    Kind kind;
    QUrl url;
    QString text;
};

} // namespace quillbarrow
