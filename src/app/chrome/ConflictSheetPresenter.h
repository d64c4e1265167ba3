#pragma once

#include <QObject>
#include <QPointer>
#include <QUuid>

class QWidget;

namespace quillbarrow {

class ConflictResolutionSheet;
class TransferCoordinator;

// Shows the coordinator's pending name-conflict question as a window-modal sheet over `window`:
// a new question (a new id) gets a new sheet with its box unticked; a question cleared elsewhere
// (its batch cancelled) closes the sheet. An answer goes to resolveConflict or cancelConflicts
// only while the question it was given for is still the pending one, so a late click can never
// answer a newer question, and never twice.
class ConflictSheetPresenter final : public QObject {
    Q_OBJECT

public:
    ConflictSheetPresenter(TransferCoordinator* coordinator, QWidget* window);
    ~ConflictSheetPresenter() override;

    // The sheet on screen, if any.
    ConflictResolutionSheet* sheet() const { return m_sheet; }

private:
    void follow();
    void closeSheet();
    bool stillPending(const QUuid& requestID) const;

    QPointer<TransferCoordinator> m_coordinator;
    QPointer<QWidget> m_window;
    QPointer<ConflictResolutionSheet> m_sheet;
};

} // namespace quillbarrow
