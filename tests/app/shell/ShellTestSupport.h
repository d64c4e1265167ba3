#pragma once

#include "domain/AndroidDevice.h"
#include "domain/StorageID.h"
#include "shell/QuillbarrowApp.h"

#include <QTemporaryDir>
#include <QtTest/QTest>

#include <memory>

#include <ostream>

// Readable texts in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace quillbarrow {
class InMemoryUserDefaults;
class MockMTPBackend;
class MainWindow;
} // namespace quillbarrow

namespace quillbarrow::testing {

// An application over the mock backend serving the given devices (each storage under
// `sharedStorageID` when given), with in-memory user defaults, a temporary home and a temporary
// opened-files folder.
struct ShellFixture {
    explicit ShellFixture(QList<AndroidDevice> devices = {}, std::optional<StorageID> sharedStorageID = std::nullopt);
    ~ShellFixture();

    QuillbarrowApp::Services services() const;

    QTemporaryDir home;
    QTemporaryDir openedFiles;
    std::shared_ptr<InMemoryUserDefaults> defaults;
    QList<AndroidDevice> devices;
    std::optional<StorageID> sharedStorageID;
    // The backend the application chose, once it has chosen.
    mutable std::shared_ptr<MockMTPBackend> backend;
    std::unique_ptr<QuillbarrowApp> app;
};

// Presses and releases a key on the window the way the platform delivers it: to the window
// first, then to its focus widget.
void pressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Waits (events processed) until the window is shown and active.
bool waitUntilShown(QWidget* window);

} // namespace quillbarrow::testing
