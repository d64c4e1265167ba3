#include "PaneFrame.h"

#include "PaneHeader.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "window/WindowState.h"

#include <QDragEnterEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {
// The focused pane's tint: the accent colour, barely there.
constexpr double focusTintOpacity = 0.06;
} // namespace

PaneFrame::PaneFrame(FocusedPane side, WindowState& state, QWidget* parent)
    : QWidget(parent), m_state(&state), m_side(side)
{
    setAcceptDrops(true);
}

void PaneFrame::assemble(PaneHeader* header, QWidget* content, DropTargetOverlay* overlay,
                         PaneKeyMonitor::Handler handler)
{
    m_header = header;
    m_overlay = overlay;
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(header);
    auto* rule = new QWidget(this);
    rule->setFixedHeight(1);
    rule->setAutoFillBackground(true);
    rule->setBackgroundRole(QPalette::Mid);
    stack->addWidget(rule);
    stack->addWidget(content, 1);
    overlay->setParent(this);
    overlay->cover(content);
    overlay->raise();

    connect(header, &PaneHeader::naturalHeightChanged, this, [this](int height) {
        m_naturalHeaderHeight = height;
        reportHeaderHeight();
    });
    connect(m_state, &WindowState::paneHeaderHeightChanged, this, [this] {
        m_header->setMinimumHeight(qRound(m_state->paneHeaderHeight()));
        reportHeaderHeight();
    });
    header->setMinimumHeight(qRound(m_state->paneHeaderHeight()));
    connect(m_state, &WindowState::focusedPaneChanged, this, qOverload<>(&QWidget::update));
    // The "focused" mark follows the keyboard into the pane's table (Tab, a click).
    if (QWidget* target = keyboardTarget()) {
        target->installEventFilter(this);
    }
    m_keyMonitor = new PaneKeyMonitor(this, keyboardTarget(), m_side, m_state, std::move(handler));
}

bool PaneFrame::eventFilter(QObject* watched, QEvent* event)
{
    // A window that comes back to the front gives the keyboard back where it was: that moves
    // nothing.
    if (watched == keyboardTarget() && event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            focusPane();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PaneFrame::reportHeaderHeight()
{
    if (!m_state) {
        return;
    }
    const qreal framed = std::max<qreal>(m_naturalHeaderHeight, m_state->paneHeaderHeight());
    // The window announces every report, also an unchanged one: report only a new height.
    if (framed <= 0 || framed == m_reportedHeaderHeight) {
        return;
    }
    m_reportedHeaderHeight = framed;
    m_state->reportPaneHeaderHeight(m_side, framed);
}

void PaneFrame::focusPane()
{
    if (m_state) {
        m_state->focusPane(m_side);
    }
}

bool PaneFrame::isFocusedPane() const
{
    return m_state && m_state->focusedPane() == m_side;
}

void PaneFrame::updateDropOverlay()
{
    m_overlay->setTargeted(m_isDropTargeted);
}

void PaneFrame::setDropTargeted(bool targeted)
{
    m_isDropTargeted = targeted;
    updateDropOverlay();
}

void PaneFrame::mousePressEvent(QMouseEvent* event)
{
    focusPane();
    // The keyboard goes with the click, so arrows and commands never act on two panes.
    if (QWidget* target = keyboardTarget(); target != nullptr && target->isVisible()) {
        target->setFocus(Qt::MouseFocusReason);
    }
    QWidget::mousePressEvent(event);
}

void PaneFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_overlay) {
        m_overlay->raise();
    }
}

void PaneFrame::paintEvent(QPaintEvent*)
{
    if (!isFocusedPane()) {
        return;
    }
    QPainter painter(this);
    QColor tint = palette().highlight().color();
    tint.setAlphaF(focusTintOpacity);
    painter.fillRect(rect(), tint);
}

// Both panes copy whatever the drag proposes (a Shift-drag proposes a move): the answer is
// always a copy, and a drag that does not allow one is refused.
bool PaneFrame::takeAsCopy(QDropEvent* event)
{
    if (!event->possibleActions().testFlag(Qt::CopyAction) || !acceptsDrag(event->mimeData())) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

bool PaneFrame::draggedContentTaken(const QMimeData* data) const
{
    return data == m_hoveringData ? m_hoveringTaken : readsAsTaken(data);
}

void PaneFrame::dragEnterEvent(QDragEnterEvent* event)
{
    // Each entry is read afresh: another application may bring back the same data object.
    m_hoveringData = nullptr;
    m_hoveringTaken = readsAsTaken(event->mimeData());
    m_hoveringData = event->mimeData();
    if (takeAsCopy(event)) {
        setDropTargeted(true);
    }
}

void PaneFrame::dragMoveEvent(QDragMoveEvent* event)
{
    takeAsCopy(event);
}

void PaneFrame::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_hoveringData = nullptr;
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void PaneFrame::dropEvent(QDropEvent* event)
{
    m_hoveringData = nullptr;
    setDropTargeted(false);
    if (!event->possibleActions().testFlag(Qt::CopyAction) || !acceptDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace quillbarrow
