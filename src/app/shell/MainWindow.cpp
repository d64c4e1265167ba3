#include "MainWindow.h"

#include "window/DetachedCall.h"
#include "Divider.h"
#include "PaneArea.h"
#include "SidebarSplitter.h"
#include "TransferErrorStrip.h"
#include "WindowSheets.h"
#include "window/WindowState.h"
#include "chrome/ConflictResolutionSheet.h"
#include "chrome/ConflictSheetPresenter.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/ServiceRestartAlert.h"
#include "chrome/TransferPanel.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalMessageStrip.h"
#include "panes/LocalPaneView.h"
#include "panes/PaneFrame.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {

// The transfer panel's line takes the mouse over 8 pixels.
constexpr int transferPanelGripHeight = 8;
// The size a new window opens with, where the screen allows.
constexpr QSize preferredSize(1440, 900);

} // namespace

MainWindow::MainWindow(DeviceBrowserViewModel& browser, LocalBrowserViewModel& localBrowser,
                       TransferCoordinator& coordinator, QWidget* parent)
    : QMainWindow(parent), m_browser(&browser), m_localBrowser(&localBrowser), m_coordinator(&coordinator),
      m_state(new WindowState(this))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Quillbarrow"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* columns = new SidebarSplitter(this);
    columns->setObjectName(QStringLiteral("sidebarSplit"));
    columns->setMinimumSize(minimumWidth, minimumHeight);

    QWidget* sidebar = buildSidebar();
    sidebar->setMinimumWidth(sidebarMinimumWidth);
    sidebar->setMaximumWidth(sidebarMaximumWidth);

    auto* detail = new QWidget(columns);
    detail->setObjectName(QStringLiteral("detailColumn"));
    detail->setMinimumWidth(detailMinimumWidth);
    auto* stack = new QVBoxLayout(detail);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(buildErrorBanner());
    m_transferErrorStrip = new TransferErrorStrip(coordinator, detail);
    m_localMessageStrip = new LocalMessageStrip(localBrowser, coordinator, detail);
    stack->addWidget(m_transferErrorStrip);
    stack->addWidget(m_localMessageStrip);
    m_errorBanner->installEventFilter(this);
    m_transferErrorStrip->installEventFilter(this);
    m_localMessageStrip->installEventFilter(this);
    m_paneArea = new PaneArea(m_state, buildMacPane(), buildAndroidPane(), detail);
    stack->addWidget(m_paneArea, 1);
    m_transferPanelDivider = new Divider(Qt::Horizontal, transferPanelGripHeight, detail);
    m_transferPanelDivider->setObjectName(QStringLiteral("transferPanelDivider"));
    m_transferPanelDivider->grip()->setObjectName(QStringLiteral("transferPanelGrip"));
    stack->addWidget(m_transferPanelDivider);
    m_transferPanel = buildTransferPanel();
    stack->addWidget(m_transferPanel);

    columns->addWidget(sidebar);
    columns->addWidget(detail);
    columns->setStretchFactor(0, 0);
    columns->setStretchFactor(1, 1);
    columns->setSizes({sidebarIdealWidth, preferredSize.width() - sidebarIdealWidth - 1});
    setCentralWidget(columns);
    resize(preferredSize);

    connect(m_transferPanelDivider, &Divider::dragged, m_state,
            [this](QPointF translation) { m_state->dragTransferPanel(translation.y()); });
    connect(m_transferPanelDivider, &Divider::dragFinished, m_state, &WindowState::endTransferPanelDrag);
    buildSheets();
}

MainWindow::~MainWindow() = default;

DeviceBrowserViewModel& MainWindow::deviceBrowser() const
{
    return *m_browser;
}

LocalBrowserViewModel& MainWindow::localBrowser() const
{
    return *m_localBrowser;
}

TransferCoordinator& MainWindow::coordinator() const
{
    return *m_coordinator;
}

QWidget* MainWindow::buildSidebar()
{
    m_sidebar = new DeviceSidebar(m_browser, m_coordinator);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    // Choosing a device under running transfers would close the session they use (M19).
    connect(m_sidebar, &DeviceSidebar::deviceChoiceRefused, m_browser,
            &DeviceBrowserViewModel::showTransfersStillActive);
    return m_sidebar;
}

QWidget* MainWindow::buildErrorBanner()
{
    // The banner follows the browser's errorBanner and dismisses through clearError() itself.
    m_errorBanner = new ErrorBannerView(m_browser);
    m_errorBanner->setObjectName(QStringLiteral("errorBanner"));
    // As tall as its wrapped lines, never stretched by the column.
    m_errorBanner->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    QPointer<DeviceBrowserViewModel> browser = m_browser;
    connect(m_errorBanner, &ErrorBannerView::retryRequested, this, [browser] {
        if (browser) {
            startDetached(browser->retrySelectedDevice());
        }
    });
    connect(m_errorBanner, &ErrorBannerView::quitConflictsRequested, this, [browser] {
        if (browser) {
            startDetached(browser->quitConflictingAppsAndRetry());
        }
    });
    connect(m_errorBanner, &ErrorBannerView::restartServicesConfirmed, this, [browser] {
        if (browser) {
            startDetached(browser->restartManagedServicesAndRetry());
        }
    });
    // A button pressed from the keyboard gives it back to the pane that had it, also when the banner
    // stays (a retry that fails again) or a question opens over the window (the restart alert: the
    // keyboard comes back to the window's focus widget as it closes).
    for (QPushButton* button : m_errorBanner->buttons()) {
        connect(button, &QPushButton::clicked, this, [this, button] {
            if (focusWidget() == button) {
                focusFocusedPaneTable();
            }
        });
    }
    return m_errorBanner;
}

