#include "ConflictRequest.h"

#include "domain/NfcText.h"

namespace quillbarrow {

ConflictRequest::ConflictRequest(QUuid id, std::optional<TransferID> transferID, QString fileName,
                                 QString destinationName)
    : id(id), transferID(std::move(transferID)), fileName(std::move(fileName)),
      destinationName(std::move(destinationName))
{
}

bool operator==(const ConflictRequest& a, const ConflictRequest& b)
{
    return a.id == b.id && a.transferID == b.transferID && NfcText::equal(a.fileName, b.fileName) &&
           NfcText::equal(a.destinationName, b.destinationName);
}

} // namespace quillbarrow
