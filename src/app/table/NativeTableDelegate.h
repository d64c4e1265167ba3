#pragma once

#include <QStyledItemDelegate>

namespace quillbarrow {

// Draws the cells of a native table: names shortened in the middle (the start and the extension
// stay readable), other texts at their end, and no focus frame around a single cell (the whole
// row is what is selected).
class NativeTableDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The column whose texts are shortened in the middle.
    void setMiddleElidedColumn(int column) { m_middleElidedColumn = column; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    int m_middleElidedColumn = -1;
};

} // namespace quillbarrow
