#include "chrome/TransferJobDelegate.h"

#include "chrome/ChromeIcons.h"
#include "chrome/ChromeStyle.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanelSummary.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QToolTip>
#include <QUuid>
#include <QtMath>
#include <algorithm>

namespace quillbarrow {

namespace {

constexpr int iconSize = 20;
constexpr int spacing = 8;
constexpr int trailingMargin = 14;
constexpr int lineGap = 2;
// Above and below a row's content: half of the 4 points between two rows (the list keeps no
// spacing of its own, so that rows follow one another at one fixed pitch).
constexpr int rowPadding = 2;
const QString temporaryViewText = QStringLiteral("Temporary view");

TransferID jobID(const QModelIndex& index)
{
    return TransferID(index.data(TransferJobListModel::JobIDRole).toUuid());
}

// The name's line and the state line under it.
int textHeight(const QFont& font)
{
    return QFontMetrics(ChromeStyle::callout(font)).height() + lineGap + QFontMetrics(ChromeStyle::caption(font)).height();
}

} // namespace

TransferJobDelegate::TransferJobDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

TransferJobDelegate::RowLayout TransferJobDelegate::layout(const QRect& rect, const QModelIndex& index,
                                                           const QFont& font)
{
    RowLayout parts;
    const QRect inner = rect.adjusted(0, 0, -trailingMargin, 0);
    int right = inner.right() + 1;
    if (index.data(TransferJobListModel::FractionRole).isValid()) {
        parts.bar = QRect(right - barWidth, inner.center().y() - 8, barWidth, 16);
        right = parts.bar.left() - spacing;
    }
    if (index.data(TransferJobListModel::CancellableRole).toBool()) {
        parts.cancelButton = QRect(right - cancelButtonSize, inner.center().y() - cancelButtonSize / 2 + 1,
                                   cancelButtonSize, cancelButtonSize);
        right = parts.cancelButton.left() - spacing;
    }
    parts.icon = QRect(inner.left() + 2, inner.center().y() - iconSize / 2 + 1, iconSize, iconSize);
    const int textLeft = parts.icon.right() + 1 + spacing;
    const QFontMetrics nameMetrics(ChromeStyle::callout(font));
    const QFontMetrics captionMetrics(ChromeStyle::caption(font));
    const int top = inner.top() + (inner.height() - textHeight(font)) / 2;
    const QString name = index.data(Qt::DisplayRole).toString();
    int nameRight = right;
    if (index.data(TransferJobListModel::ViewingRole).toBool()) {
        // The tag keeps its ideal size; the name gives way to it. The name's width is rounded up:
        // its width rounded to the nearest pixel may fall short of it, and the name was elided.
        const QFontMetrics tagMetrics(ChromeStyle::caption2(font));
        const int tagWidth = tagMetrics.height() + 3 + tagMetrics.horizontalAdvance(temporaryViewText);
        const int nameWidth = qCeil(QFontMetricsF(ChromeStyle::callout(font)).horizontalAdvance(name));
        const int tagLeft = std::min(textLeft + nameWidth + 7, right - tagWidth);
        parts.tag = QRect(tagLeft, top, tagWidth, nameMetrics.height());
        nameRight = tagLeft - 7;
    }
    parts.name = QRect(textLeft, top, std::max(0, nameRight - textLeft), nameMetrics.height());
    parts.shownName = nameMetrics.elidedText(name, Qt::ElideMiddle, parts.name.width());
    parts.stateLine = QRect(textLeft, top + nameMetrics.height() + lineGap, std::max(0, right - textLeft),
                            captionMetrics.height());
    return parts;
}

void TransferJobDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const RowLayout parts = layout(option.rect, index, option.font);
    const auto kind = static_cast<TransferState::Kind>(index.data(TransferJobListModel::StateKindRole).toInt());
    const QPalette& palette = option.palette;

    painter->save();
    painter->drawPixmap(parts.icon, ChromeIcons::tinted(index.data(TransferJobListModel::SymbolRole).toString(),
                                                        TransferPanelSummary::stateColour(kind),
                                                        iconSize * static_cast<int>(painter->device()->devicePixelRatioF())));

    const QFont nameFont = ChromeStyle::callout(option.font);
    painter->setFont(nameFont);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, parts.shownName);

    const QColor secondary = ChromeStyle::secondaryText(palette);
    if (!parts.tag.isNull()) {
        const QFont tagFont = ChromeStyle::caption2(option.font);
        const int eye = QFontMetrics(tagFont).height();
        painter->drawPixmap(QRect(parts.tag.left(), parts.tag.center().y() - eye / 2, eye, eye),
                            ChromeIcons::tinted(QStringLiteral("eye"), secondary, eye));
        painter->setFont(tagFont);
        painter->setPen(secondary);
        painter->drawText(parts.tag.adjusted(eye + 3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          temporaryViewText);
    }

    const QFont captionFont = ChromeStyle::caption(option.font);
    painter->setFont(captionFont);
    painter->setPen(secondary);
    painter->drawText(parts.stateLine, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      QFontMetrics(captionFont).elidedText(index.data(TransferJobListModel::StateLineRole).toString(),
                                                           Qt::ElideRight, parts.stateLine.width()));

    if (!parts.cancelButton.isNull()) {
        const QRect glyph = parts.cancelButton.adjusted(3, 3, -3, -3);
        painter->drawPixmap(glyph, ChromeIcons::tinted(QStringLiteral("xmark.circle"), secondary, glyph.width()));
    }
    if (!parts.bar.isNull()) {
        QStyleOptionProgressBar bar;
        bar.rect = parts.bar;
        bar.palette = palette;
        bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
        bar.minimum = 0;
        bar.maximum = 1000;
        bar.progress = static_cast<int>(index.data(TransferJobListModel::FractionRole).toDouble() * 1000.0);
        bar.textVisible = false;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
    }
    painter->restore();
}

int TransferJobDelegate::rowHeight(const QFont& font)
{
    return std::max(textHeight(font), cancelButtonSize) + 2 * rowPadding;
}

QSize TransferJobDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(index)
    return QSize(option.rect.width(), rowHeight(option.font));
}

bool TransferJobDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                      const QModelIndex& index)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease &&
        event->type() != QEvent::MouseButtonDblClick) {
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const RowLayout parts = layout(option.rect, index, option.font);
    const bool onButton = mouse->button() == Qt::LeftButton && parts.cancelButton.contains(mouse->position().toPoint());
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        m_pressedCancel = onButton ? QPersistentModelIndex(index) : QPersistentModelIndex();
        return onButton;
    }
    const bool clicked = onButton && m_pressedCancel == index;
    m_pressedCancel = QPersistentModelIndex();
    if (clicked) {
        Q_EMIT cancelRequested(jobID(index));
    }
    return clicked;
}

bool TransferJobDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                    const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const RowLayout parts = layout(option.rect, index, option.font);
        if (parts.cancelButton.contains(event->pos())) {
            QToolTip::showText(event->globalPos(), index.data(TransferJobListModel::CancelHelpRole).toString(), view);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace quillbarrow
