#include "async/WorkPool.h"
#include "LibMTPDeviceSessionTestSupport.h"

#include <QDateTime>
#include <QThreadPool>

#include <limits>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Kind = QuillbarrowError::Kind;

namespace {

std::string joined(const QStringList& texts)
{
    return texts.join(QStringLiteral(" | ")).toStdString();
}

QStringList namesOf(const QList<RemoteItem>& items)
{
    QStringList names;
    for (const RemoteItem& item : items) {
        names.append(item.name);
    }
    return names;
}

const RemoteItem& itemNamed(const QList<RemoteItem>& items, const QString& name)
{
    for (const RemoteItem& item : items) {
        if (item.name == name) {
            return item;
        }
    }
    throw std::runtime_error("no item named " + name.toStdString());
}

using SessionStorages = LibMTPDeviceSessionTest;
using SessionListings = LibMTPDeviceSessionTest;
using SessionIdentifiers = LibMTPDeviceSessionTest;
using SessionChanges = LibMTPDeviceSessionTest;
using SessionHandle = LibMTPDeviceSessionTest;

TEST_F(SessionStorages, AreNamedByDescriptionThenVolumeThenAFixedNameWithUnreportableSizesAbsent)
{
    constexpr std::uint64_t unknown = 0xFFFFFFFFFFFFFFFFull;
    constexpr std::uint64_t largestSigned = static_cast<std::uint64_t>(std::numeric_limits<qint64>::max());
    m_bridge->addStorage({131073, unknown, largestSigned + 1, "", "SD card"});
    m_bridge->addStorage({196609, largestSigned, 0, "", ""});

    const QList<StorageRoot> roots = runTask(m_session->storages());

    const QList<StorageRoot> expected{
        StorageRoot(storageID(), QStringLiteral("Internal shared storage"), 64'000'000'000, 1'000'000),
        StorageRoot(StorageID(QStringLiteral("131073")), QStringLiteral("SD card"), std::nullopt, std::nullopt),
        StorageRoot(StorageID(QStringLiteral("196609")), QStringLiteral("Android storage"),
                    std::numeric_limits<qint64>::max(), 0),
    };
    EXPECT_EQ(roots, expected);
    EXPECT_EQ(m_session->device(), device());
}

TEST_F(SessionStorages, AFailedReadIsMappedAndTheNextCallReadsAgain)
{
    m_bridge->failNext(FakeLibMTPBridge::Operation::storages, {3, "The USB interface could not be claimed."});
    const std::optional<QuillbarrowError> failure = sessionFailure(m_session->rootDirectory(storageID()));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, QuillbarrowError::usbInterfaceBusy(QStringLiteral("The USB interface could not be claimed.")));

    const DirectoryPage page = runTask(m_session->rootDirectory(storageID()));
    EXPECT_EQ(page.storage.name, QStringLiteral("Internal shared storage"));
    EXPECT_EQ(m_bridge->calls(), (QStringList{"storages", "storages", "list 65537 4294967295"}))
        << joined(m_bridge->calls());
}

TEST_F(SessionListings, BuildItemsFromEntriesAndSortThemFoldersFirstByNaturalName)
{
    FakeLibMTPBridge::Object hugeFile;
    hugeFile.storage = storage;
    hugeFile.parent = root;
    hugeFile.name = "huge.bin";
    hugeFile.size = 0x8000000000000000ull;
    m_bridge->addObject(hugeFile);
    m_bridge->addFile(storage, root, "img10.jpg", "0123456789", 1'700'000'000);
    FakeLibMTPBridge::Object folder;
    folder.storage = storage;
    folder.parent = root;
    folder.name = "Pictures";
    folder.folder = true;
    folder.size = 4096;
    folder.date = 1'600'000'000;
    const std::uint32_t pictures = m_bridge->addObject(folder);
    m_bridge->addFile(storage, root, "img9.jpg", "", 0);
    m_bridge->addFolder(storage, root, "DCIM");
    m_bridge->addFile(storage, pictures, "inside.png", "x");

    const DirectoryPage page = runTask(m_session->rootDirectory(storageID()));

    EXPECT_EQ(page.storage, StorageRoot(storageID(), QStringLiteral("Internal shared storage"), 64'000'000'000, 1'000'000));
    EXPECT_EQ(page.path, rootPath());
    EXPECT_FALSE(page.parentID.has_value());
    EXPECT_EQ(namesOf(page.items), (QStringList{"DCIM", "Pictures", "huge.bin", "img9.jpg", "img10.jpg"}))
        << joined(namesOf(page.items));

    const RemoteItem& pics = itemNamed(page.items, QStringLiteral("Pictures"));
    EXPECT_EQ(pics, RemoteItem(idOf(pictures), storageID(), std::nullopt, QStringLiteral("Pictures"),
                               RemoteItemKind::folder, std::nullopt,
                               QDateTime::fromSecsSinceEpoch(1'600'000'000, Qt::UTC),
                               RemotePath(storageID(), {QStringLiteral("Pictures")})));
    const RemoteItem& dated = itemNamed(page.items, QStringLiteral("img10.jpg"));
    EXPECT_EQ(dated.kind, RemoteItemKind::file);
    EXPECT_EQ(dated.size, std::optional<qint64>(10));
    EXPECT_EQ(dated.modifiedAt, std::optional<QDateTime>(QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC)));
    const RemoteItem& undated = itemNamed(page.items, QStringLiteral("img9.jpg"));
    EXPECT_FALSE(undated.modifiedAt.has_value());
    EXPECT_EQ(undated.size, std::optional<qint64>(0));
    EXPECT_FALSE(itemNamed(page.items, QStringLiteral("huge.bin")).size.has_value());
}

TEST_F(SessionListings, AFolderPageCarriesTheGivenParentAndPathIntoItsItems)
{
    const std::uint32_t dcim = m_bridge->addFolder(storage, root, "DCIM");
    const std::uint32_t camera = m_bridge->addFolder(storage, dcim, "Camera");
    const std::uint32_t photo = m_bridge->addFile(storage, camera, "IMG_0001.jpg", "jpeg", -5);
    const RemotePath path(storageID(), {QStringLiteral("DCIM"), QStringLiteral("Camera")});

    const DirectoryPage page = runTask(m_session->listDirectory(idOf(camera), path));

    EXPECT_EQ(page.path, path);
    EXPECT_EQ(page.parentID, std::optional<RemoteObjectID>(idOf(camera)));
    ASSERT_EQ(page.items.size(), 1);
    EXPECT_EQ(page.items.first(),
              RemoteItem(idOf(photo), storageID(), idOf(camera), QStringLiteral("IMG_0001.jpg"), RemoteItemKind::file,
                         4, std::nullopt, path.appending(QStringLiteral("IMG_0001.jpg"))));
    EXPECT_EQ(m_bridge->calls(), (QStringList{"storages", QStringLiteral("list 65537 %1").arg(camera)}))
        << joined(m_bridge->calls());
}

TEST_F(SessionListings, LookUpStoragesInTheCacheAndRefuseAnUnknownStorage)
{
    runTask(m_session->rootDirectory(storageID()));
    runTask(m_session->listDirectory(idOf(7), rootPath().appending(QStringLiteral("x"))));
    EXPECT_EQ(m_bridge->calls().count(QStringLiteral("storages")), 1);

    const RemotePath elsewhere(StorageID(QStringLiteral("131073")), {QStringLiteral("x")});
    EXPECT_EQ(kindOf(sessionFailure(m_session->rootDirectory(StorageID(QStringLiteral("131073"))))), "pathNotFound");
    EXPECT_EQ(kindOf(sessionFailure(m_session->listDirectory(idOf(7), elsewhere))), "pathNotFound");
    EXPECT_FALSE(m_bridge->calls().contains(QStringLiteral("list 131073 7")));
}

TEST_F(SessionListings, AFailedListingIsTheMappedErrorNotAnEmptyFolder)
{
    m_bridge->failNext(FakeLibMTPBridge::Operation::list, {1, "PTP Layer error 2019: busy"});
    const std::optional<QuillbarrowError> failure = sessionFailure(m_session->rootDirectory(storageID()));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure,
              QuillbarrowError::transferFailed(QStringLiteral("The device reported that it is busy (PTP code 0x2019).")));
    // The gate was handed back: the next operation runs.
    EXPECT_TRUE(runTask(m_session->rootDirectory(storageID())).items.isEmpty());
}

TEST(SessionIdentifierText, IsReadAsDecimalUnsigned32BitOnly)
{
    EXPECT_EQ(LibMTPDeviceSession::mtpID(QStringLiteral("0")), std::optional<std::uint32_t>(0));
    EXPECT_EQ(LibMTPDeviceSession::mtpID(QStringLiteral("65537")), std::optional<std::uint32_t>(65537));
    EXPECT_EQ(LibMTPDeviceSession::mtpID(QStringLiteral("4294967295")), std::optional<std::uint32_t>(0xFFFFFFFFu));
    for (const char* bad : {"", "abc", "-1", "+1", " 1", "1 ", "4294967296", "99999999999999999999", "0x10", "1.0",
                            "١٢"}) {
        EXPECT_FALSE(LibMTPDeviceSession::mtpID(QString::fromUtf8(bad)).has_value()) << bad;
    }
}

TEST_F(SessionIdentifiers, ThatCannotBeReadAreNotFoundAndNothingReachesTheDevice)
{
    runTask(m_session->storages());
    const QString source = localFile(QStringLiteral("a.txt"), "hello");
    const QString destination = m_local.filePath(QStringLiteral("never.bin"));
    for (const char* text : {"abc", "", "-1", "4294967296"}) {
        SCOPED_TRACE(text);
        const RemoteObjectID bad(QString::fromUtf8(text));
        const StorageID badStorage(QString::fromUtf8(text));
        EXPECT_EQ(kindOf(sessionFailure(m_session->listDirectory(bad, rootPath()))), "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->rename(bad, QStringLiteral("b")))), "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->deleteItem(bad))), "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->downloadFile(bad, destination))), "pathNotFound");
        // A given parent that cannot be read does not mean the storage root.
        EXPECT_EQ(kindOf(sessionFailure(m_session->createFolder(QStringLiteral("New"), bad, storageID()))),
                  "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->uploadFile(source, QStringLiteral("a.txt"), bad, storageID()))),
                  "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->rootDirectory(badStorage))), "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->listDirectory(idOf(7), RemotePath(badStorage, {})))),
                  "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->createFolder(QStringLiteral("New"), std::nullopt, badStorage))),
                  "pathNotFound");
        EXPECT_EQ(kindOf(sessionFailure(m_session->uploadFile(source, QStringLiteral("a.txt"), std::nullopt, badStorage))),
                  "pathNotFound");
    }
    EXPECT_EQ(m_bridge->calls(), QStringList{"storages"}) << joined(m_bridge->calls());
    EXPECT_FALSE(QFile::exists(destination));
}

