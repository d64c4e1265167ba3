#pragma once

#include "domain/RemoteItemKind.h"

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QMenu>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

namespace quillbarrow {

// The context menu both panes show over their rows, built afresh for the clicked rows (the
// targets, in listing order) at every opening, so that every rule reads the state of that moment:
//
//   Open, separator                      exactly one target
//   Calculate Folder Size, separator     some target is a folder whose size is unknown
//   Copy (Ctrl+C)                        always
//   Copy to Android / Copy to Mac        always; enabled with targets that the copy rule allows
//   Paste                                always; enabled while the clipboard holds something
//   separator, Rename…                   exactly one target
//   separator, Delete                    at least one target
//
// Each action runs its work once per trigger; the actions are named (objectName) for tests.
template <typename Item>
struct FileContextMenu {
    // The title of the copy to the other pane: "Copy to Android" or "Copy to Mac".
    QString sendTitle;
    std::function<void(const Item&)> open;
    // Given the targets' folders whose size is unknown.
    std::function<void(const QList<Item>&)> calculateFolderSizes;
    std::function<void(const QList<Item>&)> copy;
    // Whether the copy to the other pane may go ahead for these (non-empty) targets.
    std::function<bool(const QList<Item>&)> canSend;
    std::function<void(const QList<Item>&)> send;
    std::function<bool()> canPaste;
    std::function<void()> paste;
    std::function<void(const Item&)> rename;
    std::function<void(const QList<Item>&)> deleteItems;

    // The menu for `targets`; never empty (Copy, the copy to the other pane and Paste are always
    // there).
    std::unique_ptr<QMenu> build(const QList<Item>& targets) const
    {
        auto menu = std::make_unique<QMenu>();
        menu->setObjectName(QStringLiteral("fileContextMenu"));
        const auto add = [&menu](const QString& name, const QString& title, std::function<void()> work) {
            QAction* action = menu->addAction(title);
            action->setObjectName(name);
            QObject::connect(action, &QAction::triggered, action, [work = std::move(work)] {
                if (work) {
                    work();
                }
            });
            return action;
        };
        if (targets.size() == 1) {
            const Item target = targets.front();
            add(QStringLiteral("openAction"), QStringLiteral("Open"), [open = open, target] {
                if (open) {
                    open(target);
                }
            });
            menu->addSeparator();
        }
        QList<Item> unmeasured;
        for (const Item& target : targets) {
            if (target.kind == RemoteItemKind::folder && !target.size) {
                unmeasured.append(target);
            }
        }
        if (!unmeasured.isEmpty()) {
            add(QStringLiteral("calculateFolderSizeAction"), QStringLiteral("Calculate Folder Size"),
                [calculate = calculateFolderSizes, unmeasured] {
                    if (calculate) {
                        calculate(unmeasured);
                    }
                });
            menu->addSeparator();
        }
        QAction* copyAction = add(QStringLiteral("copyAction"), QStringLiteral("Copy"), [copy = copy, targets] {
            if (copy) {
                copy(targets);
            }
        });
        copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
        // Shown in the menu only: the pane's own key handling copies with Ctrl+C.
        copyAction->setShortcutContext(Qt::WidgetShortcut);
        QAction* sendAction = add(QStringLiteral("sendAction"), sendTitle, [send = send, targets] {
            if (send) {
                send(targets);
            }
        });
        sendAction->setEnabled(!targets.isEmpty() && canSend && canSend(targets));
        QAction* pasteAction = add(QStringLiteral("pasteAction"), QStringLiteral("Paste"), [paste = paste] {
            if (paste) {
                paste();
            }
        });
        pasteAction->setEnabled(canPaste && canPaste());
        if (targets.size() == 1) {
            menu->addSeparator();
            const Item target = targets.front();
            add(QStringLiteral("renameAction"), QStringLiteral("Rename…"), [rename = rename, target] {
                if (rename) {
                    rename(target);
                }
            });
        }
        if (!targets.isEmpty()) {
            menu->addSeparator();
            add(QStringLiteral("deleteAction"), QStringLiteral("Delete"), [deleteItems = deleteItems, targets] {
                if (deleteItems) {
                    deleteItems(targets);
                }
            });
        }
        return menu;
    }
};

} // namespace quillbarrow
