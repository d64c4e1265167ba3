#pragma once

#include "domain/TransferID.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace quillbarrow {

// Paints one row of the transfer panel from TransferJobListModel's roles: the state-coloured
// icon, the name with its "Temporary view" tag, the state line, the cancel button and the bar. No
// widget per row: the cancel button is hit-tested here and announced by cancelRequested.
class TransferJobDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
  // The places of a row's parts inside its rectangle, and the name as it is drawn in its place.
  struct RowLayout {
      QRect icon;
      QRect name;
      QString shownName; // the whole name wherever it fits, else elided in the middle
      QRect tag;
      QRect stateLine;
      QRect cancelButton; // empty when the row has none
      QRect bar;          // empty when the row has none
    };

    // The height of a row: its two lines of text, or the cancel button when taller, and room
    // above and below that keeps 4 pixels between the contents of two rows.
    static int rowHeight(const QFont& font);
    static constexpr int barWidth = 120;
    static constexpr int cancelButtonSize = 22;

    explicit TransferJobDelegate(QObject* parent = nullptr);

    static RowLayout layout(const QRect& rect, const QModelIndex& index, const QFont& font);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

Q_SIGNALS:
    void cancelRequested(const quillbarrow::TransferID& id);

private:
    // The row whose cancel button took the press; the release must land on the same button.
    QPersistentModelIndex m_pressedCancel;
};

} // namespace quillbarrow
