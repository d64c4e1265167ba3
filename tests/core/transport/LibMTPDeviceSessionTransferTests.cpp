#include "LibMTPDeviceSessionTestSupport.h"
#include "transport/LibMTPProgressBridge.h"

#include <QCoreApplication>
#include <QThread>

#include <limits>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Operation = FakeLibMTPBridge::Operation;

namespace {

std::string joined(const QStringList& texts)
{
    return texts.join(QStringLiteral(" | ")).toStdString();
}

// Lets the event loop run a few rounds, so that whatever could run now has run.
void settle()
{
    for (int round = 0; round < 20; ++round) {
        QCoreApplication::processEvents();
    }
}

// The reports a progress function received, from whatever thread.
class ProgressRecord {
public:
    struct Report {
        qint64 done;
        std::optional<qint64> total;
        bool onMainThread;
    };

    // A function that records each report and answers `answer`.
    TransferProgressFunction function(bool answer = true)
    {
        return [this, answer](qint64 done, std::optional<qint64> total) {
            const std::lock_guard lock(m_mutex);
            m_reports.push_back({done, total, QThread::currentThread() == QCoreApplication::instance()->thread()});
            return answer;
        };
    }

    std::vector<Report> reports() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Report> m_reports;
};

using SessionGate = LibMTPDeviceSessionTest;
using SessionUpload = LibMTPDeviceSessionTest;
using SessionProgress = LibMTPDeviceSessionTest;

TEST_F(SessionGate, ServesCallsInArrivalOrderAndKeepsThemWaitingForAWholeDownload)
{
    const std::uint32_t file = m_bridge->addFile(storage, root, "movie.mp4", "frames");
    const QString destination = m_local.filePath(QStringLiteral("movie.mp4"));
    m_bridge->holdTransfers();
    auto log = std::make_shared<QStringList>();

    QCoro::Task<> downloading = noteEnding(m_session->downloadFile(idOf(file), destination), log, "download");
    ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waitingTransfers() == 1; }));
    QCoro::Task<> listing = noteEnding(m_session->rootDirectory(storageID()), log, "root");
    QCoro::Task<> renaming = noteEnding(m_session->rename(idOf(file), QStringLiteral("film.mp4")), log, "rename");
    QCoro::Task<> creating = noteEnding(m_session->createFolder(QStringLiteral("Clips"), std::nullopt, storageID()), log, "create");
    settle();
    EXPECT_EQ(m_bridge->calls(), QStringList{QStringLiteral("download %1").arg(file)}) << joined(m_bridge->calls());
    EXPECT_TRUE(log->isEmpty());

    m_bridge->release();
    ASSERT_TRUE(processEventsUntil([&log] { return log->size() == 4; }));
    EXPECT_EQ(*log, (QStringList{"download ok", "root ok", "rename ok", "create ok"})) << joined(*log);
    EXPECT_EQ(m_bridge->calls(),
              (QStringList{QStringLiteral("download %1").arg(file), "storages", "list 65537 4294967295",
                           QStringLiteral("rename %1 film.mp4").arg(file), "createFolder Clips 4294967295 65537"}))
        << joined(m_bridge->calls());
    QFile downloaded(destination);
    ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
    EXPECT_EQ(downloaded.readAll(), QByteArray("frames"));
}

