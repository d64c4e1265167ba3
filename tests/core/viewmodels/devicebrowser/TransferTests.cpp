#include "DeviceBrowserTestSupport.h"

#include "RunTask.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using namespace std::chrono_literals;

namespace {

class DeviceBrowserTransferTest : public ConnectedDeviceBrowserTest {
protected:
    DeviceBrowserTransferTest()
    {
        useTree(treeWith({folderItem("d", "Docs")}));
    }

    // A local file of `size` bytes in the temporary folder.
    QUrl localFile(const QString& name, qint64 size)
    {
        QFile file(local.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        return QUrl::fromLocalFile(file.fileName());
    }

    QStringList publishedNames()
    {
        QStringList names;
        for (const TransferJob& job : viewModel().transferJobs()) {
            names.append(job.displayName);
        }
        return names;
    }
    std::optional<TransferJob> published(const QString& name)
    {
        for (const TransferJob& job : viewModel().transferJobs()) {
            if (job.displayName == name) {
                return job;
            }
        }
        return std::nullopt;
    }

    QTemporaryDir local;
};

} // namespace

TEST_F(DeviceBrowserTransferTest, AFailedFileDoesNotStopTheBatchWhichIsListedOnceAfterwards)
{
    connect();
    session->script("upload", Reply::fail(QuillbarrowError::insufficientSpace()), "first.bin");
    QSignalSpy loading(&viewModel(), &DeviceBrowserViewModel::isLoadingChanged);
    runTask(viewModel().uploadFiles({localFile("first.bin", 3), localFile("second.bin", 4)}));
    EXPECT_EQ(newCalls(), (QStringList{"upload first.bin", "upload second.bin", "root s1"}));
    ASSERT_TRUE(published("first.bin"));
    EXPECT_EQ(published("first.bin")->state, TransferState::failed(QuillbarrowError::insufficientSpace()));
    EXPECT_EQ(published("second.bin")->state, TransferState::completed());
    EXPECT_EQ(published("second.bin")->totalBytes, std::optional<qint64>(4));
    EXPECT_EQ(published("second.bin")->direction, TransferDirection::macToAndroid);
    // The listing after the batch keeps the failure's banner.
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->message, QuillbarrowError::insufficientSpace().userMessage());
    EXPECT_EQ(loading.count(), 2);
    EXPECT_FALSE(viewModel().isLoading());
    EXPECT_EQ(viewModel().items().size(), 2); // Docs and the uploaded file
    EXPECT_TRUE(log.infoLines().contains(QStringLiteral("uploaded second.bin")));
    EXPECT_FALSE(log.infoLines().contains(QStringLiteral("uploaded first.bin")));

    // An empty batch makes no job but still lists the folder again, clearing the banner.
    runTask(viewModel().uploadFiles({}));
    EXPECT_EQ(queue->allJobs().size(), 2);
    EXPECT_EQ(newCalls().mid(3), QStringList{"root s1"});
    EXPECT_FALSE(viewModel().errorBanner());
}

TEST_F(DeviceBrowserTransferTest, ProgressIsRecordedWhileRunningAndALateReportLeavesAFinishedJobFinished)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("upload", Reply::proceed().heldBy(hang));
    auto uploading = startTask(viewModel().uploadFiles({localFile("clip.mp4", 10)}));
    ASSERT_TRUE(hang->isReached());
    EXPECT_EQ(published("clip.mp4")->state.kind(), TransferState::Kind::running);
    const TransferProgressFunction progress = session->lastProgress();
    ASSERT_TRUE(progress);
    EXPECT_TRUE(progress(4, 999)); // the device's total is not what the job measures against
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const std::optional<TransferProgress> now = published("clip.mp4")->state.progress();
            return now && now->bytesCompleted == 4;
        },
        5s));
    EXPECT_EQ(published("clip.mp4")->state.progress()->bytesTotal, std::optional<qint64>(10));

    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return uploading->done; }, 5s));
    EXPECT_EQ(published("clip.mp4")->state, TransferState::completed());
    QSignalSpy republished(&viewModel(), &DeviceBrowserViewModel::transferJobsChanged);
    EXPECT_TRUE(progress(10, 10)); // reaches the total, so it passes the throttle
    ASSERT_TRUE(processEventsUntil([&] { return republished.count() == 1; }, 5s));
    EXPECT_EQ(published("clip.mp4")->state, TransferState::completed());
}

