#include "LocalPaneView.h"
#include "domain/LocalPath.h"

#include "MacNavigation.h"
#include "PaneHeader.h"
#include "SelectionFacts.h"
#include "SelectionPreflightStrip.h"
#include "domain/QuillbarrowError.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "window/DetachedCall.h"
#include "window/PaneKeyMonitor.h"
#include "window/WindowState.h"
#include "table/FileContextMenu.h"
#include "table/LocalItemTable.h"
#include "table/NativeTablePasteboardItem.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/XdgDefaultApplicationOpener.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>

namespace quillbarrow {

namespace {

// Pastes the clipboard into `folder`, then lists the folder again whether or not it went well
// (failures are the coordinator's last error).
QCoro::Task<> runPaste(QPointer<TransferCoordinator> coordinator, QPointer<LocalBrowserViewModel> browser,
                       QUrl folder, std::shared_ptr<DeviceSession> session)
{
    try {
        if (coordinator) {
            co_await coordinator->pasteIntoLocal(folder, session);
        }
    } catch (...) {
        // The coordinator never throws; nothing may escape a task nobody awaits.
    }
    if (browser) {
        browser->reloadCurrentDirectory();
    }
}

// Copies `urls` into the device folder as captured when the command was given, then lists the
// device folder again.
QCoro::Task<> runSendToAndroid(QPointer<TransferCoordinator> coordinator,
                               QPointer<DeviceBrowserViewModel> device, QList<QUrl> urls,
                               std::optional<RemoteObjectID> parentID, StorageID storageID,
                               std::shared_ptr<DeviceSession> session)
{
    try {
        if (!coordinator) {
            co_return;
        }
        coordinator->clipboard()->copyLocal(urls);
        co_await coordinator->pasteIntoDevice(parentID, storageID, session);
        if (device) {
            co_await device->reloadCurrentPage();
        }
    } catch (...) {
        // Failures are the coordinator's and the device browser's to show.
    }
}

// The shown folder's name for the drop overlay: its last component, or the whole path for the
// root ("/") and other folders whose address ends in a "/".
QString folderName(const QUrl& folder)
{
    const QString path = LocalPath::shown(LocalPath::fromUrl(folder));
    const QString last = QDir(path).dirName();
    return last.isEmpty() || path == QStringLiteral("/") ? path : last;
}

// Hands a Mac file to the desktop's opener without waiting for it here; a file no application
// took is reported.
QCoro::Task<> runOpenLocalFile(QPointer<TransferCoordinator> coordinator, std::shared_ptr<DefaultApplicationOpener> opener,
                               LocalItem item)
{
    try {
        if (opener) {
            QCoro::Task<bool> opening = opener->open(LocalPath::fromUrl(item.id));
            if (co_await std::move(opening)) {
                co_return;
            }
        }
        if (coordinator) {
            coordinator->reportError(QuillbarrowError::fileOpenFailed(
                item.name, QStringLiteral("No compatible Mac application is available.")));
        }
    } catch (...) {
        // Nothing may escape a task nobody awaits.
    }
}

} // namespace

LocalPaneView::LocalPaneView(LocalBrowserViewModel& browser, TransferCoordinator& coordinator,
                             DeviceBrowserViewModel& deviceBrowser, WindowState& state, QWidget* parent)
    : PaneFrame(FocusedPane::mac, state, parent), m_browser(&browser), m_coordinator(&coordinator),
      m_deviceBrowser(&deviceBrowser), m_opener(std::make_shared<XdgDefaultApplicationOpener>())
{
    setObjectName(QStringLiteral("macPane"));

    auto* header = new PaneHeader(QStringLiteral("laptopcomputer"), tr("This Mac"), tr("Favorite folders"),
                                  tr("Copy to Android"), QStringLiteral("arrow.right"),
                                  tr("Copy selected Mac items to the current Android folder"));
    const auto clearSelection = [this] { setSelection({}); };
    m_switcher = new VolumesSwitcher(browser, clearSelection);
    header->setSwitcher(m_switcher);
    m_breadcrumb = new MacBreadcrumbBar(browser);
    header->setNavigation(m_breadcrumb);
    // The path editor closing would let the keyboard fall to the next widget of the window, the
    // phone's table: it comes back to this pane's table instead.
    connect(m_breadcrumb, &MacBreadcrumbBar::keyboardReturned, this, [this] {
        if (m_table->isVisible()) {
            m_table->setFocus(Qt::OtherFocusReason);
        }
    });
    m_strip = new SelectionPreflightStrip;
    m_strip->setObjectName(QStringLiteral("macSelectionStrip"));
    header->setStrip(m_strip);
    connect(m_strip, &SelectionPreflightStrip::calculateRequested, this, [this] {
        if (m_browser) {
            m_browser->calculateFolderSizes(selectedItems());
        }
    });
    m_favoritesMenu = new QMenu(this);
    m_favoritesMenu->setObjectName(QStringLiteral("localFavoritesMenu"));
    header->setFavoritesMenu(m_favoritesMenu);
    connect(m_favoritesMenu, &QMenu::aboutToShow, this, [this, clearSelection] {
        if (m_browser) {
            fillLocalFavoritesMenu(m_favoritesMenu, *m_browser, clearSelection);
        }
    });
    // Filled at every opening only: refilling on a change of the favourites would delete the
    // very action ("Add Current Folder") whose trigger caused the change.
    fillLocalFavoritesMenu(m_favoritesMenu, browser, clearSelection);

    m_table = new LocalItemTable(browser, this);
    // The table shows the listed items of the selection selected, in the browser's order.
    m_selectionFacts = std::make_unique<SelectionFacts<LocalBrowserViewModel, LocalItem>>(
        *m_table, [this] { return m_table->selectedRowSpans(); });

    auto* overlay = new DropTargetOverlay(tr("Drop Android items here"), QString(), this);
    overlay->setObjectName(QStringLiteral("macDropOverlay"));
    assemble(header, m_table, overlay, [this](PaneKeyCommand command) { return handleKey(command); });

    // Toolbar.
    connect(header->parentButton(), &QToolButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->navigateUp();
        }
    });
    connect(header->refreshButton(), &QToolButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->refresh();
        }
    });
    connect(header->newFolderButton(), &QToolButton::clicked, this, [this] {
        if (m_state) {
            m_state->setShowingNewFolderLocal(true);
        }
    });
    connect(header->hiddenFilesButton(), &QToolButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->setShowHiddenFiles(!m_browser->showHiddenFiles());
        }
    });
    connect(header->copyButton(), &QPushButton::clicked, this, [this] { sendToAndroid(selectedItems()); });

    // Table.
    m_table->setOnPrimaryAction([this](const LocalItem& item) { open(item); });
    m_table->setMenuForSelection([this](const QSet<QUrl>& rows) { return buildContextMenu(rows); });
    m_table->setOnSelectionChanged([this](const QSet<QUrl>&) { selectionChanged(); });
    // Each dragged row carries its file address (the table's default); the dragged items are put
    // on the in-app clipboard once, when the drag starts.
    m_table->itemModel()->setOnDragStart([this](const QList<LocalItem>& rows) {
        focusPane();
        // Dragged selected rows take the whole selection; a row outside the selection travels
        // alone and the selection stays as it is. The last dragged row tells which.
        const LocalItem& row = rows.constLast();
        copy(selection().contains(row.id) ? selectedItems() : QList<LocalItem>{row});
    });
    connect(m_table, &NativeTableView::mouseDown, this, &LocalPaneView::focusPane);

    // Everything the header, the strip and the overlay show follows the view models.
    for (auto signal : {&LocalBrowserViewModel::currentDirectoryChanged, &LocalBrowserViewModel::itemsChanged,
                        &LocalBrowserViewModel::showHiddenFilesChanged,
                        &LocalBrowserViewModel::calculatingFolderSizeIDsChanged}) {
        connect(&browser, signal, this, [this, signal] {
            // Only other rows change which items are selected; anything else may have measured
            // folders, whose sizes the selection's weight takes in. Which folders are being
            // measured changes neither the selected items nor their sizes.
            if (signal == &LocalBrowserViewModel::itemsChanged && !(m_browser && m_browser->filledInRows())) {
                m_selectionFacts->forget();
            } else if (signal != &LocalBrowserViewModel::calculatingFolderSizeIDsChanged) {
                m_selectionFacts->forgetSizes();
            }
            updateHeader();
            updateStrip();
            updateDropOverlay();
        });
    }
    connect(&browser, &LocalBrowserViewModel::locationsChanged, this,
            &LocalPaneView::updateSwitcherVisibility);
    // A selected item renamed stays selected: its new address joins the selection before the rows
    // under the new name are shown, and the old one leaves with its row.
    connect(&browser, &LocalBrowserViewModel::itemRenamed, this, [this](const QUrl& from, const QUrl& to) {
        if (selection().contains(from)) {
            QSet<QUrl> kept = selection();
            kept.insert(to);
            setSelection(std::move(kept));
        }
    });
    connect(&deviceBrowser, &DeviceBrowserViewModel::currentPageChanged, this, &LocalPaneView::updateHeader);
    connect(&state, &WindowState::focusedPaneChanged, this, &LocalPaneView::updateHeader);
    connect(coordinator.clipboard(), &Clipboard::contentsChanged, this, &LocalPaneView::updateDropOverlay);
    updateSwitcherVisibility();
    updateHeader();
    updateStrip();
    updateDropOverlay();
}

