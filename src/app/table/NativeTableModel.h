#pragma once

#include "table/NativeTableColumn.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QList>

#include <optional>

namespace quillbarrow {

// The part of a native table's model that does not depend on the kind of row: the columns and
// their headers, the icons and colours of the cells, the flags, and the sort request. The rows
// themselves live in ItemTableModel<Item>.
//
// The model never sorts: a header click reaches sort(), which announces the column's identifier
// and direction through sortRequested (only for a sortable column); the owner sets its view
// model's sort, whose new order arrives as a re-listing.
class NativeTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit NativeTableModel(QList<NativeTableColumn> columns, QObject* parent = nullptr);

    const QList<NativeTableColumn>& columns() const { return m_columns; }
    // The column with that identifier; nothing when there is none.
    std::optional<int> columnIndex(const QString& identifier) const;
    // The column showing that content; nothing when no column shows it.
    std::optional<int> columnShowing(NativeTableColumn::Content content) const;

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;

Q_SIGNALS:
    // A header click asked to sort by this column (ascending or not).
    void sortRequested(const QString& identifier, bool ascending);

protected:
    // The data of one cell, from the row's fields; the texts are formatted by the caller.
    QVariant cellData(int column, int role, const QString& name, bool isFolder, const QString& sizeText,
                      const QString& dateText) const;

private:
    QList<NativeTableColumn> m_columns;
    // Made once: data() is asked for every visible cell on every paint.
    QIcon m_folderIcon;
    QIcon m_fileIcon;
    QColor m_secondaryText;
};

} // namespace quillbarrow
