#include "ErrorOf.h"
#include "RunTask.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace quillbarrow;
using quillbarrow::testing::errorOf;
using quillbarrow::testing::runTask;

namespace {

RemoteObjectID id(const char* text)
{
    return RemoteObjectID(QString::fromUtf8(text));
}

QStringList namesOf(const QList<RemoteItem>& items)
{
    QStringList names;
    for (const RemoteItem& item : items) {
        names.append(item.name);
    }
    return names;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct Report {
    qint64 done;
    std::optional<qint64> total;
};

class MockDeviceSessionTest : public ::testing::Test {
protected:
    MockDeviceSessionTest() : m_storage(MockMTPBackend::storageIDFor(DeviceID(QStringLiteral("mock-pixel-8")))) {}

    std::shared_ptr<DeviceSession> open() { return runTask(m_backend.openSession(m_device)); }

    // Records each report and answers "stop", which the mock must ignore.
    TransferProgressFunction recorder(std::vector<Report>* reports)
    {
        return [reports](qint64 done, std::optional<qint64> total) {
            reports->push_back(Report{done, total});
            return false;
        };
    }

    MockMTPBackend m_backend{MockMTPBackend::defaultDevices()};
    DeviceID m_device{QStringLiteral("mock-pixel-8")};
    StorageID m_storage;
    std::shared_ptr<DeviceSession> m_session = open();
    QTemporaryDir m_local;
};

} // namespace

TEST_F(MockDeviceSessionTest, TheSampleTreeListsFolderByFolder)
{
    const DirectoryPage root = runTask(m_session->rootDirectory(m_storage));
    EXPECT_EQ(root.storage, runTask(m_session->storages()).first());
    EXPECT_EQ(namesOf(root.items), (QStringList{QStringLiteral("DCIM"), QStringLiteral("Download")}));
    EXPECT_EQ(namesOf(runTask(m_session->listDirectory(id("dcim"), RemotePath(m_storage, {}))).items),
              QStringList{QStringLiteral("Camera")});

    // The page carries the caller's path as given, even a wrong one.
    const RemotePath claimed(m_storage, {QStringLiteral("Elsewhere")});
    const DirectoryPage camera = runTask(m_session->listDirectory(id("camera"), claimed));
    EXPECT_EQ(camera.path, claimed);
    ASSERT_EQ(camera.items.size(), 1);
    EXPECT_EQ(camera.items.first().name, QStringLiteral("IMG_0001.jpg"));
    EXPECT_EQ(camera.items.first().size, std::optional<qint64>(3'840'120));

    EXPECT_EQ(errorOf(m_session->listDirectory(id("photo-1"), claimed)), QuillbarrowError::pathNotFound());
}

TEST_F(MockDeviceSessionTest, NewFolderNamesAreCheckedButKeptAsTyped)
{
    const QuillbarrowError empty = QuillbarrowError::unsupportedOperation(QStringLiteral("Folder name cannot be empty."));
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("   "), std::nullopt, m_storage)), empty);
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("\n\t "), id("dcim"), m_storage)), empty);
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("Camera"), id("dcim"), m_storage)),
              QuillbarrowError::nameConflict(QStringLiteral("Camera")));

    const RemoteItem spaced = runTask(m_session->createFolder(QStringLiteral(" Camera"), id("dcim"), m_storage));
    EXPECT_EQ(spaced.name, QStringLiteral(" Camera"));
    EXPECT_EQ(spaced.path, RemotePath(m_storage, {QStringLiteral("DCIM"), QStringLiteral(" Camera")}));

    // Canonically equivalent spellings are the same name.
    runTask(m_session->createFolder(QStringLiteral("caf") + QChar(0x00E9), std::nullopt, m_storage));
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("cafe") + QChar(0x0301), std::nullopt, m_storage))->kind(),
              QuillbarrowError::Kind::nameConflict);

    // A parent that is a file, or on another storage, would hide the folder where nobody lists.
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("x"), id("photo-1"), m_storage)),
              QuillbarrowError::pathNotFound());
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("x"), id("dcim"), StorageID(QStringLiteral("other")))),
              QuillbarrowError::pathNotFound());
}

