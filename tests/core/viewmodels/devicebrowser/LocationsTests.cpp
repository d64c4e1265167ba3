#include "DeviceBrowserTestSupport.h"

#include "infrastructure/QSettingsUserDefaults.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

const QString favoritesPrefix = QStringLiteral("Quillbarrow.DeviceBrowser.favoriteLocations.");
const QString defaultPrefix = QStringLiteral("Quillbarrow.DeviceBrowser.defaultLocation.");
const QString lastPrefix = QStringLiteral("Quillbarrow.DeviceBrowser.lastLocation.");

RemotePath pathOf(QStringList components, const QString& storage = QStringLiteral("s1"))
{
    return RemotePath(StorageID(storage), std::move(components));
}

class DeviceBrowserLocationsTest : public DeviceBrowserTest {
protected:
    // The device selected and the root of s1 shown, holding the given items.
    void showRoot(const QList<RemoteItem>& items)
    {
        probe().setSelectedDevice(device);
        const DirectoryPage root = page(items);
        probe().putInCache(root);
        probe().setCurrentPage(root);
    }
    QString key() const { return QStringLiteral("serial:R58N"); }

    const AndroidDevice device = phone(QStringLiteral("d1"), QStringLiteral("Galaxy"), QStringLiteral("Samsung"),
                                       QStringLiteral("SM-G991B"), QStringLiteral("R58N"));
};

} // namespace

TEST(DevicePreferenceKey, SerialThenManufacturerAndModelThenTheDeviceID)
{
    struct Row {
        AndroidDevice device;
        QString key;
    };
    const QList<Row> rows{
        {phone("usb-1", "Pixel", "Google", "Pixel 8", " 3A1B \n"), "serial:3A1B"},
        {phone("usb-1", "Pixel", " Google ", " Pixel 8\t", " \n "), "model:Google:Pixel 8:Pixel"},
        {phone("usb-1", " My Phone ", std::nullopt, "Pixel 8", std::nullopt), "model::Pixel 8: My Phone "},
        {phone("usb-1", "Phone", "Acme", std::nullopt, std::nullopt), "model:Acme::Phone"},
        {phone("usb-1", "Phone", std::nullopt, std::nullopt, std::nullopt), "device:usb-1"},
        {phone("usb-2", "Phone", " ", "", std::nullopt), "device:usb-2"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DeviceBrowserViewModel::devicePreferenceKey(row.device), row.key);
    }
}

TEST(StoredRemoteLocation, TheExactBytesRoundTrip)
{
    const QList<QByteArray> stored{
        R"({"storageID":"65537","components":["DCIM","Camera"]})",
        R"({"storageID":"s1","components":[]})",
        R"({"storageID":"s\"1","components":["a\\b","caf)" "\xc3\xa9" R"( \n"]})",
    };
    for (const QByteArray& json : stored) {
        const std::optional<StoredRemoteLocation> location = StoredRemoteLocation::fromJson(json);
        ASSERT_TRUE(location) << json.constData();
        EXPECT_EQ(location->toJson(), json);
    }
    const QByteArray list = "[" + stored[0] + "," + stored[1] + "]";
    const QList<StoredRemoteLocation> locations = StoredRemoteLocation::listFromJson(list);
    ASSERT_EQ(locations.size(), 2);
    EXPECT_EQ(StoredRemoteLocation::listToJson(locations), list);
    EXPECT_EQ(StoredRemoteLocation::listToJson({}), QByteArray("[]"));
    EXPECT_EQ(StoredRemoteLocation(pathOf({"DCIM"})).toJson(), QByteArray(R"({"storageID":"s1","components":["DCIM"]})"));
}