TEST_F(SessionChanges, CreateAFolderInTheRootOrInAParentAndReportWhatTheSessionKnows)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const RemoteItem inRoot = runTask(m_session->createFolder(QStringLiteral("Fotos ü"), std::nullopt, storageID()));
    const RemoteItem inside = runTask(m_session->createFolder(QStringLiteral("Inner"), inRoot.id, storageID()));

    ASSERT_TRUE(LibMTPDeviceSession::mtpID(inRoot.id.rawValue()).has_value());
    const std::uint32_t made = *LibMTPDeviceSession::mtpID(inRoot.id.rawValue());
    EXPECT_EQ(m_bridge->object(made)->name, QByteArray("Fotos ü"));
    EXPECT_EQ(inRoot.kind, RemoteItemKind::folder);
    EXPECT_EQ(inRoot.storageID, storageID());
    EXPECT_FALSE(inRoot.parentID.has_value());
    EXPECT_FALSE(inRoot.size.has_value());
    ASSERT_TRUE(inRoot.modifiedAt.has_value());
    EXPECT_GE(*inRoot.modifiedAt, before);
    EXPECT_EQ(inRoot.path, std::optional<RemotePath>(RemotePath(storageID(), {QStringLiteral("Fotos ü")})));
    // Inside another folder the session knows the parent but not its path.
    EXPECT_EQ(inside.parentID, std::optional<RemoteObjectID>(inRoot.id));
    EXPECT_FALSE(inside.path.has_value());
    EXPECT_EQ(m_bridge->calls(),
              (QStringList{"createFolder Fotos ü 4294967295 65537", QStringLiteral("createFolder Inner %1 65537").arg(made)}))
        << joined(m_bridge->calls());

    // The new folder's id lists it at once.
    const DirectoryPage page = runTask(m_session->listDirectory(inRoot.id, *inRoot.path));
    EXPECT_EQ(namesOf(page.items), QStringList{"Inner"});
}

