#include "LocalBrowserTestSupport.h"

#include "viewmodels/localbrowser/LocalTrash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <sys/stat.h>

namespace quillbarrow::testing {
namespace {

class FileOperationTest : public LocalBrowserTest {
protected:
    void SetUp() override
    {
        LocalBrowserTest::SetUp();
        makeFile(QStringLiteral("home/shown/existing.txt"), "old");
        makeFolder(QStringLiteral("home/shown/folder"));
        m_model = makeModel(url(QStringLiteral("home/shown")));
        m_model->refresh();
        waitForListing(*m_model);
    }

    QByteArray contents(const QString& relative) const
    {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    QString trashFile(const QString& name) const { return path(QStringLiteral("data/Trash/files/") + name); }
    QString trashInfo(const QString& name) const
    {
        return path(QStringLiteral("data/Trash/info/") + name + QStringLiteral(".trashinfo"));
    }

    std::unique_ptr<LocalBrowserViewModel> m_model;
};

TEST_F(FileOperationTest, CreatesAFolderUnderTheTrimmedNameAndListsAgain)
{
    // The listing may finish before createFolder returns, so watch the loading states it passes.
    QList<bool> loadingStates;
    QObject::connect(m_model.get(), &LocalBrowserViewModel::isLoadingChanged,
                     [&] { loadingStates.append(m_model->isLoading()); });
    m_model->createFolder(QStringLiteral("  New Folder \n"));
    waitForListing(*m_model);
    EXPECT_EQ(loadingStates, (QList<bool>{true, false}));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("home/shown/New Folder"))).isDir());
    EXPECT_TRUE(m_model->items().contains(shownItem(*m_model, QStringLiteral("New Folder"))));
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
}

// A taken name is named in the message (the one typed, trimmed); any other reason the system gives
// is its own sentence.
TEST_F(FileOperationTest, ANameThatCannotNameOneItemIsRefusedWithoutTouchingTheDisk)
{
    struct Case {
        QString name;
        QString reason;
    };
    const Case cases[] = {
        {QStringLiteral(" \n\t"), QStringLiteral("A name cannot be empty.")},
        {QStringLiteral("."), QStringLiteral("“.” cannot be used as a name.")},
        {QStringLiteral(" .. "), QStringLiteral("“..” cannot be used as a name.")},
        {QStringLiteral("a/b"), QStringLiteral("A name cannot contain “/”.")},
        {QStringLiteral("../escaped"), QStringLiteral("A name cannot contain “/”.")},
        {QStringLiteral("nul") + QChar(u'\0') + QStringLiteral("name"),
         QStringLiteral("A name cannot contain a NUL character.")},
        {QStringLiteral(" folder\n"), QStringLiteral("“folder” already exists.")},
        {QString(300, u'x'), QStringLiteral("File name too long")},
    };
    const QStringList before = QDir(path(QStringLiteral("home"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const QStringList shownBefore = QDir(path(QStringLiteral("home/shown"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const LocalItem existing = shownItem(*m_model, QStringLiteral("existing.txt"));
    QSignalSpy loading(m_model.get(), &LocalBrowserViewModel::isLoadingChanged);
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name.left(20).toStdString());
        m_model->createFolder(row.name);
        EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Could not create folder: ") + row.reason);
        m_model->rename(existing, row.name);
        EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Could not rename: ") + row.reason);
    }
    m_model->createFolder(QStringLiteral("existing.txt"));
    EXPECT_EQ(m_model->errorMessage(),
              QStringLiteral("Could not create folder: “existing.txt” already exists."));
    EXPECT_EQ(contents(QStringLiteral("home/shown/existing.txt")), "old");
    EXPECT_EQ(QDir(path(QStringLiteral("home"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    EXPECT_EQ(QDir(path(QStringLiteral("home/shown"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), shownBefore);
    EXPECT_EQ(loading.count(), 0);
}

TEST_F(FileOperationTest, RenamesWithinTheItemsFolderButNeverOverAnotherItem)
{
    makeFile(QStringLiteral("home/shown/other.txt"), "keep me");
    m_model->refresh();
    waitForListing(*m_model);
    const LocalItem existing = shownItem(*m_model, QStringLiteral("existing.txt"));
    QSignalSpy loading(m_model.get(), &LocalBrowserViewModel::isLoadingChanged);

    // Its own name, also with blanks around it, does nothing at all.
    m_model->rename(existing, QStringLiteral("  existing.txt "));
    EXPECT_EQ(loading.count(), 0);
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);

    // Another item's name: both stay as they are.
    m_model->rename(existing, QStringLiteral("other.txt"));
    EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Could not rename: \u201Cother.txt\u201D already exists."));
    EXPECT_EQ(contents(QStringLiteral("home/shown/other.txt")), "keep me");
    EXPECT_EQ(contents(QStringLiteral("home/shown/existing.txt")), "old");
    EXPECT_EQ(loading.count(), 0);

    m_model->rename(existing, QStringLiteral(" renamed.txt\n"));
    waitForListing(*m_model);
    EXPECT_EQ(contents(QStringLiteral("home/shown/renamed.txt")), "old");
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("home/shown/existing.txt"))));
    // The renamed item keeps its row, until the order is applied anew.
    EXPECT_EQ(names(m_model->items()), (QStringList{QStringLiteral("folder"), QStringLiteral("renamed.txt"),
                                                    QStringLiteral("other.txt")}));
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
}

TEST_F(FileOperationTest, DeleteMovesItemsToTheTrashWithTheirInfoFiles)
{
    makeFile(QStringLiteral("home/shown/folder/inside"), "1");
    const QList<LocalItem> chosen{shownItem(*m_model, QStringLiteral("existing.txt")),
                                  shownItem(*m_model, QStringLiteral("folder"))};
    m_model->deleteItems(chosen);
    waitForListing(*m_model);

    EXPECT_TRUE(m_model->items().isEmpty());
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
    QFile existing(trashFile(QStringLiteral("existing.txt")));
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), "old");
    EXPECT_TRUE(QFileInfo::exists(trashFile(QStringLiteral("folder/inside"))));
    QFile info(trashInfo(QStringLiteral("existing.txt")));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    const QByteArray text = info.readAll();
    EXPECT_TRUE(text.startsWith("[Trash Info]\nPath=" + QFile::encodeName(path(QStringLiteral("home/shown/existing.txt"))) + "\nDeletionDate="))
        << text.toStdString();
    EXPECT_TRUE(QFileInfo::exists(trashInfo(QStringLiteral("folder"))));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("data/Trash"))).permissions().toInt() & 0x0077, 0) << "the Trash is private";
}

TEST_F(FileOperationTest, AFailedItemOfADeleteIsNamedAndTheOthersAreStillDeleted)
{
    makeFile(QStringLiteral("home/shown/third.txt"), "3");
    m_model->refresh();
    waitForListing(*m_model);
    const QList<LocalItem> chosen{shownItem(*m_model, QStringLiteral("existing.txt")),
                                  shownItem(*m_model, QStringLiteral("folder")),
                                  shownItem(*m_model, QStringLiteral("third.txt"))};
    // The middle item is gone before the delete reaches it.
    ASSERT_TRUE(QDir(path(QStringLiteral("home/shown/folder"))).removeRecursively());
    QList<bool> loadingStates;
    QObject::connect(m_model.get(), &LocalBrowserViewModel::isLoadingChanged,
                     [&] { loadingStates.append(m_model->isLoading()); });
    m_model->deleteItems(chosen);
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Could not delete folder: No such file or directory"));
    EXPECT_TRUE(QFileInfo::exists(trashFile(QStringLiteral("existing.txt"))));
    EXPECT_TRUE(QFileInfo::exists(trashFile(QStringLiteral("third.txt"))));
    EXPECT_EQ(loadingStates, (QList<bool>{true, true, false})) << "loading while moving, then listed once, at the end";
    EXPECT_TRUE(m_model->items().isEmpty());
    // The listing that follows keeps the news that something was not deleted.
    EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Could not delete folder: No such file or directory"));
    m_model->refresh();
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
}

TEST_F(FileOperationTest, DeletingNothingListsTheFolderAgain)
{
    QSignalSpy loading(m_model.get(), &LocalBrowserViewModel::isLoadingChanged);
    m_model->deleteItems({});
    waitForListing(*m_model);
    EXPECT_EQ(loading.count(), 3);
}

TEST_F(FileOperationTest, WithoutADataFolderTheHomeTrashIsMadeAndNothingLandsInTheWorkingFolder)
{
    m_environment.set("XDG_DATA_HOME", path(QStringLiteral("fresh/share")));
    makeFolder(QStringLiteral("working"));
    const QString working = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path(QStringLiteral("working"))));
    const std::optional<QString> refusal = LocalTrash::moveToTrash(path(QStringLiteral("home/shown/existing.txt")));
    QDir::setCurrent(working);

    EXPECT_EQ(refusal, std::nullopt);
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("fresh/share/Trash/files/existing.txt"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("fresh/share/Trash/info/existing.txt.trashinfo"))));
    EXPECT_TRUE(QDir(path(QStringLiteral("working"))).isEmpty());
}

