#include "LocalTree.h"
#include "RealDeviceTest.h"
#include "TransferRig.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <functional>
#include <iostream>
#include <sys/stat.h>

// Pastes onto the real device that must not lose what it holds nor hang: a Replace leaves the old
// file in place until the new one can take its name (on QEMU's device, which cannot rename, the
// old one goes first, but only after every check that can be made beforehand), and a named pipe
// among the pasted items fails its own job instead of blocking the transfer for ever.

namespace quillbarrow::e2e {

namespace {

constexpr std::chrono::milliseconds pasteWatchdog{std::chrono::minutes(2)};

class RealDeviceUploadSafety : public RealDeviceTest {
  protected:
    RealDeviceUploadSafety() : m_rig(m_local.filePath(QStringLiteral("opened files"))) {}

    // Puts a file of `size` pseudo-random bytes on the device, in the test's folder, as `name`;
    // its local copy stays at "device/<name>" for comparisons.
    void putOnDevice(const QString& name, qint64 size, quint64 seed)
    {
        ASSERT_TRUE(m_responder.acceptsUploadOf(size));
        const QString copy = localPath(QStringLiteral("device/") + name);
        ASSERT_TRUE(QDir().mkpath(localPath(QStringLiteral("device"))));
        LocalTree::writePseudoRandomFile(copy, size, seed);
        run(m_session->uploadFile(copy, name, m_folder->id, m_storage));
    }

    void paste(const QStringList& localItems)
    {
        QList<QUrl> urls;
        for (const QString& item : localItems) {
            urls.append(QUrl::fromLocalFile(localPath(item)));
        }
        m_rig.clipboard.copyLocal(urls);
        run(m_rig.coordinator.pasteIntoDevice(m_folder->id, m_storage, m_session), pasteWatchdog);
    }

    QStringList deviceNames()
    {
        QStringList names;
        for (const RemoteItem& item : children()) {
            names.append(item.name);
        }
        names.sort();
        return names;
    }

