#include "LocalTree.h"
#include "RealDeviceTest.h"
#include "TransferRig.h"
#include "UsbFaults.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <atomic>
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

// A file no device here has room for (4 EiB, sparse). QEMU 7.2's device reports as its free space
// the host file system's available blocks times its total blocks (not times the block size), so
// on this 270 GB disk every 65 MB that other work on the host frees adds a tebibyte to it, and the
// free space read at the start of a test, plus a tebibyte, fitted in the figure the paste read a
// moment later. Its figure stays below this for any disk of fewer than 2^31 blocks, even should
// the free space on the host double.
constexpr qint64 moreThanAnyFreeSpace = qint64(1) << 62;

class RealDeviceUploadSafety : public RealDeviceTest {
  protected:
    RealDeviceUploadSafety() : m_rig(m_local.filePath(QStringLiteral("opened files")))
    {
        watchTransfers(m_rig);
    }

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
    ASSERT_LT(*freeSpace, moreThanAnyFreeSpace / 2)
        << "the device reports more free space than a file can exceed";

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
         QuillbarrowError::Kind::transferFailed},
        {"the new file does not fit on the device", QStringLiteral("huge.bin"),
         [this](const QString& at) {
             m_rig.onConflict = nullptr;
             QFile file(at);
             return file.open(QIODevice::WriteOnly) && file.resize(moreThanAnyFreeSpace);
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

// A file whose new version does not arrive whole keeps its old version on the device, byte for
// byte: on QEMU's device, which cannot rename, the old file is deleted before the new one goes, so
// its copy kept on this computer is sent back (at once, or by the first session after the device
// is plugged in again). The transfer is held between two of its USB transfers once some megabytes
// of the new file went, and the case's fault strikes there, whatever the load on the host.
class RealDeviceReplaceRecovery : public RealDeviceUploadSafety {
  protected:
    void TearDown() override
    {
        usbfaults::disarm();
        if (m_unplugAsked && !m_pluggedIn) {
            QString answer;
            m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer);
            m_responder.sendRequest(QStringLiteral("plug"));
            m_responder.awaitAnswer(QStringLiteral("plug"), std::chrono::seconds(30), &answer);
            waitForDevices(1);
        }
        RealDeviceUploadSafety::TearDown();
    }

    // Once `bytes` went, `strike` runs on libmtp's thread and the transfer waits until `released`.
    void holdThenStrike(std::function<void()> strike, std::function<bool()> released)
    {
        usbfaults::holdAfter(
            4 * 1024 * 1024,
            [this, strike](std::int64_t moved) {
                m_struckAt = moved;
                strike();
            },
            std::move(released), std::chrono::seconds(60));
    }

    std::atomic<qint64> m_struckAt{-1};
    std::atomic<bool> m_unplugAsked{false};
    bool m_pluggedIn = false;
};

TEST_F(RealDeviceReplaceRecovery, TheOldFileStaysByteForByteWhenTheNewOneDoesNotArrive)
{
    if (m_responder.supportsRename()) {
        GTEST_SKIP() << m_responder.name().toStdString()
                     << " renames: the new file goes up beside the old one, which the other tests cover";
    }
    constexpr qint64 oldSize = 300'000;
    constexpr qint64 newSize = 24'000'100;
    ASSERT_TRUE(m_responder.acceptsUploadOf(oldSize) && m_responder.acceptsUploadOf(newSize));
    m_rig.conflictAnswer = ConflictResolution::replace;
    // A first Replace tells the coordinator that this session cannot rename, so the next ones go
    // the way this test is about from their first byte.
    ASSERT_NO_FATAL_FAILURE(putOnDevice(QStringLiteral("probe.bin"), 1000, 60));
    ASSERT_TRUE(QDir().mkpath(localPath(QStringLiteral("new"))));
    LocalTree::writePseudoRandomFile(localPath(QStringLiteral("new/probe.bin")), 2000, 61);
    paste({QStringLiteral("new/probe.bin")});
    ASSERT_EQ(m_rig.jobStates(), QStringList{QStringLiteral("probe.bin: completed")});

    struct Row {
        const char* what;
        QString name;
        std::function<void(const QString& source)> arm;
        QuillbarrowError::Kind ending;
        bool replug = false;
    };
    const QList<Row> rows{
        {"cancelled", QStringLiteral("cancelled.bin"),
         [this](const QString&) {
             auto cancelled = std::make_shared<std::atomic<bool>>(false);
             holdThenStrike(
                 [this, cancelled] {
                     QMetaObject::invokeMethod(
                         &m_rig.coordinator,
                         [this, cancelled] {
                             for (const TransferJob& job : m_rig.jobsIn(TransferState::Kind::running)) {
                                 m_rig.coordinator.cancelTransfer(job.id);
                             }
                             *cancelled = true;
                         },
                         Qt::QueuedConnection);
                 },
                 [cancelled] { return cancelled->load(); });
         },
         QuillbarrowError::Kind::userCancelled},
        {"its file ends early", QStringLiteral("shrunk.bin"),
         [this](const QString& source) {
             holdThenStrike([source] { QFile(source).resize(1000); }, [] { return true; });
         },
         QuillbarrowError::Kind::transferFailed},
        {"unplugged", QStringLiteral("unplugged.bin"),
         [this](const QString&) {
             const E2EResponder* responder = &m_responder;
             holdThenStrike(
                 [this, responder] {
                     responder->sendRequest(QStringLiteral("unplug"));
                     m_unplugAsked = true;
                 },
                 [responder] { return responder->answered(QStringLiteral("unplug")); });
         },
         QuillbarrowError::Kind::transferInterrupted, true},
    };
    quint64 seed = 70;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(putOnDevice(row.name, oldSize, ++seed));
        const QString source = localPath(QStringLiteral("new/") + row.name);
        LocalTree::writePseudoRandomFile(source, newSize, ++seed);
        m_rig.coordinator.clearCompletedTransfers();
        m_struckAt = -1;
        row.arm(source);

        paste({QStringLiteral("new/") + row.name});

        ASSERT_GT(m_struckAt.load(), 0) << "the upload ended before the fault could strike";
        const QStringList states = m_rig.jobStates();
        ASSERT_EQ(states.size(), 1);
        const QList<TransferJob> jobs = m_rig.jobsIn(row.ending == QuillbarrowError::Kind::userCancelled
                                                         ? TransferState::Kind::cancelled
                                                         : TransferState::Kind::failed);
        ASSERT_EQ(jobs.size(), 1) << states.join(u'\n').toStdString();
        std::cout << row.what << " after " << m_struckAt.load() << " bytes: " << states.first().toStdString()
                  << std::endl;
        if (row.ending != QuillbarrowError::Kind::userCancelled) {
            EXPECT_EQ(jobs.first().state.error()->kind(), row.ending)
                << jobs.first().state.error()->technicalDetails().toStdString();
        }
        if (row.ending == QuillbarrowError::Kind::transferFailed) {
            EXPECT_TRUE(jobs.first().state.error()->technicalDetails().startsWith(
                QStringLiteral("Could not send ") + source + QStringLiteral(": it ended after ")))
                << jobs.first().state.error()->technicalDetails().toStdString();
        }
        if (row.replug) {
            QString answer;
            ASSERT_TRUE(m_responder.awaitAnswer(QStringLiteral("unplug"), std::chrono::seconds(30), &answer))
                << answer.toStdString();
            run(m_session->close(), std::chrono::seconds(30));
            ASSERT_TRUE(waitForDevices(0)) << "the device is still listed after it was unplugged";
            ASSERT_NO_FATAL_FAILURE(request(QStringLiteral("plug")));
            m_pluggedIn = true;
            ASSERT_TRUE(waitForDevices(1)) << "the device is not listed after it was plugged in again";
            // The first session on the device sends the old file back.
            ASSERT_NO_FATAL_FAILURE(openSession());
            ASSERT_NO_FATAL_FAILURE(findFolderAgain());
        }
        EXPECT_EQ(LocalTree::fileDifference(localPath(QStringLiteral("device/") + row.name),
                                            servedFolder() + QLatin1Char('/') + row.name),
                  std::nullopt)
            << "the old file is on the device, whole";
        QStringList names = deviceNames();
        EXPECT_EQ(names.count(row.name), 1) << names.join(u' ').toStdString();
        EXPECT_TRUE(QDir(m_rig.coordinator.keptCopiesFolder()).entryList(QDir::Files).isEmpty())
            << "the kept copy went once it was back";
    }
}

