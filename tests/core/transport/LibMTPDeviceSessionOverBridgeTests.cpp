// The libmtp device session over the real bridge over an in-memory libmtp that records the
// listings it is asked for.

#include "async/WorkPool.h"
#include "CMTPBridge.h"
#include "FakeLibMTP.h"
#include "RunTask.h"
#include "domain/QuillbarrowError.h"
#include "transport/LibMTPDeviceSession.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cerrno>
#include <gtest/gtest.h>

using namespace quillbarrow;
using quillbarrow::testing::runTask;

namespace {

constexpr std::uint32_t bus = 3;
constexpr std::uint8_t devnum = 7;
constexpr std::uint32_t storage = 0x10001;
constexpr std::uint32_t folder = 50;

std::size_t listingsIn(const fakes::Trace& trace)
{
    std::size_t count = 0;
    for (const std::string& event : trace.events()) {
        count += event.rfind("list", 0) == 0 ? 1 : 0;
    }
    return count;
}

class SessionOverBridge : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_local.isValid());
        // A device that an earlier test dropped may still be closing on a worker.
        workPool().waitForDone();
        m_libmtp = std::make_unique<fakes::FakeLibMTP>(&m_trace);
        m_libmtp->setRawDevices({fakes::FakeRawDevice{0x18d1, 0x4ee1, bus, devnum, "Google", "Pixel"}});
        m_libmtp->setStorages({fakes::FakeStorage{storage, 64'000'000'000, 32'000'000'000, "Internal", "primary"}});
        m_libmtp->addObject(fakes::FakeObject{folder, 0xFFFFFFFFu, storage, "Camera", 0, 0, LIBMTP_FILETYPE_FOLDER});
        const CMTPOpenResult opened = CMTP_OpenDevice(bus, devnum);
        ASSERT_EQ(opened.error_code, 0) << opened.error_message;
        m_session = std::make_shared<LibMTPDeviceSession>(
            AndroidDevice(DeviceID(QStringLiteral("mtp-18d1-4ee1-00000003-007")), QStringLiteral("Pixel"),
                          std::nullopt, std::nullopt, std::nullopt, DeviceConnectionKind::usb),
            opened.handle, LibMTPBridge::system());
    }

    void TearDown() override
    {
        runTask(m_session->close());
        EXPECT_EQ(m_libmtp->openDevices(), 0);
        m_session.reset();
        m_libmtp.reset();
    }

    QString localFile(const QString& name, qsizetype size = 100) const
    {
        const QString path = m_local.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        return path;
    }

    fakes::Trace m_trace;
    std::unique_ptr<fakes::FakeLibMTP> m_libmtp;
    std::shared_ptr<LibMTPDeviceSession> m_session;
    QTemporaryDir m_local;
};

} // namespace

// The transfer engine lists the destination folder for its name check just before the first
// upload into it: that listing is all the first upload needs, however large the folder (a
// listing costs a request per object). A cancelled upload that libmtp reports no object for is
// still found by name, and an older object of that name stays.
TEST_F(SessionOverBridge, TheFirstUploadIntoAFolderJustListedListsItNoMoreAndItsCleanUpSparesOlderObjects)
{
    for (std::uint32_t index = 0; index < 300; ++index) {
        m_libmtp->addObject(fakes::FakeObject{1000 + index, folder, storage, "IMG_" + std::to_string(index) + ".jpg",
                                              10, 0, LIBMTP_FILETYPE_UNKNOWN});
    }
    // The older object has the higher id: ids say nothing about age.
    m_libmtp->addObject(fakes::FakeObject{5000, folder, storage, "p.jpg", 9, 0, LIBMTP_FILETYPE_UNKNOWN});
    m_libmtp->setNextObjectId(2000);
    runTask(m_session->rootDirectory(StorageID(QString::number(storage))));
    runTask(m_session->listDirectory(RemoteObjectID(QString::number(folder)),
                                     RemotePath(StorageID(QString::number(storage)), {QStringLiteral("Camera")})));

    m_libmtp->setTransfer(fakes::FakeTransfer{{0, 100}, 100, true, -1});
    m_trace.clear();
    const auto keepGoing = [](qint64, std::optional<qint64>) { return true; };
    runTask(m_session->uploadFile(localFile(QStringLiteral("n")), QStringLiteral("new.jpg"),
                                  RemoteObjectID(QString::number(folder)), StorageID(QString::number(storage)),
                                  keepGoing));
    EXPECT_EQ(listingsIn(m_trace), 0u) << "the folder was listed again";

    // Stopped before libmtp could report the new object: only a name can find it.
    m_libmtp->setTransfer(fakes::FakeTransfer{{0, 100}, 100, false, -1});
    const auto stop = [](qint64, std::optional<qint64>) { return false; };
    try {
        runTask(m_session->uploadFile(localFile(QStringLiteral("p")), QStringLiteral("p.jpg"),
                                      RemoteObjectID(QString::number(folder)), StorageID(QString::number(storage)),
                                      stop));
        ADD_FAILURE() << "the stopped upload succeeded";
    } catch (const QuillbarrowError& error) {
        EXPECT_EQ(error, QuillbarrowError::userCancelled());
    }
    EXPECT_EQ(listingsIn(m_trace), 1u) << "only the clean-up's, after the stop";
    EXPECT_EQ(m_libmtp->objectIdsNamed("p.jpg"), std::vector<std::uint32_t>{5000});
    EXPECT_EQ(m_libmtp->deletedIds(), std::vector<std::uint32_t>{2001});
    EXPECT_EQ(m_libmtp->objectIdsNamed("new.jpg"), std::vector<std::uint32_t>{2000});
}

