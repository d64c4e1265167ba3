#pragma once

#include "E2EResponder.h"
#include "RunTask.h"
#include "domain/TransferJob.h"
#include "shell/QuillbarrowApp.h"
#include "table/NativeTable.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

class QListWidgetItem;

namespace quillbarrow {
class AndroidPaneView;
class MainWindow;
class LocalPaneView;
} // namespace quillbarrow

namespace quillbarrow::e2e {

// The application as a person starts it, inside the guest with the attached device: the live
// services (the backend the library search chooses, settings in the user's folder), a home folder
// of the test's own that the Mac pane opens on, and one main window on the offscreen platform.
// Everything is driven through the window's widgets; waits end on the window's own state and
// fail only when a generous limit runs out.
class WindowGuestTest : public ::testing::Test {
  public:
    // The folder in the storage root that the served folder holds from the start, and the file
    // in it that the device gives to the Mac.
    static QString servedFolderName();
    static QString servedFileName();
    static constexpr qint64 servedFileSize = 1'500'001;

  protected:
    static constexpr std::chrono::milliseconds connectWatchdog{std::chrono::seconds(90)};
    static constexpr std::chrono::milliseconds transferWatchdog{std::chrono::minutes(3)};

    WindowGuestTest();
    void SetUp() override;
    void TearDown() override;

    MainWindow& window() const { return *m_window; }
    LocalPaneView& macPane() const;
    AndroidPaneView& androidPane() const;
    // A path in the test's home folder (the folder the Mac pane shows).
    QString homePath(const QString& name) const;
    // The served folder's copy of a path on the device's storage.
    QString servedPath(const QString& relative) const;

    // Waits until the sidebar lists the device and the window is connected to it with the
    // storage root listed; the device's row then.
    QListWidgetItem* awaitConnectedDeviceRow();
    void clickSidebarRow(QListWidgetItem* row);
    // The row of `name` in a pane's table, or -1.
    template <typename Item> static int rowOf(NativeTable<Item>* table, const QString& name)
    {
        for (int row = 0; row < table->itemModel()->rowCount(); ++row) {
            if (table->itemModel()->item(row).name == name) {
                return row;
            }
        }
        return -1;
    }
    // Waits until a pane's table lists `name`.
    template <typename Item> static bool awaitRow(NativeTable<Item>* table, const QString& name)
    {
        return testing::processEventsUntil([table, &name] { return rowOf(table, name) >= 0; });
    }
    // Clicks (or double-clicks) the row of `name` in a pane's table.
    template <typename Item>
    static void clickRow(NativeTable<Item>* table, const QString& name, bool twice = false)
    {
        const int row = rowOf(table, name);
        if (row < 0) {
            ADD_FAILURE() << "the table has no row " << name.toStdString();
            return;
        }
        const QPoint centre = table->visualRect(table->itemModel()->index(row, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        if (twice) {
            // As a window system delivers it: a click, then the double-click event.
            QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        }
    }
    // The transfer panel's job for the item of that name.
    std::optional<TransferJob> panelJob(const QString& name) const;
    // The second line of that job's row in the transfer panel.
    QString panelStateLine(const QString& name) const;
    // Waits until the panel's job for `name` has finished (completed, failed or cancelled).
    std::optional<TransferJob> awaitFinishedJob(const QString& name);

    // Asks the runner to unplug the device; the answer is awaited with awaitUnplugged().
    void requestUnplug();
    void awaitUnplugged();
    // Plugs the unplugged device in again and waits until it is listed (the window then finds it
    // by itself).
    void plugInAgain();

    const E2EResponder& m_responder;
    QTemporaryDir m_home;
    QByteArray m_savedHome;
    std::unique_ptr<QuillbarrowApp> m_app;
    QPointer<MainWindow> m_window;

  private:
    void plugBackIn();

    bool m_unplugAsked = false;
    bool m_unplugAnswered = false;
};

} // namespace quillbarrow::e2e