TEST_F(SessionChanges, RenameAndDeleteReachTheDeviceAndTheirFailuresAreMapped)
{
    const std::uint32_t folder = m_bridge->addFolder(storage, root, "Old");
    m_bridge->addFile(storage, folder, "inner.txt", "x");
    runTask(m_session->rename(idOf(folder), QStringLiteral("New")));
    EXPECT_EQ(m_bridge->object(folder)->name, QByteArray("New"));
    runTask(m_session->deleteItem(idOf(folder)));
    EXPECT_FALSE(m_bridge->object(folder).has_value());
    EXPECT_TRUE(m_bridge->children(storage, folder).isEmpty());

    // An object gone away: the bridge answers a rename with code 5.
    EXPECT_EQ(kindOf(sessionFailure(m_session->rename(idOf(folder), QStringLiteral("Again")))), "deviceNotFound");
    m_bridge->failNext(FakeLibMTPBridge::Operation::createFolder, {1, "Store full"});
    EXPECT_EQ(kindOf(sessionFailure(m_session->createFolder(QStringLiteral("x"), std::nullopt, storageID()))),
              "insufficientSpace");
    m_bridge->failNext(FakeLibMTPBridge::Operation::deleteObject, {2, "invalid response"});
    const std::optional<QuillbarrowError> failure = sessionFailure(m_session->deleteItem(idOf(3)));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, QuillbarrowError::backendProtocolError(QStringLiteral("invalid response")));
}

