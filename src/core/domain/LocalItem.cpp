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

namespace {

// Copies of an address share its data until one of them is changed: those are equal without
// reading them, which a table comparing a hundred thousand rows notices.
bool sameAddress(const QUrl& a, const QUrl& b)
{
    return const_cast<QUrl&>(a).data_ptr() == const_cast<QUrl&>(b).data_ptr() || a == b;
}

} // namespace

bool operator==(const LocalItem& a, const LocalItem& b)
{
    return a.kind == b.kind && a.size == b.size && a.isHidden == b.isHidden && a.modifiedAt == b.modifiedAt &&
           sameAddress(a.id, b.id) && NfcText::equal(a.name, b.name);
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
