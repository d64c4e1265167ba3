#pragma once

#include <QMainWindow>
#include <QPointer>

namespace quillbarrow {

class ConflictSheetPresenter;
class DeviceBrowserViewModel;
class DeviceSidebar;
class Divider;
class ErrorBannerView;
class LocalBrowserViewModel;
class LocalMessageStrip;
class PaneArea;
class TransferCoordinator;
class TransferErrorStrip;
class TransferPanel;
class WindowSheets;
class WindowState;

// A main window: the device sidebar beside a detail column that stacks, top to bottom, the device
// error banner (while the device browser has one), the transfer-error strip (while the
// coordinator has a last error), the two panes side by side with their split, the transfer
// panel's resize line and the transfer panel (its height kept within 80 and 520 by dragging the
// line). The window owns its WindowState; it computes nothing about files: every operation goes
// to the three view models, which all windows share.
//
// The first time the window shows, it gives the keyboard to the focused pane's table and runs the
// start-up calls: the device browser's start(), then the local browser's refresh() and
// startObservingVolumes(). Closing it says so through closed();
// the application decides what that means for the transfers.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int minimumWidth = 1200;
    static constexpr int minimumHeight = 720;
    static constexpr int sidebarMinimumWidth = 220;
    static constexpr int sidebarIdealWidth = 260;
    static constexpr int sidebarMaximumWidth = 340;
    static constexpr int detailMinimumWidth = 920;

    MainWindow(DeviceBrowserViewModel& browser, LocalBrowserViewModel& localBrowser, TransferCoordinator& coordinator,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    WindowState& state() const { return *m_state; }
    DeviceBrowserViewModel& deviceBrowser() const;
    LocalBrowserViewModel& localBrowser() const;
    TransferCoordinator& coordinator() const;
    PaneArea* paneArea() const { return m_paneArea; }
    DeviceSidebar* sidebar() const { return m_sidebar; }
    ErrorBannerView* errorBanner() const { return m_errorBanner; }
    TransferPanel* transferPanel() const { return m_transferPanel; }
    WindowSheets* sheets() const { return m_sheets; }
    ConflictSheetPresenter* conflictSheet() const { return m_conflictSheet; }

Q_SIGNALS:
    // The window has accepted a close; it is deleted soon after.
    void closed(quillbarrow::MainWindow* window);

protected:
    void showEvent(QShowEvent* event) override;
    // Tab and Shift+Tab walk the window's keyboard stops: the Mac pane's table, the Android pane's
    // table, the buttons of the device error banner, the "Dismiss" of the error strip shown, and the
    // sidebar's device list, skipping a stop that is hidden or takes no keyboard (no device listed,
    // no folder shown, no banner or strip).
    bool focusNextPrevChild(bool next) override;
    // The banner or a strip that hides while one of its buttons has the keyboard (pressed, or its
    // message cleared elsewhere) gives the keyboard back to the focused pane's table; so does a
    // banner button pressed from the keyboard while the banner stays.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The parts of the window, each made once by the constructor.
    QWidget* buildSidebar();
    QWidget* buildErrorBanner();
    QWidget* buildMacPane();
    QWidget* buildAndroidPane();
    TransferPanel* buildTransferPanel();
    // The new-folder, rename and delete dialogs and the conflict sheet, opened over this window.
    void buildSheets();
    void runStartUpCalls();
    // Gives the keyboard to the table of the pane marked focused.
    void focusFocusedPaneTable();
    // A widget Tab walks to, and the part of the window whose widgets count as being at it.
    struct KeyboardStop {
        QWidget* part;
        QWidget* widget;
    };
    // Every stop Tab may walk to, in order, whether it can take the keyboard now or not.
    QList<KeyboardStop> keyboardStops() const;

    QPointer<DeviceBrowserViewModel> m_browser;
    QPointer<LocalBrowserViewModel> m_localBrowser;
    QPointer<TransferCoordinator> m_coordinator;
    WindowState* m_state;
    PaneArea* m_paneArea = nullptr;
    Divider* m_transferPanelDivider = nullptr;
    DeviceSidebar* m_sidebar = nullptr;
    ErrorBannerView* m_errorBanner = nullptr;
    TransferErrorStrip* m_transferErrorStrip = nullptr;
    LocalMessageStrip* m_localMessageStrip = nullptr;
    TransferPanel* m_transferPanel = nullptr;
    WindowSheets* m_sheets = nullptr;
    ConflictSheetPresenter* m_conflictSheet = nullptr;
    bool m_hasShown = false;
};

} // namespace quillbarrow
