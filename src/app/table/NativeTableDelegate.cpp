#include "NativeTableDelegate.h"

namespace quillbarrow {

void NativeTableDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = index.column() == m_middleElidedColumn ? Qt::ElideMiddle : Qt::ElideRight;
    option->state &= ~QStyle::State_HasFocus;
}

} // namespace quillbarrow
