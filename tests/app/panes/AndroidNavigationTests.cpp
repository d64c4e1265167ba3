// The Android pane's location controls over a device browser connected to a pretend device with
// two storages: the segment texts and rules, the storage switcher through a held switch, the
// breadcrumb row and the favourites menu.

#include "PaneTestSupport.h"
#include "StorageSwitchRig.h"
#include "panes/AndroidNavigation.h"
#include "panes/blocks/BreadcrumbButton.h"
#include "panes/blocks/BusySpinner.h"
#include "style/SymbolIcons.h"

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace quillbarrow::testing {
namespace {

StorageRoot named(const QString& name, std::optional<qint64> capacity = std::nullopt,
                  std::optional<qint64> freeSpace = std::nullopt)
{
    return StorageRoot(StorageID(QStringLiteral("id-") + name), name, capacity, freeSpace);
}

// The widgets of a row that are still part of it: the row's new widgets are shown and the
// replaced ones, hidden at once, are deleted before looking.
template <typename Widget>
QList<Widget*> shown(const QWidget* row, const QString& objectName = {})
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<Widget*> found;
    for (Widget* widget : row->findChildren<Widget*>(objectName)) {
        if (!widget->isHidden()) {
            found.append(widget);
        }
    }
    return found;
}

TEST(AndroidStorageSegment, ShortTitleAndIconFollowTheName)
{
    struct Case {
        QString name;
        int index;
        QString title;
        QString icon;
    };
    const QList<Case> cases{
        {QStringLiteral("Internal shared storage"), 0, QStringLiteral("Internal"), QStringLiteral("internaldrive")},
        {QStringLiteral("SD card"), 1, QStringLiteral("SD card"), QStringLiteral("sdcard")},
        {QStringLiteral("sdcard1"), 1, QStringLiteral("SD card"), QStringLiteral("sdcard")},
        {QStringLiteral("External Storage"), 1, QStringLiteral("SD card"), QStringLiteral("sdcard")},
        {QStringLiteral("Removable USB"), 2, QStringLiteral("SD card"), QStringLiteral("sdcard")},
        // "internal" wins the title, the icon has no such test.
        {QStringLiteral("Internal SD"), 0, QStringLiteral("Internal"), QStringLiteral("sdcard")},
        {QStringLiteral("   "), 1, QStringLiteral("Storage 2"), QStringLiteral("internaldrive")},
        {QString(), 0, QStringLiteral("Storage 1"), QStringLiteral("internaldrive")},
        {QStringLiteral("Storage"), 1, QStringLiteral("Storage 2"), QStringLiteral("internaldrive")},
        {QStringLiteral(" Storage\n"), 2, QStringLiteral("Storage 3"), QStringLiteral("internaldrive")},
        {QStringLiteral("storage"), 0, QStringLiteral("storage"), QStringLiteral("internaldrive")},
        {QStringLiteral("Phone"), 0, QStringLiteral("Phone"), QStringLiteral("internaldrive")},
        {QStringLiteral("  Phone \t"), 0, QStringLiteral("Phone"), QStringLiteral("internaldrive")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(storageShortTitle(named(c.name), c.index), c.title);
        EXPECT_EQ(storageIcon(named(c.name)), c.icon);
    }
}

TEST(AndroidStorageSegment, DetailAndTooltipSayWhatIsKnown)
{
    struct Case {
        StorageRoot storage;
        bool isSelected;
        bool isPending;
        std::optional<QString> detail;
        QString help;
    };
    const QList<Case> cases{
        {named(QStringLiteral("Phone")), false, false, std::nullopt, QStringLiteral("Open Phone")},
        {named(QStringLiteral("Phone"), 2'000'000'000), false, false, QStringLiteral("2 GB"),
         QStringLiteral("Open Phone - 2 GB")},
        {named(QStringLiteral("Phone"), std::nullopt, 500'000'000), true, false, QStringLiteral("500 MB free"),
         QStringLiteral("Current Android storage: Phone - 500 MB free")},
        {named(QStringLiteral(" Phone "), 2'000'000'000, 500'000'000), true, true,
         QStringLiteral("500 MB free of 2 GB"), QStringLiteral("Opening Phone - 500 MB free of 2 GB")},
        {named(QStringLiteral("  "), 0, 0), false, false, QStringLiteral("Zero KB free of Zero KB"),
         QStringLiteral("Open Storage - Zero KB free of Zero KB")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.help.toStdString());
        EXPECT_EQ(storageDetail(c.storage), c.detail);
        EXPECT_EQ(storageHelp(c.storage, c.isSelected, c.isPending), c.help);
    }
}

TEST(AndroidStorageSegment, DisabledWhileOpeningOrShownWithNothingPending)
{
    const StorageRoot storage = named(QStringLiteral("Phone"));
    const std::optional<StorageID> same = storage.id;
    const std::optional<StorageID> other = StorageID(QStringLiteral("other"));
    const std::optional<StorageID> none;
    struct Case {
        std::optional<StorageID> shown;
        std::optional<StorageID> pending;
        bool disabled;
    };
    const QList<Case> cases{
        {none, none, false},  {other, none, false}, {same, none, true},
        {same, other, false}, {none, same, true},   {other, same, true},
        {same, same, true},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(isStorageSegmentDisabled(storage, cases[i].shown, cases[i].pending), cases[i].disabled);
    }
}

TEST(AndroidStorageSwitcher, SegmentsFollowTheStoragesWithOneDividerBetween)
{
    StorageRig rig({internalStorage(), cardStorage(), named(QStringLiteral("Storage"))});
    AndroidStorageSwitcher switcher(rig.browser, {});
    EXPECT_TRUE(switcher.segments().isEmpty());
    rig.connect();

    ASSERT_EQ(switcher.segments().size(), 3);
    EXPECT_EQ(shown<QWidget>(&switcher, QStringLiteral("storageDivider")).size(), 2);
    EXPECT_EQ(switcher.dividers().size(), 2);
    // Nothing follows the last segment.
    EXPECT_LT(switcher.layout()->indexOf(switcher.dividers().last()),
              switcher.layout()->indexOf(switcher.segments().last()));
    QToolButton* internal = switcher.segments()[0];
    QToolButton* card = switcher.segments()[1];
    EXPECT_EQ(internal->text(), QStringLiteral("Internal"));
    EXPECT_EQ(card->text(), QStringLiteral("SD card"));
    EXPECT_EQ(switcher.segments()[2]->text(), QStringLiteral("Storage 3"));
    EXPECT_FALSE(internal->isEnabled());
    EXPECT_EQ(SymbolIcons::symbolOf(internal), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(internal->toolTip(), QStringLiteral("Current Android storage: Internal shared storage - 42.5 GB free of 128 GB"));
    EXPECT_TRUE(card->isEnabled());
    EXPECT_EQ(SymbolIcons::symbolOf(card), QStringLiteral("sdcard"));
    EXPECT_EQ(card->toolTip(), QStringLiteral("Open SD card - 64 GB"));
    EXPECT_EQ(switcher.toolTip(), QStringLiteral("Choose Android storage"));
}

TEST(AndroidStorageSwitcher, AStorageNameThatLooksLikeMarkupIsShownAsWritten)
{
    StorageRig rig({internalStorage(), named(QStringLiteral("<b>Card</b> &amp; more"))});
    rig.connect();
    AndroidStorageSwitcher switcher(rig.browser, {});
    ASSERT_EQ(switcher.segments().size(), 2);
    EXPECT_EQ(shownTip(switcher.segments()[1]->toolTip()), QStringLiteral("Open <b>Card</b> &amp; more"));
}

TEST(AndroidStorageSwitcher, TwoStoragesHaveExactlyOneDivider)
{
    StorageRig rig;
    rig.connect();
    AndroidStorageSwitcher switcher(rig.browser, {});
    EXPECT_EQ(switcher.segments().size(), 2);
    EXPECT_EQ(shown<QWidget>(&switcher, QStringLiteral("storageDivider")).size(), 1);
}

TEST(AndroidStorageSwitcher, ATapEmptiesTheSelectionThenSwitchesThroughThePendingState)
{
    StorageRig rig;
    rig.connect();
    rig.hold->held.insert(cardStorage().id);
    int emptied = 0;
    bool pendingBeforeEmptying = false;
    AndroidStorageSwitcher switcher(rig.browser, [&] {
        ++emptied;
        pendingBeforeEmptying = rig.browser.pendingStorageID().has_value();
    });
    switcher.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&switcher));

    QTest::mouseClick(switcher.segments()[1], Qt::LeftButton);
    EXPECT_EQ(emptied, 1);
    EXPECT_FALSE(pendingBeforeEmptying);
    ASSERT_EQ(rig.browser.pendingStorageID(), cardStorage().id);
    ASSERT_EQ(switcher.segments().size(), 2);
    auto* card = static_cast<StorageSegmentButton*>(switcher.segments()[1]);
    auto* internal = switcher.segments()[0];
    EXPECT_TRUE(card->isPending());
    EXPECT_EQ(shown<BusySpinner>(card).size(), 1);
    EXPECT_FALSE(card->isEnabled());
    EXPECT_EQ(card->toolTip(), QStringLiteral("Opening SD card - 64 GB"));
    // The storage shown before may be chosen again to win over the switch.
    EXPECT_TRUE(internal->isEnabled());
    EXPECT_EQ(SymbolIcons::symbolOf(internal), QStringLiteral("internaldrive"));
    EXPECT_EQ(internal->toolTip(), QStringLiteral("Open Internal shared storage - 42.5 GB free of 128 GB"));

    rig.hold->release();
    ASSERT_TRUE(processEventsUntil([&] { return !rig.browser.pendingStorageID(); }));
    ASSERT_EQ(rig.browser.currentPage()->storage.id, cardStorage().id);
    card = static_cast<StorageSegmentButton*>(switcher.segments()[1]);
    EXPECT_FALSE(card->isPending());
    EXPECT_FALSE(card->isEnabled());
    EXPECT_EQ(SymbolIcons::symbolOf(card), QStringLiteral("checkmark.circle.fill"));
    EXPECT_TRUE(switcher.segments()[0]->isEnabled());
    EXPECT_EQ(emptied, 1);
}

TEST(AndroidStorageSwitcher, ALongNameIsCutToTheSegmentWidth)
{
    StorageRig rig({internalStorage(), named(QStringLiteral("A storage with a name far too long to fit"))});
    rig.connect();
    AndroidStorageSwitcher switcher(rig.browser, {});
    switcher.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&switcher));
    auto* segment = static_cast<StorageSegmentButton*>(switcher.segments()[1]);
    EXPECT_LE(segment->width(), StorageSegmentButton::maximumSegmentWidth);
    EXPECT_TRUE(segment->shownTitle().endsWith(QChar(0x2026)));
    EXPECT_GE(switcher.segments()[0]->width(), StorageSegmentButton::minimumSegmentWidth);
}

TEST(AndroidBreadcrumbBar, RootReadsStorageAndEarlierCrumbsGoBack)
{
    StorageRig rig;
    AndroidBreadcrumbBar bar(rig.browser);
    EXPECT_TRUE(shown<QLabel>(&bar).isEmpty());
    EXPECT_TRUE(shown<QToolButton>(&bar).isEmpty());

    rig.connect();
    ASSERT_EQ(shown<QLabel>(&bar, QStringLiteral("currentCrumb")).size(), 1);
    QLabel* root = shown<QLabel>(&bar, QStringLiteral("currentCrumb")).first();
    EXPECT_EQ(root->text(), QStringLiteral("Storage"));
    EXPECT_GE(root->font().weight(), QFont::DemiBold);
    EXPECT_TRUE(shown<QToolButton>(&bar).isEmpty());

    rig.openFolder(QStringLiteral("DCIM"));
    rig.openFolder(QStringLiteral("Camera"));
    const QList<BreadcrumbButton*> crumbs = shown<BreadcrumbButton>(&bar, QStringLiteral("crumbButton"));
    ASSERT_EQ(crumbs.size(), 2);
    EXPECT_EQ(crumbs[0]->text(), QStringLiteral("Storage"));
    EXPECT_EQ(crumbs[1]->text(), QStringLiteral("DCIM"));
    EXPECT_EQ(shown<QLabel>(&bar, QStringLiteral("crumbChevron")).size(), 2);
    EXPECT_EQ(shown<QLabel>(&bar, QStringLiteral("currentCrumb")).first()->text(), QStringLiteral("Camera"));

    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    QTest::mouseClick(crumbs[1], Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.breadcrumb().size() == 2 && !rig.browser.isLoading(); }));
    EXPECT_EQ(rig.browser.currentPage()->path.components, QStringList{QStringLiteral("DCIM")});
    EXPECT_EQ(shown<QLabel>(&bar, QStringLiteral("currentCrumb")).first()->text(), QStringLiteral("DCIM"));

    QTest::mouseClick(shown<BreadcrumbButton>(&bar, QStringLiteral("crumbButton")).first(), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.breadcrumb().size() == 1 && !rig.browser.isLoading(); }));
    EXPECT_TRUE(shown<BreadcrumbButton>(&bar, QStringLiteral("crumbButton")).isEmpty());
    EXPECT_EQ(shown<QLabel>(&bar, QStringLiteral("currentCrumb")).first()->text(), QStringLiteral("Storage"));
}