// A file cut short while it is sent fails its job naming it, at once, and nothing of it stays on
// the device under its name. The transfer is stopped as a cancel stops it, so uMTP-Responder may
// leave the bus over it as over a cancelled upload: then the first session after it is plugged in
// again removes what it kept (the upload's note stays when the device cannot be asked).
TEST_F(RealDeviceReplaceRecovery, AnUploadWhoseFileEndsEarlyFailsAndLeavesNothing)
{
    constexpr qint64 size = 24'000'100;
    ASSERT_TRUE(m_responder.acceptsUploadOf(size));
    ASSERT_TRUE(QDir().mkpath(localPath(QStringLiteral("new"))));
    const QString source = localPath(QStringLiteral("new/shrinking.bin"));
    LocalTree::writePseudoRandomFile(source, size, 90);
    holdThenStrike([source] { QFile(source).resize(1000); }, [] { return true; });

    paste({QStringLiteral("new/shrinking.bin")});

    ASSERT_GT(m_struckAt.load(), 0) << "the upload ended before the file was cut";
    const QList<TransferJob> failed = m_rig.jobsIn(TransferState::Kind::failed);
    ASSERT_EQ(failed.size(), 1) << m_rig.jobStates().join(u'\n').toStdString();
    // It tells the bytes read before the file ran out (megabytes had gone when it was cut), not
    // the 1000 it holds now.
    const QString details = failed.first().state.error()->technicalDetails();
    const QRegularExpressionMatch told =
        QRegularExpression(QStringLiteral("^Could not send (.+): it ended after (\\d+) of the (\\d+) bytes it had "
                                          "when the upload began\\.$"))
            .match(details);
    ASSERT_TRUE(told.hasMatch()) << details.toStdString();
    EXPECT_EQ(told.captured(1), source);
    EXPECT_GT(told.captured(2).toLongLong(), 1'000'000);
    EXPECT_LT(told.captured(2).toLongLong(), size);
    EXPECT_EQ(told.captured(3).toLongLong(), size);
    if (!m_responder.survivesCancelledUploads()) {
        ASSERT_NO_FATAL_FAILURE(replugAndReopen());
    }
    EXPECT_FALSE(deviceNames().contains(QStringLiteral("shrinking.bin")));
    EXPECT_FALSE(QFileInfo::exists(servedFolder() + QStringLiteral("/shrinking.bin")));
}

} // namespace

} // namespace quillbarrow::e2e
