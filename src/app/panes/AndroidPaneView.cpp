#include "AndroidPaneView.h"

#include "AndroidNavigation.h"
#include "PaneHeader.h"
#include "SelectionFacts.h"
#include "SelectionPreflightStrip.h"
#include "chrome/OnboardingView.h"
#include "domain/QuillbarrowError.h"
#include "panes/blocks/BusySpinner.h"
#include "panes/blocks/DropTargetOverlay.h"
#include "panes/blocks/EmptyStateView.h"
#include "panes/blocks/StatusCapsule.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "window/DetachedCall.h"
#include "window/PaneKeyMonitor.h"
#include "window/WindowState.h"
#include "table/FileContextMenu.h"
#include "table/NativeTablePasteboardItem.h"
#include "table/RemoteItemTable.h"
#include "transport/DirectoryPage.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/transfers/XdgDefaultApplicationOpener.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QDragEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quillbarrow {

namespace {

// The capsule keeps this much room above it.
constexpr int capsuleTopMargin = 8;

// Pastes the clipboard into the device folder captured when the command was given, then lists
// the device folder again once the transfers are over, whether or not the paste went well
// (failures are the coordinator's last error and its failed jobs).
QCoro::Task<> runPasteIntoDevice(QPointer<TransferCoordinator> coordinator, QPointer<DeviceBrowserViewModel> browser,
                                 std::optional<RemoteObjectID> parentID, StorageID storageID,
                                 std::shared_ptr<DeviceSession> session)
{
    try {
        if (coordinator) {
            QCoro::Task<> paste = coordinator->pasteIntoDevice(parentID, storageID, session);
            co_await std::move(paste);
        }
        if (browser) {
            QCoro::Task<> reload = browser->reloadCurrentPage();
            co_await std::move(reload);
        }
    } catch (...) {
        // The coordinator never throws and the reload reports its own failures; nothing may
        // escape a task nobody awaits.
    }
}

// Downloads `items` into the Mac folder captured when the command was given, then lists that
// folder again.
QCoro::Task<> runSendToMac(QPointer<TransferCoordinator> coordinator, QPointer<LocalBrowserViewModel> localBrowser,
                           QList<RemoteItem> items, StorageID storageID, QUrl destination,
                           std::shared_ptr<DeviceSession> session)
{
    try {
        if (!coordinator) {
            co_return;
        }
        coordinator->clipboard()->copyDevice(items, storageID);
        QCoro::Task<> paste = coordinator->pasteIntoLocal(destination, session);
        co_await std::move(paste);
    } catch (...) {
        // Failures are the coordinator's to show.
    }
    if (localBrowser) {
        localBrowser->reloadCurrentDirectory();
    }
}

// Downloads a device file into the opened-files cache and hands the copy to the opener; a copy
// no application takes is reported. A failed download was reported by the coordinator.
QCoro::Task<> runOpenFile(QPointer<TransferCoordinator> coordinator, std::shared_ptr<DefaultApplicationOpener> opener,
                          RemoteItem item, std::shared_ptr<DeviceSession> session)
{
    try {
        if (!coordinator) {
            co_return;
        }
        QCoro::Task<std::optional<QUrl>> download = coordinator->downloadFileForOpening(item, session);
        const std::optional<QUrl> copy = co_await std::move(download);
        if (!copy || !coordinator) {
            co_return;
        }
        if (opener) {
            QCoro::Task<bool> opening = opener->open(copy->toLocalFile());
            if (co_await std::move(opening)) {
                co_return;
            }
        }
        if (!coordinator) {
            co_return;
        }
        coordinator->reportError(QuillbarrowError::fileOpenFailed(
            item.name, QStringLiteral("No compatible Mac application is available.")));
    } catch (...) {
        // The coordinator never throws; nothing may escape a task nobody awaits.
    }
}

QCoro::Task<> runNavigateUp(QPointer<DeviceBrowserViewModel> browser)
{
    if (!browser || browser->breadcrumb().size() < 2) {
        co_return;
    }
    const QList<RemotePath>& crumbs = browser->breadcrumb();
    QCoro::Task<> navigation = browser->navigate(crumbs.at(crumbs.size() - 2));
    co_await std::move(navigation);
}

} // namespace

