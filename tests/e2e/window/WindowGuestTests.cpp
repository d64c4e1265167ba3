// The whole application window against the attached device, driven as a person drives it: the
// device chosen in the sidebar, a file picked in the Mac pane and sent with "Copy to Android", a
// folder opened in the Android pane and a file of it brought back with "Copy to Mac", the cable
// pulled in the middle of a copy. What arrives is compared byte for byte with the
// served folder, the device's own storage seen from the host.

#include "LocalTree.h"
#include "RunTask.h"
#include "WindowGuestTest.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/ErrorBannerView.h"
#include "chrome/ServiceRestartAlert.h"
#include "chrome/TransferPanel.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "panes/PaneHeader.h"
#include "panes/blocks/ToolbarIconButton.h"
#include "shell/MainWindow.h"
#include "shell/WindowSheets.h"
#include "window/WindowState.h"
#include "shell/ShellTestSupport.h"
#include "table/LocalItemTable.h"
#include "table/RemoteItemTable.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <iostream>

namespace quillbarrow::e2e {

namespace {

using testing::processEventsUntil;

const QString interrupted =
    QStringLiteral("The transfer was interrupted. Check the cable and keep the phone unlocked.");

class WindowGuest : public WindowGuestTest {
  protected:
    // Shows a file written into the home folder after the window listed it: the Mac pane's
    // refresh button, as a person would.
    void refreshMacPane(const QString& expected)
    {
        QTest::mouseClick(macPane().header()->refreshButton(), Qt::LeftButton);
        ASSERT_TRUE(awaitRow(macPane().table(), expected)) << "the Mac pane does not list " << expected.toStdString();
    }

    // Selects the Mac row and presses "Copy to Android" once the button allows it.
    void copyToAndroid(const QString& name)
    {
        clickRow(macPane().table(), name);
        ASSERT_NO_FATAL_FAILURE(press(macPane().header()->copyButton(), QStringLiteral("Copy to Android")));
    }

    // Presses a pane's copy button once it allows the copy.
    static void press(QPushButton* copy, const QString& title)
    {
        EXPECT_EQ(copy->text().remove(u'&'), title);
        ASSERT_TRUE(processEventsUntil([copy] { return copy->isEnabled(); }))
            << "\"" << title.toStdString() << "\" stays disabled";
        QTest::mouseClick(copy, Qt::LeftButton);
    }

