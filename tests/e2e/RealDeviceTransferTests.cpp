#include "LocalTree.h"
#include "RealDeviceTest.h"
#include "TransferRig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>
#include <iostream>

// The transfer coordinator against the real device: a folder tree pasted onto the device and back,
// a file opened for viewing, and transfers cancelled while their bytes move.

namespace quillbarrow::e2e {

namespace {

constexpr std::chrono::milliseconds transferWatchdog{std::chrono::minutes(3)};

class RealDeviceTransfers : public RealDeviceTest {
  protected:
    RealDeviceTransfers() : m_rig(m_local.filePath(QStringLiteral("opened files"))) { watchTransfers(m_rig); }

    // An empty local folder of the test's.
    QString emptyFolder(const QString& name)
    {
        const QString path = localPath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    // Cancels the first job that moves bytes; the bytes it had moved then.
    void cancelOnceBytesMove()
    {
        m_rig.onBytesMoved = [this](const TransferJob& job) {
            if (m_cancelledAt < 0) {
                m_cancelledAt = job.state.progress()->bytesCompleted;
                m_rig.coordinator.cancelTransfer(job.id);
            }
        };
    }

    static void report(const char* what, qint64 bytes, const QElapsedTimer& timer)
    {
        const double seconds = static_cast<double>(timer.elapsed()) / 1000.0;
        std::cout << what << ": " << bytes << " bytes in " << seconds << " s ("
                  << static_cast<double>(bytes) / 1e6 / std::max(seconds, 0.001) << " MB/s)" << std::endl;
    }

    TransferRig m_rig;
    qint64 m_cancelledAt = -1;
};

TEST_F(RealDeviceTransfers, AFolderTreeGoesToTheDeviceAndComesBackByteForByte)
{
    const QString source = LocalTree::top();
    qint64 treeBytes = 0;
    for (const QString& entry : LocalTree::entries(LocalTree::root())) {
        treeBytes += QFileInfo(LocalTree::root() + QLatin1Char('/') + entry).isFile()
                         ? QFileInfo(LocalTree::root() + QLatin1Char('/') + entry).size()
                         : 0;
    }

    // Up: the tree into the test's device folder.
    m_rig.clipboard.copyLocal({QUrl::fromLocalFile(source)});
    QElapsedTimer timer;
    timer.start();
    run(m_rig.coordinator.pasteIntoDevice(m_folder->id, m_storage, m_session), transferWatchdog);
    report("paste into the device", treeBytes, timer);
    EXPECT_EQ(m_rig.jobsIn(TransferState::Kind::completed).size(), LocalTree::fileCount())
        << m_rig.jobStates().join(u'\n').toStdString();
    EXPECT_FALSE(m_rig.coordinator.lastError())
        << m_rig.coordinator.lastError()->technicalDetails().toStdString();
    // What the device holds, read on the host side.
    EXPECT_EQ(LocalTree::treeDifferences(LocalTree::root(), servedFolder()), QStringList());

    // Back: the device's copy into an empty local folder.
    const std::optional<RemoteItem> top = child(LocalTree::topName());
    ASSERT_TRUE(top) << "the device does not list the pasted folder";
    EXPECT_EQ(top->kind, RemoteItemKind::folder);
    const QString back = emptyFolder(QStringLiteral("back"));
    m_rig.coordinator.clearCompletedTransfers();
    m_rig.clipboard.copyDevice({*top}, m_storage);
    timer.restart();
    run(m_rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(back), m_session), transferWatchdog);
    report("paste from the device", treeBytes, timer);
    EXPECT_EQ(m_rig.jobsIn(TransferState::Kind::completed).size(), LocalTree::fileCount())
        << m_rig.jobStates().join(u'\n').toStdString();
    EXPECT_FALSE(m_rig.coordinator.lastError())
        << m_rig.coordinator.lastError()->technicalDetails().toStdString();
    EXPECT_EQ(LocalTree::treeDifferences(LocalTree::root(), back), QStringList());
    EXPECT_EQ(LocalTree::treeDifferences(servedFolder(), back), QStringList());