AndroidPaneView::AndroidPaneView(DeviceBrowserViewModel& browser, LocalBrowserViewModel& localBrowser,
                                 TransferCoordinator& coordinator, WindowState& state, QWidget* parent)
    : PaneFrame(FocusedPane::android, state, parent), m_browser(&browser), m_localBrowser(&localBrowser),
      m_coordinator(&coordinator), m_opener(std::make_shared<XdgDefaultApplicationOpener>())
{
    setObjectName(QStringLiteral("androidPane"));

    // The title is the device's name as the data gives it, set by updateHeader().
    auto* header = new PaneHeader(QStringLiteral("iphone.gen3"), QStringLiteral("Android"),
                                  tr("Favorite Android folders"), tr("Copy to Mac"), QStringLiteral("arrow.left"),
                                  tr("Copy selected Android items to the current Mac folder"));
    // Another storage or a favourite folder starts with nothing selected.
    const auto clearSelection = [this] { setSelection({}); };
    m_switcher = new AndroidStorageSwitcher(browser, clearSelection);
    m_switcher->setObjectName(QStringLiteral("androidStorageSwitcher"));
    header->setSwitcher(m_switcher);
    m_breadcrumb = new AndroidBreadcrumbBar(browser);
    m_breadcrumb->setObjectName(QStringLiteral("androidBreadcrumbBar"));
    header->setNavigation(m_breadcrumb);
    m_strip = new SelectionPreflightStrip;
    m_strip->setObjectName(QStringLiteral("androidSelectionStrip"));
    header->setStrip(m_strip);
    m_favoritesMenu = new QMenu(this);
    m_favoritesMenu->setObjectName(QStringLiteral("androidFavoritesMenu"));
    header->setFavoritesMenu(m_favoritesMenu);
    // Filled at every opening only: refilling on a change of the favourites would delete the
    // very action ("Add Current Folder") whose trigger caused the change.
    connect(m_favoritesMenu, &QMenu::aboutToShow, this, [this, clearSelection] {
        if (m_browser) {
            fillAndroidFavoritesMenu(m_favoritesMenu, *m_browser, clearSelection);
        }
    });
    fillAndroidFavoritesMenu(m_favoritesMenu, browser, clearSelection);

    auto* overlay = new DropTargetOverlay(tr("Drop Mac items here"),
                                          tr("They will be copied to the current Android folder"), this);
    overlay->setObjectName(QStringLiteral("androidDropOverlay"));
    assemble(header, buildContent(), overlay, [this](PaneKeyCommand command) { return handleKey(command); });
    // The table lists the browser's items in the browser's order.
    m_selectionFacts = std::make_unique<SelectionFacts<DeviceBrowserViewModel, RemoteItem>>(
        *m_table, [this] { return m_table->rowSpansOf(selection()); });

    wireToolbar();
    wireTable();

    // The content, the header and the strip follow the device browser's published state.
    for (auto signal : {&DeviceBrowserViewModel::selectedDeviceChanged, &DeviceBrowserViewModel::currentPageChanged,
                        &DeviceBrowserViewModel::isLoadingChanged, &DeviceBrowserViewModel::isWaitingForTransferChanged,
                        &DeviceBrowserViewModel::isShowingStalePageChanged,
                        &DeviceBrowserViewModel::connectionPhaseChanged,
                        &DeviceBrowserViewModel::connectionStatusMessageChanged}) {
        connect(&browser, signal, this, &AndroidPaneView::updateContent);
    }
    // The session goes last when a device is unplugged: "Copy to Mac" must follow it too.
    for (auto signal : {&DeviceBrowserViewModel::selectedDeviceChanged, &DeviceBrowserViewModel::currentPageChanged,
                        &DeviceBrowserViewModel::itemsChanged, &DeviceBrowserViewModel::breadcrumbChanged,
                        &DeviceBrowserViewModel::showHiddenFilesChanged,
                        &DeviceBrowserViewModel::calculatingFolderSizeIDsChanged,
                        &DeviceBrowserViewModel::currentSessionChanged}) {
        connect(&browser, signal, this, [this, signal] {
            // Only other rows change which items are selected; anything else may have measured
            // folders, whose sizes the selection's weight takes in. Which folders are being
            // measured changes neither the selected items nor their sizes.
            if (signal == &DeviceBrowserViewModel::itemsChanged && !(m_browser && m_browser->filledInRows())) {
                m_selectionFacts->forget();
            } else if (signal != &DeviceBrowserViewModel::calculatingFolderSizeIDsChanged) {
                m_selectionFacts->forgetSizes();
            }
            updateHeader();
            updateStrip();
        });
    }
    // "Copy to Mac" weighs the selection against the Mac folder's free space.
    for (auto signal : {&LocalBrowserViewModel::currentDirectoryChanged, &LocalBrowserViewModel::itemsChanged}) {
        connect(&localBrowser, signal, this, &AndroidPaneView::updateHeader);
    }
    connect(&browser, &DeviceBrowserViewModel::storagesChanged, this, &AndroidPaneView::updateSwitcherVisibility);
    connect(&state, &WindowState::focusedPaneChanged, this, &AndroidPaneView::updateHeader);
    updateSwitcherVisibility();
    updateContent();
    updateHeader();
    updateStrip();
}

