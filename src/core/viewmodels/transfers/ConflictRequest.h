#pragma once

#include "domain/TransferID.h"

#include <QString>
#include <QUuid>
#include <optional>

namespace quillbarrow {

// One name-conflict question, as the conflict sheet shows it. Identified by `id`, new for every
// question.
struct ConflictRequest {
    ConflictRequest(QUuid id, std::optional<TransferID> transferID, QString fileName, QString destinationName);

    QUuid id;
    // The job the question is about, when the asking workflow has one.
    std::optional<TransferID> transferID;
    // The clashing name.
    QString fileName;
    // The destination folder's name, as the asking workflow words it.
    QString destinationName;
};

bool operator==(const ConflictRequest& a, const ConflictRequest& b);

} // namespace quillbarrow