TEST_F(MockDeviceSessionTest, RenameAndDeleteFollowTheTree)
{
    runTask(m_session->rename(id("photo-1"), QStringLiteral("IMG_0001.jpg")));
    EXPECT_EQ(errorOf(m_session->rename(id("downloads"), QStringLiteral("DCIM"))),
              QuillbarrowError::nameConflict(QStringLiteral("DCIM")));

    runTask(m_session->deleteItem(id("dcim")));
    EXPECT_EQ(namesOf(runTask(m_session->rootDirectory(m_storage)).items), QStringList{QStringLiteral("Download")});
    EXPECT_EQ(errorOf(m_session->listDirectory(id("camera"), RemotePath(m_storage, {}))), QuillbarrowError::pathNotFound());
    EXPECT_EQ(errorOf(m_session->downloadFile(id("photo-1"), m_local.filePath(QStringLiteral("p")))),
              QuillbarrowError::pathNotFound());
    EXPECT_EQ(errorOf(m_session->deleteItem(id("dcim"))), QuillbarrowError::pathNotFound());
}

TEST_F(MockDeviceSessionTest, ChangesStayInTheirSession)
{
    runTask(m_session->createFolder(QStringLiteral("Mine"), std::nullopt, m_storage));
    runTask(m_session->deleteItem(id("downloads")));
    const std::shared_ptr<DeviceSession> next = open();
    EXPECT_EQ(namesOf(runTask(next->rootDirectory(m_storage)).items),
              (QStringList{QStringLiteral("DCIM"), QStringLiteral("Download")}));
    EXPECT_EQ(namesOf(runTask(m_session->rootDirectory(m_storage)).items),
              (QStringList{QStringLiteral("DCIM"), QStringLiteral("Mine")}));
}

TEST_F(MockDeviceSessionTest, ADownloadWritesItsTextOverTheDestinationThenReportsOnce)
{
    const QString destination = m_local.filePath(QStringLiteral("photo.jpg"));
    QFile old(destination);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10'000, 'x'));
    old.close();

    std::vector<Report> reports;
    QByteArray seenAtReport;
    const TransferProgressFunction progress = [&](qint64 done, std::optional<qint64> total) {
        seenAtReport = contentOf(destination);
        return recorder(&reports)(done, total);
    };
    runTask(m_session->downloadFile(id("photo-1"), destination, progress));

    const QByteArray expected("Mock download of IMG_0001.jpg \xE2\x80\x94 3840120 bytes\n");
    EXPECT_EQ(contentOf(destination), expected);
    EXPECT_EQ(seenAtReport, expected);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].done, expected.size());
    EXPECT_EQ(reports[0].total, std::optional<qint64>(3'840'120));
    EXPECT_EQ(QDir(m_local.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("photo.jpg")});

    EXPECT_EQ(errorOf(m_session->downloadFile(id("dcim"), destination)), QuillbarrowError::pathNotFound());
}

TEST_F(MockDeviceSessionTest, AFailedWriteIsTheSystemsOwnErrorAndLeavesNothingBehind)
{
    const QString missingFolder = m_local.filePath(QStringLiteral("gone/photo.jpg"));
    try {
        runTask(m_session->downloadFile(id("photo-1"), missingFolder));
        ADD_FAILURE() << "writing into a missing folder succeeded";
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }

    // A folder in the way is neither replaced nor emptied.
    const QString folder = m_local.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inside")));
    EXPECT_THROW(runTask(m_session->downloadFile(id("photo-1"), folder)), std::filesystem::filesystem_error);
    EXPECT_TRUE(QDir(folder + QStringLiteral("/inside")).exists());
    EXPECT_EQ(QDir(m_local.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("folder")});
}

TEST_F(MockDeviceSessionTest, AnUploadTakesTheLocalSizeAndMayRepeatAName)
{
    const QString source = m_local.filePath(QStringLiteral("five.txt"));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("12345");
    file.close();

    std::vector<Report> reports;
    const RemoteItem first =
        runTask(m_session->uploadFile(source, QStringLiteral("n.txt"), id("downloads"), m_storage, recorder(&reports)));
    EXPECT_EQ(first.size, std::optional<qint64>(5));
    EXPECT_EQ(first.path, RemotePath(m_storage, {QStringLiteral("Download"), QStringLiteral("n.txt")}));
    const QString missing = m_local.filePath(QStringLiteral("missing.txt"));
    const RemoteItem second =
        runTask(m_session->uploadFile(missing, QStringLiteral("n.txt"), id("downloads"), m_storage, recorder(&reports)));
    EXPECT_FALSE(second.size.has_value());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].done, 5);
    EXPECT_EQ(reports[0].total, std::optional<qint64>(5));
    EXPECT_EQ(reports[1].done, 0);
    EXPECT_FALSE(reports[1].total.has_value());

    const DirectoryPage page = runTask(m_session->listDirectory(id("downloads"), RemotePath(m_storage, {})));
    EXPECT_EQ(namesOf(page.items), (QStringList{QStringLiteral("n.txt"), QStringLiteral("n.txt"), QStringLiteral("sample.apk")}));

    // What a download of a sizeless item says.
    const QString destination = m_local.filePath(QStringLiteral("d.txt"));
    runTask(m_session->downloadFile(second.id, destination, recorder(&reports)));
    EXPECT_EQ(contentOf(destination), QByteArray("Mock download of n.txt \xE2\x80\x94 0 bytes\n"));
    EXPECT_FALSE(reports.back().total.has_value());

    EXPECT_EQ(errorOf(m_session->uploadFile(source, QStringLiteral("x"), id("photo-1"), m_storage)),
              QuillbarrowError::pathNotFound());
}

