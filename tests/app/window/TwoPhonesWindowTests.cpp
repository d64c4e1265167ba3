// Two mock phones whose storages and objects have the same ids, in two windows of one
// application. Items are chosen on phone A in the first window; then phone B takes A's place, in
// the second window's sidebar or by A being unplugged and B plugged in; then the first window
// acts on what it chose. Nothing may reach either phone or the computer, and the window says why.

#include "RunTask.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/RenameSheet.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "panes/PaneHeader.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "shell/ShellTestSupport.h"
#include "shell/WindowSheets.h"
#include "window/WindowState.h"
#include "table/LocalItemTable.h"
#include "table/RemoteItemTable.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quillbarrow::testing {
namespace {

const QString deviceChangedText = QStringLiteral("The Android device changed since these items were chosen.");

// How phone B takes phone A's place.
enum class Change { secondWindowSidebar, unplugAndPlugIn };

// Where the window says why: the device banner, or the transfer-error strip.
enum class Shown { deviceBanner, transferStrip, sheetClosed };

// One action of the first window: `choose` runs while A is shown and gives what acts after the
// change (a menu item to trigger, a drop to make, keys to press).
struct Action {
    const char* name;
    std::function<std::function<void()>()> choose;
    Shown shown;
};

class TwoPhonesWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        fixture = std::make_unique<ShellFixture>(QList<AndroidDevice>{phoneA, phoneB}, StorageID("65537"));
        QDir home(fixture->home.path());
        ASSERT_TRUE(home.mkpath(QStringLiteral("Work")));
        work = QDir(home.filePath(QStringLiteral("Work")));
        first = fixture->app->openWindow();
        second = fixture->app->openWindow();
        for (MainWindow* window : {second, first}) {
            window->show();
            ASSERT_TRUE(waitUntilShown(window));
        }
        androidPane = qobject_cast<AndroidPaneView*>(first->paneArea()->androidPane());
        macPane = first->findChild<LocalPaneView*>();
        ASSERT_TRUE(androidPane && macPane);
        local().navigateTo(QUrl::fromLocalFile(work.path()));
        ASSERT_TRUE(processEventsUntil([this] { return !local().isLoading(); }));
    }

    void TearDown() override
    {
        for (MainWindow* window : {first, second}) {
            if (window) {
                window->close();
            }
        }
        fixture.reset();
    }

    DeviceBrowserViewModel& device() { return fixture->app->deviceBrowser(); }
    LocalBrowserViewModel& local() { return fixture->app->localBrowser(); }
    TransferCoordinator& coordinator() { return fixture->app->coordinator(); }

    bool isShowing(const AndroidDevice& phone)
    {
        return processEventsUntil([this, &phone] {
            return device().selectedDevice() && device().selectedDevice()->id == phone.id &&
                   device().connectionPhase() == DeviceConnectionPhase::connected && !device().isLoading() &&
                   device().currentPage().has_value();
        });
    }

    // A chosen (both phones plugged in, so neither is chosen by itself), its root shown, and
    // nothing said yet.
    void showA()
    {
        if (!std::any_of(device().devices().begin(), device().devices().end(),
                         [this](const AndroidDevice& listed) { return listed.id == phoneA.id; })) {
            fixture->backend->simulateConnect(phoneA);
        }
        runTask(device().selectDevice(phoneA));
        ASSERT_TRUE(isShowing(phoneA));
        // Going to the root shown stops the automatic measuring, so that the folders stay
        // unmeasured and the menu offers to measure them.
        runTask(device().navigate(device().breadcrumb().first()));
        device().clearError();
        coordinator().clearLastError();
        ASSERT_TRUE(waitForRow(QStringLiteral("Download")));
    }

    void bringInB(Change change)
    {
        if (change == Change::secondWindowSidebar) {
            QListWidget* list = second->sidebar()->deviceList();
            QListWidgetItem* row = nullptr;
            for (int index = 0; index < list->count(); ++index) {
                if (list->item(index)->data(Qt::UserRole + 1).toString() == phoneB.id.rawValue()) {
                    row = list->item(index);
                }
            }
            ASSERT_NE(row, nullptr);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(row).center());
        } else {
            fixture->backend->simulateDisconnect(phoneA.id);
            fixture->backend->simulateDisconnect(phoneB.id);
            fixture->backend->simulateConnect(phoneB);
        }
        ASSERT_TRUE(isShowing(phoneB));
        // An unplug says so in the banner; only what follows counts.
        device().clearError();
    }

    bool waitForRow(const QString& name)
    {
        return processEventsUntil([this, &name] {
            for (const RemoteItem& item : device().items()) {
                if (item.name == name) {
                    return true;
                }
            }
            return false;
        });
    }

    RemoteItem row(const QString& name)
    {
        for (const RemoteItem& item : device().items()) {
            if (item.name == name) {
                return item;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
        return RemoteItem(RemoteObjectID(QString()), StorageID("65537"), std::nullopt, name, RemoteItemKind::file,
                          std::nullopt, std::nullopt, std::nullopt);
    }

    // Selects the row and gives the phone's table the keyboard, as a click on the row does.
    void select(const QString& name)
    {
        androidPane->table()->setFocus(Qt::MouseFocusReason);
        androidPane->setSelection({row(name).id});
    }

    // The phone's tree as its open session lists it: the root and the Download folder.
    QStringList treeOfB()
    {
        auto& session = dynamic_cast<MockDeviceSession&>(*device().currentSession());
        QStringList names;
        const DirectoryPage root = runTask(session.rootDirectory(StorageID("65537")));
        for (const RemoteItem& item : root.items) {
            names.append(item.name);
            if (item.kind == RemoteItemKind::folder) {
                const DirectoryPage inside = runTask(session.listDirectory(item.id, RemotePath(StorageID("65537"), {})));
                for (const RemoteItem& child : inside.items) {
                    names.append(item.name + u'/' + child.name);
                }
            }
        }
        return names;
    }

    // Triggers the action of this object name in a menu built now, while A is shown, after the
    // change.
    static std::function<void()> later(std::shared_ptr<QMenu> menu, const char* actionName)
    {
        return [menu, actionName] {
            auto* action = menu->findChild<QAction*>(QString::fromLatin1(actionName));
            ASSERT_NE(action, nullptr) << actionName;
            ASSERT_TRUE(action->isEnabled()) << actionName;
            action->trigger();
        };
    }
    std::shared_ptr<QMenu> menuOn(const QString& name)
    {
        return std::shared_ptr<QMenu>(androidPane->buildContextMenu({row(name).id}).release());
    }

    QList<Action> actions()
    {
        return {
            {"delete confirmation",
             [this] {
                 select(QStringLiteral("Download"));
                 pressKey(first, Qt::Key_Delete);
                 EXPECT_TRUE(processEventsUntil([this] { return first->sheets()->androidDeleteConfirmation(); }));
                 return std::function<void()>([] {});
             },
             Shown::sheetClosed},
            {"rename sheet",
             [this] {
                 later(menuOn(QStringLiteral("Download")), "renameAction")();
                 EXPECT_TRUE(processEventsUntil([this] { return first->sheets()->androidRenameSheet()->isVisible(); }));
                 return std::function<void()>([] {});
             },
             Shown::sheetClosed},
            {"new-folder sheet",
             [this] {
                 androidPane->header()->newFolderButton()->click();
                 EXPECT_TRUE(
                     processEventsUntil([this] { return first->sheets()->androidNewFolderSheet()->isVisible(); }));
                 return std::function<void()>([] {});
             },
             Shown::sheetClosed},
            {"delete from a menu opened before", [this] { return later(menuOn(QStringLiteral("Download")), "deleteAction"); },
             Shown::deviceBanner},
            {"copy to the computer, menu button", [this] { return later(menuOn(QStringLiteral("Download")), "sendAction"); },
             Shown::transferStrip},
            {"copy to the computer, keys",
             [this] {
                 select(QStringLiteral("Download"));
                 pressKey(first, Qt::Key_C, Qt::ControlModifier);
                 return std::function<void()>([this] {
                     macPane->table()->setFocus(Qt::MouseFocusReason);
                     first->state().setFocusedPane(FocusedPane::mac);
                     pressKey(first, Qt::Key_V, Qt::ControlModifier);
                 });
             },
             Shown::transferStrip},
            {"copy to the computer, drag and drop",
             [this] {
                 select(QStringLiteral("Download"));
                 const QModelIndex index = androidPane->table()->itemModel()->index(
                     androidPane->table()->itemModel()->rowOf(row(QStringLiteral("Download")).id).value_or(-1), 0);
                 std::shared_ptr<QMimeData> data(androidPane->table()->itemModel()->mimeData({index}));
                 return std::function<void()>([this, data] { dropOnMacPane(data.get()); });
             },
             Shown::transferStrip},
            {"copy to the computer, paste",
             [this] {
                 later(menuOn(QStringLiteral("Download")), "copyAction")();
                 return std::function<void()>([this] {
                     std::shared_ptr<QMenu> menu(macPane->buildContextMenu({}).release());
                     later(menu, "pasteAction")();
                 });
             },
             Shown::transferStrip},
            {"open for viewing",
             [this] {
                 runTask(device().openFolder(row(QStringLiteral("Download"))));
                 EXPECT_TRUE(waitForRow(QStringLiteral("sample.apk")));
                 return later(menuOn(QStringLiteral("sample.apk")), "openAction");
             },
             Shown::transferStrip},
            {"folder size", [this] { return later(menuOn(QStringLiteral("DCIM")), "calculateFolderSizeAction"); },
             Shown::deviceBanner},
        };
    }

    void dropOnMacPane(QMimeData* data)
    {
        QWidget* rows = macPane->table()->viewport();
        const QPoint centre = rows->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rows, &enter);
        QDragMoveEvent move(centre, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rows, &move);
        QDropEvent drop(QPointF(centre), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(rows, &drop);
    }

    QString shownText(Shown shown)
    {
        const char* label = shown == Shown::deviceBanner ? "bannerMessage" : "transferErrorMessage";
        auto* text = first->findChild<QLabel*>(QString::fromLatin1(label));
        return text && text->isVisibleTo(first) ? text->text() : QString();
    }

    const AndroidDevice phoneA{DeviceID(QStringLiteral("phone-a")), QStringLiteral("Pixel 8"), QStringLiteral("Google"),
                               QStringLiteral("Pixel 8"), QStringLiteral("AAA"), DeviceConnectionKind::usb};
    const AndroidDevice phoneB{DeviceID(QStringLiteral("phone-b")), QStringLiteral("Galaxy S24"),
                               QStringLiteral("Samsung"), QStringLiteral("S24"), QStringLiteral("BBB"),
                               DeviceConnectionKind::usb};
    std::unique_ptr<ShellFixture> fixture;
    QDir work;
    MainWindow* first = nullptr;
    MainWindow* second = nullptr;
    AndroidPaneView* androidPane = nullptr;
    LocalPaneView* macPane = nullptr;
};

} // namespace