TEST_F(SessionGate, CloseBehindATransferLeavesEveryLaterCallerTheClosedError)
{
    const std::uint32_t file = m_bridge->addFile(storage, root, "a.bin", "abc");
    m_bridge->holdTransfers();
    auto log = std::make_shared<QStringList>();
    QCoro::Task<> downloading =
        noteEnding(m_session->downloadFile(idOf(file), m_local.filePath(QStringLiteral("a.bin"))), log, "download");
    ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waitingTransfers() == 1; }));

    QCoro::Task<> closing = noteEnding(m_session->close(), log, "close");
    QCoro::Task<> first = noteEnding(m_session->storages(), log, "storages");
    QCoro::Task<> second = noteEnding(m_session->rootDirectory(storageID()), log, "root");
    QCoro::Task<> third = noteEnding(m_session->deleteItem(idOf(file)), log, "delete");
    QCoro::Task<> closingAgain = noteEnding(m_session->close(), log, "close again");
    m_bridge->release();
    ASSERT_TRUE(processEventsUntil([&log] { return log->size() == 6; }));

    const QString closed = QStringLiteral(" sessionFailed: The MTP session is already closed.");
    EXPECT_EQ(*log, (QStringList{"download ok", "close ok", "storages" + closed, "root" + closed, "delete" + closed,
                                 "close again ok"}))
        << joined(*log);
    EXPECT_EQ(m_bridge->closeCount(), 1);
    EXPECT_EQ(m_bridge->calls(), (QStringList{QStringLiteral("download %1").arg(file), "close"}));
    EXPECT_TRUE(m_bridge->object(file).has_value());
}

TEST_F(SessionUpload, OfAFileThatFitsTheFreeSpaceExactlyIsSentAndRefreshesTheCachedStorage)
{
    m_bridge->setFreeSpace(storage, 10);
    const QString source = localFile(QStringLiteral("ten.txt"), "0123456789");
    const QDateTime before = QDateTime::currentDateTimeUtc();

    const RemoteItem uploaded = runTask(m_session->uploadFile(source, QStringLiteral("ten.txt"), std::nullopt, storageID()));

    EXPECT_EQ(m_bridge->calls(), (QStringList{"storages", "upload ten.txt 4294967295 65537 10"}))
        << joined(m_bridge->calls());
    const std::optional<std::uint32_t> made = LibMTPDeviceSession::mtpID(uploaded.id.rawValue());
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(m_bridge->object(*made)->content, QByteArray("0123456789"));
    EXPECT_EQ(uploaded.storageID, storageID());
    EXPECT_FALSE(uploaded.parentID.has_value());
    EXPECT_EQ(uploaded.name, QStringLiteral("ten.txt"));
    EXPECT_EQ(uploaded.kind, RemoteItemKind::file);
    EXPECT_EQ(uploaded.size, std::optional<qint64>(10));
    ASSERT_TRUE(uploaded.modifiedAt.has_value());
    EXPECT_GE(*uploaded.modifiedAt, before);
    EXPECT_EQ(uploaded.path, std::optional<RemotePath>(rootPath().appending(QStringLiteral("ten.txt"))));

    // The page uses the storage as the check read it, without reading again.
    EXPECT_EQ(runTask(m_session->rootDirectory(storageID())).storage.freeSpace, std::optional<qint64>(10));
    EXPECT_EQ(m_bridge->calls().count(QStringLiteral("storages")), 1);
}

TEST_F(SessionUpload, OfAFileLargerThanTheFreeSpaceIsRefusedBeforeAnythingIsSent)
{
    m_bridge->setFreeSpace(storage, 9);
    const QString source = localFile(QStringLiteral("ten.txt"), "0123456789");
    const std::optional<QuillbarrowError> failure =
        sessionFailure(m_session->uploadFile(source, QStringLiteral("ten.txt"), std::nullopt, storageID()));
    EXPECT_EQ(kindOf(failure), "insufficientSpace");
    EXPECT_EQ(m_bridge->calls(), QStringList{"storages"}) << joined(m_bridge->calls());
    EXPECT_TRUE(m_bridge->children(storage, root).isEmpty());
}

