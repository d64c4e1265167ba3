#include "DeviceContractConformance.h"

#include "domain/BrowserSort.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

namespace quillbarrow::testing {

// A test executable may link the suite without running it against any conformer.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DeviceContractConformance);

std::string deviceContractTestName(const ::testing::TestParamInfo<DeviceContractFactory>& info)
{
    return info.param.name;
}

namespace {

using Kind = QuillbarrowError::Kind;

QCoro::Task<std::vector<DeviceConnectionEvent>> readEvents(AsyncChannel<DeviceConnectionEvent>* stream,
                                                           std::size_t count)
{
    std::vector<DeviceConnectionEvent> events;
    while (events.size() < count) {
        std::optional<DeviceConnectionEvent> event = co_await stream->next();
        if (!event) {
            break;
        }
        events.push_back(std::move(*event));
    }
    co_return events;
}

// Waits for one event; *ended tells when the wait is over, *gotEvent whether it brought one.
QCoro::Task<> awaitOneEvent(AsyncChannel<DeviceConnectionEvent>* stream, std::stop_token stop, bool* ended,
                            bool* gotEvent)
{
    const std::optional<DeviceConnectionEvent> event = co_await stream->next(stop);
    *gotEvent = event.has_value();
    *ended = true;
}

// Progress reports, which may arrive on any thread.
struct ProgressLog {
    std::mutex mutex;
    std::vector<qint64> done;

    TransferProgressFunction function()
    {
        return [this](qint64 bytesDone, std::optional<qint64>) {
            const std::lock_guard lock(mutex);
            done.push_back(bytesDone);
            return true;
        };
    }
};

QStringList namesOf(const QList<RemoteItem>& items)
{
    QStringList names;
    for (const RemoteItem& item : items) {
        names.append(item.name);
    }
    return names;
}

std::optional<RemoteItem> findByID(const QList<RemoteItem>& items, const RemoteObjectID& id)
{
    const auto found = std::find_if(items.begin(), items.end(), [&id](const RemoteItem& item) { return item.id == id; });
    return found == items.end() ? std::nullopt : std::optional<RemoteItem>(*found);
}

// Every byte value, and text that is not ASCII.
QByteArray sampleContent()
{
    QByteArray bytes = QStringLiteral("Round trip \u2014 \u00FCn\u00EFc\u00F6d\u00E9\n").toUtf8();
    for (int i = 0; i < 4096; ++i) {
        bytes.append(static_cast<char>((i * 7 + i / 256) % 256));
    }
    return bytes;
}

} // namespace

void DeviceContractConformance::SetUp()
{
    ASSERT_TRUE(m_local.isValid());
    ASSERT_TRUE(factory().makeBackend || factory().openSession) << "the factory makes neither backend nor session";
    if (factory().makeBackend) {
        m_backend = factory().makeBackend();
        ASSERT_TRUE(m_backend);
        if (factory().deviceID) {
            m_deviceID = *factory().deviceID;
        } else {
            const QList<AndroidDevice> devices = run(m_backend->currentDevices());
            ASSERT_FALSE(devices.isEmpty()) << "the backend lists no device to test on";
            m_deviceID = devices.first().id;
        }
    }
    m_session = factory().openSession ? run(factory().openSession(m_backend)) : run(m_backend->openSession(m_deviceID));
    ASSERT_TRUE(m_session);
    if (factory().storageID) {
        m_storageID = *factory().storageID;
    } else {
        const QList<StorageRoot> storages = run(m_session->storages());
        ASSERT_FALSE(storages.isEmpty()) << "the session lists no storage to test on";
        m_storageID = storages.first().id;
    }
}

void DeviceContractConformance::TearDown()
{
    if (m_session) {
        if (m_workFolder) {
            try {
                run(m_session->deleteItem(m_workFolder->id));
            } catch (...) {
                // A closed session, or a conformer that cannot delete: nothing more to tidy.
            }
        }
        run(m_session->close());
    }
    m_session.reset();
    m_backend.reset();
}

void DeviceContractConformance::expectFailure(QuillbarrowError::Kind expected,
                                              const std::optional<QuillbarrowError>& actual,
                                              const char* operation) const
{
    if (!actual) {
        ADD_FAILURE() << operation << " succeeded; expected " << QuillbarrowError::kindName(expected).toStdString();
        return;
    }
    EXPECT_EQ(QuillbarrowError::kindName(actual->kind()), QuillbarrowError::kindName(expected))
        << operation << ": " << actual->technicalDetails().toStdString();
}

RemoteItem DeviceContractConformance::workFolder()
{
    if (!m_workFolder) {
        const auto& writable = factory().writableFolder;
        const QString name = QStringLiteral("quillbarrow-conformance-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
        const std::optional<RemoteObjectID> parent = writable ? std::optional<RemoteObjectID>(writable->id) : std::nullopt;
        m_workFolder = run(m_session->createFolder(name, parent, m_storageID));
        m_workFolderPath = (writable ? writable->path : RemotePath(m_storageID, {})).appending(name);
    }
    return *m_workFolder;
}

RemotePath DeviceContractConformance::workFolderPath()
{
    workFolder();
    return *m_workFolderPath;
}

QString DeviceContractConformance::localFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = localPath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        ADD_FAILURE() << "cannot write the local file " << path.toStdString();
    }
    return path;
}

