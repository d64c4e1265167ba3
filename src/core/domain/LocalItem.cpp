#include "LocalItem.h"

#include "HashFeed.h"
#include "NfcText.h"

namespace quillbarrow {

LocalItem::LocalItem(QUrl id, QString name, RemoteItemKind kind, std::optional<qint64> size,
                     std::optional<QDateTime> modifiedAt, bool isHidden)
    : id(std::move(id)), name(std::move(name)), kind(kind), size(size), modifiedAt(std::move(modifiedAt)),
      isHidden(isHidden)
{
}

bool operator==(const LocalItem& a, const LocalItem& b)
{
    return a.id == b.id && NfcText::equal(a.name, b.name) && a.kind == b.kind && a.size == b.size &&
           a.modifiedAt == b.modifiedAt && a.isHidden == b.isHidden;
}

std::size_t qHash(const LocalItem& item, std::size_t seed)
{
    return HashFeed(seed)
        .add(item.id)
        .text(item.name)
        .add(item.kind)
        .add(item.size)
        .add(item.modifiedAt)
        .add(item.isHidden)
        .result();
}

} // namespace quillbarrow