AndroidPaneView::~AndroidPaneView() = default;

QWidget* AndroidPaneView::buildContent()
{
    m_content = new QStackedWidget(this);
    m_content->setObjectName(QStringLiteral("androidContent"));

    m_onboarding = new OnboardingView(m_content);

    m_tableArea = new QWidget(m_content);
    m_tableArea->setObjectName(QStringLiteral("androidTableArea"));
    m_table = new RemoteItemTable(*m_browser, m_tableArea);
    auto* tableLayout = new QVBoxLayout(m_tableArea);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->addWidget(m_table);
    // Placed by hand over the table's top edge, so that it covers no more than itself.
    m_capsule = new StatusCapsule(m_tableArea);
    m_capsule->hide();
    m_tableArea->installEventFilter(this);

    m_loading = new QWidget(m_content);
    m_loading->setObjectName(QStringLiteral("androidLoading"));
    auto* spinner = new BusySpinner(24, m_loading);
    m_loadingLabel = new QLabel(m_loading);
    m_loadingLabel->setObjectName(QStringLiteral("androidLoadingLabel"));
    m_loadingLabel->setTextFormat(Qt::PlainText);
    m_loadingLabel->setAlignment(Qt::AlignHCenter);
    m_loadingLabel->setForegroundRole(QPalette::PlaceholderText);
    auto* loadingColumn = new QVBoxLayout(m_loading);
    loadingColumn->setSpacing(8);
    loadingColumn->addStretch(1);
    loadingColumn->addWidget(spinner, 0, Qt::AlignHCenter);
    loadingColumn->addWidget(m_loadingLabel, 0, Qt::AlignHCenter);
    loadingColumn->addStretch(1);

    m_empty = new EmptyStateView(
        tr("No storage available"), QStringLiteral("externaldrive.badge.questionmark"),
        tr("Keep the device unlocked and verify that File Transfer / MTP mode is selected."), m_content);
    m_empty->setObjectName(QStringLiteral("androidNoStorage"));

    m_content->addWidget(m_onboarding);
    m_content->addWidget(m_tableArea);
    m_content->addWidget(m_loading);
    m_content->addWidget(m_empty);
    return m_content;
}