QString DeviceContractConformance::localPath(const QString& name) const
{
    return m_local.filePath(name);
}

TEST_P(DeviceContractConformance, EveryStorageRootPageDescribesItsStorageInBrowserOrder)
{
    const QList<StorageRoot> storages = run(m_session->storages());
    ASSERT_FALSE(storages.isEmpty());
    for (const StorageRoot& storage : storages) {
        const DirectoryPage page = run(m_session->rootDirectory(storage.id));
        EXPECT_EQ(page.storage.id, storage.id);
        EXPECT_EQ(page.path, RemotePath(storage.id, {}));
        EXPECT_FALSE(page.parentID.has_value());
        for (const RemoteItem& item : page.items) {
            EXPECT_EQ(item.storageID, storage.id) << item.name.toStdString();
            EXPECT_FALSE(item.parentID.has_value()) << item.name.toStdString();
        }
        EXPECT_EQ(namesOf(page.items), namesOf(sortedForBrowser(page.items, FileSort::name, true)));
    }
}

TEST_P(DeviceContractConformance, PagesListFoldersFirstThenFilesEachByNaturalName)
{
    const RemoteItem folder = workFolder();
    for (const QString& name : {QStringLiteral("beta"), QStringLiteral("Alpha")}) {
        run(m_session->createFolder(name, folder.id, m_storageID));
    }
    for (const QString& name : {QStringLiteral("b10.txt"), QStringLiteral("b9.txt"), QStringLiteral("A.txt")}) {
        run(m_session->uploadFile(localFile(name, name.toUtf8()), name, folder.id, m_storageID));
    }
    const DirectoryPage page = run(m_session->listDirectory(folder.id, workFolderPath()));
    EXPECT_EQ(namesOf(page.items), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("A.txt"),
                                                QStringLiteral("b9.txt"), QStringLiteral("b10.txt")}));
    for (const RemoteItem& item : page.items) {
        EXPECT_EQ(item.parentID, std::optional<RemoteObjectID>(folder.id)) << item.name.toStdString();
        EXPECT_EQ(item.kind, item.name.endsWith(QStringLiteral(".txt")) ? RemoteItemKind::file : RemoteItemKind::folder);
    }
}

TEST_P(DeviceContractConformance, AnUnknownStorageIsPathNotFound)
{
    const StorageID unknown = factory().unknownStorageID;
    expectFailure(Kind::pathNotFound, failureOf(m_session->rootDirectory(unknown)), "rootDirectory");
    expectFailure(Kind::pathNotFound, failureOf(m_session->createFolder(QStringLiteral("x"), std::nullopt, unknown)),
                  "createFolder");
    const QString source = localFile(QStringLiteral("x.txt"), "x");
    expectFailure(Kind::pathNotFound, failureOf(m_session->uploadFile(source, QStringLiteral("x.txt"), std::nullopt, unknown)),
                  "uploadFile");
}

