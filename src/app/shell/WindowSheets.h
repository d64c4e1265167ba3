#pragma once

#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

namespace quillbarrow {

class DeleteConfirmation;
class DeviceBrowserViewModel;
class LocalBrowserViewModel;
class NewFolderSheet;
class RenameSheet;
class WindowState;

// Opens a window's new-folder, rename and delete dialogs, window-modally with open(), when the
// panes write their flags and targets into the WindowState, and sends what they commit to the
// browser of that side: the computer's folders to the local browser directly, the device's to the
// device browser as tasks nobody waits for. The flag or target is cleared whichever way a dialog
// closes (its buttons, Escape, closing it), so the next request opens it again; the item, name or
// list a dialog acts on is copied when it opens, so clearing the state never changes the call.
// Clearing a flag or target from elsewhere closes its dialog without committing.
//
// The device's dialogs act on the items and the folder of one device session: they close,
// uncommitted, when that session ends (another phone chosen in any window, the phone unplugged),
// and a rename or delete asked for items of another session is refused with the device banner
// instead of opening.
class WindowSheets final : public QObject {
    Q_OBJECT

public:
    WindowSheets(QWidget* window, WindowState* state, DeviceBrowserViewModel* deviceBrowser,
                 LocalBrowserViewModel* localBrowser);
    ~WindowSheets() override;

    NewFolderSheet* localNewFolderSheet() const { return m_localNewFolder; }
    NewFolderSheet* androidNewFolderSheet() const { return m_androidNewFolder; }
    RenameSheet* localRenameSheet() const { return m_localRename; }
    RenameSheet* androidRenameSheet() const { return m_androidRename; }
    // The delete confirmations on screen, if any.
    DeleteConfirmation* localDeleteConfirmation() const;
    DeleteConfirmation* androidDeleteConfirmation() const;

private:
    void followLocalNewFolder();
    void followAndroidNewFolder();
    void followLocalRename();
    void followAndroidRename();
    void followLocalDelete();
    void followAndroidDelete();
    void closeAndroidSheets();
    // False, with the targets cleared and the device banner saying why, for items of another
    // session than the one open now.
    bool mayAskAbout(const QList<RemoteItem>& items);

    QPointer<QWidget> m_window;
    QPointer<WindowState> m_state;
    QPointer<DeviceBrowserViewModel> m_deviceBrowser;
    QPointer<LocalBrowserViewModel> m_localBrowser;
    NewFolderSheet* m_localNewFolder;
    NewFolderSheet* m_androidNewFolder;
    RenameSheet* m_localRename;
    RenameSheet* m_androidRename;
    QPointer<DeleteConfirmation> m_localDelete;
    QPointer<DeleteConfirmation> m_androidDelete;
    // What the open rename sheets act on.
    std::optional<LocalItem> m_localRenameItem;
    std::optional<RemoteItem> m_androidRenameItem;
    // What the open delete confirmations act on.
    QList<LocalItem> m_localDeleteList;
    QList<RemoteItem> m_androidDeleteList;
};

} // namespace quillbarrow
