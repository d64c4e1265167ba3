#include "NativeTableModel.h"

#include "style/Palette.h"
#include "style/SymbolIcons.h"

#include <QApplication>
#include <QStringList>

#include <utility>

namespace quillbarrow {

NativeTableModel::NativeTableModel(QList<NativeTableColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns)),
      m_folderIcon(SymbolIcons::tinted(QStringLiteral("folder"), Palette::systemBlue())),
      m_fileIcon(SymbolIcons::tinted(QStringLiteral("doc"), Palette::secondary(QApplication::palette()))),
      m_secondaryText(Palette::secondary(QApplication::palette()))
{
}

std::optional<int> NativeTableModel::columnIndex(const QString& identifier) const
{
    for (int column = 0; column < m_columns.size(); ++column) {
        if (m_columns[column].identifier == identifier) {
            return column;
        }
    }
    return std::nullopt;
}

std::optional<int> NativeTableModel::columnShowing(NativeTableColumn::Content content) const
{
    for (int column = 0; column < m_columns.size(); ++column) {
        if (m_columns[column].content == content) {
            return column;
        }
    }
    return std::nullopt;
}

int NativeTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant NativeTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return m_columns[section].title;
    case Qt::InitialSortOrderRole:
        // A first click on a column sorts it ascending; the next one reverses it.
        return static_cast<int>(Qt::AscendingOrder);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

Qt::ItemFlags NativeTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

void NativeTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= m_columns.size() || !m_columns[column].isSortable) {
        return;
    }
    Q_EMIT sortRequested(m_columns[column].identifier, order == Qt::AscendingOrder);
}

Qt::DropActions NativeTableModel::supportedDragActions() const
{
    // Rows are offered for copying only: nothing leaves a folder by being dragged out of it.
    return Qt::CopyAction;
}

QStringList NativeTableModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list"), QStringLiteral("text/plain")};
}

QVariant NativeTableModel::cellData(int column, int role, const QString& name, bool isFolder,
                                    const QString& sizeText, const QString& dateText) const
{
    if (column < 0 || column >= m_columns.size()) {
        return {};
    }
    const NativeTableColumn::Content content = m_columns[column].content;
    switch (role) {
    case Qt::DisplayRole:
        switch (content) {
        case NativeTableColumn::Content::name:
            return name;
        case NativeTableColumn::Content::size:
            return sizeText;
        case NativeTableColumn::Content::modified:
            return dateText;
        }
        return {};
    case Qt::DecorationRole:
        if (content == NativeTableColumn::Content::name) {
            return isFolder ? m_folderIcon : m_fileIcon;
        }
        return {};
    case Qt::ForegroundRole:
        if (content != NativeTableColumn::Content::name) {
            return m_secondaryText;
        }
        return {};
    default:
        return {};
    }
}

} // namespace quillbarrow