TEST_P(DeviceContractConformance, AnUnknownObjectIsPathNotFoundAndNothingIsWritten)
{
    const RemoteObjectID unknown = factory().unknownObjectID;
    const RemotePath path = RemotePath(m_storageID, {}).appending(QStringLiteral("missing"));
    expectFailure(Kind::pathNotFound, failureOf(m_session->listDirectory(unknown, path)), "listDirectory");
    expectFailure(Kind::pathNotFound, failureOf(m_session->rename(unknown, QStringLiteral("y"))), "rename");
    expectFailure(Kind::pathNotFound, failureOf(m_session->deleteItem(unknown)), "deleteItem");
    const QString destination = localPath(QStringLiteral("never.bin"));
    expectFailure(Kind::pathNotFound, failureOf(m_session->downloadFile(unknown, destination)), "downloadFile");
    EXPECT_FALSE(QFile::exists(destination));
    // A parent that cannot be resolved must not send the new item somewhere else.
    expectFailure(Kind::pathNotFound, failureOf(m_session->createFolder(QStringLiteral("x"), unknown, m_storageID)),
                  "createFolder");
    const QString source = localFile(QStringLiteral("x.txt"), "x");
    expectFailure(Kind::pathNotFound, failureOf(m_session->uploadFile(source, QStringLiteral("x.txt"), unknown, m_storageID)),
                  "uploadFile");
    const DirectoryPage root = run(m_session->rootDirectory(m_storageID));
    EXPECT_FALSE(namesOf(root.items).contains(QStringLiteral("x.txt")));
}

TEST_P(DeviceContractConformance, AfterCloseEveryOperationFailsWithSessionFailedAndCloseRepeats)
{
    const AndroidDevice device = m_session->device();
    const QString source = localFile(QStringLiteral("x.txt"), "x");
    const QString destination = localPath(QStringLiteral("closed.bin"));
    const RemoteObjectID object = factory().unknownObjectID;
    run(m_session->close());

    expectFailure(Kind::sessionFailed, failureOf(m_session->storages()), "storages");
    expectFailure(Kind::sessionFailed, failureOf(m_session->rootDirectory(m_storageID)), "rootDirectory");
    expectFailure(Kind::sessionFailed, failureOf(m_session->listDirectory(object, RemotePath(m_storageID, {}))),
                  "listDirectory");
    expectFailure(Kind::sessionFailed, failureOf(m_session->createFolder(QStringLiteral("x"), std::nullopt, m_storageID)),
                  "createFolder");
    expectFailure(Kind::sessionFailed, failureOf(m_session->rename(object, QStringLiteral("y"))), "rename");
    expectFailure(Kind::sessionFailed, failureOf(m_session->deleteItem(object)), "deleteItem");
    expectFailure(Kind::sessionFailed, failureOf(m_session->downloadFile(object, destination)), "downloadFile");
    expectFailure(Kind::sessionFailed,
                  failureOf(m_session->uploadFile(source, QStringLiteral("x.txt"), std::nullopt, m_storageID)),
                  "uploadFile");
    EXPECT_FALSE(QFile::exists(destination));

    EXPECT_NO_THROW(run(m_session->close()));
    EXPECT_EQ(m_session->device(), device);
    const std::optional<QuillbarrowError> failure = failureOf(m_session->storages());
    ASSERT_TRUE(failure.has_value());
    EXPECT_FALSE(failure->message().isEmpty());
}