void AndroidPaneView::wireToolbar()
{
    connect(header()->parentButton(), &QToolButton::clicked, this, [this] { startDetached(navigateUp()); });
    connect(header()->refreshButton(), &QToolButton::clicked, this, [this] {
        if (m_browser) {
            startDetached(m_browser->refresh());
        }
    });
    connect(header()->newFolderButton(), &QToolButton::clicked, this, [this] {
        if (m_state) {
            m_state->setShowingNewFolderAndroid(true);
        }
    });
    connect(header()->hiddenFilesButton(), &QToolButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->setShowHiddenFiles(!m_browser->showHiddenFiles());
        }
    });
    connect(header()->copyButton(), &QPushButton::clicked, this, [this] { sendToMac(selectedItems()); });
    connect(m_strip, &SelectionPreflightStrip::calculateRequested, this, [this] {
        if (m_browser) {
            startDetached(m_browser->calculateFolderSizes(selectedItems()));
        }
    });
}

void AndroidPaneView::wireTable()
{
    m_table->setOnPrimaryAction([this](const RemoteItem& item) { open(item); });
    m_table->setMenuForSelection([this](const QSet<RemoteObjectID>& rows) { return buildContextMenu(rows); });
    m_table->setOnSelectionChanged([this](const QSet<RemoteObjectID>&) { selectionChanged(); });
    // Each dragged row carries the marker text (the table's default); the items themselves are
    // put on the in-app clipboard once, when the drag starts.
    m_table->itemModel()->setOnDragStart([this](const QList<RemoteItem>& rows) {
        focusPane();
        // Dragged selected rows take the whole selection; a row outside the selection travels
        // alone and the selection stays as it is. The last dragged row tells which. Without a
        // folder shown the clipboard stays.
        if (m_browser && m_coordinator && m_browser->currentPage()) {
            const RemoteItem& row = rows.constLast();
            const QList<RemoteItem> dragged = selection().contains(row.id) ? selectedItems() : QList<RemoteItem>{row};
            m_coordinator->clipboard()->copyDevice(dragged, m_browser->currentPage()->storage.id);
        }
    });
    connect(m_table, &NativeTableView::mouseDown, this, &AndroidPaneView::focusPane);
}

QWidget* AndroidPaneView::keyboardTarget() const
{
    return m_table;
}

void AndroidPaneView::setDefaultApplicationOpener(std::shared_ptr<DefaultApplicationOpener> opener)
{
    m_opener = std::move(opener);
}

AndroidPaneView::Content AndroidPaneView::contentFor(bool hasSelectedDevice, bool hasPage, bool isLoading)
{
    if (!hasSelectedDevice) {
        return Content::onboarding;
    }
    if (hasPage) {
        return Content::table;
    }
    return isLoading ? Content::loading : Content::noStorage;
}

std::optional<AndroidPaneView::Status> AndroidPaneView::statusFor(bool isLoading, bool isWaitingForTransfer,
                                                                  DeviceConnectionPhase phase, bool isShowingStalePage,
                                                                  const QString& connectionStatusMessage)
{
    const QString turning = QStringLiteral("arrow.clockwise");
    if (isLoading) {
        if (isWaitingForTransfer) {
            return Status{tr("Waiting for the current transfer…"), turning};
        }
        if (phase == DeviceConnectionPhase::connected) {
            return Status{tr("Loading device contents…"), turning};
        }
        return Status{connectionStatusMessage, turning};
    }
    if (isShowingStalePage) {
        return Status{tr("Updating after transfer…"), QStringLiteral("clock.arrow.circlepath")};
    }
    return std::nullopt;
}

QList<QUrl> AndroidPaneView::droppedFileUrls(const QMimeData* data)
{
    QList<QUrl> files;
    if (!data || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            files.append(url);
        }
    }
    return files;
}

AndroidPaneView::Content AndroidPaneView::content() const
{
    if (!m_browser) {
        return Content::onboarding;
    }
    return contentFor(m_browser->selectedDevice().has_value(), m_browser->currentPage().has_value(),
                      m_browser->isLoading());
}