TEST_F(SessionUpload, GoesAheadWhenTheFreeSpaceIsUnknownOrCannotBeChecked)
{
    const std::uint32_t folder = m_bridge->addFolder(storage, root, "Docs");
    const QString source = localFile(QStringLiteral("big.bin"), QByteArray(64, 'x'));
    // A free space the device does not report.
    m_bridge->setFreeSpace(storage, 0xFFFFFFFFFFFFFFFFull);
    const RemoteItem first = runTask(m_session->uploadFile(source, QStringLiteral("1.bin"), idOf(folder), storageID()));
    EXPECT_EQ(first.parentID, std::optional<RemoteObjectID>(idOf(folder)));
    EXPECT_FALSE(first.path.has_value());
    // Still unknown as far as the session can tell: not asked again. A storage the session has
    // not seen is looked for, and a storage read that fails lets the upload go ahead.
    m_bridge->setFreeSpace(storage, 1);
    m_bridge->failNext(Operation::storages, {1, "general failure"});
    runTask(m_session->uploadFile(source, QStringLiteral("2.bin"), idOf(folder), storageID()));
    runTask(m_session->uploadFile(source, QStringLiteral("3.bin"), std::nullopt, StorageID(QStringLiteral("7"))));
    // A source whose size cannot be read is sent with size 0, without a check.
    const RemoteItem unsized = runTask(m_session->uploadFile(m_local.filePath(QStringLiteral("missing")),
                                                             QStringLiteral("4.bin"), std::nullopt, storageID()));
    EXPECT_EQ(unsized.size, std::optional<qint64>(0));

    EXPECT_EQ(m_bridge->calls(), (QStringList{"storages", QStringLiteral("upload 1.bin %1 65537 64").arg(folder),
                                              QStringLiteral("upload 2.bin %1 65537 64").arg(folder),
                                              "storages", "upload 3.bin 4294967295 7 64", "upload 4.bin 4294967295 65537 0"}))
        << joined(m_bridge->calls());
}

TEST_F(SessionUpload, IsSentOnceMoreAfterATransferFailureRemovingWhatTheFailedAttemptLeft)
{
    const QString source = localFile(QStringLiteral("photo.jpg"), "full picture");
    m_bridge->failNext(Operation::upload, {1, "PTP Layer error 2007", true});

    const RemoteItem uploaded = runTask(m_session->uploadFile(source, QStringLiteral("photo.jpg"), std::nullopt, storageID()));

    const QList<FakeLibMTPBridge::Object> left = m_bridge->children(storage, root);
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left.first().content, QByteArray("full picture"));
    EXPECT_EQ(uploaded.id, idOf(left.first().id));
    const std::uint32_t partial = left.first().id - 1;
    EXPECT_EQ(m_bridge->calls(), (QStringList{"storages", "upload photo.jpg 4294967295 65537 12",
                                              QStringLiteral("delete %1").arg(partial),
                                              "upload photo.jpg 4294967295 65537 12"}))
        << joined(m_bridge->calls());
}

TEST_F(SessionUpload, EndsWithTheSecondAttemptsErrorAndLeavesNothingBehind)
{
    const QString source = localFile(QStringLiteral("a.bin"), "abcdef");
    m_bridge->failNext(Operation::upload, {2, "first answer"});
    m_bridge->failNext(Operation::upload, {1, "second answer", true});

    const std::optional<QuillbarrowError> failure =
        sessionFailure(m_session->uploadFile(source, QStringLiteral("a.bin"), std::nullopt, storageID()));

    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, QuillbarrowError::transferFailed(QStringLiteral("second answer")));
    EXPECT_EQ(m_bridge->calls().count(QStringLiteral("upload a.bin 4294967295 65537 6")), 2);
    EXPECT_TRUE(m_bridge->children(storage, root).isEmpty());
}