QWidget* MainWindow::buildMacPane()
{
    return new LocalPaneView(*m_localBrowser, *m_coordinator, *m_browser, *m_state);
}

QWidget* MainWindow::buildAndroidPane()
{
    return new AndroidPaneView(*m_browser, *m_localBrowser, *m_coordinator, *m_state);
}

TransferPanel* MainWindow::buildTransferPanel()
{
    // The panel cancels a row's job and clears finished ones through the coordinator itself; its
    // height is the window state's, which the line above it drags within the same clamps.
    auto* panel = new TransferPanel(m_coordinator);
    panel->setObjectName(QStringLiteral("transferPanel"));
    panel->setPanelHeight(qRound(m_state->transferPanelHeight()));
    connect(m_state, &WindowState::transferPanelHeightChanged, panel,
            [this, panel] { panel->setPanelHeight(qRound(m_state->transferPanelHeight())); });
    return panel;
}

void MainWindow::buildSheets()
{
    m_sheets = new WindowSheets(this, m_state, m_browser, m_localBrowser);
    m_conflictSheet = new ConflictSheetPresenter(m_coordinator, this);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_hasShown) {
        m_hasShown = true;
        // Arrows and Return work from the first moment: the focused pane's table has the keyboard.
        focusFocusedPaneTable();
        runStartUpCalls();
    }
}

void MainWindow::focusFocusedPaneTable()
{
    const auto* pane = qobject_cast<const PaneFrame*>(
        m_state->focusedPane() == FocusedPane::mac ? m_paneArea->macPane() : m_paneArea->androidPane());
    if (pane != nullptr && pane->keyboardTarget() != nullptr) {
        pane->keyboardTarget()->setFocus(Qt::OtherFocusReason);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Only the banner and the strips are watched. Qt would hand the keyboard of a widget that hides
    // to the first stop, the Mac table, where the next Delete asked about the Mac selection.
    const auto* strip = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::Hide && strip != nullptr &&
        strip->isAncestorOf(QApplication::focusWidget())) {
        focusFocusedPaneTable();
    }
    return QMainWindow::eventFilter(watched, event);
}

QList<MainWindow::KeyboardStop> MainWindow::keyboardStops() const
{
    const auto tableOf = [](QWidget* pane) -> QWidget* {
        const auto* frame = qobject_cast<const PaneFrame*>(pane);
        return frame != nullptr ? frame->keyboardTarget() : nullptr;
    };
    QList<KeyboardStop> stops{{m_paneArea->macPane(), tableOf(m_paneArea->macPane())},
                              {m_paneArea->androidPane(), tableOf(m_paneArea->androidPane())}};
    for (QPushButton* button : m_errorBanner->buttons()) {
        stops.append(KeyboardStop{button, button});
    }
    stops.append(KeyboardStop{m_transferErrorStrip, m_transferErrorStrip->dismissButton()});
    stops.append(KeyboardStop{m_localMessageStrip, m_localMessageStrip->dismissButton()});
    stops.append(KeyboardStop{m_sidebar, m_sidebar->deviceList()});
    return stops;
}

bool MainWindow::focusNextPrevChild(bool next)
{
    const QList<KeyboardStop> stops = keyboardStops();
    const auto takesKeyboard = [](const QWidget* widget) {
        return widget != nullptr && widget->isVisible() && widget->isEnabled() &&
               widget->focusPolicy() != Qt::NoFocus;
    };
    // Where the keyboard is now: one of the stops (also one hiding as it has the keyboard), or a
    // widget inside a pane or the sidebar (a button, the path editor), which counts as that part's stop.
    const QWidget* focus = QApplication::focusWidget();
    qsizetype current = -1;
    for (qsizetype index = 0; index < stops.size() && focus != nullptr && current < 0; ++index) {
        if (stops[index].widget == focus) {
            current = index;
        }
    }
    for (qsizetype index = 0; index < stops.size() && focus != nullptr && current < 0; ++index) {
        if (stops[index].part->isAncestorOf(focus)) {
            current = index;
        }
    }
    const qsizetype count = stops.size();
    for (qsizetype step = 1; step <= count; ++step) {
        const qsizetype start = current < 0 ? (next ? -1 : count) : current;
        const qsizetype index = ((start + (next ? step : -step)) % count + count) % count;
        if (takesKeyboard(stops[index].widget)) {
            stops[index].widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

void MainWindow::runStartUpCalls()
{
    // Each call only starts work of its own and returns at once.
    m_browser->start();
    m_localBrowser->refresh();
    m_localBrowser->startObservingVolumes();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        Q_EMIT closed(this);
    }
}

} // namespace quillbarrow