TEST_P(DeviceContractConformance, ACreatedFolderIsAtOnceUsableAsAParent)
{
    const RemoteItem work = workFolder();
    const RemotePath workPath = workFolderPath();
    const std::optional<RemoteObjectID> writableID =
        factory().writableFolder ? std::optional<RemoteObjectID>(factory().writableFolder->id) : std::nullopt;
    EXPECT_EQ(work.kind, RemoteItemKind::folder);
    EXPECT_EQ(work.storageID, m_storageID);
    EXPECT_EQ(work.parentID, writableID);

    // The folder shows in its parent (the storage root when no writable folder was named).
    const DirectoryPage parentPage = writableID ? run(m_session->listDirectory(*writableID, workPath.deletingLastComponent().value()))
                                               : run(m_session->rootDirectory(m_storageID));
    const std::optional<RemoteItem> listed = findByID(parentPage.items, work.id);
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->name, work.name);
    EXPECT_EQ(listed->kind, RemoteItemKind::folder);

    const RemoteItem fresh = run(m_session->createFolder(QStringLiteral("Fresh"), work.id, m_storageID));
    EXPECT_EQ(fresh.name, QStringLiteral("Fresh"));
    EXPECT_EQ(fresh.parentID, std::optional<RemoteObjectID>(work.id));
    const RemotePath freshPath = workPath.appending(QStringLiteral("Fresh"));
    const DirectoryPage empty = run(m_session->listDirectory(fresh.id, freshPath));
    EXPECT_EQ(empty.storage.id, m_storageID);
    EXPECT_EQ(empty.path, freshPath);
    EXPECT_EQ(empty.parentID, std::optional<RemoteObjectID>(fresh.id));
    EXPECT_TRUE(empty.items.isEmpty());

    const RemoteItem inner = run(m_session->createFolder(QStringLiteral("Inner"), fresh.id, m_storageID));
    const DirectoryPage withInner = run(m_session->listDirectory(fresh.id, freshPath));
    ASSERT_EQ(withInner.items.size(), 1);
    EXPECT_EQ(withInner.items.first().id, inner.id);
}

TEST_P(DeviceContractConformance, UploadListAndDownloadGoRoundTrip)
{
    const RemoteItem folder = workFolder();
    const QByteArray content = sampleContent();
    const QString name = QStringLiteral("round trip.bin");
    ProgressLog uploadLog;
    const RemoteItem uploaded =
        run(m_session->uploadFile(localFile(name, content), name, folder.id, m_storageID, uploadLog.function()));
    EXPECT_EQ(uploaded.name, name);
    EXPECT_EQ(uploaded.kind, RemoteItemKind::file);
    EXPECT_EQ(uploaded.storageID, m_storageID);
    EXPECT_EQ(uploaded.parentID, std::optional<RemoteObjectID>(folder.id));
    if (uploaded.size) {
        EXPECT_EQ(*uploaded.size, content.size());
    }
    for (const qint64 done : uploadLog.done) {
        EXPECT_GE(done, 0);
        EXPECT_LE(done, content.size());
    }
    // Counts never go back within one attempt; a failed first attempt is sent once more from the
    // start, so the counts may restart once.
    const auto restarts = std::adjacent_find(uploadLog.done.begin(), uploadLog.done.end(), std::greater<qint64>());
    if (restarts != uploadLog.done.end()) {
        EXPECT_TRUE(std::is_sorted(restarts + 1, uploadLog.done.end()));
    }

    const DirectoryPage page = run(m_session->listDirectory(folder.id, workFolderPath()));
    const std::optional<RemoteItem> listed = findByID(page.items, uploaded.id);
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->name, name);
    EXPECT_EQ(listed->kind, RemoteItemKind::file);
    EXPECT_EQ(listed->size, std::optional<qint64>(content.size()));

    ProgressLog downloadLog;
    const QString destination = localPath(QStringLiteral("downloaded.bin"));
    run(m_session->downloadFile(uploaded.id, destination, downloadLog.function()));
    QFile downloaded(destination);
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    const QByteArray received = downloaded.readAll();
    EXPECT_TRUE(std::is_sorted(downloadLog.done.begin(), downloadLog.done.end()));
    if (factory().storesFileContent) {
        EXPECT_EQ(received, content);
        for (const qint64 done : downloadLog.done) {
            EXPECT_LE(done, content.size());
        }
    } else if (factory().substituteDownloadContent) {
        EXPECT_EQ(received, factory().substituteDownloadContent(*listed));
    }
}

