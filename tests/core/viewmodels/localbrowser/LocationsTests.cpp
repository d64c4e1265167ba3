#include "LocalBrowserTestSupport.h"

#include "RunTask.h"
#include "infrastructure/QSettingsUserDefaults.h"
#include "platform/MountTableMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>

#include <cstdio>
#include <functional>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace quillbarrow::testing {
namespace {

// Mounted volumes as a test sets them; a change notice is sent by hand.
class FakeVolumeMonitor : public VolumeMonitor {
public:
    QList<MountedVolume> mountedVolumes() const override { return volumes; }
    void startWatching() override { ++watchCount; }

    QList<MountedVolume> volumes;
    int watchCount = 0;
};

MountedVolume volume(const QString& mountPoint, const QString& type, std::optional<BlockDeviceFacts> device,
                     const QString& label = {})
{
    return MountedVolume{MountRecord{QStringLiteral("8:17"), QStringLiteral("/"), mountPoint, type, QStringLiteral("/dev/x")},
                         device, label};
}

BlockDeviceFacts usbStick()
{
    BlockDeviceFacts facts;
    facts.isRemovable = true;
    facts.isEjectable = true;
    facts.isInternal = false;
    return facts;
}

class LocationsTest : public LocalBrowserTest {
protected:
    std::unique_ptr<LocalBrowserViewModel> makeModelWith(std::shared_ptr<VolumeMonitor> volumes, const QString& start,
                                                         std::shared_ptr<UserDefaults> settings = nullptr)
    {
        auto model = std::make_unique<LocalBrowserViewModel>(url(start), AppLogger(QStringLiteral("LocalBrowserViewModel")),
                                                             settings ? settings : m_defaults, std::move(volumes));
        model->setWorkPool(&m_pool);
        return model;
    }

    QList<LocalFavoriteLocation> standardFavorites(const std::optional<QString>& defaultFolder) const
    {
        const QString home = path(QStringLiteral("home"));
        QList<LocalFavoriteLocation> favorites{LocalFavoriteLocation(url(QStringLiteral("home")), QStringLiteral("Home"),
                                                                     url(QStringLiteral("home")), QStringLiteral("house"),
                                                                     false, defaultFolder == home)};
        const std::pair<const char*, const char*> rows[] = {{"Desktop", "menubar.rectangle"},
                                                            {"Downloads", "arrow.down.circle"},
                                                            {"Documents", "doc.text"},
                                                            {"Pictures", "photo"},
                                                            {"Movies", "film"}};
        for (const auto& [name, image] : rows) {
            const QUrl folder = url(QStringLiteral("home/") + QLatin1StringView(name));
            favorites.append(LocalFavoriteLocation(folder, QLatin1StringView(name), folder, QLatin1StringView(image), false,
                                                   defaultFolder == folder.toLocalFile()));
        }
        return favorites;
    }

    LocalFavoriteLocation userFavorite(const QString& relative, const QString& name, bool isDefault = false) const
    {
        return LocalFavoriteLocation(url(relative), name, url(relative), QStringLiteral("star"), true, isDefault);
    }

