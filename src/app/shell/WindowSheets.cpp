#include "WindowSheets.h"

#include "window/DetachedCall.h"
#include "window/WindowState.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/RenameSheet.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QLineEdit>
#include <QWidget>

#include <functional>

namespace quillbarrow {

namespace {

// Opens the new-folder sheet while its flag is set and closes it, uncommitted, when the flag is
// cleared elsewhere. A sheet already on screen is left as it is.
void followFlag(NewFolderSheet* sheet, bool showing)
{
    if (showing && !sheet->isVisible()) {
        sheet->present();
    } else if (!showing && sheet->isVisible()) {
        sheet->reject();
    }
}

// Opens the rename sheet for a new target, remembering the item it acts on, and closes it,
// uncommitted, when the target is cleared elsewhere.
template <typename Item>
void followTarget(RenameSheet* sheet, const std::optional<Item>& target, std::optional<Item>& shownItem,
                  WindowState* state)
{
    if (!target) {
        if (sheet->isVisible()) {
            sheet->reject();
        }
        return;
    }
    if (sheet->isVisible() && shownItem == target) {
        return; // the same target written again
    }
    shownItem = target;
    state->setRenameValue(target->name);
    sheet->present(target->name);
}

// Opens a delete confirmation for the targets, replacing one shown for other targets, and closes
// the one shown when the targets are emptied elsewhere. Either button empties the targets through
// `clear`; "Delete" then hands the list the confirmation was opened for to `commit`.
template <typename Item>
void followTargets(QPointer<DeleteConfirmation>& shown, QList<Item>& shownTargets, const QList<Item>& targets,
                   DeleteConfirmation::Side side,
                   QWidget* window, QObject* context, const std::function<void()>& clear,
                   const std::function<void(const QList<Item>&)>& commit)
{
    if (shown) {
        if (!targets.isEmpty() && shownTargets == targets) {
            return; // the same targets written again
        }
        DeleteConfirmation* old = shown;
        shown = nullptr;
        old->disconnect(context);
        old->hide();
        old->deleteLater();
    }
    if (targets.isEmpty()) {
        return;
    }
    QStringList names;
    names.reserve(targets.size());
    for (const Item& item : targets) {
        names.append(item.name);
    }
    auto* confirmation = new DeleteConfirmation(side, names, window);
    shownTargets = targets;
    shown = confirmation;
    QPointer<DeleteConfirmation>* slot = &shown;
    const auto finish = [slot, confirmation] {
        if (*slot == confirmation) {
            *slot = nullptr;
        }
        confirmation->deleteLater();
    };
    QObject::connect(confirmation, &DeleteConfirmation::confirmed, context, [finish, clear, commit, targets] {
        finish();
        clear();
        commit(targets);
    });
    QObject::connect(confirmation, &DeleteConfirmation::cancelled, context, [finish, clear] {
        finish();
        clear();
    });
    confirmation->open();
}

} // namespace

WindowSheets::WindowSheets(QWidget* window, WindowState* state, DeviceBrowserViewModel* deviceBrowser,
                           LocalBrowserViewModel* localBrowser)
    : QObject(window),
      m_window(window),
      m_state(state),
      m_deviceBrowser(deviceBrowser),
      m_localBrowser(localBrowser),
      m_localNewFolder(new NewFolderSheet(NewFolderSheet::Side::local, window)),
      m_androidNewFolder(new NewFolderSheet(NewFolderSheet::Side::android, window)),
      m_localRename(new RenameSheet(window)),
      m_androidRename(new RenameSheet(window))
{
    m_localNewFolder->setObjectName(QStringLiteral("localNewFolderSheet"));
    m_androidNewFolder->setObjectName(QStringLiteral("androidNewFolderSheet"));
    m_localRename->setObjectName(QStringLiteral("localRenameSheet"));
    m_androidRename->setObjectName(QStringLiteral("androidRenameSheet"));

    // New folder: the typed text is the window's shared name; every way out lowers the flag.
    for (NewFolderSheet* sheet : {m_localNewFolder, m_androidNewFolder}) {
        connect(sheet->nameField(), &QLineEdit::textChanged, state, &WindowState::setNewFolderName);
    }
    connect(m_localNewFolder, &QDialog::finished, state, [state] {
        state->setNewFolderName(QString());
        state->setShowingNewFolderLocal(false);
    });
    connect(m_androidNewFolder, &QDialog::finished, state, [state] {
        state->setNewFolderName(QString());
        state->setShowingNewFolderAndroid(false);
    });
    connect(m_localNewFolder, &NewFolderSheet::createRequested, this, [this](const QString& name) {
        if (m_localBrowser) {
            m_localBrowser->createFolder(name);
        }
    });
    connect(m_androidNewFolder, &NewFolderSheet::createRequested, this, [this](const QString& name) {
        if (m_deviceBrowser) {
            startDetached(m_deviceBrowser->createFolder(name));
        }
    });
    connect(state, &WindowState::showingNewFolderLocalChanged, this, &WindowSheets::followLocalNewFolder);
    connect(state, &WindowState::showingNewFolderAndroidChanged, this, &WindowSheets::followAndroidNewFolder);

    // Rename: the sheet commits only a changed, acceptable name; every way out clears the target.
    for (RenameSheet* sheet : {m_localRename, m_androidRename}) {
        connect(sheet->nameField(), &QLineEdit::textChanged, state, &WindowState::setRenameValue);
    }
    connect(m_localRename, &QDialog::finished, state, [state] { state->setLocalRenameTarget(std::nullopt); });
    connect(m_androidRename, &QDialog::finished, state, [state] { state->setAndroidRenameTarget(std::nullopt); });
    connect(m_localRename, &RenameSheet::renameRequested, this, [this](const QString& name) {
        if (m_localBrowser && m_localRenameItem) {
            m_localBrowser->rename(*m_localRenameItem, name);
        }
    });
    connect(m_androidRename, &RenameSheet::renameRequested, this, [this](const QString& name) {
        if (m_deviceBrowser && m_androidRenameItem) {
            startDetached(m_deviceBrowser->renameItem(*m_androidRenameItem, name));
        }
    });
    connect(state, &WindowState::localRenameTargetChanged, this, &WindowSheets::followLocalRename);
    connect(state, &WindowState::androidRenameTargetChanged, this, &WindowSheets::followAndroidRename);

    connect(state, &WindowState::localDeleteTargetsChanged, this, &WindowSheets::followLocalDelete);
    connect(state, &WindowState::androidDeleteTargetsChanged, this, &WindowSheets::followAndroidDelete);
    connect(deviceBrowser, &DeviceBrowserViewModel::currentSessionChanged, this, &WindowSheets::closeAndroidSheets);

    followLocalNewFolder();
    followAndroidNewFolder();
    followLocalRename();
    followAndroidRename();
    followLocalDelete();
    followAndroidDelete();
}

WindowSheets::~WindowSheets() = default;

DeleteConfirmation* WindowSheets::localDeleteConfirmation() const
{
    return m_localDelete;
}

DeleteConfirmation* WindowSheets::androidDeleteConfirmation() const
{
    return m_androidDelete;
}

void WindowSheets::followLocalNewFolder()
{
    followFlag(m_localNewFolder, m_state->showingNewFolderLocal());
}

void WindowSheets::followAndroidNewFolder()
{
    followFlag(m_androidNewFolder, m_state->showingNewFolderAndroid());
}

void WindowSheets::followLocalRename()
{
    followTarget(m_localRename, m_state->localRenameTarget(), m_localRenameItem, m_state.data());
}

void WindowSheets::followAndroidRename()
{
    const std::optional<RemoteItem>& target = m_state->androidRenameTarget();
    if (target && !mayAskAbout({*target})) {
        m_state->setAndroidRenameTarget(std::nullopt);
        return;
    }
    followTarget(m_androidRename, m_state->androidRenameTarget(), m_androidRenameItem, m_state.data());
}

void WindowSheets::followLocalDelete()
{
    const std::function<void(const QList<LocalItem>&)> commit = [this](const QList<LocalItem>& items) {
        if (m_localBrowser) {
            m_localBrowser->deleteItems(items);
        }
    };
    followTargets<LocalItem>(m_localDelete, m_localDeleteList, m_state->localDeleteTargets(), DeleteConfirmation::Side::local, m_window,
                             this, [this] { m_state->setLocalDeleteTargets({}); }, commit);
}

void WindowSheets::followAndroidDelete()
{
    if (!mayAskAbout(m_state->androidDeleteTargets())) {
        m_state->setAndroidDeleteTargets({});
        return;
    }
    const std::function<void(const QList<RemoteItem>&)> commit = [this](const QList<RemoteItem>& items) {
        if (m_deviceBrowser) {
            startDetached(m_deviceBrowser->deleteItems(items));
        }
    };
    followTargets<RemoteItem>(m_androidDelete, m_androidDeleteList, m_state->androidDeleteTargets(), DeleteConfirmation::Side::android,
                              m_window, this, [this] { m_state->setAndroidDeleteTargets({}); }, commit);
}

bool WindowSheets::mayAskAbout(const QList<RemoteItem>& items)
{
    return !m_deviceBrowser || !m_deviceBrowser->refuseItemsOfAnotherSession(items);
}

void WindowSheets::closeAndroidSheets()
{
    // Only what is set is cleared: each clearing closes its dialog uncommitted.
    if (m_state->showingNewFolderAndroid()) {
        m_state->setShowingNewFolderAndroid(false);
    }
    if (m_state->androidRenameTarget()) {
        m_state->setAndroidRenameTarget(std::nullopt);
    }
    if (!m_state->androidDeleteTargets().isEmpty()) {
        m_state->setAndroidDeleteTargets({});
    }
}

} // namespace quillbarrow