TEST_F(MockDeviceSessionTest, AClosedSessionSaysSoBeforeLookingAtItsArguments)
{
    runTask(m_session->close());
    const QuillbarrowError closed = QuillbarrowError::sessionFailed(QStringLiteral("Session is already closed."));
    EXPECT_EQ(errorOf(m_session->storages()), closed);
    EXPECT_EQ(errorOf(m_session->createFolder(QStringLiteral("   "), std::nullopt, m_storage)), closed);
    EXPECT_EQ(errorOf(m_session->rename(id("nothing"), QString())), closed);
    EXPECT_EQ(errorOf(m_session->uploadFile(QString(), QStringLiteral("x"), std::nullopt, m_storage)), closed);
    EXPECT_TRUE(dynamic_cast<MockDeviceSession&>(*m_session).isClosed());
}

// A new item goes only into a folder of the storage it is made on: a parent that is a file, that
// is unknown, or that lies on another storage of the same device would file the item where no
// listing shows it (reported as made, but lost).
TEST(MockDeviceSessionParents, ANewItemIsRefusedUnlessItsParentIsAFolderOnTheSameStorage)
{
    const StorageID phone(QStringLiteral("phone"));
    const StorageID card(QStringLiteral("card"));
    const auto item = [](const char* itemID, const StorageID& on, RemoteItemKind kind) {
        return RemoteItem(id(itemID), on, std::nullopt, QString::fromUtf8(itemID), kind, std::nullopt, std::nullopt,
                          RemotePath(on, {QString::fromUtf8(itemID)}));
    };
    MockDeviceSession session(
        AndroidDevice(DeviceID(QStringLiteral("mock-two")), QStringLiteral("Two"), std::nullopt, std::nullopt,
                      std::nullopt, DeviceConnectionKind::usb),
        MockTree({StorageRoot(phone, QStringLiteral("Phone"), 100, 50), StorageRoot(card, QStringLiteral("Card"), 100, 50)},
                 {item("photos", phone, RemoteItemKind::folder), item("music", card, RemoteItemKind::folder),
                  item("note.txt", phone, RemoteItemKind::file)}));
    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("a.txt"));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    struct Case {
        const char* name;
        std::optional<RemoteObjectID> parent;
        StorageID storage;
        bool accepted;
    };
    const QList<Case> cases{
        {"a folder of the same storage", id("photos"), phone, true},
        {"the storage root", std::nullopt, card, true},
        {"a folder of another storage of the device", id("photos"), card, false},
        {"the other storage's folder on this one", id("music"), phone, false},
        {"a file", id("note.txt"), phone, false},
        {"an unknown parent", id("gone"), phone, false},
        {"an unknown storage", std::nullopt, StorageID(QStringLiteral("usb")), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QuillbarrowError> folder =
            errorOf(session.createFolder(QStringLiteral("new"), c.parent, c.storage));
        const std::optional<QuillbarrowError> upload =
            errorOf(session.uploadFile(source, QStringLiteral("up.txt"), c.parent, c.storage));
        const std::optional<QuillbarrowError> expected =
            c.accepted ? std::nullopt : std::optional<QuillbarrowError>(QuillbarrowError::pathNotFound());
        EXPECT_EQ(folder, expected);
        EXPECT_EQ(upload, expected);
    }
    // Only the accepted items were made: nothing hides under a folder of the wrong storage.
    const DirectoryPage photos = runTask(session.listDirectory(id("photos"), RemotePath(phone, {})));
    const DirectoryPage music = runTask(session.listDirectory(id("music"), RemotePath(card, {})));
    EXPECT_EQ(namesOf(photos.items), (QStringList{QStringLiteral("new"), QStringLiteral("up.txt")}));
    EXPECT_TRUE(music.items.isEmpty());
    const QList<RemoteItem> cardRoot = runTask(session.rootDirectory(card)).items;
    EXPECT_EQ(namesOf(cardRoot), (QStringList{QStringLiteral("music"), QStringLiteral("new"), QStringLiteral("up.txt")}));
}