    // A file exactly as large as the open-file limit opens.
    const std::optional<RemoteItem> big = child(LocalTree::bigFileName(), top->id);
    ASSERT_TRUE(big);
    ASSERT_EQ(big->size, std::optional<qint64>(TransferCoordinator::maximumOpenFileBytes));
    timer.restart();
    const std::optional<QUrl> opened =
        run(m_rig.coordinator.downloadFileForOpening(*big, m_session), transferWatchdog);
    report("open for viewing", LocalTree::bigFileSize, timer);
    ASSERT_TRUE(opened) << m_rig.coordinator.lastError()->technicalDetails().toStdString();
    EXPECT_EQ(LocalTree::fileDifference(LocalTree::bigFile(), opened->toLocalFile()), std::nullopt);
}

TEST_F(RealDeviceTransfers, ACancelledUploadLeavesNothingOnTheDevice)
{
    cancelOnceBytesMove();
    m_rig.clipboard.copyLocal({QUrl::fromLocalFile(LocalTree::bigFile())});
    run(m_rig.coordinator.pasteIntoDevice(m_folder->id, m_storage, m_session), transferWatchdog);
    ASSERT_GT(m_cancelledAt, 0) << "the upload never reported bytes moving";
    std::cout << "cancelled the upload at " << m_cancelledAt << " bytes" << std::endl;
    EXPECT_EQ(m_rig.jobsIn(TransferState::Kind::cancelled).size(), 1)
        << m_rig.jobStates().join(u'\n').toStdString();
    EXPECT_FALSE(m_rig.coordinator.lastError());

    // The bridge has deleted the partly sent object: neither a listing nor the host shows it. A
    // device that left the bus over the cancel keeps it until the first session after it is back,
    // which removes it.
    if (!m_responder.survivesCancelledUploads()) {
        ASSERT_NO_FATAL_FAILURE(replugAndReopen());
    }
    EXPECT_TRUE(children().isEmpty());
    EXPECT_EQ(LocalTree::entries(servedFolder()), QStringList());

    // The device goes on working after the interrupted data phase (uMTP-Responder once it is
    // plugged in again).
    LocalTree::writePseudoRandomFile(localPath(QStringLiteral("after.bin")), 70000, 11);
    run(m_session->uploadFile(localPath(QStringLiteral("after.bin")), QStringLiteral("after.bin"),
                              m_folder->id, m_storage));
    EXPECT_EQ(LocalTree::fileDifference(localPath(QStringLiteral("after.bin")),
                                        servedFolder() + QStringLiteral("/after.bin")),
              std::nullopt);
}

TEST_F(RealDeviceTransfers, ACancelledDownloadLeavesNoFileBehind)
{
    const RemoteItem big = seededBigFile();
    const QString destination = emptyFolder(QStringLiteral("destination"));
    cancelOnceBytesMove();
    m_rig.clipboard.copyDevice({big}, m_storage);
    run(m_rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(destination), m_session), transferWatchdog);
    ASSERT_GT(m_cancelledAt, 0) << "the download never reported bytes moving";
    std::cout << "cancelled the download at " << m_cancelledAt << " bytes" << std::endl;
    EXPECT_EQ(m_rig.jobsIn(TransferState::Kind::cancelled).size(), 1)
        << m_rig.jobStates().join(u'\n').toStdString();
    EXPECT_FALSE(m_rig.coordinator.lastError());
    // Not under the final name, nor under the hidden name it was written to.
    EXPECT_EQ(LocalTree::entries(destination), QStringList());

    // The device goes on working (uMTP-Responder once it is plugged in again): a file goes up and
    // comes back whole, which it would not if the broken-off data phase had left bytes behind.
    if (!m_responder.survivesCancelledDownloads()) {
        ASSERT_NO_FATAL_FAILURE(replugAndReopen());
    }
    const QString probe = localPath(QStringLiteral("probe.bin"));
    LocalTree::writePseudoRandomFile(probe, 200'000, 13);
    const RemoteItem sent =
        run(m_session->uploadFile(probe, QStringLiteral("probe.bin"), m_folder->id, m_storage));
    run(m_session->downloadFile(sent.id, destination + QStringLiteral("/probe.bin")));
    EXPECT_EQ(LocalTree::fileDifference(probe, destination + QStringLiteral("/probe.bin")), std::nullopt);
}

} // namespace

} // namespace quillbarrow::e2e