LocalPaneView::~LocalPaneView() = default;

QWidget* LocalPaneView::keyboardTarget() const
{
    return m_table;
}

void LocalPaneView::setDefaultApplicationOpener(std::shared_ptr<DefaultApplicationOpener> opener)
{
    m_opener = std::move(opener);
}

const QSet<QUrl>& LocalPaneView::selection() const
{
    return m_table->selection();
}

void LocalPaneView::setSelection(QSet<QUrl> selection)
{
    const bool changed = selection != m_table->selection();
    m_table->setSelection(std::move(selection));
    if (changed) {
        selectionChanged();
    }
}

QList<LocalItem> LocalPaneView::selectedItems() const
{
    return m_selectionFacts->items();
}

SelectionSizeSummary LocalPaneView::selectionSummary() const
{
    return m_selectionFacts->summary(m_browser);
}

bool LocalPaneView::canSend(const QList<LocalItem>& items) const
{
    if (items.isEmpty() || !m_browser || !m_deviceBrowser) {
        return false;
    }
    const std::optional<DirectoryPage>& page = m_deviceBrowser->currentPage();
    if (!page || !m_deviceBrowser->currentSession()) {
        return false;
    }
    QSet<QUrl> ids;
    for (const LocalItem& item : items) {
        ids.insert(item.id);
    }
    return SelectionPreflightStrip::allowsCopy(m_browser->selectionSummary(ids, page->storage.freeSpace));
}