TEST(StoredRemoteLocation, ExtraMembersAreIgnoredAndMalformedDataIsNothingStored)
{
    const std::optional<StoredRemoteLocation> extra =
        StoredRemoteLocation::fromJson(R"({"components":["DCIM"],"note":1,"storageID":"s1"})");
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->path(), pathOf({"DCIM"}));
    const QList<QByteArray> malformed{
        "", "{", "null", "[]", R"(["s1"])", R"({"storageID":"s1"})", R"({"components":[]})",
        R"({"storageID":1,"components":[]})", R"({"storageID":"s1","components":"DCIM"})",
        R"({"storageID":"s1","components":["DCIM",2]})", R"([{"storageID":"s1","components":[]}])",
    };
    for (const QByteArray& json : malformed) {
        EXPECT_FALSE(StoredRemoteLocation::fromJson(json)) << json.constData();
    }
    EXPECT_TRUE(StoredRemoteLocation::listFromJson(
                    R"([{"storageID":"s1","components":[]},{"storageID":"s1"}])")
                    .isEmpty());
    EXPECT_TRUE(StoredRemoteLocation::listFromJson(R"({"storageID":"s1","components":[]})").isEmpty());
    EXPECT_TRUE(StoredRemoteLocation::listFromJson("not json").isEmpty());
}

TEST_F(DeviceBrowserLocationsTest, BuiltInFavouritesComeFromTheRootListingInTableOrder)
{
    RemoteItem pictures = folderItem("p", "Pictures");
    pictures.path = pathOf({"Media", "Pictures"}); // a path given by the listing is used as it is
    showRoot({folderItem("m", "music"), fileItem("f", "DCIM", 1), folderItem("d", "download"), pictures,
              folderItem("c", "DCIM"), folderItem("c2", "dcim")});
    probe().refreshFavoriteLocations();
    const QList<RemoteFavoriteLocation>& favorites = viewModel().favoriteLocations();
    ASSERT_EQ(favorites.size(), 4);
    EXPECT_EQ(favorites[0], RemoteFavoriteLocation("built-in:s1:DCIM", "DCIM", pathOf({"DCIM"}), "camera", false, false));
    EXPECT_EQ(favorites[1], RemoteFavoriteLocation("built-in:s1:Download", "download", pathOf({"download"}),
                                                   "arrow.down.circle", false, false));
    EXPECT_EQ(favorites[2], RemoteFavoriteLocation("built-in:s1:Pictures", "Pictures", pathOf({"Media", "Pictures"}),
                                                   "photo", false, false));
    EXPECT_EQ(favorites[3], RemoteFavoriteLocation("built-in:s1:Music", "music", pathOf({"music"}), "music.note",
                                                   false, false));
}

TEST_F(DeviceBrowserLocationsTest, WithoutAListingOfTheRootThereAreNoBuiltInEntries)
{
    probe().setSelectedDevice(device);
    probe().setCurrentPage(page({folderItem("c", "DCIM", "s1", "x")}, pathOf({"Inner"}), QStringLiteral("x")));
    probe().refreshFavoriteLocations();
    EXPECT_TRUE(viewModel().favoriteLocations().isEmpty());
    // Without a device or a page the list is emptied, and that is published.
    QSignalSpy favorites(&viewModel(), &DeviceBrowserViewModel::favoriteLocationsChanged);
    probe().setSelectedDevice(std::nullopt);
    probe().refreshFavoriteLocations();
    EXPECT_EQ(favorites.count(), 1);
}

TEST_F(DeviceBrowserLocationsTest, AddingStoresOnceRemovingDropsEveryCopyAndLeavesBuiltInsAlone)
{
    showRoot({folderItem("c", "DCIM")});
    viewModel().addCurrentLocationToFavorites();
    viewModel().addCurrentLocationToFavorites();
    EXPECT_EQ(preferences->data(favoritesPrefix + key()), QByteArray(R"([{"storageID":"s1","components":[]}])"));
    ASSERT_EQ(viewModel().favoriteLocations().size(), 2);
    const RemoteFavoriteLocation rootFavorite = viewModel().favoriteLocations()[1];
    EXPECT_EQ(rootFavorite, RemoteFavoriteLocation("user:s1:", "Storage", pathOf({}), "star", true, false));

    // A stored favourite equal to a built-in entry shows only as that entry, and removing the
    // built-in entry keeps it stored.
    preferences->setData(favoritesPrefix + key(),
                         R"([{"storageID":"s1","components":[]},{"storageID":"s1","components":["DCIM"]},)"
                         R"({"storageID":"s1","components":[]}])");
    probe().refreshFavoriteLocations();
    ASSERT_EQ(viewModel().favoriteLocations().size(), 2);
    const RemoteFavoriteLocation dcim = viewModel().favoriteLocations()[0];
    EXPECT_FALSE(dcim.isUserFavorite);
    EXPECT_EQ(dcim.systemImage, QStringLiteral("camera"));
    viewModel().removeFavorite(dcim);
    EXPECT_EQ(StoredRemoteLocation::listFromJson(*preferences->data(favoritesPrefix + key())).size(), 3);

    viewModel().removeFavorite(rootFavorite);
    EXPECT_EQ(preferences->data(favoritesPrefix + key()),
              QByteArray(R"([{"storageID":"s1","components":["DCIM"]}])"));
    viewModel().removeFavorite(RemoteFavoriteLocation("user:s1:DCIM", "DCIM", pathOf({"DCIM"}), "star", true, false));
    EXPECT_EQ(preferences->data(favoritesPrefix + key()), QByteArray("[]"));
}

