#include "NativeTablePasteboardItem.h"

#include <QMimeData>
#include <QStringList>

#include <utility>

namespace quillbarrow {

NativeTablePasteboardItem NativeTablePasteboardItem::fileUrl(QUrl url)
{
    return {Kind::fileUrl, std::move(url), QString()};
}

NativeTablePasteboardItem NativeTablePasteboardItem::plainText(QString text)
{
    return {Kind::plainText, QUrl(), std::move(text)};
}

const QString& NativeTablePasteboardItem::androidDragMarker()
{
    static const QString marker = QStringLiteral("com.quillbarrow.android-drag/v1");
    return marker;
}

QMimeData* NativeTablePasteboardItem::mimeData(const QList<NativeTablePasteboardItem>& items)
{
    QList<QUrl> urls;
    QStringList texts;
    for (const NativeTablePasteboardItem& item : items) {
        if (item.kind == Kind::fileUrl) {
            urls.append(item.url);
        } else if (!texts.contains(item.text)) {
            texts.append(item.text);
        }
    }
    auto* data = new QMimeData;
    if (!urls.isEmpty()) {
        data->setUrls(urls);
    }
    if (!texts.isEmpty()) {
        data->setText(texts.join(QLatin1Char('\n')));
    }
    return data;
}

} // namespace quillbarrow
