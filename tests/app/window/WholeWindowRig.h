#pragma once

// The whole main window over the mock device and real temporary folders, and what a test needs to
// drive it as a person would and to read what came of it: the trees on both sides, the transfer
// panel's rows, the conflict sheet.

#include "RunTask.h"
#include "shell/ShellTestSupport.h"
#include "table/NativeTable.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace quillbarrow {
class DeviceBrowserViewModel;
class LocalBrowserViewModel;
class LocalPaneView;
class MainWindow;
class MockDeviceSession;
class TransferCoordinator;
struct RemoteItem;
} // namespace quillbarrow

namespace quillbarrow::testing {

// One file or folder of a tree to build: a folder when `bytes` is absent.
struct TreeEntry {
    QString path;
    std::optional<QByteArray> bytes;
};

// A nested folder of a few files, one of them empty, one binary.
QList<TreeEntry> sampleTree(const QString& top);

// A tree as lines, one per entry in path order, relative to the folder walked and prefixed with
// its name: "Tree/" for a folder, "Tree/a.txt = <bytes percent-encoded>" for a file.
QStringList localTree(const QString& folderPath);
// The same lines for a device folder, each file's bytes being those the mock serves for it.
QStringList deviceTree(MockDeviceSession& session, const RemoteItem& folder);

class WholeWindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    LocalBrowserViewModel& local();
    DeviceBrowserViewModel& device();
    TransferCoordinator& coordinator();
    MockDeviceSession& mockSession();

    // Writes the entries below `root`.
    static void write(const QDir& root, const QList<TreeEntry>& entries);
    // Makes the entries on the device below its storage root through the session itself.
    void writeOnDevice(const QList<TreeEntry>& entries);

    // The item named `name` in the device's storage root, as the session lists it now.
    std::optional<RemoteItem> deviceRootItem(const QString& name);
    // The names in the device's storage root, as the session lists them now.
    QStringList deviceRootNames();

    // Clicks the row of `name` in a pane's table, as a person selects it.
    template <typename Item>
    void clickRow(NativeTable<Item>* table, const QString& name,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        for (int row = 0; row < table->itemModel()->rowCount(); ++row) {
            if (table->itemModel()->item(row).name == name) {
                const QRect cell = table->visualRect(table->itemModel()->index(row, 0));
                QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, cell.center());
                return;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
    }
    // Waits until the Mac pane lists `name`.
    bool waitForLocalRow(const QString& name);

    // Waits for the conflict sheet, checks that it asks about `fileName`, ticks "Apply to all
    // remaining conflicts" when asked to and clicks the button of that object name.
    void answerConflict(const QString& fileName, const char* buttonName, bool applyToAll = false);
    // The transfer panel's rows as "<name>: <state line>", in panel order.
    QStringList panelRows();
    // Clicks the cancel button painted on the panel's row of `name`.
    void clickCancelInPanel(const QString& name);

    QTemporaryDir trash;
    std::unique_ptr<ShellFixture> fixture;
    QDir work;
    MainWindow* window = nullptr;
    LocalPaneView* macPane = nullptr;
};

} // namespace quillbarrow::testing