// A download whose file cannot be written here is this computer's fault, told in the system's
// words; one that ends short of what the device lists is the device's. Neither leaves a file.
TEST_F(SessionOverBridge, ADownloadThatCannotBeWrittenHereOrEndsShortSaysWhichAndLeavesNoFile)
{
    m_libmtp->addObject(fakes::FakeObject{70, folder, storage, "a.jpg", 500, 0, LIBMTP_FILETYPE_JPEG});
    const QString destination = QFileInfo(m_local.path()).canonicalFilePath() + QStringLiteral("/a.jpg");
    const auto keepGoing = [](qint64, std::optional<qint64>) { return true; };
    const auto failureOf = [&] {
        try {
            runTask(m_session->downloadFile(RemoteObjectID(QStringLiteral("70")), destination, keepGoing));
        } catch (const QuillbarrowError& error) {
            return std::optional(error);
        }
        return std::optional<QuillbarrowError>();
    };

    m_libmtp->fillDiskUnder(QFile::encodeName(destination).toStdString());
    EXPECT_EQ(failureOf(), QuillbarrowError::localFileFailed("Could not write " + destination +
                                                                 ": No space left on device",
                                                             ENOSPC));
    EXPECT_FALSE(QFileInfo::exists(destination));

    m_libmtp->setTransfer(fakes::FakeTransfer{{}, 0, true, -1, 300});
    EXPECT_EQ(failureOf(), QuillbarrowError::transferFailed(
                               "The download ended after 300 of the 500 bytes the device lists."));
    EXPECT_FALSE(QFileInfo::exists(destination));
}

// A file cut while it is sent fails naming how much of it was read before it ran out, which is
// what was sent: not what the file holds now.
TEST_F(SessionOverBridge, AnUploadOfAFileCutWhileItIsReadTellsHowMuchWasReadBeforeItEnded)
{
    // The file is cut to `cutTo` bytes once `cutAfter` were read; the message tells `read`.
    const std::tuple<const char*, uint64_t, qint64, uint64_t> cases[] = {
        {"cut to nothing", 8192, 0, 8192},
        {"cut beyond what was read", 4096, 5000, 5000},
    };
    const QString told = "Could not send %1: it ended after %2 of the 20000 bytes it had when the upload "
                         "began.";
    for (const auto& [name, cutAfter, cutTo, read] : cases) {
        SCOPED_TRACE(name);
        const QString source = localFile(QStringLiteral("shrinking.bin"), 20'000);
        fakes::FakeTransfer transfer{{}, 0, true, -1};
        transfer.afterSourcePiece = [&](uint64_t given) {
            if (given == cutAfter) {
                QFile::resize(source, cutTo);
            }
        };
        m_libmtp->setTransfer(transfer);
        try {
            runTask(m_session->uploadFile(source, QStringLiteral("s.bin"), RemoteObjectID(QString::number(folder)),
                                          StorageID(QString::number(storage)),
                                          [](qint64, std::optional<qint64>) { return true; }));
            ADD_FAILURE() << "the upload of a file that ended early succeeded";
        } catch (const QuillbarrowError& error) {
            EXPECT_EQ(error, QuillbarrowError::transferFailed(told.arg(source).arg(read)))
                << error.technicalDetails().toStdString();
        }
        EXPECT_TRUE(m_libmtp->objectIdsNamed("s.bin").empty()) << "nothing of it stays";
    }
}
