#include "LocalBrowserTestSupport.h"

#include "RunTask.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSemaphore>
#include <QSignalSpy>

namespace quillbarrow::testing {
namespace {

using ListingTest = LocalBrowserTest;

TEST_F(ListingTest, StartFolderIsTheStoredDefaultThenTheLastThenHomeSkippingStaleValues)
{
    makeFolder(QStringLiteral("default"));
    makeFolder(QStringLiteral("last"));
    makeFile(QStringLiteral("a-file"));
    struct Case {
        const char* name;
        std::optional<QString> storedDefault;
        std::optional<QString> storedLast;
        QString expected;
    };
    const QString home = path(QStringLiteral("home"));
    const Case cases[] = {
        {"both exist", path(QStringLiteral("default")), path(QStringLiteral("last")), path(QStringLiteral("default"))},
        {"default deleted", path(QStringLiteral("gone")), path(QStringLiteral("last")), path(QStringLiteral("last"))},
        {"default is a file", path(QStringLiteral("a-file")), path(QStringLiteral("last")), path(QStringLiteral("last"))},
        {"only last", std::nullopt, path(QStringLiteral("last")), path(QStringLiteral("last"))},
        {"both stale", QString(), path(QStringLiteral("gone")), home},
        {"nothing stored", std::nullopt, std::nullopt, home},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        m_defaults = std::make_shared<InMemoryUserDefaults>();
        if (row.storedDefault) {
            m_defaults->setString(LocalBrowserViewModel::defaultDirectoryKey, *row.storedDefault);
        }
        if (row.storedLast) {
            m_defaults->setString(LocalBrowserViewModel::lastDirectoryKey, *row.storedLast);
        }
        const auto model = makeModel(std::nullopt);
        EXPECT_EQ(model->currentDirectory(), QUrl::fromLocalFile(row.expected));
        // Construction lists nothing and leaves stale values stored.
        EXPECT_FALSE(model->isLoading());
        EXPECT_TRUE(model->breadcrumb().isEmpty());
        EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::defaultDirectoryKey), row.storedDefault);
        EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::lastDirectoryKey), row.storedLast);
    }
}

TEST_F(ListingTest, AGivenStartFolderIsKeptUntestedAndItsFirstListingFails)
{
    LogCapture log;
    const auto model = makeModel(url(QStringLiteral("missing")));
    EXPECT_EQ(model->currentDirectory(), url(QStringLiteral("missing")));
    model->refresh();
    waitForListing(*model);
    EXPECT_EQ(model->errorMessage(),
              QStringLiteral("Could not read %1: No such file or directory").arg(path(QStringLiteral("missing"))));
}