TEST_F(FileOperationTest, WhenTheTrashCannotTakeAnItemItStaysAndTheMessageSaysWhy)
{
    // The data folder is a file: no Trash can be made in it.
    makeFile(QStringLiteral("not-a-folder"));
    m_environment.set("XDG_DATA_HOME", path(QStringLiteral("not-a-folder")));
    m_model->deleteItems({shownItem(*m_model, QStringLiteral("existing.txt"))});
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(), QStringLiteral("Could not delete existing.txt: The Trash folder %1 cannot be made (Not a directory).")
                                           .arg(path(QStringLiteral("not-a-folder/Trash"))));
    EXPECT_EQ(contents(QStringLiteral("home/shown/existing.txt")), "old");
    m_environment.set("XDG_DATA_HOME", path(QStringLiteral("data")));

    // The folder that holds the Trash.
    makeFolder(QStringLiteral("data/Trash"));
    EXPECT_EQ(LocalTrash::moveToTrash(path(QStringLiteral("data"))), QStringLiteral("It holds the Trash itself."));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("data/Trash"))).isDir());
}

TEST_F(FileOperationTest, ATrashThatCannotBeWrittenToRefusesTheItemInsteadOfHanging)
{
    if (rerunUnprivileged()) {
        return;
    }
    makeFolder(QStringLiteral("data/Trash/files"));
    makeFolder(QStringLiteral("data/Trash/info"));
    ASSERT_EQ(::chmod(QFile::encodeName(path(QStringLiteral("data/Trash/info"))).constData(), 0500), 0);
    m_model->deleteItems({shownItem(*m_model, QStringLiteral("existing.txt"))});
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(),
              QStringLiteral("Could not delete existing.txt: The Trash folder %1 cannot be written to (Permission denied).")
                  .arg(path(QStringLiteral("data/Trash/info"))));
    EXPECT_EQ(contents(QStringLiteral("home/shown/existing.txt")), "old");
}

} // namespace
} // namespace quillbarrow::testing
