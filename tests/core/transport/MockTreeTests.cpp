#include "transport/MockTree.h"

#include "domain/QuillbarrowError.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quillbarrow;

namespace {

const StorageID storage(QStringLiteral("s"));

RemoteObjectID id(const char* text)
{
    return RemoteObjectID(QString::fromUtf8(text));
}

RemotePath path(const StorageID& on, QStringList components)
{
    return RemotePath(on, std::move(components));
}

} // namespace

TEST(MockTree, TheSampleHoldsOneStorageAndFiveItemsStampedNow)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const MockTree tree = MockTree::sample(storage);
    const QDateTime after = QDateTime::currentDateTimeUtc();

    EXPECT_EQ(tree.storages(), (QList<StorageRoot>{StorageRoot(storage, QStringLiteral("Internal shared storage"),
                                                               256'000'000'000LL, 141'000'000'000LL)}));
    const QList<RemoteItem> items = tree.items();
    ASSERT_EQ(items.size(), 5);
    const std::optional<QDateTime> stamp = items.first().modifiedAt;
    ASSERT_TRUE(stamp.has_value());
    EXPECT_TRUE(before <= *stamp && *stamp <= after);
    const auto item = [&](const char* itemID, std::optional<RemoteObjectID> parent, const char* name,
                          RemoteItemKind kind, std::optional<qint64> size, QStringList components) {
        return RemoteItem(id(itemID), storage, std::move(parent), QString::fromUtf8(name), kind, size, stamp,
                          path(storage, std::move(components)));
    };
    const QString dcim = QStringLiteral("DCIM");
    const QString camera = QStringLiteral("Camera");
    const QString download = QStringLiteral("Download");
    EXPECT_EQ(items, (QList<RemoteItem>{
                         item("dcim", std::nullopt, "DCIM", RemoteItemKind::folder, std::nullopt, {dcim}),
                         item("downloads", std::nullopt, "Download", RemoteItemKind::folder, std::nullopt, {download}),
                         item("camera", id("dcim"), "Camera", RemoteItemKind::folder, std::nullopt, {dcim, camera}),
                         item("photo-1", id("camera"), "IMG_0001.jpg", RemoteItemKind::file, 3'840'120,
                              {dcim, camera, QStringLiteral("IMG_0001.jpg")}),
                         item("apk", id("downloads"), "sample.apk", RemoteItemKind::file, 42'184'000,
                              {download, QStringLiteral("sample.apk")}),
                     }));
}

TEST(MockTree, DescendantsComeOneLevelFirstThenDepthFirstAcrossStoragesAndDeleteTakesThemAll)
{
    const StorageID other(QStringLiteral("other"));
    const auto folder = [](const char* itemID, const char* parent, const StorageID& on) {
        return RemoteItem(id(itemID), on, parent ? std::optional<RemoteObjectID>(id(parent)) : std::nullopt,
                          QString::fromUtf8(itemID), RemoteItemKind::folder, std::nullopt, std::nullopt, std::nullopt);
    };
    MockTree tree({}, {folder("a", nullptr, storage), folder("b", "a", storage), folder("c", "a", other),
                       folder("d", "b", storage), folder("f", "d", storage), folder("e", "c", other),
                       folder("z", nullptr, storage)});
    EXPECT_EQ(tree.descendantIDs(id("a")), (QList<RemoteObjectID>{id("b"), id("c"), id("d"), id("f"), id("e")}));

    tree.deleteItem(id("a"));
    ASSERT_EQ(tree.items().size(), 1);
    EXPECT_EQ(tree.items().first().id, id("z"));
    EXPECT_THROW(tree.deleteItem(id("a")), QuillbarrowError);
}

TEST(MockTree, NewItemsGetUpperCaseUUIDsAndPathsBelowTheirParent)
{
    MockTree tree = MockTree::sample(storage);
    const RemoteItem photo = tree.addFile(QStringLiteral("b.jpg"), id("camera"), storage, 7);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(photo.id.rawValue())
                    .hasMatch())
        << photo.id.rawValue().toStdString();
    EXPECT_EQ(photo.path, path(storage, {QStringLiteral("DCIM"), QStringLiteral("Camera"), QStringLiteral("b.jpg")}));
    EXPECT_EQ(photo.kind, RemoteItemKind::file);
    EXPECT_EQ(photo.size, std::optional<qint64>(7));
    EXPECT_EQ(tree.item(photo.id), std::optional<RemoteItem>(photo));

    // An unknown parent gives a path from the storage root; nothing is checked at this level.
    const RemoteItem orphan = tree.addFolder(QStringLiteral("o"), id("nowhere"), storage);
    EXPECT_EQ(orphan.path, path(storage, {QStringLiteral("o")}));
    EXPECT_EQ(orphan.parentID, std::optional<RemoteObjectID>(id("nowhere")));
    EXPECT_FALSE(orphan.size.has_value());
    EXPECT_FALSE(photo.id == orphan.id);
}

TEST(MockTree, RenamingChecksSiblingsAndCarriesThePathsBelowAFolder)
{
    MockTree tree = MockTree::sample(storage);
    EXPECT_NO_THROW(tree.rename(id("photo-1"), QStringLiteral("IMG_0001.jpg")));
    const RemoteItem photoBefore = *tree.item(id("photo-1"));
    try {
        tree.rename(id("downloads"), QStringLiteral("DCIM"));
        ADD_FAILURE() << "renaming onto a sibling's name succeeded";
    } catch (const QuillbarrowError& error) {
        EXPECT_EQ(error, QuillbarrowError::nameConflict(QStringLiteral("DCIM")));
    }

    tree.rename(id("dcim"), QStringLiteral("Pictures"));
    const QString pictures = QStringLiteral("Pictures");
    EXPECT_EQ(tree.item(id("dcim"))->name, pictures);
    EXPECT_EQ(tree.item(id("dcim"))->path, path(storage, {pictures}));
    EXPECT_EQ(tree.item(id("camera"))->path, path(storage, {pictures, QStringLiteral("Camera")}));
    const RemoteItem photo = *tree.item(id("photo-1"));
    EXPECT_EQ(photo.path, path(storage, {pictures, QStringLiteral("Camera"), QStringLiteral("IMG_0001.jpg")}));
    EXPECT_EQ(photo.modifiedAt, photoBefore.modifiedAt);
    EXPECT_EQ(tree.item(id("apk"))->path, path(storage, {QStringLiteral("Download"), QStringLiteral("sample.apk")}));
    EXPECT_EQ(tree.children(std::nullopt, storage).first().name, QStringLiteral("Download"));

    EXPECT_THROW(tree.rename(id("nothing"), QStringLiteral("x")), QuillbarrowError);
}
