#include "chrome/TransferPanel.h"

#include "chrome/ChromeIcons.h"
#include "chrome/ChromeStyle.h"
#include "chrome/TransferJobDelegate.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanelSummary.h"
#include "viewmodels/transfers/TransferCoordinator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace quillbarrow {

namespace {

// The coordinator may publish many times within one frame (each job start, step and end); the
// panel need not follow faster than the screen does.
constexpr int refreshIntervalMilliseconds = 16;
constexpr int panelInset = 10;
// Between the header and the rows.
constexpr int headerGap = 6;

} // namespace

TransferPanel::TransferPanel(TransferCoordinator* coordinator, QWidget* parent)
    : QWidget(parent),
      m_coordinator(coordinator),
      m_model(new TransferJobListModel(this)),
      m_delegate(new TransferJobDelegate(this)),
      m_list(new QListView),
      m_emptyText(new QLabel(QStringLiteral("No transfers in progress."))),
      m_body(new QStackedLayout),
      m_overallBar(new QProgressBar),
      m_percent(new QLabel),
      m_clearFinished(new QPushButton(QStringLiteral("Clear Finished")))
{
    setObjectName(QStringLiteral("transferPanel"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* headerIcon = new QLabel;
    ChromeIcons::apply(headerIcon, QStringLiteral("arrow.up.arrow.down"), 16);
    m_title = new QLabel(QStringLiteral("Transfers"));
    m_title->setObjectName(QStringLiteral("transferPanelTitle"));
    ChromeStyle::setText(m_title, ChromeStyle::headline(font()), false);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(headerIcon);
    header->addWidget(m_title);
    const QStringList countNames{QStringLiteral("viewingCount"), QStringLiteral("runningCount"),
                                 QStringLiteral("waitingCount"), QStringLiteral("confirmationCount"),
                                 QStringLiteral("cancellingCount")};
    for (const QString& name : countNames) {
        auto* label = new QLabel;
        label->setObjectName(name);
        label->hide();
        header->addWidget(label);
        m_countLabels.append(label);
    }
    m_overallBar->setObjectName(QStringLiteral("overallProgress"));
    m_overallBar->setRange(0, 1000);
    m_overallBar->setTextVisible(false);
    m_overallBar->setFixedWidth(140);
    m_overallBar->setMaximumHeight(12);
    m_overallBar->hide();
    m_percent->setObjectName(QStringLiteral("overallPercent"));
    QFont percentFont = ChromeStyle::caption(font());
    percentFont.setStyleHint(QFont::Monospace);
    percentFont.setFamily(QStringLiteral("DejaVu Sans Mono"));
    ChromeStyle::setText(m_percent, percentFont, true);
    m_percent->hide();
    header->addWidget(m_overallBar);
    header->addWidget(m_percent);
    header->addStretch(1);
    m_clearFinished->setObjectName(QStringLiteral("clearFinished"));
    m_clearFinished->setFlat(true);
    m_clearFinished->setFont(ChromeStyle::caption(font()));
    // A click leaves the keyboard in the pane that had it: the button hides once nothing is
    // finished, and a hidden button's keyboard would fall to whichever pane comes first.
    m_clearFinished->setFocusPolicy(Qt::NoFocus);
    m_clearFinished->hide();
    header->addWidget(m_clearFinished);

    m_emptyText->setObjectName(QStringLiteral("noTransfersText"));
    ChromeStyle::setText(m_emptyText, ChromeStyle::caption(font()), true);
    auto* emptyPage = new QWidget;
    auto* emptyLayout = new QVBoxLayout(emptyPage);
    emptyLayout->setContentsMargins(0, 0, 0, 0);
    emptyLayout->addWidget(m_emptyText);
    emptyLayout->addStretch(1);

    m_list->setObjectName(QStringLiteral("transferJobList"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(m_delegate);
    m_list->setUniformItemSizes(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    // Per row, so that the rows in view are whole ones; the bar shows only while rows are out
    // of view.
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setMouseTracking(true);

    // The list keeps to the height of the whole rows that fit in its page (fitWholeRows places
    // it); the rest of the page stays empty below it.
    m_listPage = new QWidget;
    m_list->setParent(m_listPage);
    m_listPage->installEventFilter(this);

    m_body->addWidget(emptyPage);
    m_body->addWidget(m_listPage);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(panelInset, panelInset, panelInset, panelInset);
    column->setSpacing(headerGap);
    column->addLayout(header);
    column->addLayout(m_body, 1);
    setFixedHeight(m_height);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(refreshIntervalMilliseconds);

    connect(m_delegate, &TransferJobDelegate::cancelRequested, this, &TransferPanel::cancelRequested);
    connect(m_clearFinished, &QPushButton::clicked, this, &TransferPanel::clearRequested);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TransferPanel::refreshFromCoordinator);
    if (coordinator) {
        connect(coordinator, &TransferCoordinator::transferJobsChanged, this, &TransferPanel::scheduleRefresh);
        // The coordinator's calls are synchronous; a job that has finished meanwhile is left as
        // it is by the coordinator itself.
        connect(this, &TransferPanel::cancelRequested, coordinator,
                [coordinator](const TransferID& id) { coordinator->cancelTransfer(id); });
        connect(this, &TransferPanel::clearRequested, coordinator, &TransferCoordinator::clearCompletedTransfers);
        setJobs(coordinator->transferJobs());
    } else {
        updateHeader();
    }
}

void TransferPanel::setJobs(const QList<TransferJob>& jobs)
{
    const int rowsBefore = m_model->rowCount();
    m_model->setJobs(jobs);
    updateHeader();
    keepActiveRowInView(rowsBefore != m_model->rowCount());
}

void TransferPanel::keepActiveRowInView(bool rowsChanged)
{
    // The row that waits for the user's answer comes first, then the first one running.
    std::optional<int> target;
    const QList<TransferJob>& jobs = m_model->jobs();
    for (const TransferState::Kind wanted : {TransferState::Kind::awaitingConfirmation, TransferState::Kind::running}) {
        for (qsizetype row = 0; row < jobs.size() && !target; ++row) {
            if (jobs.at(row).state.kind() == wanted) {
                target = static_cast<int>(row);
            }
        }
    }
    if (!target) {
        m_inViewJob.reset();
        return;
    }
    // Scrolled to once when it becomes the row to watch (or rows come and go): the user may
    // scroll away from it between two progress steps.
    const TransferID id = jobs.at(*target).id;
    if (!rowsChanged && m_inViewJob == id) {
        return;
    }
    // A list not yet laid out on screen cannot scroll: it is tried again when it shows.
    if (!m_list->isVisible() || m_list->viewport()->height() <= 0) {
        m_inViewJob.reset();
        return;
    }
    m_inViewJob = id;
    m_list->scrollTo(m_model->index(*target), QAbstractItemView::EnsureVisible);
}

bool TransferPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_listPage && event->type() == QEvent::Resize) {
        fitWholeRows();
    }
    return QWidget::eventFilter(watched, event);
}

void TransferPanel::fitWholeRows()
{
    const int pitch = TransferJobDelegate::rowHeight(m_list->font());
    const int frame = 2 * m_list->frameWidth();
    const int rows = std::max(1, (m_listPage->height() - frame) / pitch);
    m_list->setGeometry(0, 0, m_listPage->width(), rows * pitch + frame);
}

void TransferPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    keepActiveRowInView(true);
}

void TransferPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    keepActiveRowInView(true);
}