    // Does `change`, then runs the event loop until the favourites, checked off the main thread,
    // are published.
    static void awaitFavorites(LocalBrowserViewModel& model, const std::function<void()>& change)
    {
        QSignalSpy published(&model, &LocalBrowserViewModel::favoriteLocationsChanged);
        change();
        ASSERT_TRUE(processEventsUntil([&] { return !published.isEmpty(); }));
    }
};

TEST_F(LocationsTest, HomeComesFirstThenTheVolumesAPersonWouldOpen)
{
    auto volumes = std::make_shared<FakeVolumeMonitor>();
    volumes->volumes = {volume(QStringLiteral("/"), QStringLiteral("ext4"), BlockDeviceFacts{}),
                        volume(QStringLiteral("/media/me/STICK"), QStringLiteral("vfat"), usbStick(), QStringLiteral("My Stick")),
                        volume(QStringLiteral("/mnt/nas"), QStringLiteral("nfs4"), std::nullopt)};
    const auto model = makeModelWith(volumes, QStringLiteral("home"));
    EXPECT_TRUE(model->locations().isEmpty());
    model->refreshLocations();

    const QUrl home = url(QStringLiteral("home"));
    const QUrl stick = QUrl::fromLocalFile(QStringLiteral("/media/me/STICK"));
    const QUrl nas = QUrl::fromLocalFile(QStringLiteral("/mnt/nas"));
    EXPECT_EQ(model->locations(),
              (QList<VolumeLocation>{
                  VolumeLocation(home, QStringLiteral("Home"), home, QStringLiteral("house"), false),
                  VolumeLocation(stick, QStringLiteral("My Stick"), stick, QStringLiteral("externaldrive"), true),
                  VolumeLocation(nas, QStringLiteral("nas"), nas, QStringLiteral("externaldrive.connected.to.line.below"), false)}));

    volumes->volumes = {volume(QStringLiteral("/"), QStringLiteral("ext4"), BlockDeviceFacts{})};
    model->refreshLocations();
    EXPECT_EQ(model->locations(),
              QList<VolumeLocation>{VolumeLocation(home, QStringLiteral("Home"), home, QStringLiteral("house"), false)});
}

TEST_F(LocationsTest, ObservingTwiceWatchesOnceAndEachNoticeRebuildsBothListsOnce)
{
    auto volumes = std::make_shared<FakeVolumeMonitor>();
    auto model = makeModelWith(volumes, QStringLiteral("home"));
    QSignalSpy locationsChanged(model.get(), &LocalBrowserViewModel::locationsChanged);
    QSignalSpy favoritesChanged(model.get(), &LocalBrowserViewModel::favoriteLocationsChanged);
    model->startObservingVolumes();
    model->startObservingVolumes();
    EXPECT_EQ(volumes->watchCount, 1);
    EXPECT_EQ(locationsChanged.count(), 2);
    // The favourites are checked on the pool; two checks asked for in one turn are answered once.
    const auto settled = [&] {
        m_pool.waitForDone();
        QCoreApplication::processEvents();
    };
    EXPECT_TRUE(processEventsUntil([&] { return favoritesChanged.count() == 1; }));
    settled();
    EXPECT_EQ(favoritesChanged.count(), 1);

    volumes->volumes = {volume(QStringLiteral("/media/me/STICK"), QStringLiteral("vfat"), usbStick())};
    Q_EMIT volumes->volumesChanged();
    EXPECT_EQ(locationsChanged.count(), 3);
    EXPECT_TRUE(processEventsUntil([&] { return favoritesChanged.count() == 2; }));
    settled();
    EXPECT_EQ(favoritesChanged.count(), 2);
    EXPECT_EQ(model->locations().size(), 2);

    // A notice after the model has gone reaches nothing.
    const QPointer<LocalBrowserViewModel> gone(model.get());
    model.reset();
    Q_EMIT volumes->volumesChanged();
    EXPECT_TRUE(gone.isNull());
}

// A real mount and unmount in a mount namespace of this process's own; where the machine does
// not allow one (no privilege), the notice is sent by hand instead.
TEST_F(LocationsTest, AMountAndAnUnmountEachRebuildTheListsOnce)
{
    const bool privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    auto volumes = std::make_shared<MountTableMonitor>();
    const auto model = makeModelWith(volumes, QStringLiteral("home"));
    awaitFavorites(*model, [&] { model->startObservingVolumes(); });
    QSignalSpy locationsChanged(model.get(), &LocalBrowserViewModel::locationsChanged);
    QSignalSpy favoritesChanged(model.get(), &LocalBrowserViewModel::favoriteLocationsChanged);
    makeFolder(QStringLiteral("mounted"));
    const QByteArray target = QFile::encodeName(path(QStringLiteral("mounted")));

    for (const int step : {1, 2}) {
        SCOPED_TRACE(step == 1 ? "mount" : "unmount");
        if (!privateMounts) {
            Q_EMIT volumes->volumesChanged();
        } else if (step == 1) {
            ASSERT_EQ(::mount("quillbarrow-test", target.constData(), "tmpfs", 0, "size=1m"), 0);
        } else {
            ASSERT_EQ(::umount(target.constData()), 0);
        }
        EXPECT_TRUE(processEventsUntil([&] { return locationsChanged.count() == step; }, std::chrono::seconds(10)));
        EXPECT_TRUE(processEventsUntil([&] { return favoritesChanged.count() == step; }));
        // Whatever else was queued by then has been handled: still one rebuild per change.
        m_pool.waitForDone();
        QCoreApplication::processEvents();
        EXPECT_EQ(locationsChanged.count(), step);
        EXPECT_EQ(favoritesChanged.count(), step);
    }
    if (!privateMounts) {
        std::printf("note: no private mount namespace here; the notices were sent by hand\n");
    }
}

TEST_F(LocationsTest, StandardFavoritesAreTheHomeFoldersThatExistThenTheUsersOwn)
{
    for (const char* name : {"Desktop", "Downloads", "Documents", "Pictures", "Movies"}) {
        makeFolder(QStringLiteral("home/") + QLatin1StringView(name));
    }
    makeFolder(QStringLiteral("projects"));
    m_defaults->setStringList(LocalBrowserViewModel::favoritePathsKey,
                              {path(QStringLiteral("projects")), QStringLiteral("/"), path(QStringLiteral("gone")),
                               path(QStringLiteral("home/Desktop"))});
    const auto model = makeModelWith(std::make_shared<FakeVolumeMonitor>(), QStringLiteral("home"));
    EXPECT_TRUE(model->favoriteLocations().isEmpty());
    awaitFavorites(*model, [&] { model->startObservingVolumes(); });

    // No Music folder; the stored Desktop shows only as the standard entry; a folder that is gone
    // is left out but stays stored; the root is named by its path.
    QList<LocalFavoriteLocation> expected = standardFavorites(std::nullopt);
    expected.append(userFavorite(QStringLiteral("projects"), QStringLiteral("projects")));
    const LocalFavoriteLocation root(QUrl::fromLocalFile(QStringLiteral("/")), QStringLiteral("/"),
                                     QUrl::fromLocalFile(QStringLiteral("/")), QStringLiteral("star"), true, false);
    expected.append(root);
    EXPECT_EQ(model->favoriteLocations(), expected);
    EXPECT_EQ(m_defaults->stringList(LocalBrowserViewModel::favoritePathsKey)->size(), 4);

    // One folder comes back and another vanishes: their entries follow at the next check (any
    // navigation). The check runs on the pool, so a navigation while the disk is held (here the
    // one worker) returns with the list as it was.
    makeFolder(QStringLiteral("gone"));
    ASSERT_TRUE(QDir(path(QStringLiteral("projects"))).removeRecursively());
    QSemaphore gate;
    m_pool.start([&gate] { gate.acquire(); });
    QSignalSpy favoritesChanged(model.get(), &LocalBrowserViewModel::favoriteLocationsChanged);
    model->navigateTo(url(QStringLiteral("home")));
    EXPECT_EQ(favoritesChanged.count(), 0);
    EXPECT_EQ(model->favoriteLocations(), expected);
    gate.release();
    EXPECT_TRUE(processEventsUntil([&] { return !favoritesChanged.isEmpty(); }));
    expected = standardFavorites(std::nullopt);
    expected.append(root);
    expected.append(userFavorite(QStringLiteral("gone"), QStringLiteral("gone")));
    EXPECT_EQ(model->favoriteLocations(), expected);
    EXPECT_EQ(m_defaults->stringList(LocalBrowserViewModel::favoritePathsKey)->size(), 4);
    waitForListing(*model);
}

// A home folder reached through a link: the standard entries name it by the link, the stored
// favourites by the real path. Each folder is listed once, as its built-in entry, so the menu
// offers no "Remove" for it.
TEST_F(LocationsTest, AStoredFolderThatIsAStandardOneThroughALinkIsListedOnceAsTheStandardEntry)
{
    makeFolder(QStringLiteral("home/Documents"));
    makeFolder(QStringLiteral("projects"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("home")), path(QStringLiteral("linked-home"))));
    m_environment.set("HOME", path(QStringLiteral("linked-home")));
    m_defaults->setStringList(LocalBrowserViewModel::favoritePathsKey,
                              {path(QStringLiteral("home/Documents")), path(QStringLiteral("projects"))});
    const auto model = makeModelWith(std::make_shared<FakeVolumeMonitor>(), QStringLiteral("projects"));
    awaitFavorites(*model, [&] { model->startObservingVolumes(); });

