#include "MainWindow.h"

#include "Divider.h"
#include "PaneArea.h"
#include "PanePlaceholder.h"
#include "SidebarSplitter.h"
#include "TransferErrorStrip.h"
#include "WindowState.h"
#include "panes/LocalMessageStrip.h"
#include "panes/LocalPaneView.h"
#include "viewmodels/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QCloseEvent>
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
    stack->addWidget(new TransferErrorStrip(coordinator, detail));
    stack->addWidget(new LocalMessageStrip(localBrowser, coordinator, detail));
    m_paneArea = new PaneArea(m_state, buildMacPane(), buildAndroidPane(), detail);
    stack->addWidget(m_paneArea, 1);
    m_transferPanelDivider = new Divider(Qt::Horizontal, transferPanelGripHeight, detail);
    m_transferPanelDivider->setObjectName(QStringLiteral("transferPanelDivider"));
    m_transferPanelDivider->grip()->setObjectName(QStringLiteral("transferPanelGrip"));
    stack->addWidget(m_transferPanelDivider);
    m_transferPanel = buildTransferPanel();
    m_transferPanel->setFixedHeight(qRound(m_state->transferPanelHeight()));
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
    connect(m_state, &WindowState::transferPanelHeightChanged, this,
            [this] { m_transferPanel->setFixedHeight(qRound(m_state->transferPanelHeight())); });
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
    auto* sidebar = new PanePlaceholder(tr("Devices"),
                                        tr("Not built yet: the device list, the quick-start guide and the clipboard."));
    sidebar->setObjectName(QStringLiteral("sidebar"));
    return sidebar;
}

QWidget* MainWindow::buildErrorBanner()
{
    auto* banner = new PanePlaceholder(QString(), QString());
    banner->setObjectName(QStringLiteral("errorBanner"));
    const auto showBanner = [this, banner] {
        const std::optional<ErrorBanner>& shown = m_browser->errorBanner();
        banner->setTitle(shown ? shown->message : QString());
        banner->setNote(shown ? shown->detail : QString());
        banner->setVisible(shown.has_value());
    };
    connect(m_browser, &DeviceBrowserViewModel::errorBannerChanged, banner, showBanner);
    showBanner();
    return banner;
}

QWidget* MainWindow::buildMacPane()
{
    return new LocalPaneView(*m_localBrowser, *m_coordinator, *m_browser, *m_state);
}

QWidget* MainWindow::buildAndroidPane()
{
    auto* pane = new PanePlaceholder(QString(), tr("Not built yet: the device's folders."));
    pane->setObjectName(QStringLiteral("androidPane"));
    pane->followFocus(m_state, FocusedPane::android);
    // The title is the selected device's name, as the data gives it.
    const auto showTitle = [this, pane] {
        const std::optional<AndroidDevice>& device = m_browser->selectedDevice();
        pane->setTitle(device ? device->displayName : QStringLiteral("Android"));
    };
    connect(m_browser, &DeviceBrowserViewModel::selectedDeviceChanged, pane, showTitle);
    showTitle();
    return pane;
}

QWidget* MainWindow::buildTransferPanel()
{
    auto* panel = new PanePlaceholder(tr("Transfers"), tr("Not built yet: the transfer list."));
    panel->setObjectName(QStringLiteral("transferPanel"));
    return panel;
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_hasShown) {
        m_hasShown = true;
        runStartUpCalls();
    }
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