TEST_F(TwoPhonesWindow, WhatWasChosenOnOnePhoneReachesNeitherPhoneAfterTheOtherTookItsPlace)
{
    for (const Change change : {Change::secondWindowSidebar, Change::unplugAndPlugIn}) {
        for (const Action& action : actions()) {
            SCOPED_TRACE(std::string(action.name) +
                         (change == Change::secondWindowSidebar ? ", B chosen in the second window" : ", A unplugged"));
            showA();
            const std::function<void()> act = action.choose();
            bringInB(change);
            const QStringList treeBefore = treeOfB();

            act();

            if (action.shown == Shown::sheetClosed) {
                EXPECT_EQ(first->sheets()->androidDeleteConfirmation(), nullptr);
                EXPECT_FALSE(first->sheets()->androidRenameSheet()->isVisible());
                EXPECT_FALSE(first->sheets()->androidNewFolderSheet()->isVisible());
                EXPECT_TRUE(first->state().androidDeleteTargets().isEmpty());
            } else {
                EXPECT_TRUE(processEventsUntil([&] { return shownText(action.shown) == deviceChangedText; }))
                    << shownText(action.shown).toStdString();
            }
            EXPECT_EQ(treeOfB(), treeBefore);
            EXPECT_EQ(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                      QStringList());
            EXPECT_TRUE(coordinator().transferJobs().isEmpty());
        }
    }
}

} // namespace quillbarrow::testing