bool LocalPaneView::allowsSend(SelectionSizeSummary summary) const
{
    if (!summary.hasSelection() || !m_browser || !m_deviceBrowser) {
        return false;
    }
    const std::optional<DirectoryPage>& page = m_deviceBrowser->currentPage();
    if (!page || !m_deviceBrowser->currentSession()) {
        return false;
    }
    summary.destinationFreeBytes = page->storage.freeSpace;
    return SelectionPreflightStrip::allowsCopy(summary);
}

bool LocalPaneView::canSendSelectionToAndroid() const
{
    return !selection().isEmpty() && allowsSend(selectionSummary());
}

void LocalPaneView::selectionChanged()
{
    m_selectionFacts->forget();
    // Rows that left the listing leave the selection without the pane taking the keyboard.
    if (!m_table->isDroppingUnlistedSelection()) {
        focusPane();
    }
    if (m_browser) {
        m_browser->precalculateFolderSizesIfAccessible(selectedItems());
    }
    updateHeader();
    updateStrip();
}

void LocalPaneView::copy(const QList<LocalItem>& items)
{
    QList<QUrl> urls;
    for (const LocalItem& item : items) {
        urls.append(item.id);
    }
    if (m_coordinator) {
        m_coordinator->clipboard()->copyLocal(urls);
    }
}