// What a menu draws of an action's text: "&&" is one "&", any other "&" only marks the letter
// after it.
QString drawnText(const QAction* action)
{
    const QString text = action->text();
    QString drawn;
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] == u'&' && ++at == text.size()) {
            break;
        }
        drawn += text[at];
    }
    return drawn;
}

QStringList texts(const QMenu& menu)
{
    QStringList all;
    for (const QAction* action : menu.actions()) {
        all.append(action->isSeparator() ? QStringLiteral("---") : drawnText(action));
    }
    return all;
}

QAction* actionNamed(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (drawnText(action) == text) {
            return action;
        }
    }
    return nullptr;
}

TEST(AndroidFavoritesMenu, WithoutAFolderShownTheCommandsAreDisabled)
{
    StorageRig rig;
    QMenu menu;
    fillAndroidFavoritesMenu(&menu, rig.browser, {});
    EXPECT_EQ(texts(menu),
              (QStringList{QStringLiteral("---"), QStringLiteral("Add Current Folder"), QStringLiteral("Set Current as Default")}));
    EXPECT_FALSE(actionNamed(menu, QStringLiteral("Add Current Folder"))->isEnabled());
    EXPECT_FALSE(actionNamed(menu, QStringLiteral("Set Current as Default"))->isEnabled());
}