    TransferRig m_rig;
};

TEST_F(RealDeviceUploadSafety, ReplaceLeavesOnlyTheNewFileUnderItsName)
{
    std::cout << "a Replace on " << m_responder.name().toStdString()
              << (m_responder.supportsRename() ? ": sent under a temporary name, then renamed into place"
                                               : ": the old file is deleted, then the new one sent")
              << std::endl;
    m_rig.conflictAnswer = ConflictResolution::replace;
    // The second Replace of the session already knows whether the device renames.
    const QList<std::pair<qint64, quint64>> rounds{{90'000, 22}, {50'000, 23}};
    ASSERT_NO_FATAL_FAILURE(putOnDevice(QStringLiteral("a.bin"), 70'000, 21));
    ASSERT_TRUE(QDir().mkpath(localPath(QStringLiteral("new"))));
    for (const auto& [size, seed] : rounds) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(m_responder.acceptsUploadOf(size));
        LocalTree::writePseudoRandomFile(localPath(QStringLiteral("new/a.bin")), size, seed);
        m_rig.coordinator.clearCompletedTransfers();

        paste({QStringLiteral("new/a.bin")});

        EXPECT_EQ(m_rig.jobStates(), QStringList{QStringLiteral("a.bin: completed")});
        EXPECT_FALSE(m_rig.coordinator.lastError());
        EXPECT_EQ(deviceNames(), QStringList{QStringLiteral("a.bin")}) << "nothing temporary is left";
        EXPECT_EQ(LocalTree::entries(servedFolder()), QStringList{QStringLiteral("a.bin")});
        EXPECT_EQ(LocalTree::fileDifference(localPath(QStringLiteral("new/a.bin")),
                                            servedFolder() + QStringLiteral("/a.bin")),
                  std::nullopt);
    }
}

TEST_F(RealDeviceUploadSafety, AReplaceWhoseNewFileCannotBeSentKeepsTheOldFile)
{
    std::optional<qint64> freeSpace;
    for (const StorageRoot& storage : run(m_session->storages())) {
        if (storage.id == m_storage) {
            freeSpace = storage.freeSpace;
        }
    }
    ASSERT_TRUE(freeSpace) << "the device does not report its free space";

    struct Row {
        const char* what;
        QString name;
        // Makes the new local file (and anything else the case needs) before the paste.
        std::function<bool(const QString&)> prepare;
        QuillbarrowError::Kind failure;
    };
    const QList<Row> rows{
        {"the new file is gone by the time it is sent", QStringLiteral("gone.bin"),
         [this](const QString& at) {
             LocalTree::writePseudoRandomFile(at, 60'000, 31);
             // The question is answered after planning has seen the file; then it goes.
             m_rig.onConflict = [at] { QFile::remove(at); };
             return true;
         },
         QuillbarrowError::Kind::pathNotFound},
        {"the new file does not fit on the device", QStringLiteral("huge.bin"),
         [this, freeSpace](const QString& at) {
             m_rig.onConflict = nullptr;
             QFile file(at);
             // Sparse: it takes no room here. QEMU's device reports the free space of the host's
             // file system, which other work on the machine moves by gigabytes between the read
             // above and the paste's own: a tebibyte over it stays too big whatever they do.
             return file.open(QIODevice::WriteOnly) && file.resize(*freeSpace + (qint64(1) << 40));
         },
         QuillbarrowError::Kind::insufficientSpace},
    };
    m_rig.conflictAnswer = ConflictResolution::replace;
    QStringList kept;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(putOnDevice(row.name, 40'000, 41));
        kept.append(row.name);
        ASSERT_TRUE(QDir().mkpath(localPath(QStringLiteral("new"))));
        ASSERT_TRUE(row.prepare(localPath(QStringLiteral("new/") + row.name)));
        m_rig.coordinator.clearCompletedTransfers();

        paste({QStringLiteral("new/") + row.name});

        const QList<TransferJob> failed = m_rig.jobsIn(TransferState::Kind::failed);
        ASSERT_EQ(failed.size(), 1) << m_rig.jobStates().join(u'\n').toStdString();
        EXPECT_EQ(failed.first().state.error()->kind(), row.failure)
            << failed.first().state.error()->technicalDetails().toStdString();
        kept.sort();
        EXPECT_EQ(deviceNames(), kept);
        EXPECT_EQ(LocalTree::entries(servedFolder()), kept);
        EXPECT_EQ(LocalTree::fileDifference(localPath(QStringLiteral("device/") + row.name),
                                            servedFolder() + QLatin1Char('/') + row.name),
                  std::nullopt)
            << "the old file is still there, whole";
    }
}

TEST_F(RealDeviceUploadSafety, ANamedPipeFailsItsOwnJobAndTheRestIsSent)
{
    ASSERT_TRUE(QDir().mkpath(localPath(QStringLiteral("tree"))));
    LocalTree::writePseudoRandomFile(localPath(QStringLiteral("tree/a.bin")), 1000, 51);
    ASSERT_EQ(::mkfifo(QFile::encodeName(localPath(QStringLiteral("tree/pipe"))).constData(), 0644), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(localPath(QStringLiteral("clipboard pipe"))).constData(), 0644), 0);

    paste({QStringLiteral("tree"), QStringLiteral("clipboard pipe")});

    const QString why = QStringLiteral(": it is a named pipe, not a regular file.)");
    QStringList states = m_rig.jobStates();
    states.sort();
    EXPECT_EQ(states, (QStringList{QStringLiteral("a.bin: completed"),
                                   QStringLiteral("clipboard pipe: failed (Could not send ") +
                                       localPath(QStringLiteral("clipboard pipe")) + why,
                                   QStringLiteral("pipe: failed (Could not send ") +
                                       localPath(QStringLiteral("tree/pipe")) + why}));
    EXPECT_EQ(LocalTree::entries(servedFolder()),
              (QStringList{QStringLiteral("tree/"), QStringLiteral("tree/a.bin")}));
    EXPECT_EQ(LocalTree::fileDifference(localPath(QStringLiteral("tree/a.bin")),
                                        servedFolder() + QStringLiteral("/tree/a.bin")),
              std::nullopt);
}

} // namespace

} // namespace quillbarrow::e2e
