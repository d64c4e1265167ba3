#include "WindowGuestTest.h"

#include "LocalTree.h"
#include "RunTask.h"
#include "chrome/DeviceSidebar.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanel.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "shell/MainWindow.h"
#include "shell/ShellTestSupport.h"
#include "transport/MTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>
#include <exception>

namespace quillbarrow::e2e {

namespace {

using testing::processEventsUntil;

// Prepared once for the run, before any window looks at the device: the settings, data and cache
// folders of the user (the home folder is each test's own), and a folder with a file on the
// device, made in the served folder before the first session lists the storage (a responder may
// miss what appears later in a folder it has not listed).
class WindowGuestEnvironment : public ::testing::Environment {
  public:
    void SetUp() override
    {
        ASSERT_TRUE(m_user.isValid());
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
            const QString folder = m_user.filePath(QString::fromLatin1(name).toLower());
            ASSERT_TRUE(QDir().mkpath(folder));
            qputenv(name, QFile::encodeName(folder));
        }
        try {
            const QString folder =
                E2EResponder::current().share() + QLatin1Char('/') + WindowGuestTest::servedFolderName();
            ASSERT_TRUE(QDir().mkpath(folder));
            LocalTree::writePseudoRandomFile(folder + QLatin1Char('/') + WindowGuestTest::servedFileName(),
                                             WindowGuestTest::servedFileSize, 23);
        } catch (const std::exception& error) {
            FAIL() << error.what();
        }
    }

  private:
    QTemporaryDir m_user;
};

[[maybe_unused]] ::testing::Environment* const windowGuestEnvironment =
    ::testing::AddGlobalTestEnvironment(new WindowGuestEnvironment);

bool finished(const TransferJob& job)
{
    const TransferState::Kind kind = job.state.kind();
    return kind == TransferState::Kind::completed || kind == TransferState::Kind::failed ||
           kind == TransferState::Kind::cancelled;
}

} // namespace

QString WindowGuestTest::servedFolderName()
{
    return QStringLiteral("quillbarrow-window");
}

QString WindowGuestTest::servedFileName()
{
    return QStringLiteral("from-device.bin");
}

WindowGuestTest::WindowGuestTest() : m_responder(E2EResponder::current()) {}

void WindowGuestTest::SetUp()
{
    ASSERT_TRUE(m_home.isValid());
    // The Mac pane starts in the home folder: this test's own.
    m_savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_home.path()));
    m_app = std::make_unique<QuillbarrowApp>(QuillbarrowApp::Services::live());
    ASSERT_EQ(m_app->backendMode(), BackendMode::libmtp) << "the library search did not choose libmtp";
    m_app->finishLaunching();
    m_window = m_app->openWindow();
    ASSERT_TRUE(testing::waitUntilShown(m_window));
}

void WindowGuestTest::TearDown()
{
    if (m_window) {
        m_window->close();
    }
    // The session goes with the application; a device unplugged by the test comes back after it,
    // so that the next test finds it.
    m_app.reset();
    if (m_unplugAsked) {
        plugBackIn();
    }
    qputenv("HOME", m_savedHome);
}

LocalPaneView& WindowGuestTest::macPane() const
{
    return *m_window->findChild<LocalPaneView*>();
}

AndroidPaneView& WindowGuestTest::androidPane() const
{
    return *m_window->findChild<AndroidPaneView*>();
}

QString WindowGuestTest::homePath(const QString& name) const
{
    return m_home.filePath(name);
}

QString WindowGuestTest::servedPath(const QString& relative) const
{
    return m_responder.share() + QLatin1Char('/') + relative;
}

QListWidgetItem* WindowGuestTest::awaitConnectedDeviceRow()
{
    DeviceBrowserViewModel& browser = m_app->deviceBrowser();
    QListWidget* list = m_window->sidebar()->deviceList();
    const bool connected = processEventsUntil(
        [&] {
            return browser.selectedDevice() && browser.currentSession() && browser.currentPage() &&
                   !browser.isLoading() && list->currentItem() != nullptr &&
                   list->currentItem()->flags().testFlag(Qt::ItemIsSelectable);
        },
        connectWatchdog);
    if (!connected) {
        ADD_FAILURE() << "the window did not connect to the device; its status: "
                      << browser.connectionStatusMessage().toStdString()
                      << (browser.errorBanner() ? "; banner: " + browser.errorBanner()->message.toStdString() : "");
        return nullptr;
    }
    return list->currentItem();
}

void WindowGuestTest::clickSidebarRow(QListWidgetItem* row)
{
    QListWidget* list = m_window->sidebar()->deviceList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(row).center());
}

std::optional<TransferJob> WindowGuestTest::panelJob(const QString& name) const
{
    for (const TransferJob& job : m_window->transferPanel()->model()->jobs()) {
        if (job.displayName == name) {
            return job;
        }
    }
    return std::nullopt;
}

QString WindowGuestTest::panelStateLine(const QString& name) const
{
    TransferJobListModel* model = m_window->transferPanel()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row);
        if (index.data(Qt::DisplayRole).toString() == name) {
            return index.data(TransferJobListModel::StateLineRole).toString();
        }
    }
    return {};
}

std::optional<TransferJob> WindowGuestTest::awaitFinishedJob(const QString& name)
{
    processEventsUntil(
        [this, &name] {
            const std::optional<TransferJob> job = panelJob(name);
            return job && finished(*job);
        },
        transferWatchdog);
    std::optional<TransferJob> job = panelJob(name);
    if (!job || !finished(*job)) {
        ADD_FAILURE() << "the transfer of " << name.toStdString() << " did not finish in time";
        return std::nullopt;
    }
    return job;
}

void WindowGuestTest::requestUnplug()
{
    m_unplugAsked = true;
    m_responder.sendRequest(QStringLiteral("unplug"));
}

void WindowGuestTest::awaitUnplugged()
{
    QString answer;
    m_unplugAnswered = true;
    ASSERT_TRUE(m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer))
        << answer.toStdString();
}

void WindowGuestTest::plugInAgain()
{
    plugBackIn();
    m_unplugAsked = false;
    m_unplugAnswered = false;
}

void WindowGuestTest::plugBackIn()
{
    QString answer;
    if (!m_unplugAnswered) {
        m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer);
    }
    m_responder.sendRequest(QStringLiteral("plug"));
    ASSERT_TRUE(m_responder.awaitAnswer(QStringLiteral("plug"), std::chrono::seconds(30), &answer))
        << answer.toStdString();
    // Listed again before the next test starts its own application.
    const std::shared_ptr<MTPBackend> backend = m_responder.makeBackend();
    bool listed = false;
    for (int attempt = 0; attempt < 100 && !listed; ++attempt) {
        listed = testing::runTask(backend->currentDevices()).size() == 1;
        if (!listed) {
            processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
        }
    }
    EXPECT_TRUE(listed) << "the device is not listed after it was plugged in again";
}

} // namespace quillbarrow::e2e