TEST_F(ListingTest, ListsEveryEntryWithItsKindSizeDateAndHiddenFlag)
{
    makeFolder(QStringLiteral("shown/sub"));
    makeFile(QStringLiteral("shown/b.txt"), "12345");
    makeFile(QStringLiteral("shown/.hidden"), "x");
    ASSERT_TRUE(QFile::link(path(QStringLiteral("shown/sub")), path(QStringLiteral("shown/link-to-sub"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("shown/broken"))));
    const auto model = makeModel(url(QStringLiteral("shown")));
    model->setShowHiddenFiles(true);
    model->refresh();
    waitForListing(*model);

    EXPECT_EQ(names(model->items()),
              (QStringList{QStringLiteral("link-to-sub"), QStringLiteral("sub"), QStringLiteral(".hidden"),
                           QStringLiteral("b.txt"), QStringLiteral("broken")}));
    const LocalItem file = shownItem(*model, QStringLiteral("b.txt"));
    EXPECT_EQ(file.id, url(QStringLiteral("shown/b.txt")));
    EXPECT_EQ(file.kind, RemoteItemKind::file);
    EXPECT_EQ(file.size, 5);
    EXPECT_EQ(file.modifiedAt, QFileInfo(path(QStringLiteral("shown/b.txt"))).lastModified().toUTC());
    EXPECT_FALSE(file.isHidden);
    const LocalItem folder = shownItem(*model, QStringLiteral("sub"));
    EXPECT_EQ(folder.kind, RemoteItemKind::folder);
    EXPECT_EQ(folder.size, std::nullopt);
    EXPECT_EQ(shownItem(*model, QStringLiteral("link-to-sub")).kind, RemoteItemKind::folder);
    EXPECT_TRUE(shownItem(*model, QStringLiteral(".hidden")).isHidden);
    // A link whose target is missing is still listed, as a file without size or date.
    const LocalItem broken = shownItem(*model, QStringLiteral("broken"));
    EXPECT_EQ(broken.kind, RemoteItemKind::file);
    EXPECT_EQ(broken.size, std::nullopt);
    EXPECT_EQ(broken.modifiedAt, std::nullopt);
    EXPECT_EQ(model->errorMessage(), std::nullopt);
}

TEST_F(ListingTest, OfTwoListingsInARowOnlyTheSecondIsApplied)
{
    makeFile(QStringLiteral("first/from-first"));
    makeFile(QStringLiteral("second/from-second"));
    const auto model = makeModel(url(QStringLiteral("first")));
    QSignalSpy itemsChanged(model.get(), &LocalBrowserViewModel::itemsChanged);
    QList<bool> loadingStates;
    QObject::connect(model.get(), &LocalBrowserViewModel::isLoadingChanged, model.get(),
                     [&] { loadingStates.append(model->isLoading()); });

    // One worker reads the two folders in turn, so the first result arrives first. The worker
    // is held until both were asked for: on a busy machine it could otherwise finish the first
    // before the second is asked for, and that listing would rightly be shown.
    QSemaphore gate;
    m_pool.start([&gate] { gate.acquire(); });
    model->refresh();
    model->navigateTo(url(QStringLiteral("second")));
    gate.release();
    waitForListing(*model);
    m_pool.waitForDone();
    QCoreApplication::processEvents();

    EXPECT_EQ(itemsChanged.count(), 1);
    EXPECT_EQ(names(model->items()), QStringList{QStringLiteral("from-second")});
    EXPECT_EQ(loadingStates, (QList<bool>{true, true, false}));
    EXPECT_EQ(model->currentDirectory(), url(QStringLiteral("second")));
}

TEST_F(ListingTest, HiddenEntriesAppearAndDisappearWithoutAnotherRead)
{
    makeFile(QStringLiteral("folder/visible"));
    makeFile(QStringLiteral("folder/.secret"));
    const auto model = makeModel(url(QStringLiteral("folder")));
    model->refresh();
    waitForListing(*model);
    ASSERT_EQ(names(model->items()), QStringList{QStringLiteral("visible")});

    // Gone from the disk: only the listing in memory can still show it.
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("folder/.secret"))));
    QSignalSpy loading(model.get(), &LocalBrowserViewModel::isLoadingChanged);
    model->setShowHiddenFiles(true);
    EXPECT_EQ(names(model->items()), (QStringList{QStringLiteral(".secret"), QStringLiteral("visible")}));
    model->setShowHiddenFiles(false);
    EXPECT_EQ(names(model->items()), QStringList{QStringLiteral("visible")});
    EXPECT_EQ(loading.count(), 0);
}

TEST_F(ListingTest, SetSortChangesKeyAndDirectionWithOneResortAndKeepsFoldersFirst)
{
    makeFolder(QStringLiteral("folder/b-folder"));
    makeFolder(QStringLiteral("folder/a-folder"));
    makeFile(QStringLiteral("folder/small"), "1");
    makeFile(QStringLiteral("folder/large"), "1234567");
    const auto model = makeModel(url(QStringLiteral("folder")));
    model->refresh();
    waitForListing(*model);
    EXPECT_EQ(names(model->items()), (QStringList{QStringLiteral("a-folder"), QStringLiteral("b-folder"),
                                                  QStringLiteral("large"), QStringLiteral("small")}));

    QSignalSpy sortChanged(model.get(), &LocalBrowserViewModel::sortChanged);
    QSignalSpy ascendingChanged(model.get(), &LocalBrowserViewModel::sortAscendingChanged);
    QSignalSpy itemsChanged(model.get(), &LocalBrowserViewModel::itemsChanged);
    model->setSort(FileSort::size, false);
    EXPECT_EQ(sortChanged.count(), 1);
    EXPECT_EQ(ascendingChanged.count(), 1);
    EXPECT_EQ(itemsChanged.count(), 1);
    // Unmeasured folders have no size and tie; ties go by name ascending.
    EXPECT_EQ(names(model->items()), (QStringList{QStringLiteral("a-folder"), QStringLiteral("b-folder"),
                                                  QStringLiteral("large"), QStringLiteral("small")}));
    model->setSort(FileSort::size, true);
    EXPECT_EQ(names(model->items()), (QStringList{QStringLiteral("a-folder"), QStringLiteral("b-folder"),
                                                  QStringLiteral("small"), QStringLiteral("large")}));
    model->setSort(FileSort::size, true);
    EXPECT_EQ(sortChanged.count(), 2);
    EXPECT_EQ(itemsChanged.count(), 2);
}

