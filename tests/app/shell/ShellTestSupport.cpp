#include "ShellTestSupport.h"

#include "RunTask.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "shell/MainWindow.h"
#include "transport/MockMTPBackend.h"

#include <QWindow>

namespace quillbarrow::testing {

ShellFixture::ShellFixture(QList<AndroidDevice> servedDevices, std::optional<StorageID> sharedStorage)
    : defaults(std::make_shared<InMemoryUserDefaults>()), devices(std::move(servedDevices)),
      sharedStorageID(std::move(sharedStorage)), app(std::make_unique<QuillbarrowApp>(services()))
{
}

ShellFixture::~ShellFixture() = default;

QuillbarrowApp::Services ShellFixture::services() const
{
    QuillbarrowApp::Services services;
    services.homePath = home.path();
    services.preferences = defaults;
    // The backend is made inside the application; the fixture keeps a handle on it for tests
    // that plug devices in and out.
    services.chooseBackend = [this] {
        auto made = sharedStorageID ? std::make_shared<MockMTPBackend>(devices, *sharedStorageID)
                                    : std::make_shared<MockMTPBackend>(devices);
        backend = made;
        return AppEnvironment(made, BackendMode::mock);
    };
    services.openedFilesCacheDirectory = openedFiles.path();
    return services;
}

void pressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(window->windowHandle(), key, modifiers);
}

bool waitUntilShown(QWidget* window)
{
    if (!processEventsUntil([window] { return window->isVisible() && window->windowHandle() != nullptr; })) {
        return false;
    }
    // A window that is not yet active drops the first key press it gets.
    window->activateWindow();
    return processEventsUntil([window] { return window->isActiveWindow(); });
}

} // namespace quillbarrow::testing