void LocalPaneView::copySelection()
{
    copy(selectedItems());
}

void LocalPaneView::paste()
{
    if (!m_browser || !m_coordinator) {
        return;
    }
    const QUrl folder = m_browser->currentDirectory();
    std::shared_ptr<DeviceSession> session = m_deviceBrowser ? m_deviceBrowser->currentSession() : nullptr;
    QCoro::Task<> task = runPaste(m_coordinator, m_browser, folder, std::move(session));
    Q_UNUSED(task) // runs to its end by itself; nothing cancels it
}

void LocalPaneView::sendToAndroid(const QList<LocalItem>& items)
{
    if (!canSend(items)) {
        return;
    }
    const DirectoryPage page = *m_deviceBrowser->currentPage();
    QList<QUrl> urls;
    for (const LocalItem& item : items) {
        urls.append(item.id);
    }
    QCoro::Task<> task = runSendToAndroid(m_coordinator, m_deviceBrowser, urls, page.parentID,
                                          page.storage.id, m_deviceBrowser->currentSession());
    Q_UNUSED(task) // runs to its end by itself; nothing cancels it
}

void LocalPaneView::open(const LocalItem& item)
{
    if (item.kind == RemoteItemKind::folder) {
        if (m_browser) {
            m_browser->navigateTo(item.id);
        }
        return;
    }
    startDetached(runOpenLocalFile(m_coordinator, m_opener, item));
}

bool LocalPaneView::handleKey(PaneKeyCommand command)
{
    if (!m_state || m_state->focusedPane() != FocusedPane::mac || !m_browser) {
        return false;
    }
    switch (command) {
    case PaneKeyCommand::copy:
        copySelection();
        return true;
    case PaneKeyCommand::paste:
        paste();
        return true;
    case PaneKeyCommand::selectAll:
        // The table selects every row as one range and writes the selection into the binding on
        // the next turn, as for a selection made with the mouse: no id is looked up on the way.
        m_table->selectAll();
        return true;
    case PaneKeyCommand::parentFolder:
        m_browser->navigateUp();
        return true;
    case PaneKeyCommand::refresh:
        m_browser->refresh();
        return true;
    case PaneKeyCommand::deleteSelection:
        if (selection().isEmpty()) {
            return false;
        }
        m_state->setLocalDeleteTargets(selectedItems());
        return true;
    case PaneKeyCommand::openSelection: {
        const QList<LocalItem> items = selectedItems();
        if (items.size() != 1) {
            return false;
        }
        open(items.front());
        return true;
    }
    }
    return false;
}