const QSet<RemoteObjectID>& AndroidPaneView::selection() const
{
    return m_table->selection();
}

void AndroidPaneView::setSelection(QSet<RemoteObjectID> selection)
{
    const bool changed = selection != m_table->selection();
    m_table->setSelection(std::move(selection));
    if (changed) {
        selectionChanged();
    }
}

QList<RemoteItem> AndroidPaneView::selectedItems() const
{
    return m_selectionFacts->items();
}

SelectionSizeSummary AndroidPaneView::selectionSummary() const
{
    return m_selectionFacts->summary(m_browser);
}

bool AndroidPaneView::mayCopyToMac(const QList<RemoteItem>& items) const
{
    if (items.isEmpty() || !m_browser || !m_localBrowser) {
        return false;
    }
    return SelectionPreflightStrip::allowsCopy(
        m_browser->summaryOf(items, m_localBrowser->currentDirectoryAvailableBytes()));
}

bool AndroidPaneView::canSendSelectionToMac() const
{
    if (selection().isEmpty() || !m_browser || !m_localBrowser || !m_browser->currentSession()) {
        return false;
    }
    // The listed items of the selection are weighed: ids no longer listed count for nothing.
    SelectionSizeSummary summary = selectionSummary();
    summary.destinationFreeBytes = m_localBrowser->currentDirectoryAvailableBytes();
    return SelectionPreflightStrip::allowsCopy(summary);
}

bool AndroidPaneView::canPaste() const
{
    return m_browser && m_coordinator && m_browser->currentPage() && m_browser->currentSession() &&
           m_coordinator->clipboard()->contents().kind() != ClipboardContents::Kind::empty;
}

void AndroidPaneView::selectionChanged()
{
    m_selectionFacts->forget();
    // Rows that left the listing leave the selection without the pane taking the keyboard.
    if (!m_table->isDroppingUnlistedSelection()) {
        focusPane();
    }
    if (m_browser) {
        // Folders of the selection are measured quietly; failures are only logged.
        startDetached(m_browser->precalculateFolderSizes(selectedItems()));
    }
    updateHeader();
    updateStrip();
}

void AndroidPaneView::copySelection()
{
    if (!m_browser || !m_coordinator || !m_browser->currentPage()) {
        return;
    }
    // An empty selection empties the clipboard.
    m_coordinator->clipboard()->copyDevice(selectedItems(), m_browser->currentPage()->storage.id);
}

void AndroidPaneView::paste()
{
    if (!canPaste()) {
        return;
    }
    const DirectoryPage& page = *m_browser->currentPage();
    startDetached(runPasteIntoDevice(m_coordinator, m_browser, page.parentID, page.storage.id,
                                     m_browser->currentSession()));
}

void AndroidPaneView::sendToMac(const QList<RemoteItem>& items)
{
    if (!m_browser || !m_browser->currentPage() || !m_browser->currentSession() || !mayCopyToMac(items)) {
        return;
    }
    startDetached(runSendToMac(m_coordinator, m_localBrowser, items, m_browser->currentPage()->storage.id,
                               m_localBrowser->currentDirectory(), m_browser->currentSession()));
}

void AndroidPaneView::open(const RemoteItem& item)
{
    if (!m_browser || !m_coordinator) {
        return;
    }
    if (item.kind == RemoteItemKind::folder) {
        startDetached(m_browser->openFolder(item));
        return;
    }
    std::shared_ptr<DeviceSession> session = m_browser->currentSession();
    if (!session) {
        m_coordinator->reportError(
            QuillbarrowError::fileOpenFailed(item.name, QStringLiteral("The Android device is not connected.")));
        return;
    }
    startDetached(runOpenFile(m_coordinator, m_opener, item, std::move(session)));
}

QCoro::Task<> AndroidPaneView::navigateUp()
{
    return runNavigateUp(m_browser);
}