void TransferPanel::scheduleRefresh()
{
    if (!m_refreshTimer.isActive()) {
        m_refreshTimer.start();
    }
}

void TransferPanel::refreshFromCoordinator()
{
    if (m_coordinator) {
        setJobs(m_coordinator->transferJobs());
    }
}

void TransferPanel::updateHeader()
{
    const TransferPanelSummary summary = TransferPanelSummary::of(m_model->jobs());
    const bool active = summary.activeCount > 0;
    const qsizetype counts[] = {summary.viewingCount, summary.runningCount, summary.waitingCount,
                                summary.confirmationCount, summary.cancellingCount};
    const QList<std::pair<QString, bool>> texts = summary.countTexts();
    qsizetype shown = 0;
    for (qsizetype slot = 0; slot < m_countLabels.size(); ++slot) {
        QLabel* label = m_countLabels.at(slot);
        if (!active || counts[slot] < 1) {
            label->hide();
            continue;
        }
        const std::pair<QString, bool>& text = texts.at(shown++);
        label->setText(text.first);
        label->setFont(ChromeStyle::caption(font()));
        QPalette palette = this->palette();
        palette.setColor(QPalette::WindowText,
                         text.second ? QColor(0xff, 0x95, 0x00) : ChromeStyle::secondaryText(palette));
        label->setPalette(palette);
        label->show();
    }
    const bool showBar = active && summary.overallFraction.has_value();
    if (showBar) {
        m_overallBar->setValue(static_cast<int>(*summary.overallFraction * 1000.0));
        m_percent->setText(TransferPanelSummary::percentText(*summary.overallFraction));
    }
    m_overallBar->setVisible(showBar);
    m_percent->setVisible(showBar);
    m_clearFinished->setVisible(summary.hasTerminalJobs);
    m_body->setCurrentIndex(m_model->rowCount() == 0 ? 0 : 1);
}

int TransferPanel::smallestHeight() const
{
    // The header is as tall as its tallest item, "Clear Finished" counted whether shown or not,
    // so that the smallest height does not change as jobs finish.
    const int header = std::max(m_title->sizeHint().height(), m_clearFinished->sizeHint().height());
    const int oneRow = TransferJobDelegate::rowHeight(m_list->font()) + 2 * m_list->frameWidth();
    return std::max(minimumHeight, 2 * panelInset + header + headerGap + oneRow);
}

void TransferPanel::setPanelHeight(int height)
{
    const int clamped = std::clamp(height, smallestHeight(), maximumHeight);
    if (clamped == m_height) {
        return;
    }
    m_height = clamped;
    setFixedHeight(m_height);
    Q_EMIT panelHeightChanged(m_height);
}

TransferPanelResizeHandle::TransferPanelResizeHandle(TransferPanel* panel, QWidget* parent)
    : QWidget(parent), m_panel(panel)
{
    setObjectName(QStringLiteral("transferPanelResizeHandle"));
    setFixedHeight(8);
    setCursor(Qt::SizeVerCursor);
}

void TransferPanelResizeHandle::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, height() / 2, width(), height() / 2);
}

void TransferPanelResizeHandle::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_panel) {
        m_dragStartHeight = m_panel->panelHeight();
        m_dragStartY = event->globalPosition().y();
    }
}

void TransferPanelResizeHandle::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragStartHeight && m_panel) {
        const qreal translation = event->globalPosition().y() - m_dragStartY;
        m_panel->setPanelHeight(static_cast<int>(std::lround(*m_dragStartHeight - translation)));
    }
}

void TransferPanelResizeHandle::mouseReleaseEvent(QMouseEvent* event)
{
    Q_UNUSED(event)
    m_dragStartHeight.reset();
}

} // namespace quillbarrow