TEST_F(MockDeviceSessionTest, AnUploadedFileDownloadsItsOwnBytesUntilDeleted)
{
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"five.txt", "12345"}, {"empty.txt", ""}, {"binary.bin", QByteArray("\0\xff\n\r", 4)}};
    auto& mock = dynamic_cast<MockDeviceSession&>(*m_session);
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const QString source = m_local.filePath(QString::fromUtf8(row.name));
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(row.bytes);
        file.close();
        const RemoteItem sent =
            runTask(m_session->uploadFile(source, QString::fromUtf8(row.name), id("downloads"), m_storage));
        const QString back = m_local.filePath(QStringLiteral("back-") + QString::fromUtf8(row.name));
        runTask(m_session->downloadFile(sent.id, back));
        EXPECT_EQ(contentOf(back), row.bytes);
        EXPECT_EQ(mock.content(sent.id), std::optional<QByteArray>(row.bytes));
        runTask(m_session->deleteItem(sent.id));
        EXPECT_FALSE(mock.content(sent.id).has_value());
    }
}

TEST_F(MockDeviceSessionTest, HeldTransfersWaitUntilReleasedAndStopWhenAsked)
{
    const QString source = m_local.filePath(QStringLiteral("held.txt"));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("held");
    file.close();
    auto& mock = dynamic_cast<MockDeviceSession&>(*m_session);
    const auto downloadNames = [this] {
        return namesOf(runTask(m_session->listDirectory(id("downloads"), RemotePath(m_storage, {}))).items);
    };

    bool stop = false;
    std::vector<Report> reports;
    const TransferProgressFunction progress = [&stop, &reports](qint64 done, std::optional<qint64> total) {
        reports.push_back(Report{done, total});
        return !stop;
    };

    // Released: the upload goes on and lands.
    mock.holdTransfers();
    QCoro::Task<RemoteItem> upload =
        m_session->uploadFile(source, QStringLiteral("held.txt"), id("downloads"), m_storage, progress);
    EXPECT_EQ(mock.heldTransferCount(), 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].done, 0);
    EXPECT_EQ(reports[0].total, std::optional<qint64>(4));
    EXPECT_EQ(downloadNames(), QStringList{QStringLiteral("sample.apk")}); // nothing sent yet
    mock.releaseTransfers();
    const RemoteItem sent = runTask(std::move(upload));
    EXPECT_EQ(mock.heldTransferCount(), 0);
    EXPECT_EQ(downloadNames(), (QStringList{QStringLiteral("held.txt"), QStringLiteral("sample.apk")}));

    // Asked to stop while held: cancelled, nothing written on either side.
    mock.holdTransfers();
    QCoro::Task<RemoteItem> stopped =
        m_session->uploadFile(source, QStringLiteral("stopped.txt"), id("downloads"), m_storage, progress);
    const QString destination = m_local.filePath(QStringLiteral("down.txt"));
    QCoro::Task<> download = m_session->downloadFile(sent.id, destination, progress);
    EXPECT_EQ(mock.heldTransferCount(), 2);
    stop = true;
    mock.releaseTransfers();
    EXPECT_EQ(errorOf(std::move(stopped)), QuillbarrowError::userCancelled());
    EXPECT_EQ(errorOf(std::move(download)), QuillbarrowError::userCancelled());
    EXPECT_FALSE(QFile::exists(destination));
    EXPECT_EQ(downloadNames(), (QStringList{QStringLiteral("held.txt"), QStringLiteral("sample.apk")}));

    // Closing the session ends a held transfer as on any closed session.
    stop = false;
    mock.holdTransfers();
    QCoro::Task<> late = m_session->downloadFile(sent.id, destination, progress);
    runTask(m_session->close());
    EXPECT_EQ(errorOf(std::move(late)),
              QuillbarrowError::sessionFailed(QStringLiteral("Session is already closed.")));
    EXPECT_FALSE(QFile::exists(destination));
}
