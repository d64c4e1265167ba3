#pragma once

#include "E2EResponder.h"
#include "domain/TransferJob.h"
#include "shell/QuillbarrowApp.h"

#include <QPointer>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

class QListWidgetItem;

namespace quillbarrow {
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
    // A path in the test's home folder (the folder the Mac pane shows).
    QString homePath(const QString& name) const;
    // The served folder's copy of a path on the device's storage.
    QString servedPath(const QString& relative) const;

    // Waits until the sidebar lists the device and the window is connected to it with the
    // storage root listed; the device's row then.
    QListWidgetItem* awaitConnectedDeviceRow();
    void clickSidebarRow(QListWidgetItem* row);
    // Clicks the row of `name` in the Mac pane's table.
    void clickMacRow(const QString& name);
    // Waits until the Mac pane lists `name`.
    bool awaitMacRow(const QString& name);
    // Whether the device folder shown lists `name`.
    bool deviceShows(const QString& name) const;
    // The transfer panel's job for the item of that name.
    std::optional<TransferJob> panelJob(const QString& name) const;
    // The second line of that job's row in the transfer panel.
    QString panelStateLine(const QString& name) const;
    // Waits until the panel's job for `name` has finished (completed, failed or cancelled).
    std::optional<TransferJob> awaitFinishedJob(const QString& name);

    // Asks the runner to unplug the device; the answer is awaited with awaitUnplugged().
    void requestUnplug();
    void awaitUnplugged();

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