    QStringList deviceRootNames() const
    {
        QStringList names;
        for (const RemoteItem& item : m_app->deviceBrowser().currentPage()->items) {
            names.append(item.name);
        }
        names.sort();
        return names;
    }
};

TEST_F(WindowGuest, TheDeviceIsSelectedInTheSidebarAndItsStorageRootListed)
{
    QListWidgetItem* row = awaitConnectedDeviceRow();
    ASSERT_NE(row, nullptr);
    DeviceBrowserViewModel& browser = m_app->deviceBrowser();
    QListWidget* list = window().sidebar()->deviceList();
    EXPECT_EQ(list->count(), 1);
    EXPECT_TRUE(row->isSelected());
    const auto* name = list->itemWidget(row)->findChild<QLabel*>(QStringLiteral("deviceName"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), browser.selectedDevice()->displayName);
    std::cout << "the sidebar lists \"" << name->text().toStdString() << "\"" << std::endl;

    // The storage root as the device lists it: what the served folder holds.
    const std::optional<DirectoryPage>& page = browser.currentPage();
    EXPECT_FALSE(page->parentID.has_value());
    EXPECT_EQ(browser.breadcrumb().size(), 1);
    QStringList served = QDir(m_responder.share()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    served.sort();
    EXPECT_EQ(deviceRootNames(), served);
    // The Android pane shows that listing under the device's name.
    EXPECT_EQ(androidPane().content(), AndroidPaneView::Content::table);
    EXPECT_EQ(androidPane().header()->titleLabel()->text(), name->text());
    EXPECT_TRUE(awaitRow(androidPane().table(), servedFolderName()));
    EXPECT_EQ(androidPane().table()->itemModel()->rowCount(), served.size());

    // Choosing the device already connected keeps its session and the page.
    const std::shared_ptr<DeviceSession> session = browser.currentSession();
    clickSidebarRow(row);
    QCoreApplication::processEvents();
    EXPECT_EQ(browser.currentSession(), session);
    EXPECT_EQ(browser.connectionPhase(), DeviceConnectionPhase::connected);
    EXPECT_TRUE(list->currentItem() == row && row->isSelected());
    EXPECT_FALSE(window().errorBanner()->isVisible());
}

TEST_F(WindowGuest, CopyToAndroidSendsTheSelectedFileByteForByte)
{
    const QString name = QStringLiteral("to-device.bin");
    constexpr qint64 size = 2'345'678;
    ASSERT_TRUE(m_responder.acceptsUploadOf(size));
    LocalTree::writePseudoRandomFile(homePath(name), size, 5);
    ASSERT_NE(awaitConnectedDeviceRow(), nullptr);
    ASSERT_LT(rowOf(androidPane().table(), name), 0);
    ASSERT_NO_FATAL_FAILURE(refreshMacPane(name));

    ASSERT_NO_FATAL_FAILURE(copyToAndroid(name));
    const std::optional<TransferJob> job = awaitFinishedJob(name);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state.kind(), TransferState::Kind::completed) << panelStateLine(name).toStdString();
    EXPECT_EQ(panelStateLine(name), QStringLiteral("Completed"));
    // The Android pane lists its folder again after the copy.
    EXPECT_TRUE(awaitRow(androidPane().table(), name));

    const std::optional<QString> difference = LocalTree::fileDifference(homePath(name), servedPath(name));
    EXPECT_FALSE(difference) << difference.value_or(QString()).toStdString();
    EXPECT_FALSE(window().errorBanner()->isVisible());
}

TEST_F(WindowGuest, CopyToMacDownloadsAFileOfAnOpenedFolderByteForByte)
{
    ASSERT_NE(awaitConnectedDeviceRow(), nullptr);
    RemoteItemTable* table = androidPane().table();
    ASSERT_TRUE(awaitRow(table, servedFolderName()));
    clickRow(table, servedFolderName(), true);
    // The folder's own listing, under its crumb.
    DeviceBrowserViewModel& browser = m_app->deviceBrowser();
    ASSERT_TRUE(processEventsUntil([&] {
        return browser.breadcrumb().size() == 2 && !browser.isLoading() && rowOf(table, servedFileName()) >= 0;
    })) << "the folder did not open";
    EXPECT_EQ(browser.breadcrumb().last().name(), servedFolderName());
    EXPECT_EQ(table->itemModel()->rowCount(), 1);
    ASSERT_FALSE(QFile::exists(homePath(servedFileName())));

    clickRow(table, servedFileName());
    ASSERT_NO_FATAL_FAILURE(press(androidPane().header()->copyButton(), QStringLiteral("Copy to Mac")));
    const std::optional<TransferJob> job = awaitFinishedJob(servedFileName());
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state.kind(), TransferState::Kind::completed) << panelStateLine(servedFileName()).toStdString();
    EXPECT_EQ(panelStateLine(servedFileName()), QStringLiteral("Completed"));
    // Into the folder the Mac pane shows, which lists it.
    EXPECT_TRUE(awaitRow(macPane().table(), servedFileName()));
    const std::optional<QString> difference = LocalTree::fileDifference(
        servedPath(servedFolderName() + QLatin1Char('/') + servedFileName()), homePath(servedFileName()));
    EXPECT_FALSE(difference) << difference.value_or(QString()).toStdString();
    EXPECT_EQ(QDir(m_home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{servedFileName()});
}

// Last in the run: QEMU's device, unplugged with an open session and plugged in again, may fail
// on later writes into folders the old one watched (see tests/e2e/README.md).
TEST_F(WindowGuest, UnpluggingDuringACopyShowsTheBannerAndTheFailedRow)
{
    // Big enough that the upload is still moving bytes long after the unplug was asked for (the
    // device takes some 70 MB a second); sparse, so that making it costs nothing.
    const QString name = QStringLiteral("unplugged.bin");
    constexpr qint64 size = 1'500'000'000;
    ASSERT_TRUE(m_responder.acceptsUploadOf(size));
    {
        QFile file(homePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
    }
    ASSERT_NE(awaitConnectedDeviceRow(), nullptr);
    ASSERT_NO_FATAL_FAILURE(refreshMacPane(name));
    ASSERT_NO_FATAL_FAILURE(copyToAndroid(name));

    // The cable goes once the panel shows bytes moving.
    ASSERT_TRUE(processEventsUntil(
        [this, &name] {
            const std::optional<TransferJob> job = panelJob(name);
            return job && job->state.kind() == TransferState::Kind::running &&
                   job->state.progress()->bytesCompleted > 0;
        },
        transferWatchdog))
        << "the panel never showed the copy moving bytes: " << panelStateLine(name).toStdString();
    const qint64 movedAtRequest = panelJob(name)->state.progress()->bytesCompleted;
    requestUnplug();
    ASSERT_NO_FATAL_FAILURE(awaitUnplugged());

    const std::optional<TransferJob> job = awaitFinishedJob(name);
    ASSERT_TRUE(job);
    std::cout << "unplug asked for after " << movedAtRequest << " of " << size << " bytes" << std::endl;
    ASSERT_EQ(job->state.kind(), TransferState::Kind::failed)
        << "the copy was not interrupted: " << panelStateLine(name).toStdString();
    EXPECT_EQ(panelStateLine(name), QStringLiteral("Failed: ") + interrupted);

    // The sidebar no longer lists the device, and the banner across the detail column says why
    // (once the window has noticed the device gone, whatever an earlier failure had shown).
    QListWidget* list = window().sidebar()->deviceList();
    EXPECT_TRUE(processEventsUntil([list] {
        return list->count() == 1 && list->item(0)->text() == QStringLiteral("No device connected");
    }));
    ErrorBannerView* banner = window().errorBanner();
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->findChild<QLabel*>(QStringLiteral("bannerMessage"))->text(), interrupted);
}

TEST_F(WindowGuest, ADeleteConfirmationDoesNotOutliveAnUnplugAndTheFolderStays)
{
    const QString folder = servedFolderName();
    const QString file = servedPath(folder + QLatin1Char('/') + servedFileName());
    ASSERT_NE(awaitConnectedDeviceRow(), nullptr);
    // An earlier test may have left the device's last folder inside the served one.
    DeviceBrowserViewModel& browser = m_app->deviceBrowser();
    if (browser.breadcrumb().size() > 1) {
        testing::runTask(browser.navigate(browser.breadcrumb().first()));
    }
    ASSERT_TRUE(awaitRow(androidPane().table(), folder));
    clickRow(androidPane().table(), folder);
    // The table hands a click's selection to the pane on the next turn of the event loop.
    ASSERT_TRUE(processEventsUntil([this] { return androidPane().selection().size() == 1; }));
    testing::pressKey(&window(), Qt::Key_Delete);
    ASSERT_TRUE(processEventsUntil([this] { return window().sheets()->androidDeleteConfirmation() != nullptr; }))
        << "Delete opened no confirmation";
    const QList<RemoteItem> chosen = window().state().androidDeleteTargets();
    ASSERT_EQ(chosen.size(), 1);

    requestUnplug();
    ASSERT_NO_FATAL_FAILURE(awaitUnplugged());
    // The session the confirmation was opened for has ended: so has the confirmation.
    EXPECT_TRUE(processEventsUntil([this] { return window().sheets()->androidDeleteConfirmation() == nullptr; }));
    EXPECT_TRUE(window().state().androidDeleteTargets().isEmpty());
    ASSERT_NO_FATAL_FAILURE(plugInAgain());
    ASSERT_NE(awaitConnectedDeviceRow(), nullptr);
    EXPECT_EQ(window().sheets()->androidDeleteConfirmation(), nullptr);

    // Asked again for the items chosen before the unplug (as a menu opened then would), the window
    // refuses and says why; the new session is not asked to delete anything.
    window().state().setAndroidDeleteTargets(chosen);
    QCoreApplication::processEvents();
    EXPECT_EQ(window().sheets()->androidDeleteConfirmation(), nullptr);
    EXPECT_EQ(window().errorBanner()->findChild<QLabel*>(QStringLiteral("bannerMessage"))->text(),
              QStringLiteral("The Android device changed since these items were chosen."));
    testing::runTask(browser.deleteItems(chosen));

    // The served folder, the device's own storage seen from the host, still holds the folder
    // and its file whole, and the device still lists it.
    EXPECT_EQ(QFileInfo(file).size(), servedFileSize);
    if (browser.breadcrumb().size() > 1) {
        testing::runTask(browser.navigate(browser.breadcrumb().first()));
    }
    testing::runTask(browser.refresh());
    EXPECT_TRUE(awaitRow(androidPane().table(), folder));
    EXPECT_EQ(QFileInfo(file).size(), servedFileSize);
}

} // namespace

} // namespace quillbarrow::e2e