    QStringList userNames;
    QStringList names;
    for (const LocalFavoriteLocation& favorite : model->favoriteLocations()) {
        names.append(favorite.name);
        if (favorite.isUserFavorite) {
            userNames.append(favorite.name);
        }
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Home"), QStringLiteral("Documents"), QStringLiteral("projects")}));
    EXPECT_EQ(userNames, QStringList{QStringLiteral("projects")});
    waitForListing(*model);
}

TEST_F(LocationsTest, AddingTwiceStoresOnceAndRemovingDeletesEveryCopy)
{
    makeFolder(QStringLiteral("projects"));
    makeFolder(QStringLiteral("other"));
    const auto model = makeModelWith(std::make_shared<FakeVolumeMonitor>(), QStringLiteral("projects/"));
    model->addCurrentDirectoryToFavorites();
    model->addCurrentDirectoryToFavorites();
    EXPECT_EQ(m_defaults->stringList(LocalBrowserViewModel::favoritePathsKey), QStringList{path(QStringLiteral("projects"))});
    EXPECT_EQ(model->favoriteLocations().last(), userFavorite(QStringLiteral("projects"), QStringLiteral("projects")));

    // Copies stored by an older version, or by hand.
    m_defaults->setStringList(LocalBrowserViewModel::favoritePathsKey,
                              {path(QStringLiteral("projects")), path(QStringLiteral("other")), path(QStringLiteral("projects"))});
    QSignalSpy favoritesChanged(model.get(), &LocalBrowserViewModel::favoriteLocationsChanged);
    model->removeFavorite(standardFavorites(std::nullopt).first());
    EXPECT_EQ(favoritesChanged.count(), 0);

    // A check of the disk asked for before the removal is still waiting for it (the one worker
    // is held) when the removal publishes: that check's answer, which has the removed folder,
    // never shows. A check asked for later is published as usual.
    QList<QList<LocalFavoriteLocation>> published;
    QObject::connect(model.get(), &LocalBrowserViewModel::favoriteLocationsChanged, model.get(),
                     [&] { published.append(model->favoriteLocations()); });
    QSemaphore gate;
    m_pool.start([&gate] { gate.acquire(); });
    model->startObservingVolumes();
    model->removeFavorite(userFavorite(QStringLiteral("projects"), QStringLiteral("projects")));
    EXPECT_EQ(m_defaults->stringList(LocalBrowserViewModel::favoritePathsKey), QStringList{path(QStringLiteral("other"))});
    EXPECT_EQ(published.size(), 1);
    gate.release();
    m_pool.waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(published.size(), 1);
    awaitFavorites(*model, [&] { model->navigateTo(url(QStringLiteral("other"))); });
    for (const QList<LocalFavoriteLocation>& favorites : std::as_const(published)) {
        EXPECT_EQ(favorites.last(), userFavorite(QStringLiteral("other"), QStringLiteral("other")));
    }
    EXPECT_EQ(published.size(), 2);
    waitForListing(*model);
}

TEST_F(LocationsTest, SetAsDefaultMarksOnlyThatFolderAndMakesItTheLastFolderToo)
{
    for (const char* name : {"Desktop", "Downloads", "Documents", "Pictures", "Movies"}) {
        makeFolder(QStringLiteral("home/") + QLatin1StringView(name));
    }
    makeFolder(QStringLiteral("projects"));
    m_defaults->setStringList(LocalBrowserViewModel::favoritePathsKey, {path(QStringLiteral("projects"))});
    const auto model = makeModelWith(std::make_shared<FakeVolumeMonitor>(), QStringLiteral("home/Downloads"));
    model->setCurrentDirectoryAsDefault();

    const QString downloads = path(QStringLiteral("home/Downloads"));
    EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::defaultDirectoryKey), downloads);
    EXPECT_EQ(m_defaults->string(LocalBrowserViewModel::lastDirectoryKey), downloads);
    QList<LocalFavoriteLocation> expected = standardFavorites(downloads);
    expected.append(userFavorite(QStringLiteral("projects"), QStringLiteral("projects")));
    EXPECT_EQ(model->favoriteLocations(), expected);

    model->navigateTo(url(QStringLiteral("projects")));
    model->setCurrentDirectoryAsDefault();
    expected = standardFavorites(std::nullopt);
    expected.append(userFavorite(QStringLiteral("projects"), QStringLiteral("projects"), true));
    EXPECT_EQ(model->favoriteLocations(), expected);
    waitForListing(*model);
}