// A re-sort compares the names of the listing shown now, hidden entries left out, including
// after a re-listing that renamed, added and removed entries.
TEST_F(ListingTest, AResortOrdersTheNamesOfTheCurrentListing)
{
    makeFile(QStringLiteral("folder/.0-hidden"), "1");
    makeFile(QStringLiteral("folder/b"), "1");
    makeFile(QStringLiteral("folder/a"), "1");
    makeFile(QStringLiteral("folder/c"), "12345");
    const auto model = makeModel(url(QStringLiteral("folder")));
    model->setShowHiddenFiles(false);
    model->refresh();
    waitForListing(*model);
    model->setSort(FileSort::size, true);
    // Equal sizes go by name.
    EXPECT_EQ(names(model->items()), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));

    ASSERT_TRUE(QFile::rename(path(QStringLiteral("folder/a")), path(QStringLiteral("folder/d"))));
    makeFile(QStringLiteral("folder/file10"), "1");
    makeFile(QStringLiteral("folder/file9"), "1");
    model->refresh();
    waitForListing(*model);
    model->setSort(FileSort::size, false);
    EXPECT_EQ(names(model->items()), (QStringList{QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("d"),
                                                  QStringLiteral("file9"), QStringLiteral("file10")}));
    model->setShowHiddenFiles(true);
    EXPECT_EQ(names(model->items()),
              (QStringList{QStringLiteral("c"), QStringLiteral(".0-hidden"), QStringLiteral("b"), QStringLiteral("d"),
                           QStringLiteral("file9"), QStringLiteral("file10")}));
}

// A refresh after entries came, went, grew and were renamed, in the order shown or another, lists each
// by its own address; one listed again keeps its very id, so matching the listings compares no texts.
TEST_F(ListingTest, ARefreshListsEachEntryByItsOwnAddressKeepingTheIdsOfEntriesListedAgain)
{
    for (const FileSort sort : {FileSort::name, FileSort::size}) {
        const QString folder = QStringLiteral("refreshed-%1").arg(static_cast<int>(sort));
        for (int index = 0; index < 40; ++index) {
            makeFile(QStringLiteral("%1/file %2").arg(folder).arg(index), QByteArray(index % 7, 'x'));
        }
        const auto model = makeModel(url(folder));
        model->refresh();
        waitForListing(*model);
        QHash<QString, const void*> listedWith;
        for (const LocalItem& item : model->items()) {
            listedWith.insert(item.name, const_cast<QUrl&>(item.id).data_ptr());
        }
        ASSERT_TRUE(QFile::remove(path(folder + QStringLiteral("/file 3"))));
        makeFile(folder + QStringLiteral("/file 3b"));
        makeFile(folder + QStringLiteral("/file 20"), QByteArray(100, 'x'));
        ASSERT_TRUE(QFile::rename(path(folder + QStringLiteral("/file 30")), path(folder + QStringLiteral("/moved"))));
        model->setSort(sort, sort == FileSort::name); // by name: the order shown before
        model->refresh();
        waitForListing(*model);
        ASSERT_EQ(model->items().size(), 40);
        for (const LocalItem& item : model->items()) {
            EXPECT_EQ(item.id, url(folder + QLatin1Char('/') + item.name));
            const bool sameID = const_cast<QUrl&>(item.id).data_ptr() == listedWith.value(item.name);
            EXPECT_EQ(sameID, listedWith.contains(item.name)) << item.name.toStdString();
        }
        EXPECT_EQ(shownItem(*model, QStringLiteral("file 20")).size, 100);
    }
}

TEST_F(ListingTest, ATypedPathIsTrimmedAndExpandedAndAFileOpensItsFolder)
{
    makeFile(QStringLiteral("home/Documents/letter.txt"));
    const auto model = makeModel(url(QStringLiteral("home")));

    EXPECT_TRUE(model->navigateToPath(QStringLiteral("  ~/Documents\n")));
    EXPECT_EQ(model->currentDirectory(), url(QStringLiteral("home/Documents")));
    EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::lastDirectoryKey), path(QStringLiteral("home/Documents")));
    waitForListing(*model);
    EXPECT_EQ(names(model->items()), QStringList{QStringLiteral("letter.txt")});

    makeFile(QStringLiteral("elsewhere/notes.md"));
    EXPECT_TRUE(model->navigateToPath(path(QStringLiteral("elsewhere/notes.md"))));
    EXPECT_EQ(model->currentDirectory(), url(QStringLiteral("elsewhere")));
    waitForListing(*model);
    EXPECT_EQ(model->errorMessage(), std::nullopt);
}

