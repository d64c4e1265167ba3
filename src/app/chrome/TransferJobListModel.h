#pragma once

#include "domain/TransferJob.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

#include <optional>

namespace quillbarrow {

// The rows of the transfer panel: one per job of the coordinator's list, in its order (sequence
// order, oldest first). setJobs() brings the rows up to date with a new publication without a
// reset: jobs that left are removed as ranges, new ones appended, and dataChanged is emitted only
// for the blocks of rows whose job changed, so a progress step of one job costs one row whatever
// the list's length. A row's texts are made when the row is first asked for after its job
// changed: with thousands of jobs stepping at once only the rows on screen are formatted.
class TransferJobListModel final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        JobIDRole = Qt::UserRole + 1, // the job's TransferID
        StateLineRole,                // the row's second line
        FractionRole,                 // the row bar's value, or an invalid QVariant without a bar
        SymbolRole,                   // the icon's symbol name
        StateKindRole,                // TransferState::Kind as an int
        CancellableRole,              // whether the row shows its cancel button
        CancelHelpRole,               // the cancel button's help text
        ViewingRole,                  // an open-for-viewing job (the "Temporary view" tag)
    };

    explicit TransferJobListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Mirrors `jobs`, which must be in sequence order (the coordinator keeps it so); a list that
    // is not falls back to one model reset.
    void setJobs(const QList<TransferJob>& jobs);
    // The row of the job, or -1.
    int rowOf(const TransferID& id) const;
    const QList<TransferJob>& jobs() const { return m_jobs; }

private:
    struct RowTexts {
        QString stateLine;
        std::optional<double> fraction;
    };

    static RowTexts textsFor(const TransferJob& job);
    const RowTexts& textsOf(int row) const;
    void rebuildRowIndex(qsizetype from);
    void reset(const QList<TransferJob>& jobs);

    QList<TransferJob> m_jobs;
    // Made on demand; emptied when the row's job changes.
    mutable QList<std::optional<RowTexts>> m_texts;
    QHash<TransferID, int> m_rows;
};

} // namespace quillbarrow