TEST_F(DeviceBrowserTransferTest, JobsArePublishedInNaturalNameOrderAndClearingHidesTheFinishedOnes)
{
    connect();
    const QUrl missing = QUrl::fromLocalFile(local.filePath(QStringLiteral("a10")));
    runTask(viewModel().uploadFiles({localFile("b", 1), missing, localFile("a2", 2)}));
    EXPECT_EQ(publishedNames(), (QStringList{"a2", "a10", "b"}));
    // A file whose attributes cannot be read makes a job without a total.
    EXPECT_EQ(published("a10")->totalBytes, std::nullopt);

    queueJob();
    viewModel().clearCompletedTransfers();
    EXPECT_EQ(publishedNames(), QStringList{"photo.jpg"});
    EXPECT_EQ(queue->allJobs().size(), 4);
    runTask(viewModel().uploadFiles({localFile("c", 1)}));
    EXPECT_EQ(publishedNames(), (QStringList{"a2", "a10", "b", "c", "photo.jpg"}));
}

TEST_F(DeviceBrowserTransferTest, ADownloadGoesToASafeNameInsideTheFolderAndMakesOneJob)
{
    connect();
    const QUrl folder = QUrl::fromLocalFile(local.path());
    runTask(viewModel().downloadFile(folderItem("d", "Docs"), folder));
    EXPECT_TRUE(queue->allJobs().isEmpty());

    runTask(viewModel().downloadFile(fileItem("f", "photo.jpg", 7), folder));
    runTask(viewModel().downloadFile(fileItem("e", "../escape.jpg", 3), folder));
    runTask(viewModel().downloadFile(fileItem("p", "..", 1), folder));
    EXPECT_EQ(session->downloadDestinations(),
              (QStringList{local.filePath("photo.jpg"), local.filePath("escape.jpg"), local.filePath("Android file")}));
    EXPECT_EQ(published("photo.jpg")->state, TransferState::completed());
    EXPECT_EQ(published("photo.jpg")->totalBytes, std::optional<qint64>(7));
    EXPECT_EQ(published("../escape.jpg")->direction, TransferDirection::androidToMac);
    EXPECT_TRUE(log.infoLines().contains(QStringLiteral("downloaded photo.jpg -> ") + local.filePath("photo.jpg")));
    // Nothing is listed again after a download.
    EXPECT_EQ(newCalls(), (QStringList{"download f", "download e", "download p"}));
}

TEST_F(DeviceBrowserTransferTest, AFailedDownloadOrAFolderThatIsNotLocalFailsItsJobWithTheBanner)
{
    connect();
    session->script("download", Reply::failForeign("disk full"));
    runTask(viewModel().downloadFile(fileItem("f", "photo.jpg", 7), QUrl::fromLocalFile(local.path())));
    EXPECT_EQ(published("photo.jpg")->state, TransferState::failed(QuillbarrowError::unknown("disk full")));
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_EQ(viewModel().errorBanner()->detail, QStringLiteral("disk full"));

    const QStringList lookups = detector->calls();
    runTask(viewModel().downloadFile(fileItem("g", "song.mp3", 7), QUrl(QStringLiteral("relative/folder"))));
    EXPECT_EQ(published("song.mp3")->state.kind(), TransferState::Kind::failed);
    // The file's own failure: no conflicting application is looked for.
    EXPECT_EQ(published("song.mp3")->state.error()->kind(), QuillbarrowError::Kind::transferFailed);
    processEventsUntil([] { return false; }, 10ms);
    EXPECT_EQ(detector->calls(), lookups);
    ASSERT_TRUE(viewModel().errorBanner());
    EXPECT_TRUE(viewModel().errorBanner()->detail.endsWith(
        QStringLiteral("its name would place it outside the destination folder.")));
    // A download's failure does not say the file could not be copied to the device.
    EXPECT_EQ(viewModel().errorBanner()->message, published("song.mp3")->state.error()->message());
    EXPECT_EQ(session->downloadDestinations().size(), 1);
    // Without a session nothing is made.
    probe().setSession(nullptr);
    runTask(viewModel().downloadFile(fileItem("h", "x.jpg", 1), QUrl::fromLocalFile(local.path())));
    EXPECT_EQ(queue->allJobs().size(), 2);
}

TEST_F(DeviceBrowserTransferTest, ATransferThatOutlivesTheViewModelStillEndsItsJob)
{
    connect();
    auto hang = std::make_shared<Hang>();
    session->script("upload", Reply::proceed().heldBy(hang));
    auto uploading = startTask(viewModel().uploadFiles({localFile("late.bin", 2)}));
    ASSERT_TRUE(hang->isReached());
    destroyViewModel();
    hang->release();
    ASSERT_TRUE(processEventsUntil([&] { return uploading->done; }, 5s));
    ASSERT_EQ(queue->allJobs().size(), 1);
    EXPECT_EQ(queue->allJobs().first().state, TransferState::completed());
    EXPECT_FALSE(queue->hasActiveJobs());
}