TEST_F(ListingTest, ATypedPathThatDoesNotExistOrIsBlankChangesNothing)
{
    const auto model = makeModel(url(QStringLiteral("home")));
    model->refresh();
    waitForListing(*model);
    const QList<QUrl> breadcrumb = model->breadcrumb();
    QSignalSpy directoryChanged(model.get(), &LocalBrowserViewModel::currentDirectoryChanged);
    QSignalSpy loading(model.get(), &LocalBrowserViewModel::isLoadingChanged);

    EXPECT_FALSE(model->navigateToPath(QStringLiteral(" \t\n")));
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_FALSE(model->navigateToPath(QStringLiteral("/no/such")));
    EXPECT_EQ(model->errorMessage(), QStringLiteral("No such folder: /no/such"));
    EXPECT_FALSE(model->navigateToPath(QStringLiteral("~/missing")));
    EXPECT_EQ(model->errorMessage(), QStringLiteral("No such folder: ") + path(QStringLiteral("home/missing")));

    EXPECT_EQ(model->currentDirectory(), url(QStringLiteral("home")));
    EXPECT_EQ(model->breadcrumb(), breadcrumb);
    EXPECT_EQ(directoryChanged.count(), 0);
    EXPECT_EQ(loading.count(), 0);
    EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::lastDirectoryKey), std::nullopt);
}

TEST_F(ListingTest, TheBreadcrumbRunsFromTheRootToTheFolder)
{
    const auto model = makeModel(QUrl::fromLocalFile(QStringLiteral("/a/b")));
    model->refresh();
    EXPECT_EQ(model->breadcrumb(),
              (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/")), QUrl::fromLocalFile(QStringLiteral("/a")),
                           QUrl::fromLocalFile(QStringLiteral("/a/b"))}));
    model->navigateTo(QUrl::fromLocalFile(QStringLiteral("/")));
    EXPECT_EQ(model->breadcrumb(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/"))});
    waitForListing(*model);
}

TEST_F(ListingTest, NavigatingUpOpensTheParentAndStopsAtTheRoot)
{
    const auto model = makeModel(QUrl::fromLocalFile(QStringLiteral("/tmp")));
    model->navigateUp();
    EXPECT_EQ(model->currentDirectory(), QUrl::fromLocalFile(QStringLiteral("/")));
    EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::lastDirectoryKey), QStringLiteral("/"));
    waitForListing(*model);

    QSignalSpy directoryChanged(model.get(), &LocalBrowserViewModel::currentDirectoryChanged);
    model->navigateUp();
    EXPECT_EQ(directoryChanged.count(), 0);
    EXPECT_FALSE(model->isLoading());

    const auto deeper = makeModel(url(QStringLiteral("home/")));
    deeper->navigateUp();
    EXPECT_EQ(deeper->currentDirectory(), QUrl::fromLocalFile(m_root.path()));
    waitForListing(*deeper);
}

TEST_F(ListingTest, AFolderThatCannotBeReadGivesTheMessageAndAnErrorLogLine)
{
    makeFile(QStringLiteral("plain-file"));
    makeFile(QStringLiteral("vanishing/entry"));
    struct Case {
        const char* folder;
        const char* reason;
        const char* errorName;
    };
    // A file where a folder is expected, and a folder removed after it was shown: failures that
    // no privilege avoids.
    const Case cases[] = {{"plain-file", "Not a directory", "ENOTDIR"},
                          {"vanishing", "No such file or directory", "ENOENT"}};
    const auto model = makeModel(url(QStringLiteral("vanishing")));
    model->refresh();
    waitForListing(*model);
    ASSERT_EQ(names(model->items()), QStringList{QStringLiteral("entry")});
    ASSERT_TRUE(QDir(path(QStringLiteral("vanishing"))).removeRecursively());

    for (const Case& row : cases) {
        SCOPED_TRACE(row.folder);
        LogCapture log;
        model->navigateTo(url(QLatin1StringView(row.folder)));
        waitForListing(*model);

        EXPECT_TRUE(model->items().isEmpty());
        const QString folderPath = path(QLatin1StringView(row.folder));
        EXPECT_EQ(model->errorMessage(),
                  QStringLiteral("Could not read %1: %2").arg(folderPath, QLatin1StringView(row.reason)));
        EXPECT_EQ(model->currentDirectory(), url(QLatin1StringView(row.folder)));
        EXPECT_EQ(model->breadcrumb().last(), url(QLatin1StringView(row.folder)));
        const std::vector<LogCapture::Entry> entries = log.entries();
        ASSERT_EQ(entries.size(), 1U);
        EXPECT_EQ(entries[0].category, QStringLiteral("com.quillbarrow.app.LocalBrowserViewModel"));
        EXPECT_EQ(entries[0].type, QtCriticalMsg);
        EXPECT_TRUE(entries[0].message.startsWith(QStringLiteral("read failed: "))) << entries[0].message.toStdString();
        EXPECT_TRUE(entries[0].message.contains(QLatin1StringView(row.errorName)));
        EXPECT_TRUE(entries[0].message.contains(folderPath));
    }

    // A later successful listing clears the message.
    model->navigateTo(url(QStringLiteral("home")));
    waitForListing(*model);
    EXPECT_EQ(model->errorMessage(), std::nullopt);
}

} // namespace
} // namespace quillbarrow::testing