std::unique_ptr<QMenu> LocalPaneView::buildContextMenu(const QSet<QUrl>& rows)
{
    QList<LocalItem> targets;
    if (m_browser) {
        for (const LocalItem& item : m_browser->items()) {
            if (rows.contains(item.id)) {
                targets.append(item);
            }
        }
    }
    FileContextMenu<LocalItem> menu;
    menu.sendTitle = tr("Copy to Android");
    menu.open = [this](const LocalItem& item) { open(item); };
    menu.calculateFolderSizes = [this](const QList<LocalItem>& folders) {
        if (m_browser) {
            m_browser->calculateFolderSizes(folders);
        }
    };
    menu.copy = [this](const QList<LocalItem>& items) { copy(items); };
    menu.canSend = [this](const QList<LocalItem>& items) { return canSend(items); };
    menu.send = [this](const QList<LocalItem>& items) { sendToAndroid(items); };
    menu.canPaste = [this] {
        return m_coordinator &&
               m_coordinator->clipboard()->contents().kind() != ClipboardContents::Kind::empty;
    };
    menu.paste = [this] { paste(); };
    menu.rename = [this](const LocalItem& item) {
        if (m_state) {
            m_state->setLocalRenameTarget(item);
        }
    };
    menu.deleteItems = [this](const QList<LocalItem>& items) {
        if (m_state) {
            m_state->setLocalDeleteTargets(items);
        }
    };
    return menu.build(targets);
}

void LocalPaneView::updateHeader()
{
    if (!m_browser || !m_state) {
        return;
    }
    header()->setSelectionCount(static_cast<int>(selection().size()));
    header()->setFocusedCaptionShown(m_state->focusedPane() == FocusedPane::mac);
    header()->setHiddenFilesShown(m_browser->showHiddenFiles());
    const QString path = m_browser->currentDirectory().toLocalFile();
    const QString parentPath =
        m_browser->currentDirectory().adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash).toLocalFile();
    header()->parentButton()->setEnabled(!path.isEmpty() && path != QStringLiteral("/") &&
                                         parentPath != path);
    header()->copyButton()->setEnabled(canSendSelectionToAndroid());
}

void LocalPaneView::updateStrip()
{
    if (!m_browser) {
        return;
    }
    SelectionPreflight preflight;
    preflight.summary = selectionSummary();
    preflight.storageName = tr("This Mac");
    preflight.storageIcon = QStringLiteral("laptopcomputer");
    preflight.freeBytes = m_browser->currentDirectoryAvailableBytes();
    preflight.capacityBytes = m_browser->currentDirectoryCapacityBytes();
    // The folders being measured are few beside a big selection: look them up in it, not the
    // other way round.
    const QSet<QUrl>& measuring = m_browser->calculatingFolderSizeIDs();
    preflight.isCalculating = std::any_of(measuring.begin(), measuring.end(), [this](const QUrl& folder) {
        return selection().contains(folder) && m_table->itemModel()->rowOf(folder).has_value();
    });
    m_strip->setPreflight(preflight);
}

void LocalPaneView::updateSwitcherVisibility()
{
    const bool shown = m_browser && m_browser->locations().size() >= 2;
    m_switcher->parentWidget()->setVisible(shown);
}

bool LocalPaneView::clipboardHoldsDeviceFiles() const
{
    return m_coordinator &&
           m_coordinator->clipboard()->contents().kind() == ClipboardContents::Kind::deviceFiles;
}

void LocalPaneView::updateDropOverlay()
{
    if (m_browser) {
        dropOverlay()->setTexts(tr("Drop Android items here"),
                                tr("They will be copied to ") + folderName(m_browser->currentDirectory()));
    }
    dropOverlay()->setTargeted(isDropTargeted() && clipboardHoldsDeviceFiles());
}

// Only the Android pane's own drag is taken: its rows carry the marker text and their items
// travel on the in-app clipboard. Any other text (from another application, even while device
// items wait on the clipboard) and Mac rows dragged here are refused, and the overlay stays
// hidden.
bool LocalPaneView::acceptsDrag(const QMimeData* data) const
{
    // What the clipboard holds is asked at every move: it may change during the drag.
    return draggedContentTaken(data) && clipboardHoldsDeviceFiles();
}

bool LocalPaneView::readsAsTaken(const QMimeData* data) const
{
    return data->hasText() && data->text() == NativeTablePasteboardItem::androidDragMarker();
}

bool LocalPaneView::acceptDrop(const QMimeData* data)
{
    if (!acceptsDrag(data)) {
        return false;
    }
    paste();
    return true;
}

} // namespace quillbarrow
