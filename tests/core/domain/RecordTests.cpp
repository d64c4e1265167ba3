#include "domain/AndroidDevice.h"
#include "domain/DeviceConnectionKind.h"
#include "domain/FileSort.h"
#include "domain/JsonDecodingError.h"
#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"
#include "domain/RemoteItemKind.h"
#include "domain/RemotePath.h"
#include "domain/StorageRoot.h"
#include "TestTexts.h"

#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

using testing::decomposedCafe;
using testing::precomposedCafe;

AndroidDevice pixel(std::optional<QString> serial)
{
    return AndroidDevice(DeviceID(QStringLiteral("mock-pixel-8")), QStringLiteral("Pixel 8"),
                         QStringLiteral("Google"), QStringLiteral("Pixel 8"), std::move(serial),
                         DeviceConnectionKind::usb);
}

TEST(TextEnumTest, FromTextIsExactAndCodingRoundTrips)
{
    EXPECT_EQ(toText(DeviceConnectionKind::usb), QStringLiteral("usb"));
    EXPECT_EQ(fromText<DeviceConnectionKind>(QStringLiteral("usb")), DeviceConnectionKind::usb);
    EXPECT_EQ(fromText<DeviceConnectionKind>(QStringLiteral("USB")), std::nullopt);
    EXPECT_EQ(fromText<DeviceConnectionKind>(QStringLiteral(" usb")), std::nullopt);

    for (const RemoteItemKind kind : allCases<RemoteItemKind>()) {
        EXPECT_EQ(enumFromJson<RemoteItemKind>(toJson(kind)), kind);
    }
    EXPECT_EQ(fromText<RemoteItemKind>(QStringLiteral("Folder")), std::nullopt);
    EXPECT_THROW(enumFromJson<RemoteItemKind>(QJsonValue(QStringLiteral("directory"))), JsonDecodingError);
    EXPECT_THROW(enumFromJson<DeviceConnectionKind>(QJsonValue(0)), JsonDecodingError);

    const auto sorts = allCases<FileSort>();
    ASSERT_EQ(sorts.size(), 3u);
    EXPECT_EQ(toText(sorts[0]), QStringLiteral("name"));
    EXPECT_EQ(toText(sorts[1]), QStringLiteral("modifiedDate"));
    EXPECT_EQ(toText(sorts[2]), QStringLiteral("size"));
    EXPECT_EQ(fromText<FileSort>(QStringLiteral("modifiedDate")), FileSort::modifiedDate);
}

TEST(AndroidDeviceTest, EveryFieldTakesPartInEqualityAndHashing)
{
    EXPECT_EQ(pixel(QStringLiteral("ABC123")), pixel(QStringLiteral("ABC123")));
    EXPECT_EQ(qHash(pixel(QStringLiteral("ABC123"))), qHash(pixel(QStringLiteral("ABC123"))));

    // Same id, different name: a changed device.
    AndroidDevice renamed = pixel(QStringLiteral("ABC123"));
    renamed.displayName = QStringLiteral("Pixel 8 Pro");
    EXPECT_NE(renamed, pixel(QStringLiteral("ABC123")));

    // Absent and present serial numbers are unequal and stay two entries in a set, even when the
    // present one is the empty text.
    EXPECT_NE(pixel(std::nullopt), pixel(QString()));
    const QSet<AndroidDevice> devices{pixel(std::nullopt), pixel(QString()), pixel(std::nullopt)};
    EXPECT_EQ(devices.size(), 2);
}

TEST(AndroidDeviceTest, PresenceMarkersKeepNeighbouringOptionalsApart)
{
    // The same text in a different optional field must not collide by construction.
    const AndroidDevice maker(DeviceID(QStringLiteral("d")), QStringLiteral("n"), QStringLiteral("X"), std::nullopt,
                              std::nullopt, DeviceConnectionKind::usb);
    const AndroidDevice model(DeviceID(QStringLiteral("d")), QStringLiteral("n"), std::nullopt, QStringLiteral("X"),
                              std::nullopt, DeviceConnectionKind::usb);
    EXPECT_NE(maker, model);
    EXPECT_NE(qHash(maker), qHash(model));
}

TEST(AndroidDeviceTest, CanonicallyEquivalentTextFieldsAreEqual)
{
    const AndroidDevice a(DeviceID(precomposedCafe()), precomposedCafe(), precomposedCafe(), std::nullopt,
                          precomposedCafe(), DeviceConnectionKind::usb);
    const AndroidDevice b(DeviceID(decomposedCafe()), decomposedCafe(), decomposedCafe(), std::nullopt,
                          decomposedCafe(), DeviceConnectionKind::usb);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a, 7), qHash(b, 7));
}