// Which first failures are worth one more attempt: those of the transfer itself (a broken-off USB
// transfer, "PTP Layer error 02ff", among them), never those that sending again cannot cure.
TEST_F(SessionUpload, IsSentOnceMoreOnlyAfterAFailureOfTheTransferItself)
{
    struct Case {
        std::int32_t code;
        QByteArray message;
        const char* kind;
        bool sentAgain;
    };
    const QList<Case> cases{
        {1, "PTP Layer error 02ff: LIBMTP_Send_File_From_File_Descriptor(): Could not send object.",
         "transferInterrupted", true},
        {1, "PTP Layer error 2007", "transferFailed", true},
        {2, "The device returned an invalid MTP/PTP response.", "backendProtocolError", true},
        {6, "The device storage is full.", "insufficientSpace", false},
        {1, "PTP Layer error 200c: Store Full", "insufficientSpace", false},
        {3, "The USB interface could not be claimed.", "usbInterfaceBusy", false},
        {5, "No MTP device is attached.", "deviceNotFound", false},
        {7, "The MTP device could not be opened.", "sessionFailed", false},
    };
    const QString source = localFile(QStringLiteral("a.bin"), "abcdef");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        const int sentBefore = m_bridge->calls().count(QStringLiteral("upload a.bin 4294967295 65537 6"));
        m_bridge->failNext(Operation::upload, {c.code, c.message});
        const std::optional<QuillbarrowError> failure =
            sessionFailure(m_session->uploadFile(source, QStringLiteral("a.bin"), std::nullopt, storageID()));
        const int sent = m_bridge->calls().count(QStringLiteral("upload a.bin 4294967295 65537 6")) - sentBefore;
        if (c.sentAgain) {
            EXPECT_EQ(sent, 2);
            EXPECT_EQ(kindOf(failure), "success") << "the second attempt went through";
        } else {
            EXPECT_EQ(sent, 1);
            EXPECT_EQ(kindOf(failure), c.kind);
        }
    }
    // The first-attempt errors map as the table says (each retried one failing twice ends with it).
    for (const Case& c : cases) {
        if (c.sentAgain) {
            m_bridge->failNext(Operation::upload, {c.code, c.message});
            m_bridge->failNext(Operation::upload, {c.code, c.message});
            EXPECT_EQ(kindOf(sessionFailure(
                          m_session->uploadFile(source, QStringLiteral("a.bin"), std::nullopt, storageID()))),
                      c.kind);
        }
    }
}

TEST_F(SessionUpload, StoppedThroughItsProgressFunctionIsCancelledAndNotSentAgain)
{
    const QString source = localFile(QStringLiteral("a.bin"), "abcdef");
    ProgressRecord progress;
    const std::optional<QuillbarrowError> failure = sessionFailure(
        m_session->uploadFile(source, QStringLiteral("a.bin"), std::nullopt, storageID(), progress.function(false)));
    EXPECT_EQ(kindOf(failure), "userCancelled") << (failure ? failure->technicalDetails().toStdString() : "");
    EXPECT_EQ(progress.reports().size(), 1u);
    EXPECT_EQ(m_bridge->calls().count(QStringLiteral("upload a.bin 4294967295 65537 6")), 1);
    EXPECT_TRUE(m_bridge->children(storage, root).isEmpty());
}

TEST_F(SessionProgress, StoppingADownloadEndsItCancelledEvenWhenTheDeviceReportsSuccess)
{
    const std::uint32_t file = m_bridge->addFile(storage, root, "a.bin", "abcdef");
    m_bridge->setIgnoresCancellation(true);
    ProgressRecord progress;
    const std::optional<QuillbarrowError> failure = sessionFailure(
        m_session->downloadFile(idOf(file), m_local.filePath(QStringLiteral("a.bin")), progress.function(false)));
    EXPECT_EQ(kindOf(failure), "userCancelled");
    ASSERT_EQ(progress.reports().size(), 1u);
    EXPECT_FALSE(progress.reports().front().onMainThread);
}

TEST_F(SessionProgress, ReachesTheFunctionOnTheTransferThreadWithAnUnknownTotalAbsent)
{
    const std::uint32_t file = m_bridge->addFile(storage, root, "a.bin", "abcdefghij");
    m_bridge->setProgressReports({{0, 0}, {4, 0}, {10, 10}, {~std::uint64_t{0}, ~std::uint64_t{0}}});
    ProgressRecord progress;
    runTask(m_session->downloadFile(idOf(file), m_local.filePath(QStringLiteral("a.bin")), progress.function()));

    const std::vector<ProgressRecord::Report> reports = progress.reports();
    ASSERT_EQ(reports.size(), 4u);
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    EXPECT_EQ(reports[0].done, 0);
    EXPECT_FALSE(reports[0].total.has_value());
    EXPECT_EQ(reports[1].done, 4);
    EXPECT_FALSE(reports[1].total.has_value());
    EXPECT_EQ(reports[2].total, std::optional<qint64>(10));
    EXPECT_EQ(reports[3].done, largest);
    EXPECT_EQ(reports[3].total, std::optional<qint64>(largest));
    for (const ProgressRecord::Report& report : reports) {
        EXPECT_FALSE(report.onMainThread);
    }
}

