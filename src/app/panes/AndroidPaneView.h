#pragma once

#include "PaneFrame.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteObjectID.h"
#include "domain/SelectionSizeSummary.h"
#include "window/PaneKeyCommand.h"
#include "viewmodels/devicebrowser/DeviceConnectionPhase.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QMimeData;
class QStackedWidget;

namespace quillbarrow {

class AndroidBreadcrumbBar;
class AndroidStorageSwitcher;
class DefaultApplicationOpener;
class DeviceBrowserViewModel;
class DropTargetOverlay;
class EmptyStateView;
class LocalBrowserViewModel;
class OnboardingView;
class PaneHeader;
class PaneKeyMonitor;
class RemoteItemTable;
class SelectionPreflightStrip;
template <typename Browser, typename Item> class SelectionFacts;
class StatusCapsule;
class TransferCoordinator;
class WindowState;

// The phone's pane: the header (the device's name, toolbar, storage switcher, breadcrumb row and
// the selection strip), a rule and one of four contents, following the device browser:
//   - no device selected: the connect-a-device guide;
//   - a folder shown: its table, with a status capsule over it while the folder is being listed
//     or is an old listing shown during transfers;
//   - loading without a folder: a spinner with the connection's status line;
//   - otherwise: "No storage available".
// Double click or Return opens a folder, or downloads a file for viewing and hands the copy to the
// desktop's default application; Ctrl+C and Ctrl+V copy and paste through the in-app clipboard
// (device items pasted here go to the coordinator, which says the copy within the device is not
// supported); "Copy to Mac" downloads the selection into the folder the Mac pane shows. Rows
// dragged out carry a marker text and fill the in-app clipboard; local files dropped here (from
// the Mac pane or another application) are uploaded into the folder shown when they were
// dropped. Rename, delete and new folder ask the window for their sheets through the window
// state. The pane is tinted while it has the keyboard. Main thread.
class AndroidPaneView final : public PaneFrame {
    Q_OBJECT

  public:
    QWidget* keyboardTarget() const override;
    enum class Content { onboarding, table, loading, noStorage };

    // The status capsule over the table: its text and symbol.
    struct Status {
        QString text;
        QString symbol;
        bool operator==(const Status&) const = default;
    };

    AndroidPaneView(DeviceBrowserViewModel& browser, LocalBrowserViewModel& localBrowser,
                    TransferCoordinator& coordinator, WindowState& state, QWidget* parent = nullptr);
    ~AndroidPaneView() override;

    // Replaces the opener of downloaded files (by default the desktop's), so that tests launch
    // nothing.
    void setDefaultApplicationOpener(std::shared_ptr<DefaultApplicationOpener> opener);

    // Which content the device browser's state asks for: no device wins over everything, then a
    // shown folder, then loading.
    static Content contentFor(bool hasSelectedDevice, bool hasPage, bool isLoading);
    // The capsule over a shown folder, or none: waiting behind a transfer, listing the folder of a
    // connected device, the connection's own status line, or an old listing during transfers.
    static std::optional<Status> statusFor(bool isLoading, bool isWaitingForTransfer, DeviceConnectionPhase phase,
                                           bool isShowingStalePage, const QString& connectionStatusMessage);
    // The local files among the dropped addresses, in their order.
    static QList<QUrl> droppedFileUrls(const QMimeData* data);

    Content content() const;
    RemoteItemTable* table() const { return m_table; }
    StatusCapsule* statusCapsule() const { return m_capsule; }
    QLabel* loadingLabel() const { return m_loadingLabel; }
    EmptyStateView* emptyState() const { return m_empty; }
    SelectionPreflightStrip* selectionStrip() const { return m_strip; }
    QMenu* favoritesMenu() const { return m_favoritesMenu; }
    AndroidStorageSwitcher* storageSwitcher() const { return m_switcher; }
    AndroidBreadcrumbBar* breadcrumbBar() const { return m_breadcrumb; }

    const QSet<RemoteObjectID>& selection() const;
    void setSelection(QSet<RemoteObjectID> selection);
    // The listed items among the selection, in listing order.
    QList<RemoteItem> selectedItems() const;

    // "Copy to Mac" of the header: something selected, a session open, and the selection fits in
    // the Mac folder's free space (unmeasured folders and an unknown free space let it go).
    bool canSendSelectionToMac() const;
    // Ctrl+V and the menu's Paste may go: a folder shown, a session open and something on the
    // clipboard (device items go to the coordinator too, which refuses them with its message).
    bool canPaste() const;

    bool handleKey(PaneKeyCommand command);
    std::unique_ptr<QMenu> buildContextMenu(const QSet<RemoteObjectID>& rows);
    // Accepts local files dropped on the pane and starts their upload into the folder shown now;
    // false (nothing done) without a folder, a session or any local file.
    bool handleDrop(const QMimeData* data);
    void open(const RemoteItem& item);
    // Goes to the folder above the shown one; nothing at a storage root.
    QCoro::Task<> navigateUp();
    void copySelection();
    void paste();
    void sendToMac(const QList<RemoteItem>& items);

  protected:
    bool acceptsDrag(const QMimeData* data) const override;
    bool readsAsTaken(const QMimeData* data) const override;
    bool acceptDrop(const QMimeData* data) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the selection weighs, without a destination.
    SelectionSizeSummary selectionSummary() const;

    QWidget* buildContent();
    void wireToolbar();
    void wireTable();
    void selectionChanged();
    void updateContent();
    void updateHeader();
    void updateStrip();
    void placeCapsule();
    void updateSwitcherVisibility();
    bool mayCopyToMac(const QList<RemoteItem>& items) const;

    QPointer<DeviceBrowserViewModel> m_browser;
    QPointer<LocalBrowserViewModel> m_localBrowser;
    QPointer<TransferCoordinator> m_coordinator;
    std::shared_ptr<DefaultApplicationOpener> m_opener;
    AndroidStorageSwitcher* m_switcher;
    AndroidBreadcrumbBar* m_breadcrumb;
    SelectionPreflightStrip* m_strip;
    QMenu* m_favoritesMenu;
    QStackedWidget* m_content = nullptr;
    OnboardingView* m_onboarding = nullptr;
    QWidget* m_tableArea = nullptr;
    RemoteItemTable* m_table = nullptr;
    StatusCapsule* m_capsule = nullptr;
    QWidget* m_loading = nullptr;
    QLabel* m_loadingLabel = nullptr;
    EmptyStateView* m_empty = nullptr;
    // What the header and the strip show of the selection: the rows of its listed items.
    std::unique_ptr<SelectionFacts<DeviceBrowserViewModel, RemoteItem>> m_selectionFacts;
};

} // namespace quillbarrow
