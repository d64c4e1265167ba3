#pragma once

#include "RemoteItemKind.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <cstddef>
#include <optional>

namespace quillbarrow {

// One entry of a folder listing on the computer. Identified by its file address; equality and
// hashing cover every field. The address is compared as the URL it is, not as normalised text:
// on Linux two names that differ only in Unicode normalisation are two different files.
struct LocalItem {
    LocalItem(QUrl id, QString name, RemoteItemKind kind, std::optional<qint64> size,
              std::optional<QDateTime> modifiedAt, bool isHidden);

    QUrl id;
    QString name;
    // A local listing yields only folder or file.
    RemoteItemKind kind;
    // Bytes for files; absent for folders until they are measured.
    std::optional<qint64> size;
    std::optional<QDateTime> modifiedAt;
    bool isHidden;
};

bool operator==(const LocalItem& a, const LocalItem& b);
std::size_t qHash(const LocalItem& item, std::size_t seed = 0);

} // namespace quillbarrow