TEST_F(SessionProgress, AFunctionThatThrowsStopsTheTransferWithItsErrorAndIsNotRetried)
{
    const QString source = localFile(QStringLiteral("a.bin"), "abcdef");
    const TransferProgressFunction throwing = [](qint64, std::optional<qint64>) -> bool {
        throw std::runtime_error("progress broke");
    };
    const std::optional<QuillbarrowError> failure =
        sessionFailure(m_session->uploadFile(source, QStringLiteral("a.bin"), std::nullopt, storageID(), throwing));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, QuillbarrowError::unknown(QStringLiteral("progress broke")));
    EXPECT_EQ(m_bridge->calls().count(QStringLiteral("upload a.bin 4294967295 65537 6")), 1);
    EXPECT_TRUE(m_bridge->children(storage, root).isEmpty());
}

TEST(ProgressTrampoline, AnswersZeroWithoutABoxOrFunctionAndOneWhenAskedToStop)
{
    EXPECT_EQ(LibMTPProgressBridge::trampoline(1, 2, nullptr), 0);
    LibMTPProgressBridge::Box empty{TransferProgressFunction()};
    EXPECT_EQ(LibMTPProgressBridge::trampoline(1, 2, &empty), 0);
    EXPECT_FALSE(empty.cancelled.load());

    bool answer = true;
    LibMTPProgressBridge::Box box{[&answer](qint64, std::optional<qint64>) { return answer; }};
    EXPECT_EQ(LibMTPProgressBridge::trampoline(1, 2, &box), 0);
    EXPECT_FALSE(box.cancelled.load());
    answer = false;
    EXPECT_EQ(LibMTPProgressBridge::trampoline(1, 2, &box), 1);
    EXPECT_TRUE(box.cancelled.load());
    EXPECT_FALSE(box.failure);
}

} // namespace

