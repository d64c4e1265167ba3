#include "chrome/ConflictSheetPresenter.h"

#include "chrome/ConflictResolutionSheet.h"
#include "viewmodels/transfers/TransferCoordinator.h"

#include <QWidget>

namespace quillbarrow {

ConflictSheetPresenter::ConflictSheetPresenter(TransferCoordinator* coordinator, QWidget* window)
    : QObject(window), m_coordinator(coordinator), m_window(window)
{
    connect(coordinator, &TransferCoordinator::pendingConflictChanged, this, &ConflictSheetPresenter::follow);
    follow();
}

ConflictSheetPresenter::~ConflictSheetPresenter()
{
    closeSheet();
}

bool ConflictSheetPresenter::stillPending(const QUuid& requestID) const
{
    return m_coordinator && m_coordinator->pendingConflict() && m_coordinator->pendingConflict()->id == requestID;
}

void ConflictSheetPresenter::follow()
{
    const std::optional<ConflictRequest> request = m_coordinator ? m_coordinator->pendingConflict() : std::nullopt;
    if (m_sheet && request && m_sheet->request().id == request->id) {
        return; // the same question published again
    }
    closeSheet();
    if (!request) {
        return;
    }
    auto* sheet = new ConflictResolutionSheet(*request, m_window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    const QUuid requestID = request->id;
    connect(sheet, &ConflictResolutionSheet::resolved, this,
            [this, requestID](ConflictResolution resolution, bool applyToAll) {
                if (stillPending(requestID)) {
                    m_coordinator->resolveConflict(resolution, applyToAll);
                }
            });
    connect(sheet, &ConflictResolutionSheet::cancelRequested, this, [this, requestID] {
        if (stillPending(requestID)) {
            m_coordinator->cancelConflicts();
        }
    });
    m_sheet = sheet;
    sheet->open();
}

void ConflictSheetPresenter::closeSheet()
{
    if (!m_sheet) {
        return;
    }
    ConflictResolutionSheet* sheet = m_sheet;
    m_sheet = nullptr;
    sheet->disconnect(this);
    sheet->hide();
    sheet->deleteLater();
}

} // namespace quillbarrow