TEST(StorageRootTest, FreeSpaceAndPresenceMatter)
{
    const StorageID id(QStringLiteral("65537"));
    const StorageRoot full(id, QStringLiteral("Internal shared storage"), 128'000'000'000, 0);
    const StorageRoot roomy(id, QStringLiteral("Internal shared storage"), 128'000'000'000, 4'000);
    const StorageRoot unreported(id, QStringLiteral("Internal shared storage"), 128'000'000'000, std::nullopt);
    EXPECT_NE(full, roomy);
    EXPECT_NE(full, unreported); // absent free space is not zero
    EXPECT_EQ(QSet<StorageRoot>({full, roomy, unreported, full}).size(), 3);

    EXPECT_EQ(StorageRoot(id, precomposedCafe(), std::nullopt, std::nullopt),
              StorageRoot(id, decomposedCafe(), std::nullopt, std::nullopt));
}

TEST(RemotePathTest, RootAndNavigation)
{
    const StorageID storage(QStringLiteral("s1"));
    const RemotePath root(storage, {});
    EXPECT_TRUE(root.isRoot());
    EXPECT_EQ(root.name(), QStringLiteral("Storage"));
    EXPECT_EQ(root.description(), QStringLiteral("/"));
    EXPECT_EQ(root.deletingLastComponent(), std::nullopt);

    const RemotePath camera = root.appending(QStringLiteral("DCIM")).appending(QStringLiteral("Camera"));
    EXPECT_FALSE(camera.isRoot());
    EXPECT_EQ(camera.name(), QStringLiteral("Camera"));
    EXPECT_EQ(camera.description(), QStringLiteral("/DCIM/Camera"));
    EXPECT_EQ(camera.storageID, storage);
    EXPECT_EQ(root.components, QStringList()); // appending made new paths, the root is unchanged

    const std::optional<RemotePath> dcim = camera.deletingLastComponent();
    ASSERT_TRUE(dcim.has_value());
    EXPECT_EQ(*dcim, RemotePath(storage, {QStringLiteral("DCIM")}));
    EXPECT_EQ(dcim->deletingLastComponent(), root);

    // An empty name is added unchecked.
    EXPECT_EQ(root.appending(QString()).description(), QStringLiteral("/"));
    EXPECT_FALSE(root.appending(QString()).isRoot());
}

TEST(RemotePathTest, EqualityAndHashing)
{
    const StorageID storage(QStringLiteral("s1"));
    const RemotePath a(storage, {QStringLiteral("Music"), precomposedCafe()});
    const RemotePath b(storage, {QStringLiteral("Music"), decomposedCafe()});
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));

    EXPECT_NE(a, RemotePath(StorageID(QStringLiteral("s2")), a.components));
    EXPECT_NE(a, RemotePath(storage, {QStringLiteral("Music")}));
    // Component boundaries count: "a/bc" is not "ab/c".
    const RemotePath split1(storage, {QStringLiteral("a"), QStringLiteral("bc")});
    const RemotePath split2(storage, {QStringLiteral("ab"), QStringLiteral("c")});
    EXPECT_NE(split1, split2);
    EXPECT_NE(qHash(split1), qHash(split2));
}

TEST(RemoteItemTest, OptionalFieldsAndNamesInEquality)
{
    const StorageID storage(QStringLiteral("s1"));
    const QDateTime date(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc());
    const RemoteItem item(RemoteObjectID(QStringLiteral("7")), storage, std::nullopt, precomposedCafe(),
                          RemoteItemKind::file, 10, date, RemotePath(storage, {precomposedCafe()}));
    RemoteItem same = item;
    same.name = decomposedCafe();
    same.path = RemotePath(storage, {decomposedCafe()});
    EXPECT_EQ(item, same);
    EXPECT_EQ(qHash(item), qHash(same));

    RemoteItem withParent = item;
    withParent.parentID = RemoteObjectID(QString());
    RemoteItem withoutSize = item;
    withoutSize.size = std::nullopt;
    RemoteItem withoutPath = item;
    withoutPath.path = std::nullopt;
    RemoteItem otherKind = item;
    otherKind.kind = RemoteItemKind::unknown;
    for (const RemoteItem& other : {withParent, withoutSize, withoutPath, otherKind}) {
        EXPECT_NE(item, other);
    }
    EXPECT_EQ(QSet<RemoteItem>({item, withParent, withoutSize, withoutPath, otherKind, same}).size(), 5);
}

TEST(LocalItemTest, EqualityCoversEveryFieldButAddressesAreNotNormalised)
{
    const QUrl url = QUrl::fromLocalFile(QStringLiteral("/home/u/") + precomposedCafe());
    const LocalItem item(url, precomposedCafe(), RemoteItemKind::folder, std::nullopt, std::nullopt, false);

    LocalItem decomposedName = item;
    decomposedName.name = decomposedCafe();
    EXPECT_EQ(item, decomposedName);
    EXPECT_EQ(qHash(item), qHash(decomposedName));

    LocalItem hidden = item;
    hidden.isHidden = true;
    LocalItem measured = item;
    measured.size = 0;
    EXPECT_NE(item, hidden);
    EXPECT_NE(item, measured);

    // Two spellings of a path are two files on this platform.
    LocalItem otherFile = item;
    otherFile.id = QUrl::fromLocalFile(QStringLiteral("/home/u/") + decomposedCafe());
    EXPECT_NE(item, otherFile);
}

} // namespace
} // namespace quillbarrow