namespace {

// What the session tells the bridge, with each upload, of the objects of the file's name that the
// folder held: what its own listing showed, kept up to date by its own changes, and "unknown"
// wherever it cannot be sure (the bridge then finds out for itself). Telling too few would let the
// clean-up of a cancelled upload take an older object for the partly sent one.
TEST_F(SessionUpload, TellsTheBridgeWhichObjectsOfItsNameTheFolderHeldAsFarAsItsListingsShow)
{
    const std::uint32_t docs = m_bridge->addFolder(storage, root, "Docs");
    const std::uint32_t older = m_bridge->addFile(storage, docs, "a.txt", "old");
    const std::uint32_t unlisted = m_bridge->addFolder(storage, root, "Unlisted");
    const QString source = localFile(QStringLiteral("src.txt"), "abc");
    const RemotePath docsPath = rootPath().appending(QStringLiteral("Docs"));
    runTask(m_session->rootDirectory(storageID()));
    runTask(m_session->listDirectory(idOf(docs), docsPath));
    const auto upload = [&](const QString& name, std::uint32_t folder = 0) {
        const std::optional<RemoteObjectID> parent =
            folder == root ? std::nullopt : std::optional<RemoteObjectID>(idOf(folder == 0 ? docs : folder));
        return sessionFailure(m_session->uploadFile(source, name, parent, storageID()));
    };
    const auto told = [this] { return m_bridge->uploadKnowledge().last(); };
    const auto idNamed = [this, docs](const QByteArray& name) {
        for (const FakeLibMTPBridge::Object& object : m_bridge->children(storage, docs)) {
            if (object.name == name) {
                return QString::number(object.id);
            }
        }
        return QStringLiteral("none");
    };

    upload(QStringLiteral("b.txt"));
    EXPECT_EQ(told(), QStringLiteral("b.txt: none")) << "a free name in the listing";
    upload(QStringLiteral("a.txt"));
    EXPECT_EQ(told(), QStringLiteral("a.txt: %1").arg(older)) << "a name in the listing";
    const QString firstB = idNamed("b.txt");
    upload(QStringLiteral("b.txt"));
    EXPECT_EQ(told(), QStringLiteral("b.txt: ") + firstB) << "a name this session uploaded";

    const RemoteItem folder = runTask(m_session->createFolder(QStringLiteral("c.txt"), idOf(docs), storageID()));
    const RemoteItem file = runTask(m_session->uploadFile(source, QStringLiteral("c.txt"), idOf(docs), storageID()));
    EXPECT_EQ(told(), QStringLiteral("c.txt: ") + folder.id.rawValue()) << "a folder this session made";

    runTask(m_session->rename(idOf(older), QStringLiteral("d.txt")));
    upload(QStringLiteral("d.txt"));
    EXPECT_EQ(told(), QStringLiteral("d.txt: %1").arg(older)) << "a name this session gave an object";

    runTask(m_session->deleteItem(folder.id));
    upload(QStringLiteral("c.txt"));
    EXPECT_EQ(told(), QStringLiteral("c.txt: ") + file.id.rawValue()) << "one object of that name was deleted";

    upload(QStringLiteral("r.txt"), root);
    EXPECT_EQ(told(), QStringLiteral("r.txt: none")) << "the listed storage root";
    upload(QStringLiteral("u.txt"), unlisted);
    EXPECT_EQ(told(), QStringLiteral("u.txt: unknown")) << "a folder never listed";
    upload(QString(256, QChar(0x00E9)));
    EXPECT_TRUE(told().endsWith(QStringLiteral(": unknown"))) << "a name longer than a listing shows";

    // A rename, a folder creation or an upload that failed may have changed the folder all the same.
    runTask(m_session->listDirectory(idOf(docs), docsPath));
    m_bridge->failNext(Operation::createFolder, {1, "PTP Layer error 2002"});
    EXPECT_TRUE(sessionFailure(m_session->createFolder(QStringLiteral("h.txt"), idOf(docs), storageID())).has_value());
    upload(QStringLiteral("h.txt"));
    EXPECT_EQ(told(), QStringLiteral("h.txt: unknown")) << "after a failed folder creation";
    m_bridge->failNext(Operation::rename, {1, "PTP Layer error 2002"});
    EXPECT_TRUE(sessionFailure(m_session->rename(idOf(older), QStringLiteral("e.txt"))).has_value());
    upload(QStringLiteral("e.txt"));
    EXPECT_EQ(told(), QStringLiteral("e.txt: unknown")) << "after a failed rename";
    runTask(m_session->listDirectory(idOf(docs), docsPath));
    m_bridge->failNext(Operation::upload, {1, "PTP Layer error 02ff"});
    m_bridge->failNext(Operation::upload, {1, "PTP Layer error 02ff"});
    EXPECT_TRUE(upload(QStringLiteral("f.txt")).has_value());
    upload(QStringLiteral("g.txt"));
    EXPECT_EQ(told(), QStringLiteral("g.txt: unknown")) << "after a failed upload";
}

} // namespace

// ---- The free space of a batch of uploads -----------------------------------------------------

struct SpaceStep {
    qint64 size;
    // What the device reports from now on, when that changes before this file (another program
    // wrote or deleted something, or the device counts what it was sent).
    std::optional<std::uint64_t> deviceFree;
    bool sent;
    // Storage reads from the start of the batch up to and including this file, failed ones too.
    int storageReads;
    // The storage read this file makes fails.
    bool readFails = false;
};

struct SpaceCase {
    const char* name;
    std::uint64_t deviceFree;
    std::vector<SpaceStep> steps;
};

void PrintTo(const SpaceCase& batch, std::ostream* out)
{
    *out << batch.name;
}

