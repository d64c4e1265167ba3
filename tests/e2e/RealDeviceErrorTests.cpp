#include "LocalTree.h"
#include "RealDeviceTest.h"
#include "ResponderSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// The errors that real devices give, as the libmtp session maps them and as the window shows
// them. The texts after "PTP code" are the devices' own answers.

namespace quillbarrow::e2e {

namespace {

using Kind = QuillbarrowError::Kind;

// How the window shows a failure that libmtp reported as a general one.
QString copyFailure(const QString& detail)
{
    return QStringLiteral("The file couldn't be copied to the device. ") + detail;
}

QStringList namesOf(const QList<RemoteItem>& items)
{
    QStringList names;
    for (const RemoteItem& item : items) {
        names.append(item.name);
    }
    return names;
}

void expectError(const std::optional<QuillbarrowError>& error, Kind kind, const QString& userMessage,
                 const char* operation)
{
    ASSERT_TRUE(error) << operation << " succeeded";
    EXPECT_EQ(QuillbarrowError::kindName(error->kind()), QuillbarrowError::kindName(kind))
        << operation << ": " << error->technicalDetails().toStdString();
    EXPECT_EQ(error->userMessage(), userMessage) << operation;
}

class RealDeviceErrors : public RealDeviceTest {
  protected:
    // The session without the responder's allowances: what the application itself would see.
    std::shared_ptr<DeviceSession> plainSession() const
    {
        return std::static_pointer_cast<ResponderSession>(m_session)->real();
    }

    QStringList servedNames(const QString& relative = QString()) const
    {
        return QDir(servedFolder() + QLatin1Char('/') + relative)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
};

TEST_F(RealDeviceErrors, ARenameIsCarriedOutOrRefusedWithAMappedError)
{
    const RemoteItem folder = run(m_session->createFolder(QStringLiteral("Before"), m_folder->id, m_storage));
    const std::optional<QuillbarrowError> failure =
        failureOf(m_session->rename(folder.id, QStringLiteral("After")));
    if (m_responder.supportsRename()) {
        EXPECT_FALSE(failure) << failure->technicalDetails().toStdString();
        EXPECT_EQ(namesOf(children()), QStringList{QStringLiteral("After")});
        EXPECT_EQ(servedNames(), QStringList{QStringLiteral("After")});
        return;
    }
    // QEMU's device has no object property descriptions, which libmtp needs to rename.
    const QString detail = QStringLiteral("set_object_filename(): could not get property description.");
    expectError(failure, Kind::transferFailed, copyFailure(detail), "rename");
    EXPECT_EQ(failure->technicalDetails(), detail);
    EXPECT_EQ(namesOf(children()), QStringList{QStringLiteral("Before")});
    EXPECT_EQ(servedNames(), QStringList{QStringLiteral("Before")});
}

TEST_F(RealDeviceErrors, CreatingAFolderThatExistsIsRefusedAndChangesNothing)
{
    run(m_session->createFolder(QStringLiteral("Twice"), m_folder->id, m_storage));
    const std::optional<QuillbarrowError> failure =
        failureOf(m_session->createFolder(QStringLiteral("Twice"), m_folder->id, m_storage));
    // The devices' answers differ; neither says that the name is taken.
    const QString detail =
        m_responder.kind() == E2EResponder::Kind::qemu
            ? QStringLiteral("The device reported that its storage is full (PTP code 0x200C).")
            : QStringLiteral("The device reported that access was denied (PTP code 0x200F).");
    expectError(failure, Kind::transferFailed, copyFailure(detail), "createFolder");
    EXPECT_EQ(namesOf(children()), QStringList{QStringLiteral("Twice")});
    EXPECT_EQ(servedNames(), QStringList{QStringLiteral("Twice")});
}

TEST_F(RealDeviceErrors, DeletingAFolderThatIsNotEmptyDeletesItAllOrNothing)
{
    const RemoteItem full = run(m_session->createFolder(QStringLiteral("Full"), m_folder->id, m_storage));
    run(m_session->createFolder(QStringLiteral("Inner"), full.id, m_storage));
    LocalTree::writePseudoRandomFile(localPath(QStringLiteral("kept.bin")), 3000, 7);
    run(m_session->uploadFile(localPath(QStringLiteral("kept.bin")), QStringLiteral("kept.bin"), full.id,
                              m_storage));

    const std::optional<QuillbarrowError> failure = failureOf(plainSession()->deleteItem(full.id));
    if (m_responder.deletesFoldersRecursively()) {
        EXPECT_FALSE(failure) << failure->technicalDetails().toStdString();
        EXPECT_TRUE(children().isEmpty());
        EXPECT_TRUE(servedNames().isEmpty());
        return;
    }
    // QEMU's device answers "Partial Deletion" and deletes nothing at all.
    expectError(failure, Kind::transferFailed,
                copyFailure(QStringLiteral("The device reported an error (PTP code 0x2012).")), "deleteItem");
    EXPECT_EQ(namesOf(children()), QStringList{QStringLiteral("Full")});
    EXPECT_EQ(namesOf(children(full.id)), (QStringList{QStringLiteral("Inner"), QStringLiteral("kept.bin")}));
    EXPECT_EQ(servedNames(QStringLiteral("Full")),
              (QStringList{QStringLiteral("Inner"), QStringLiteral("kept.bin")}));
}

TEST_F(RealDeviceErrors, AnObjectThatIsGoneGetsTheDevicesAnswerAndTheSessionGoesOn)
{
    const RemoteItem gone = run(m_session->createFolder(QStringLiteral("Gone"), m_folder->id, m_storage));
    run(m_session->deleteItem(gone.id));
    const std::shared_ptr<DeviceSession> session = plainSession();

    expectError(failureOf(session->deleteItem(gone.id)), Kind::transferFailed,
                copyFailure(QStringLiteral("The device reported an invalid object (PTP code 0x2009).")),
                "deleteItem");
    // The bridge reports an object whose description cannot be read as "no device attached".
    expectError(failureOf(session->rename(gone.id, QStringLiteral("Back"))), Kind::deviceNotFound,
                QStringLiteral("No Android file transfer device was found."), "rename");
    const QString destination = localPath(QStringLiteral("gone.bin"));
    expectError(
        failureOf(session->downloadFile(gone.id, destination)), Kind::transferFailed,
        copyFailure(QStringLiteral("LIBMTP_Get_File_To_File_Descriptor(): Could not get object info.")),
        "downloadFile");
    EXPECT_FALSE(QFileInfo::exists(destination));

    const std::optional<QuillbarrowError> listing =
        failureOf(session->listDirectory(gone.id, RemotePath(m_storage, {QStringLiteral("Gone")})));
    if (m_responder.kind() == E2EResponder::Kind::qemu) {
        // libmtp's "data expected": the device answered without the list.
        expectError(listing, Kind::transferFailed,
                    copyFailure(QStringLiteral("The device reported an error (PTP code 0x02FE).")),
                    "listDirectory");
    } else {
        // uMTP-Responder lists a folder that is gone as an empty one.
        EXPECT_FALSE(listing) << listing->technicalDetails().toStdString();
    }

    // An identifier that is no MTP object handle never reaches the device.
    expectError(failureOf(session->deleteItem(RemoteObjectID(QStringLiteral("gone")))), Kind::pathNotFound,
                QStringLiteral("The selected file or folder is no longer available."), "deleteItem");
    EXPECT_TRUE(children().isEmpty());
}

} // namespace

} // namespace quillbarrow::e2e
