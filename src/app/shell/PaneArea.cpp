#include "PaneArea.h"

#include "Divider.h"
#include "window/WindowState.h"

#include <QtMath>

#include <algorithm>

namespace quillbarrow {

namespace {

// The split line's grip is 10 wide, centred on the line.
constexpr int splitGripWidth = 10;

} // namespace

PaneArea::PaneArea(WindowState* state, QWidget* macPane, QWidget* androidPane, QWidget* parent)
    : QWidget(parent), m_state(state), m_macPane(macPane), m_androidPane(androidPane),
      m_divider(new Divider(Qt::Vertical, splitGripWidth, this))
{
    setObjectName(QStringLiteral("paneArea"));
    m_divider->setObjectName(QStringLiteral("paneSplitDivider"));
    m_divider->grip()->setObjectName(QStringLiteral("paneSplitGrip"));
    m_macPane->setParent(this);
    m_androidPane->setParent(this);
    // The panes are stacked below the line's grip, which must stay on top to take the mouse.
    m_macPane->lower();
    m_androidPane->lower();

    connect(m_divider, &Divider::dragged, this,
            [this](QPointF translation) { m_state->dragPaneSplit(translation.x(), availableWidth()); });
    connect(m_divider, &Divider::dragFinished, m_state, &WindowState::endPaneSplitDrag);
    connect(m_state, &WindowState::paneSplitFractionChanged, this, &PaneArea::layoutPanes);
}

void PaneArea::setMacPane(QWidget* pane)
{
    delete m_macPane;
    m_macPane = pane;
    m_macPane->setParent(this);
    m_macPane->lower();
    m_macPane->show();
    layoutPanes();
}

void PaneArea::setAndroidPane(QWidget* pane)
{
    delete m_androidPane;
    m_androidPane = pane;
    m_androidPane->setParent(this);
    m_androidPane->lower();
    m_androidPane->show();
    layoutPanes();
}

void PaneArea::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutPanes();
}

qreal PaneArea::availableWidth() const
{
    return std::max(width() - 1, 0);
}

void PaneArea::layoutPanes()
{
    const int left = qRound(WindowState::paneSplitLeftWidth(width(), m_state->paneSplitFraction()));
    m_macPane->setGeometry(0, 0, left, height());
    m_divider->setGeometry(left, 0, 1, height());
    m_androidPane->setGeometry(left + 1, 0, std::max(width() - left - 1, 0), height());
}

} // namespace quillbarrow