class SessionBatchSpace : public LibMTPDeviceSessionTest, public ::testing::WithParamInterface<SpaceCase> {};

// A batch asks for the free space once, at its start, and reckons it down by what it sends; a file
// that would not fit by that reckoning makes it ask again, and only the device's fresh answer fails
// the file, before anything of it is sent.
TEST_P(SessionBatchSpace, IsAskedOnceAndAgainOnlyBeforeAFileWouldNotFit)
{
    const SpaceCase& batch = GetParam();
    m_bridge->setFreeSpace(storage, batch.deviceFree);
    runTask(m_session->storages());
    for (std::size_t index = 0; index < batch.steps.size(); ++index) {
        const SpaceStep& step = batch.steps[index];
        if (step.deviceFree) {
            m_bridge->setFreeSpace(storage, *step.deviceFree);
        }
        if (step.readFails) {
            m_bridge->failNext(Operation::storages, {1, "PTP Layer error 2001"});
        }
        const QString name = QStringLiteral("%1.bin").arg(index);
        const QString source = localFile(name, QByteArray(step.size, 'p'));
        const std::optional<QuillbarrowError> failure =
            sessionFailure(m_session->uploadFile(source, name, std::nullopt, storageID()));
        EXPECT_EQ(kindOf(failure), step.sent ? "success" : "insufficientSpace") << "file " << index;
        EXPECT_EQ(m_bridge->calls().count(QStringLiteral("upload %1 4294967295 65537 %2").arg(name).arg(step.size)),
                  step.sent ? 1 : 0)
            << "file " << index;
        EXPECT_EQ(m_bridge->calls().count(QStringLiteral("storages")), step.storageReads)
            << "file " << index << ": " << joined(m_bridge->calls());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Uploads, SessionBatchSpace,
    ::testing::Values(
        SpaceCase{"FitsWhole", 100, {{40, {}, true, 1}, {40, {}, true, 1}, {20, {}, true, 1}}},
        // 80 sent of 100: 30 more would not fit, and the device agrees; 15 still fits unasked.
        SpaceCase{"OverflowsAtTheThirdFile",
                  100,
                  {{40, {}, true, 1}, {40, 20, true, 1}, {30, {}, false, 2}, {15, {}, true, 2}}},
        // The reckoning says no, but room was made meanwhile: the device's answer lets it go.
        SpaceCase{"RoomMadeMeanwhile", 100, {{60, {}, true, 1}, {50, 500, true, 2}, {400, {}, true, 2}}},
        // A file larger than the free space at the start is failed only after asking once more.
        SpaceCase{"TooFullForTheFirstFile", 10, {{11, {}, false, 2}, {10, {}, true, 2}}},
        // A read that fails says nothing of room made meanwhile: the reckoning stands.
        SpaceCase{"UnreadableBeforeAFileThatWouldNotFit",
                  100,
                  {{40, {}, true, 1}, {70, 500, false, 2, true}, {60, {}, true, 2}}}),
    [](const ::testing::TestParamInfo<SpaceCase>& info) { return std::string(info.param.name); });

// A download of a file that a listing of the session showed gives the bridge that size, so that the
// device is not asked for it; a file the session has not listed goes without.
TEST_F(SessionProgress, DownloadsGiveTheBridgeTheSizeTheListingShowed)
{
    const std::uint32_t listed = m_bridge->addFile(storage, root, "listed.jpg", "0123456789");
    runTask(m_session->rootDirectory(storageID()));
    const std::uint32_t unlisted = m_bridge->addFile(storage, root, "new.jpg", "abc");
    ProgressRecord record;
    runTask(m_session->downloadFile(idOf(listed), m_local.filePath(QStringLiteral("a")), record.function()));
    runTask(m_session->downloadFile(idOf(unlisted), m_local.filePath(QStringLiteral("b")), record.function()));
    EXPECT_EQ(m_bridge->downloadSizes(), (QList<std::int64_t>{10, -1}));
}