TEST(AndroidFavoritesMenu, BuiltInsThenCommandsThenRemoveItemsForUserFavoritesOnly)
{
    StorageRig rig;
    rig.connect();
    QMenu menu;
    int emptied = 0;
    fillAndroidFavoritesMenu(&menu, rig.browser, [&] { ++emptied; });
    EXPECT_EQ(texts(menu), (QStringList{QStringLiteral("DCIM"), QStringLiteral("---"), QStringLiteral("Add Current Folder"),
                                        QStringLiteral("Set Current as Default")}));
    EXPECT_TRUE(actionNamed(menu, QStringLiteral("Add Current Folder"))->isEnabled());

    rig.openFolder(QStringLiteral("DCIM"));
    rig.openFolder(QStringLiteral("Camera"));
    fillAndroidFavoritesMenu(&menu, rig.browser, [&] { ++emptied; });
    actionNamed(menu, QStringLiteral("Add Current Folder"))->trigger();
    fillAndroidFavoritesMenu(&menu, rig.browser, [&] { ++emptied; });
    actionNamed(menu, QStringLiteral("Set Current as Default"))->trigger();
    fillAndroidFavoritesMenu(&menu, rig.browser, [&] { ++emptied; });
    EXPECT_EQ(texts(menu), (QStringList{QStringLiteral("DCIM"), QStringLiteral("Camera (Default)"), QStringLiteral("---"),
                                        QStringLiteral("Add Current Folder"), QStringLiteral("Set Current as Default"),
                                        QStringLiteral("---"), QStringLiteral("Remove Camera")}));
    EXPECT_EQ(actionNamed(menu, QStringLiteral("Remove Camera"))->property(SymbolIcons::symbolProperty).toString(),
              QStringLiteral("trash"));

    // A favourite empties the selection and opens its folder.
    actionNamed(menu, QStringLiteral("DCIM"))->trigger();
    EXPECT_EQ(emptied, 1);
    ASSERT_TRUE(processEventsUntil([&] { return rig.browser.breadcrumb().size() == 2 && !rig.browser.isLoading(); }));
    EXPECT_EQ(rig.browser.currentPage()->path.components, QStringList{QStringLiteral("DCIM")});

    actionNamed(menu, QStringLiteral("Remove Camera"))->trigger();
    fillAndroidFavoritesMenu(&menu, rig.browser, {});
    EXPECT_EQ(texts(menu), (QStringList{QStringLiteral("DCIM"), QStringLiteral("---"), QStringLiteral("Add Current Folder"),
                                        QStringLiteral("Set Current as Default")}));
}