TEST_F(SessionHandle, IsClosedOnceByCloseHoweverOftenItIsCalled)
{
    runTask(m_session->close());
    runTask(m_session->close());
    EXPECT_EQ(m_bridge->closeCount(), 1);
    const std::optional<QuillbarrowError> failure = sessionFailure(m_session->storages());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, QuillbarrowError::sessionFailed(QStringLiteral("The MTP session is already closed.")));
    // Closed comes before any other check.
    EXPECT_EQ(kindOf(sessionFailure(m_session->rename(RemoteObjectID(QStringLiteral("abc")), QStringLiteral("b")))),
              "sessionFailed");
    EXPECT_EQ(kindOf(sessionFailure(m_session->rootDirectory(StorageID(QStringLiteral("9"))))), "sessionFailed");
    m_session.reset();
    EXPECT_EQ(m_bridge->closeCount(), 1);
    EXPECT_EQ(m_bridge->calls(), QStringList{"close"});
}

TEST_F(SessionHandle, IsClosedOnceWhenTheSessionIsDroppedWithoutClose)
{
    runTask(m_session->storages());
    m_session.reset();
    EXPECT_TRUE(processEventsUntil([this] { return m_bridge->closeCount() == 1; }));
    workPool().waitForDone();
    EXPECT_EQ(m_bridge->closeCount(), 1);
}

TEST_F(SessionHandle, OfADroppedSessionStaysOpenUntilItsRunningTransferEnds)
{
    const std::uint32_t file = m_bridge->addFile(storage, root, "a.bin", "abc");
    const QString destination = m_local.filePath(QStringLiteral("a.bin"));
    m_bridge->holdTransfers();
    auto log = std::make_shared<QStringList>();
    QCoro::Task<> downloading = noteEnding(m_session->downloadFile(idOf(file), destination), log, "download");
    ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waitingTransfers() == 1; }));

    m_session.reset();
    EXPECT_EQ(m_bridge->closeCount(), 0);
    m_bridge->release();
    runTask(std::move(downloading));

    EXPECT_EQ(*log, QStringList{"download ok"});
    EXPECT_TRUE(processEventsUntil([this] { return m_bridge->closeCount() == 1; }));
    workPool().waitForDone();
    EXPECT_EQ(m_bridge->calls(), (QStringList{QStringLiteral("download %1").arg(file), "close"}));
}

} // namespace
