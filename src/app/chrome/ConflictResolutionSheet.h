#pragma once

#include "viewmodels/transfers/ConflictRequest.h"
#include "viewmodels/transfers/ConflictResolution.h"

#include <QDialog>

class QCheckBox;

namespace quillbarrow {

// The question about a name that is taken: "“name” already exists", where, the "Apply to all
// remaining conflicts" box, and "Cancel", "Skip", "Keep Both", "Replace" (Return). Only its buttons
// close it: Escape and the window's close are ignored, since the waiting transfer needs an answer.
// It answers at most once; after that its buttons do nothing.
class ConflictResolutionSheet final : public QDialog {
    Q_OBJECT

public:
    explicit ConflictResolutionSheet(ConflictRequest request, QWidget* parent = nullptr);

    const ConflictRequest& request() const { return m_request; }
    QCheckBox* applyToAllBox() const { return m_applyToAll; }

Q_SIGNALS:
    void resolved(quillbarrow::ConflictResolution resolution, bool applyToAll);
    void cancelRequested();

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void answer(std::optional<ConflictResolution> resolution);

    ConflictRequest m_request;
    QCheckBox* m_applyToAll;
    bool m_answered = false;
};

} // namespace quillbarrow
