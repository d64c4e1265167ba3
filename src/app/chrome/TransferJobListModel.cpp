#include "chrome/TransferJobListModel.h"

#include "chrome/TransferPanelSummary.h"

#include <QVariant>

namespace quillbarrow {

TransferJobListModel::TransferJobListModel(QObject* parent) : QAbstractListModel(parent) {}

int TransferJobListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_jobs.size());
}

QVariant TransferJobListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_jobs.size()) {
        return {};
    }
    const TransferJob& job = m_jobs.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return job.displayName;
    case JobIDRole:
        return QVariant::fromValue(job.id.rawValue());
    case StateLineRole:
        return textsOf(index.row()).stateLine;
    case FractionRole: {
        const std::optional<double>& fraction = textsOf(index.row()).fraction;
        return fraction ? QVariant(*fraction) : QVariant();
    }
    case SymbolRole:
        return TransferPanelSummary::symbolName(job);
    case StateKindRole:
        return static_cast<int>(job.state.kind());
    case CancellableRole:
        return TransferPanelSummary::showsCancelButton(job);
    case CancelHelpRole:
        return TransferPanelSummary::cancelHelpText(job);
    case ViewingRole:
        return job.purpose == TransferPurpose::openForViewing;
    default:
        return {};
    }
}

int TransferJobListModel::rowOf(const TransferID& id) const
{
    return m_rows.value(id, -1);
}

TransferJobListModel::RowTexts TransferJobListModel::textsFor(const TransferJob& job)
{
    return RowTexts{TransferPanelSummary::stateLine(job), TransferPanelSummary::rowFraction(job)};
}

const TransferJobListModel::RowTexts& TransferJobListModel::textsOf(int row) const
{
    std::optional<RowTexts>& texts = m_texts[row];
    if (!texts) {
        texts = textsFor(m_jobs.at(row));
    }
    return *texts;
}

void TransferJobListModel::rebuildRowIndex(qsizetype from)
{
    for (qsizetype row = from; row < m_jobs.size(); ++row) {
        m_rows.insert(m_jobs.at(row).id, static_cast<int>(row));
    }
}

void TransferJobListModel::reset(const QList<TransferJob>& jobs)
{
    beginResetModel();
    m_jobs = jobs;
    m_texts = QList<std::optional<RowTexts>>(jobs.size());
    m_rows.clear();
    rebuildRowIndex(0);
    endResetModel();
}

void TransferJobListModel::setJobs(const QList<TransferJob>& jobs)
{
    // Walk both lists in sequence order: a row whose job is not the next new one has left the
    // list (a job enqueued again comes back at the end, as a new row).
    QList<qsizetype> removedRows;
    qsizetype next = 0;
    for (qsizetype row = 0; row < m_jobs.size(); ++row) {
        const TransferJob& old = m_jobs.at(row);
        if (next < jobs.size() && jobs.at(next).id == old.id) {
            ++next;
            continue;
        }
        if (next < jobs.size() && jobs.at(next).sequence < old.sequence) {
            reset(jobs); // a job between existing rows: not the coordinator's order
            return;
        }
        removedRows.append(row);
    }
    for (qsizetype check = next + 1; check < jobs.size(); ++check) {
        if (jobs.at(check).sequence < jobs.at(check - 1).sequence) {
            reset(jobs);
            return;
        }
    }

    // Removals bottom-up, one call per contiguous range.
    for (qsizetype end = removedRows.size(); end > 0;) {
        qsizetype start = end - 1;
        while (start > 0 && removedRows.at(start - 1) == removedRows.at(start) - 1) {
            --start;
        }
        const int first = static_cast<int>(removedRows.at(start));
        const int last = static_cast<int>(removedRows.at(end - 1));
        beginRemoveRows({}, first, last);
        for (int row = last; row >= first; --row) {
            m_rows.remove(m_jobs.at(row).id);
        }
        m_jobs.remove(first, last - first + 1);
        m_texts.remove(first, last - first + 1);
        endRemoveRows();
        end = start;
    }
    if (!removedRows.isEmpty()) {
        rebuildRowIndex(removedRows.first());
    }

    // The rows left match jobs[0, next) one to one: announce the changed ones in blocks.
    qsizetype blockStart = -1;
    const auto closeBlock = [this, &blockStart](qsizetype end) {
        if (blockStart >= 0) {
            Q_EMIT dataChanged(index(static_cast<int>(blockStart)), index(static_cast<int>(end - 1)));
            blockStart = -1;
        }
    };
    for (qsizetype row = 0; row < next; ++row) {
        const TransferJob& job = jobs.at(row);
        if (m_jobs.at(row) == job) {
            closeBlock(row);
            continue;
        }
        m_jobs[row] = job;
        m_texts[row].reset();
        if (blockStart < 0) {
            blockStart = row;
        }
    }
    closeBlock(next);

    if (next < jobs.size()) {
        beginInsertRows({}, static_cast<int>(m_jobs.size()), static_cast<int>(jobs.size() - 1));
        const qsizetype from = m_jobs.size();
        for (qsizetype row = next; row < jobs.size(); ++row) {
            m_jobs.append(jobs.at(row));
            m_texts.append(std::nullopt);
        }
        rebuildRowIndex(from);
        endInsertRows();
    }
}

} // namespace quillbarrow