TEST_F(DeviceBrowserLocationsTest, TheDefaultIsMarkedAndAlsoBecomesTheLastLocation)
{
    showRoot({folderItem("c", "DCIM")});
    preferences->setData(favoritesPrefix + key(), R"([{"storageID":"s2","components":["Music","Jazz"]}])");
    viewModel().setCurrentLocationAsDefault();
    EXPECT_EQ(preferences->data(defaultPrefix + key()), QByteArray(R"({"storageID":"s1","components":[]})"));
    EXPECT_EQ(preferences->data(lastPrefix + key()), QByteArray(R"({"storageID":"s1","components":[]})"));
    // Favourites of every storage are listed; none of them is the default here.
    ASSERT_EQ(viewModel().favoriteLocations().size(), 2);
    EXPECT_EQ(viewModel().favoriteLocations()[1],
              RemoteFavoriteLocation("user:s2:Music/Jazz", "Jazz", pathOf({"Music", "Jazz"}, "s2"), "star", true, false));

    preferences->setData(defaultPrefix + key(), R"({"storageID":"s1","components":["DCIM"]})");
    probe().refreshFavoriteLocations();
    EXPECT_TRUE(viewModel().favoriteLocations()[0].isDefault);
    // A stored default that is not a location marks nothing.
    preferences->setData(defaultPrefix + key(), R"([{"storageID":"s1","components":["DCIM"]}])");
    probe().refreshFavoriteLocations();
    EXPECT_FALSE(viewModel().favoriteLocations()[0].isDefault);
}

TEST_F(DeviceBrowserLocationsTest, NothingIsStoredWithoutADeviceOrAPage)
{
    probe().setCurrentPage(page({}));
    viewModel().addCurrentLocationToFavorites();
    viewModel().setCurrentLocationAsDefault();
    probe().rememberCurrentLocation();
    probe().setSelectedDevice(device);
    probe().setCurrentPage(std::nullopt);
    viewModel().addCurrentLocationToFavorites();
    viewModel().setCurrentLocationAsDefault();
    probe().rememberCurrentLocation();
    EXPECT_TRUE(preferences->allKeys().isEmpty());
}

TEST_F(DeviceBrowserLocationsTest, UnreadableStoredFavouritesReadAsNoneAndNeverCrash)
{
    showRoot({});
    const QList<QByteArray> values{"", "[{", R"([{"storageID":"s1"}])", R"({"storageID":"s1","components":[]})"};
    for (const QByteArray& value : values) {
        preferences->setData(favoritesPrefix + key(), value);
        probe().refreshFavoriteLocations();
        EXPECT_TRUE(viewModel().favoriteLocations().isEmpty()) << value.constData();
    }
    preferences->setString(favoritesPrefix + key(), R"([{"storageID":"s1","components":[]}])"); // text, not data
    probe().refreshFavoriteLocations();
    EXPECT_TRUE(viewModel().favoriteLocations().isEmpty());
}