TEST_P(DeviceContractConformance, RenamedAndDeletedItemsShowInTheNextListing)
{
    const RemoteItem folder = workFolder();
    const RemotePath path = workFolderPath();
    const RemoteItem doomed = run(m_session->createFolder(QStringLiteral("Doomed"), folder.id, m_storageID));
    run(m_session->createFolder(QStringLiteral("Content"), doomed.id, m_storageID));
    const RemoteItem kept = run(m_session->createFolder(QStringLiteral("Before"), folder.id, m_storageID));
    if (factory().supportsRename) {
        run(m_session->rename(kept.id, QStringLiteral("After")));
    }
    run(m_session->deleteItem(doomed.id));

    const DirectoryPage page = run(m_session->listDirectory(folder.id, path));
    ASSERT_EQ(page.items.size(), 1);
    EXPECT_EQ(page.items.first().id, kept.id);
    EXPECT_EQ(page.items.first().name, factory().supportsRename ? QStringLiteral("After") : QStringLiteral("Before"));
}

TEST_P(DeviceContractConformance, OpenSessionWithoutOptionsIsOpenSessionWithTheFlagFalse)
{
    if (!m_backend) {
        GTEST_SKIP() << "the conformer offers sessions only";
    }
    // One session at a time: a real device may refuse a second one while the first is open.
    run(m_session->close());
    m_session.reset();
    struct Snapshot {
        AndroidDevice device;
        QList<StorageID> storages;
        QStringList root;
    };
    const auto snapshot = [this](const std::shared_ptr<DeviceSession>& session) {
        QList<StorageID> storages;
        for (const StorageRoot& storage : run(session->storages())) {
            storages.append(storage.id);
        }
        QStringList root;
        for (const RemoteItem& item : run(session->rootDirectory(m_storageID)).items) {
            root.append(QString(toText(item.kind)) + QLatin1Char(':') + item.name);
        }
        run(session->close());
        return Snapshot{session->device(), storages, root};
    };
    const Snapshot plain = snapshot(run(m_backend->openSession(m_deviceID)));
    const Snapshot withFlag = snapshot(run(m_backend->openSession(m_deviceID, OpenSessionOptions(false))));
    EXPECT_EQ(plain.device, withFlag.device);
    EXPECT_EQ(plain.device.id, m_deviceID);
    EXPECT_EQ(plain.storages, withFlag.storages);
    EXPECT_EQ(plain.root, withFlag.root);

    const DeviceID unknown = factory().unknownDeviceID;
    expectFailure(Kind::deviceNotFound, failureOf(m_backend->openSession(unknown)), "openSession");
    expectFailure(Kind::deviceNotFound, failureOf(m_backend->openSession(unknown, OpenSessionOptions(false))),
                  "openSession with options");
}

TEST_P(DeviceContractConformance, ANewStreamAnnouncesTheAttachedDevicesAndDoesNotEndByItself)
{
    if (!m_backend) {
        GTEST_SKIP() << "the conformer offers sessions only";
    }
    const QList<AndroidDevice> devices = run(m_backend->currentDevices());
    AsyncChannel<DeviceConnectionEvent> stream = m_backend->events();
    const std::vector<DeviceConnectionEvent> announced =
        run(readEvents(&stream, static_cast<std::size_t>(devices.size())));
    ASSERT_EQ(announced.size(), static_cast<std::size_t>(devices.size()));
    for (const AndroidDevice& device : devices) {
        EXPECT_EQ(std::count(announced.begin(), announced.end(), DeviceConnectionEvent::connected(device)), 1)
            << device.displayName.toStdString();
    }

    std::stop_source stop;
    bool ended = false;
    bool gotEvent = false;
    QCoro::Task<> waiting = awaitOneEvent(&stream, stop.get_token(), &ended, &gotEvent);
    EXPECT_FALSE(processEventsUntil([&ended] { return ended; }, std::chrono::milliseconds(5)));
    stop.request_stop();
    ASSERT_TRUE(processEventsUntil([&ended] { return ended; }, factory().watchdog));
    EXPECT_FALSE(gotEvent);
}

