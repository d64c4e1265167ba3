#pragma once

#include "PaneFrame.h"
#include "domain/LocalItem.h"
#include "domain/SelectionSizeSummary.h"
#include "window/PaneKeyCommand.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <optional>

class QMenu;

namespace quillbarrow {

class DefaultApplicationOpener;
class DeviceBrowserViewModel;
class DropTargetOverlay;
class LocalBrowserViewModel;
class LocalItemTable;
class MacBreadcrumbBar;
class PaneHeader;
class PaneKeyMonitor;
class SelectionPreflightStrip;
template <typename Browser, typename Item> class SelectionFacts;
class TransferCoordinator;
class VolumesSwitcher;
class WindowState;

// The computer's pane: the header (title, toolbar, volumes switcher, breadcrumb bar and the
// selection strip), a rule and the table of the local browser's current folder. Double click or
// Return opens a folder or hands a file to the desktop's default application; Ctrl+C and Ctrl+V
// copy and paste through the in-app clipboard; "Copy to Android" copies the selection into the
// device folder the other pane shows. Rows dragged out fill the in-app clipboard; device rows
// dropped here (their drag carries a plain-text marker) are downloaded into the shown folder.
// Rename, delete and new folder ask the window for their sheets through the window state. The
// pane is tinted while it has the keyboard. Main thread.
class LocalPaneView final : public PaneFrame {
    Q_OBJECT

  public:
    QWidget* keyboardTarget() const override;
    LocalPaneView(LocalBrowserViewModel& browser, TransferCoordinator& coordinator,
                  DeviceBrowserViewModel& deviceBrowser, WindowState& state, QWidget* parent = nullptr);
    ~LocalPaneView() override;

    // Replaces the opener of files (by default the desktop's), so that tests launch nothing.
    void setDefaultApplicationOpener(std::shared_ptr<DefaultApplicationOpener> opener);

    LocalItemTable* table() const { return m_table; }
    SelectionPreflightStrip* selectionStrip() const { return m_strip; }
    VolumesSwitcher* volumesSwitcher() const { return m_switcher; }
    MacBreadcrumbBar* breadcrumbBar() const { return m_breadcrumb; }
    QMenu* favoritesMenu() const { return m_favoritesMenu; }

    const QSet<QUrl>& selection() const;
    void setSelection(QSet<QUrl> selection);
    // The listed items among the selection, in listing order.
    QList<LocalItem> selectedItems() const;

    bool canSendSelectionToAndroid() const;
    // Whether "Copy to Android" may go for these items now: a device folder is shown, a session is
    // open, the list is not empty and the items fit in the storage's free space (unmeasured
    // folders and an unknown free space let the copy go ahead).
    bool canSend(const QList<LocalItem>& items) const;

    bool handleKey(PaneKeyCommand command);
    std::unique_ptr<QMenu> buildContextMenu(const QSet<QUrl>& rows);
    void open(const LocalItem& item);
    void paste();
    void copy(const QList<LocalItem>& items);
    void copySelection();
    void sendToAndroid(const QList<LocalItem>& items);

  protected:
    bool acceptsDrag(const QMimeData* data) const override;
    // Whether a drag carries the Android pane's marker text.
    bool readsAsTaken(const QMimeData* data) const override;
    bool acceptDrop(const QMimeData* data) override;
    void updateDropOverlay() override;

  private:
    // What the selection weighs, without a destination.
    SelectionSizeSummary selectionSummary() const;
    bool allowsSend(SelectionSizeSummary summary) const;

    void selectionChanged();
    void updateHeader();
    void updateStrip();
    void updateSwitcherVisibility();
    bool clipboardHoldsDeviceFiles() const;

    QPointer<LocalBrowserViewModel> m_browser;
    QPointer<TransferCoordinator> m_coordinator;
    QPointer<DeviceBrowserViewModel> m_deviceBrowser;
    std::shared_ptr<DefaultApplicationOpener> m_opener;
    LocalItemTable* m_table;
    SelectionPreflightStrip* m_strip;
    VolumesSwitcher* m_switcher;
    MacBreadcrumbBar* m_breadcrumb;
    QMenu* m_favoritesMenu;
    // What the header and the strip show of the selection: the rows shown selected.
    std::unique_ptr<SelectionFacts<LocalBrowserViewModel, LocalItem>> m_selectionFacts;
};

} // namespace quillbarrow