TEST_F(DeviceBrowserLocationsTest, ADeviceNameWithASlashKeepsItsOwnFavourites)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto settings = std::make_shared<QSettingsUserDefaults>(folder.filePath(QStringLiteral("settings.ini")));
    DeviceBrowserViewModel model(backend, AppLogger(QStringLiteral("DeviceBrowserViewModel")), detector, queue,
                                 settings, timing);
    DeviceBrowserViewModelProbe access(model);
    const AndroidDevice slashed = phone("d1", "Phone/One", "Acme", "X1", std::nullopt);
    const AndroidDevice plain = phone("d2", "Phone", "Acme", "X1", std::nullopt);
    const QList<std::pair<AndroidDevice, RemotePath>> rows{{slashed, pathOf({"DCIM"})}, {plain, pathOf({"Music"})}};
    for (const auto& [who, where] : rows) {
        access.setSelectedDevice(who);
        access.setCurrentPage(page({}, where, QStringLiteral("x")));
        model.addCurrentLocationToFavorites();
    }
    for (const auto& [who, where] : rows) {
        access.setSelectedDevice(who);
        access.refreshFavoriteLocations();
        ASSERT_EQ(model.favoriteLocations().size(), 1) << qPrintable(who.displayName);
        EXPECT_EQ(model.favoriteLocations().first().path, where);
    }
    QStringList keys = settings->allKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{favoritesPrefix + "model:Acme:X1:Phone", favoritesPrefix + "model:Acme:X1:Phone/One"}));
}

// The banner names the settings file and the reason; the same failure of the writes after it (the
// last folder, written at each navigation, or a write with nothing to write) does not bring it
// back, until a write has worked: a failure after that shows it again.
TEST_F(DeviceBrowserLocationsTest, ASettingsWriteTheDiskRefusesShowsTheBannerOncePerFailureRunAndWhatWasSetHolds)
{
    QTemporaryDir folder;
    const QString config = folder.filePath(QStringLiteral("config"));
    QFile(config).open(QIODevice::WriteOnly); // where the settings folder should be
    const std::pair<std::function<void(DeviceBrowserViewModel&)>, QString> writes[] = {
        {&DeviceBrowserViewModel::addCurrentLocationToFavorites, favoritesPrefix},
        {&DeviceBrowserViewModel::setCurrentLocationAsDefault, defaultPrefix},
        {[](DeviceBrowserViewModel& model) { DeviceBrowserViewModelProbe(model).rememberCurrentLocation(); }, lastPrefix},
    };
    for (const auto& [write, prefix] : writes) {
        SCOPED_TRACE(prefix.toStdString());
        const QString file = folder.filePath(QStringLiteral("config/%1conf").arg(prefix));
        auto settings = std::make_shared<QSettingsUserDefaults>(file);
        DeviceBrowserViewModel model(backend, AppLogger(QStringLiteral("DeviceBrowserViewModel")), detector, queue,
                                     settings, timing);
        DeviceBrowserViewModelProbe access(model);
        access.setSelectedDevice(device);
        access.setCurrentPage(page({}, pathOf({"DCIM"}), QStringLiteral("x")));

        write(model);
        ASSERT_TRUE(model.errorBanner().has_value());
        EXPECT_EQ(model.errorBanner()->message, QStringLiteral("Could not save settings in %1: Not a directory").arg(file));
        EXPECT_TRUE(settings->allKeys().contains(prefix + key()));

        model.clearError();
        const auto visit = [&](const char* name) {
            access.setCurrentPage(page({}, pathOf({name}), QString::fromLatin1(name)));
            access.rememberCurrentLocation();
            return model.errorBanner() ? std::optional(model.errorBanner()->message) : std::nullopt;
        };
        EXPECT_EQ(visit("Music"), std::nullopt) << "shown once";
        visit("Music");
        EXPECT_EQ(visit("DCIM"), std::nullopt) << "a write with nothing to write ends no failure";
        ASSERT_TRUE(QFile::remove(config) && QDir().mkdir(config));
        EXPECT_EQ(visit("Music"), std::nullopt) << "the write worked";
        ASSERT_TRUE(QDir(config).removeRecursively() && QFile(config).open(QIODevice::WriteOnly));
        EXPECT_EQ(visit("DCIM"), QStringLiteral("Could not save settings in %1: Not a directory").arg(file));
    }
}