TEST_P(DeviceContractConformance, ALateReaderGetsEveryEventInOrderOnEveryStream)
{
    if (!m_backend || !factory().attachDevice || !factory().detachDevice) {
        GTEST_SKIP() << "the conformer cannot simulate attaching devices";
    }
    const auto initial = static_cast<std::size_t>(run(m_backend->currentDevices()).size());
    AsyncChannel<DeviceConnectionEvent> first = m_backend->events();
    AsyncChannel<DeviceConnectionEvent> second = m_backend->events();
    // Each change waits to be seen before the next, so a polling conformer reports each one.
    const auto seen = [&](std::size_t count) {
        return processEventsUntil([&] { return first.bufferedCount() >= count && second.bufferedCount() >= count; },
                                  factory().watchdog);
    };
    ASSERT_TRUE(seen(initial));
    const AndroidDevice a = factory().attachDevice(*m_backend);
    ASSERT_TRUE(seen(initial + 1));
    const AndroidDevice b = factory().attachDevice(*m_backend);
    ASSERT_TRUE(seen(initial + 2));
    factory().detachDevice(*m_backend, a.id);
    ASSERT_TRUE(seen(initial + 3));
    factory().detachDevice(*m_backend, b.id);
    ASSERT_TRUE(seen(initial + 4));

    const std::vector<DeviceConnectionEvent> expected{DeviceConnectionEvent::connected(a),
                                                      DeviceConnectionEvent::connected(b),
                                                      DeviceConnectionEvent::disconnected(a.id),
                                                      DeviceConnectionEvent::disconnected(b.id)};
    for (AsyncChannel<DeviceConnectionEvent>* stream : {&first, &second}) {
        const std::vector<DeviceConnectionEvent> events = run(readEvents(stream, initial + 4));
        ASSERT_EQ(events.size(), initial + 4);
        EXPECT_TRUE(std::equal(events.begin() + static_cast<std::ptrdiff_t>(initial), events.end(), expected.begin(),
                               expected.end()));
        EXPECT_EQ(stream->bufferedCount(), 0u);
    }
}

TEST_P(DeviceContractConformance, ADroppedStreamIsNoLongerFed)
{
    if (!m_backend || !factory().fedStreamCount) {
        GTEST_SKIP() << "the conformer cannot tell how many streams it feeds";
    }
    MTPBackend& backend = *m_backend;
    const auto fed = [&](int count) {
        return processEventsUntil([&] { return factory().fedStreamCount(backend) == count; }, factory().watchdog);
    };
    const int before = factory().fedStreamCount(backend);
    AsyncChannel<DeviceConnectionEvent> kept = backend.events();
    {
        AsyncChannel<DeviceConnectionEvent> dropped = backend.events();
        ASSERT_TRUE(fed(before + 2));
    }
    EXPECT_TRUE(fed(before + 1));

    if (factory().attachDevice) {
        const auto initial = static_cast<std::size_t>(run(backend.currentDevices()).size());
        ASSERT_TRUE(processEventsUntil([&] { return kept.bufferedCount() >= initial; }, factory().watchdog));
        const AndroidDevice attached = factory().attachDevice(backend);
        const std::vector<DeviceConnectionEvent> events = run(readEvents(&kept, initial + 1));
        ASSERT_EQ(events.size(), initial + 1);
        EXPECT_EQ(events.back(), DeviceConnectionEvent::connected(attached));
    }
    {
        const AsyncChannel<DeviceConnectionEvent> last = std::move(kept);
    }
    EXPECT_TRUE(fed(before));
}

} // namespace quillbarrow::testing
