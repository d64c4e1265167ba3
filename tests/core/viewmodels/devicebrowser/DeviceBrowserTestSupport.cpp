#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"
#include "async/Sleep.h"

#include <QMutex>
#include <QMutexLocker>

namespace quillbarrow::testing {

using namespace std::chrono_literals;

QCoro::Task<bool> RecordingWaitClock::sleep(std::chrono::nanoseconds duration, std::stop_token stop)
{
    m_sleeps.append(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
    co_return co_await sleepFor(duration, std::move(stop));
}

DeviceBrowserTiming fastTiming(std::shared_ptr<WaitClock> clock)
{
    DeviceBrowserTiming timing;
    timing.clock = std::move(clock);
    timing.openSessionLimit = 5s;
    timing.storagesLimit = 5s;
    timing.listingLimit = 5s;
    timing.retryPauseUnit = 5ms;
    // The automatic folder-size pass after a connection lists folders of its own: only the tests
    // that look at it let it run.
    timing.automaticFolderSizeDelay = 1h;
    timing.reloadPollInterval = 2ms;
    timing.measuredRowsInterval = 2ms;
    return timing;
}

namespace {

struct CapturedLine {
    QtMsgType type;
    QString message;
};

QMutex capturedMutex;
QList<CapturedLine> captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (qstrcmp(context.category, "com.quillbarrow.app.DeviceBrowserViewModel") == 0) {
        QMutexLocker lock(&capturedMutex);
        captured.append(CapturedLine{type, message});
        return;
    }
    if (previousHandler != nullptr) {
        previousHandler(type, context, message);
    }
}

QStringList linesOf(QtMsgType type)
{
    QMutexLocker lock(&capturedMutex);
    QStringList lines;
    for (const CapturedLine& line : captured) {
        if (line.type == type) {
            lines.append(line.message);
        }
    }
    return lines;
}

} // namespace

DeviceBrowserLog::DeviceBrowserLog()
{
    {
        QMutexLocker lock(&capturedMutex);
        captured.clear();
    }
    previousHandler = qInstallMessageHandler(capture);
}

DeviceBrowserLog::~DeviceBrowserLog()
{
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

QStringList DeviceBrowserLog::infoLines() const
{
    return linesOf(QtInfoMsg);
}

QStringList DeviceBrowserLog::errorLines() const
{
    return linesOf(QtCriticalMsg);
}

DeviceBrowserViewModel& DeviceBrowserTest::viewModel()
{
    if (!m_viewModel) {
        m_viewModel = std::make_unique<DeviceBrowserViewModel>(
            backend, AppLogger(QStringLiteral("DeviceBrowserViewModel")), detector, queue, preferences, timing);
    }
    return *m_viewModel;
}

void DeviceBrowserTest::destroyViewModel()
{
    m_viewModel.reset();
}

void DeviceBrowserTest::TearDown()
{
    m_viewModel.reset();
    // Let every call still held go on and end, so that no coroutine stays suspended.
    backend->releaseAll();
    detector->releaseAll();
    for (const std::shared_ptr<FakeDeviceSession>& session : m_sessions) {
        session->releaseAll();
    }
    processEventsUntil([] { return false; }, 20ms);
}

std::shared_ptr<QList<DeviceConnectionPhase>> DeviceBrowserTest::recordPhases()
{
    auto phases = std::make_shared<QList<DeviceConnectionPhase>>();
    DeviceBrowserViewModel* model = &viewModel();
    QObject::connect(model, &DeviceBrowserViewModel::connectionPhaseChanged, model,
                     [model, phases] { phases->append(model->connectionPhase()); });
    return phases;
}

TransferID DeviceBrowserTest::queueJob()
{
    const TransferID id = TransferID::create();
    queue->enqueue(TransferJob(id, TransferDirection::macToAndroid, TransferPurpose::fileTransfer,
                               QStringLiteral("photo.jpg"), 10, TransferState::queued(), 0));
    return id;
}

std::shared_ptr<FakeDeviceSession> DeviceBrowserTest::sessionFor(const AndroidDevice& device, FakeDeviceTree tree)
{
    auto session = std::make_shared<FakeDeviceSession>(device, std::move(tree));
    backend->registerSession(device.id, session);
    m_sessions.append(session);
    return session;
}

ConnectedDeviceBrowserTest::ConnectedDeviceBrowserTest(AndroidDevice phone) : device(std::move(phone))
{
    backend->attached = {device};
    useTree(treeWith({}));
}

void ConnectedDeviceBrowserTest::useTree(FakeDeviceTree tree)
{
    session = sessionFor(device, std::move(tree));
}

void ConnectedDeviceBrowserTest::connect()
{
    runTask(viewModel().selectDevice(device), 10s);
    ASSERT_EQ(viewModel().connectionPhase(), DeviceConnectionPhase::connected);
    forgetCalls();
}

QStringList ConnectedDeviceBrowserTest::newCalls() const
{
    return session->calls().mid(m_callsBefore);
}

void ConnectedDeviceBrowserTest::forgetCalls()
{
    m_callsBefore = session->calls().size();
}

std::optional<RemoteItem> ConnectedDeviceBrowserTest::row(const QString& name)
{
    for (const RemoteItem& item : viewModel().items()) {
        if (item.name == name) {
            return item;
        }
    }
    return std::nullopt;
}

QList<RemoteItem> manyFiles(qsizetype count, std::optional<QString> folder)
{
    QList<RemoteItem> files;
    for (qsizetype index = 0; index < count; ++index) {
        const QString name = QStringLiteral("f%1").arg(index, 4, 10, QLatin1Char('0'));
        files.append(fileItem(name, name, 100'000 - index, QStringLiteral("s1"), folder));
    }
    return files;
}

QStringList itemNames(const QList<RemoteItem>& items)
{
    QStringList names;
    for (const RemoteItem& item : items) {
        names.append(item.name);
    }
    return names;
}

FakeDeviceTree treeWith(const QList<RemoteItem>& items, QList<StorageRoot> storages)
{
    FakeDeviceTree tree;
    tree.storages = std::move(storages);
    for (const StorageRoot& storage : tree.storages) {
        tree.roots.insert(storage.id, {});
    }
    for (const RemoteItem& item : items) {
        tree.add(item);
    }
    return tree;
}

} // namespace quillbarrow::testing