bool AndroidPaneView::handleDrop(const QMimeData* data)
{
    if (!m_browser || !m_coordinator || !m_browser->currentPage() || !m_browser->currentSession()) {
        return false;
    }
    const QList<QUrl> files = droppedFileUrls(data);
    if (files.isEmpty()) {
        return false;
    }
    // The folder shown now is the destination, even if the user moves on before the upload.
    const DirectoryPage& page = *m_browser->currentPage();
    m_coordinator->clipboard()->copyLocal(files);
    startDetached(runPasteIntoDevice(m_coordinator, m_browser, page.parentID, page.storage.id,
                                     m_browser->currentSession()));
    return true;
}

bool AndroidPaneView::handleKey(PaneKeyCommand command)
{
    if (!m_state || m_state->focusedPane() != FocusedPane::android || !m_browser) {
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
        // As in the computer's pane: every row as one range, written into the binding on the next
        // turn, without building a set of a big folder's ids on the way.
        m_table->selectAll();
        return true;
    case PaneKeyCommand::parentFolder:
        startDetached(navigateUp());
        return true;
    case PaneKeyCommand::refresh:
        startDetached(m_browser->refresh());
        return true;
    case PaneKeyCommand::deleteSelection:
        if (selection().isEmpty()) {
            return false;
        }
        // Ids no longer listed give an empty list, which opens no confirmation.
        m_state->setAndroidDeleteTargets(selectedItems());
        return true;
    case PaneKeyCommand::openSelection: {
        const QList<RemoteItem> items = selectedItems();
        if (items.size() != 1) {
            return false;
        }
        open(items.front());
        return true;
    }
    }
    return false;
}

std::unique_ptr<QMenu> AndroidPaneView::buildContextMenu(const QSet<RemoteObjectID>& rows)
{
    QList<RemoteItem> targets;
    if (m_browser) {
        for (const RemoteItem& item : m_browser->items()) {
            if (rows.contains(item.id)) {
                targets.append(item);
            }
        }
    }
    FileContextMenu<RemoteItem> menu;
    menu.sendTitle = tr("Copy to Mac");
    menu.open = [this](const RemoteItem& item) { open(item); };
    menu.calculateFolderSizes = [this](const QList<RemoteItem>& folders) {
        if (m_browser) {
            startDetached(m_browser->calculateFolderSizes(folders));
        }
    };
    menu.copy = [this](const QList<RemoteItem>& items) {
        if (m_browser && m_coordinator && m_browser->currentPage()) {
            m_coordinator->clipboard()->copyDevice(items, m_browser->currentPage()->storage.id);
        }
    };
    // The menu item weighs the targets only; sendToMac also wants a folder and a session.
    menu.canSend = [this](const QList<RemoteItem>& items) { return mayCopyToMac(items); };
    menu.send = [this](const QList<RemoteItem>& items) { sendToMac(items); };
    menu.canPaste = [this] {
        return m_coordinator && m_coordinator->clipboard()->contents().kind() != ClipboardContents::Kind::empty;
    };
    menu.paste = [this] { paste(); };
    menu.rename = [this](const RemoteItem& item) {
        if (m_state) {
            m_state->setAndroidRenameTarget(item);
        }
    };
    menu.deleteItems = [this](const QList<RemoteItem>& items) {
        if (m_state) {
            m_state->setAndroidDeleteTargets(items);
        }
    };
    return menu.build(targets);
}

void AndroidPaneView::updateContent()
{
    if (!m_browser) {
        return;
    }
    switch (content()) {
    case Content::onboarding:
        m_content->setCurrentWidget(m_onboarding);
        break;
    case Content::table:
        m_content->setCurrentWidget(m_tableArea);
        break;
    case Content::loading:
        m_loadingLabel->setText(m_browser->connectionStatusMessage());
        m_content->setCurrentWidget(m_loading);
        break;
    case Content::noStorage:
        m_content->setCurrentWidget(m_empty);
        break;
    }
    const std::optional<Status> status =
        statusFor(m_browser->isLoading(), m_browser->isWaitingForTransfer(), m_browser->connectionPhase(),
                  m_browser->isShowingStalePage(), m_browser->connectionStatusMessage());
    if (status) {
        m_capsule->setStatus(status->text, status->symbol);
        placeCapsule();
    }
    m_capsule->setVisible(status.has_value());
    m_capsule->raise();
}