TEST(AndroidFavoritesMenu, FolderNamesAreShownAsWrittenAmpersandsIncluded)
{
    StorageRig rig;
    rig.backend->tree().addFolder(QStringLiteral("Tom & Jerry"), std::nullopt, internalStorage().id);
    rig.connect();
    rig.openFolder(QStringLiteral("Tom & Jerry"));
    rig.browser.addCurrentLocationToFavorites();
    QMenu menu;
    fillAndroidFavoritesMenu(&menu, rig.browser, {});
    EXPECT_EQ(texts(menu), (QStringList{QStringLiteral("DCIM"), QStringLiteral("Tom & Jerry"), QStringLiteral("---"),
                                        QStringLiteral("Add Current Folder"), QStringLiteral("Set Current as Default"),
                                        QStringLiteral("---"), QStringLiteral("Remove Tom & Jerry")}));
}

// An open menu names folders of the phone it was read from: once that phone is unplugged and a
// phone with the same storages is selected, the menu has closed and its entries open and remove
// nothing there.
TEST(AndroidFavoritesMenu, AnOpenMenuTakesNothingOnceItsPhoneIsGone)
{
    StorageRig rig;
    rig.connect();
    rig.browser.start();
    ASSERT_TRUE(processEventsUntil([&rig] { return rig.backend->streamCount() == 1; }));
    rig.openFolder(QStringLiteral("DCIM"));
    rig.openFolder(QStringLiteral("Camera"));
    rig.browser.addCurrentLocationToFavorites();
    QMenu menu;
    int emptied = 0;
    fillAndroidFavoritesMenu(&menu, rig.browser, [&] { ++emptied; });
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));

    rig.backend->simulateDisconnect(rig.device.id);
    ASSERT_TRUE(processEventsUntil([&rig] { return !rig.browser.selectedDevice(); }));
    EXPECT_FALSE(menu.isVisible());
    rig.connect();
    const QList<RemoteFavoriteLocation> favorites = rig.browser.favoriteLocations();
    const RemotePath shown = rig.browser.currentPage()->path;

    actionNamed(menu, QStringLiteral("DCIM"))->trigger();
    actionNamed(menu, QStringLiteral("Remove Camera"))->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(emptied, 0);
    EXPECT_EQ(rig.browser.currentPage()->path, shown);
    EXPECT_EQ(rig.browser.favoriteLocations(), favorites);
}

} // namespace
} // namespace quillbarrow::testing