// The message names the settings file and the reason, and a navigation's listing keeps it; the
// same failure of the writes after it (each navigation's, or one with nothing to write) does not
// bring it back, until a write has worked: a failure after that is told again.
TEST_F(LocationsTest, ASettingsWriteTheDiskRefusesIsToldOncePerFailureRunAndWhatWasSetHolds)
{
    makeFolder(QStringLiteral("projects"));
    makeFile(QStringLiteral("config")); // where the settings folder should be
    const std::pair<std::function<void(LocalBrowserViewModel&)>, QString> writes[] = {
        {&LocalBrowserViewModel::addCurrentDirectoryToFavorites, LocalBrowserViewModel::favoritePathsKey},
        {&LocalBrowserViewModel::setCurrentDirectoryAsDefault, LocalBrowserViewModel::defaultDirectoryKey},
        {[this](LocalBrowserViewModel& model) { model.navigateTo(url(QStringLiteral("projects"))); },
         LocalBrowserViewModel::lastDirectoryKey},
    };
    for (const auto& [write, key] : writes) {
        SCOPED_TRACE(key.toStdString());
        const QString file = path(QStringLiteral("config/%1.conf").arg(key));
        auto settings = std::make_shared<QSettingsUserDefaults>(file);
        const auto model = makeModelWith(std::make_shared<FakeVolumeMonitor>(), QStringLiteral("projects"), settings);

        write(*model);
        waitForListing(*model);
        EXPECT_EQ(model->errorMessage(), QStringLiteral("Could not save settings in %1: Not a directory").arg(file));
        EXPECT_TRUE(settings->allKeys().contains(key));

        model->clearError();
        const auto goTo = [&](const char* folder) {
            model->navigateTo(url(QLatin1StringView(folder)));
            waitForListing(*model);
            return model->errorMessage();
        };
        EXPECT_EQ(goTo("home"), std::nullopt) << "told once";
        goTo("home");
        EXPECT_EQ(goTo("projects"), std::nullopt) << "a write with nothing to write ends no failure";
        ASSERT_TRUE(QFile::remove(path(QStringLiteral("config"))));
        makeFolder(QStringLiteral("config"));
        EXPECT_EQ(goTo("home"), std::nullopt) << "the write worked";
        ASSERT_TRUE(QDir(path(QStringLiteral("config"))).removeRecursively());
        makeFile(QStringLiteral("config"));
        EXPECT_EQ(goTo("projects"), QStringLiteral("Could not save settings in %1: Not a directory").arg(file));
    }
}

} // namespace
} // namespace quillbarrow::testing