void AndroidPaneView::placeCapsule()
{
    // Over the rows, below the column titles, so that every title stays readable.
    const QSize size = m_capsule->sizeHint();
    const int rowsTop = m_table->viewport()->mapTo(m_tableArea, QPoint(0, 0)).y();
    m_capsule->setGeometry((m_tableArea->width() - size.width()) / 2, rowsTop + capsuleTopMargin, size.width(),
                           size.height());
}

void AndroidPaneView::updateHeader()
{
    if (!m_browser || !m_state) {
        return;
    }
    const std::optional<AndroidDevice>& device = m_browser->selectedDevice();
    header()->setTitle(device ? device->displayName : QStringLiteral("Android"));
    header()->setSelectionCount(static_cast<int>(selection().size()));
    header()->setFocusedCaptionShown(m_state->focusedPane() == FocusedPane::android);
    header()->setHiddenFilesShown(m_browser->showHiddenFiles());
    const bool hasPage = m_browser->currentPage().has_value();
    header()->parentButton()->setEnabled(m_browser->breadcrumb().size() >= 2);
    header()->favoritesButton()->setEnabled(hasPage);
    header()->newFolderButton()->setEnabled(hasPage);
    header()->hiddenFilesButton()->setEnabled(hasPage);
    header()->copyButton()->setEnabled(canSendSelectionToMac());
}

void AndroidPaneView::updateStrip()
{
    if (!m_browser) {
        return;
    }
    const std::optional<DirectoryPage>& page = m_browser->currentPage();
    SelectionPreflight preflight;
    preflight.summary = selectionSummary();
    preflight.storageName = QStringLiteral("Android");
    preflight.storageIcon = QStringLiteral("iphone.gen3");
    preflight.freeBytes = page ? page->storage.freeSpace : std::nullopt;
    preflight.capacityBytes = page ? page->storage.capacity : std::nullopt;
    // A whole folder's subfolders may be waiting to be measured, and a selection may hold every
    // row: the smaller of the two is looked up in the other.
    const QSet<RemoteObjectID>& measuring = m_browser->calculatingFolderSizeIDs();
    if (measuring.size() < preflight.summary.selectedItemCount) {
        preflight.isCalculating = std::any_of(measuring.begin(), measuring.end(), [this](const RemoteObjectID& id) {
            return selection().contains(id) && m_table->itemModel()->rowOf(id).has_value();
        });
    } else {
        m_table->forEachItemIn(m_selectionFacts->rows(), [&](const RemoteItem& item) {
            preflight.isCalculating = preflight.isCalculating || measuring.contains(item.id);
        });
    }
    m_strip->setPreflight(preflight);
}

void AndroidPaneView::updateSwitcherVisibility()
{
    // A switcher of one storage would offer nothing to switch to.
    const bool shown = m_browser && m_browser->storages().size() >= 2;
    m_switcher->parentWidget()->setVisible(shown);
}

bool AndroidPaneView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_tableArea && event->type() == QEvent::Resize) {
        placeCapsule();
    }
    return PaneFrame::eventFilter(watched, event);
}

// Only file addresses are taken: rows of the Mac pane carry theirs, as do files dragged from
// other applications. The phone's own rows carry a marker text and are refused.
bool AndroidPaneView::acceptsDrag(const QMimeData* data) const
{
    return draggedContentTaken(data);
}

bool AndroidPaneView::readsAsTaken(const QMimeData* data) const
{
    return !droppedFileUrls(data).isEmpty();
}

bool AndroidPaneView::acceptDrop(const QMimeData* data)
{
    return handleDrop(data);
}

} // namespace quillbarrow
