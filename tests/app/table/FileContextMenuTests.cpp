#include "TableRows.h"
#include "table/FileContextMenu.h"

#include <QKeySequence>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

using testing::localFile;
using testing::localFolder;

// The menu as text: titles in order, "-" for a separator, "(off)" after a disabled item.
QStringList shape(const QMenu& menu)
{
    QStringList items;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            items.append(QStringLiteral("-"));
        } else {
            items.append(action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)")));
        }
    }
    return items;
}

QAction* named(const QMenu& menu, const QString& name)
{
    for (QAction* action : menu.actions()) {
        if (action->objectName() == name) {
            return action;
        }
    }
    return nullptr;
}

// Records every call of every action.
class FileContextMenuTest : public ::testing::Test {
protected:
    FileContextMenuTest()
    {
        menu.sendTitle = QStringLiteral("Copy to Android");
        menu.open = [this](const LocalItem& item) { calls.append("open " + item.name); };
        menu.calculateFolderSizes = [this](const QList<LocalItem>& items) { calls.append("calculate " + names(items)); };
        menu.copy = [this](const QList<LocalItem>& items) { calls.append("copy " + names(items)); };
        menu.canSend = [this](const QList<LocalItem>&) { return sendAllowed; };
        menu.send = [this](const QList<LocalItem>& items) { calls.append("send " + names(items)); };
        menu.canPaste = [this] { return clipboardHoldsSomething; };
        menu.paste = [this] { calls.append("paste"); };
        menu.rename = [this](const LocalItem& item) { calls.append("rename " + item.name); };
        menu.deleteItems = [this](const QList<LocalItem>& items) { calls.append("delete " + names(items)); };
    }

    static QString names(const QList<LocalItem>& items)
    {
        QStringList list;
        for (const LocalItem& item : items) {
            list.append(item.name);
        }
        return list.join(u',');
    }

    FileContextMenu<LocalItem> menu;
    bool sendAllowed = true;
    bool clipboardHoldsSomething = true;
    QStringList calls;
};

TEST_F(FileContextMenuTest, TheItemsOfEachCaseInOrder)
{
    struct Case {
        const char* what;
        QList<LocalItem> targets;
        QStringList expected;
    };
    const QList<Case> cases{
        {"one file",
         {localFile("a.txt")},
         {"Open", "-", "Copy", "Copy to Android", "Paste", "-", "Rename…", "-", "Delete"}},
        {"one unmeasured folder",
         {localFolder("Photos")},
         {"Open", "-", "Calculate Folder Size", "-", "Copy", "Copy to Android", "Paste", "-", "Rename…", "-",
          "Delete"}},
        {"one measured folder",
         {localFolder("Photos", 4000)},
         {"Open", "-", "Copy", "Copy to Android", "Paste", "-", "Rename…", "-", "Delete"}},
        {"several with an unmeasured folder",
         {localFile("a.txt"), localFolder("Photos")},
         {"Calculate Folder Size", "-", "Copy", "Copy to Android", "Paste", "-", "Delete"}},
        {"several files", {localFile("a.txt"), localFile("b.txt")}, {"Copy", "Copy to Android", "Paste", "-", "Delete"}},
        {"none", {}, {"Copy", "Copy to Android (off)", "Paste"}},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        const std::unique_ptr<QMenu> built = menu.build(item.targets);
        EXPECT_EQ(shape(*built), item.expected);
    }
}

TEST_F(FileContextMenuTest, CopyToTheOtherPaneAndPasteFollowTheirRules)
{
    sendAllowed = false;
    clipboardHoldsSomething = false;
    const std::unique_ptr<QMenu> built = menu.build({localFile("a.txt")});
    EXPECT_FALSE(named(*built, "sendAction")->isEnabled());
    EXPECT_FALSE(named(*built, "pasteAction")->isEnabled());
    EXPECT_TRUE(named(*built, "copyAction")->isEnabled());
    EXPECT_EQ(named(*built, "copyAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
}

TEST_F(FileContextMenuTest, EachActionRunsItsWorkOnceForItsTargets)
{
    const std::unique_ptr<QMenu> one = menu.build({localFolder("Photos")});
    for (const char* name : {"openAction", "calculateFolderSizeAction", "copyAction", "sendAction", "pasteAction",
                             "renameAction", "deleteAction"}) {
        QAction* action = named(*one, QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    }
    EXPECT_EQ(calls, (QStringList{"open Photos", "calculate Photos", "copy Photos", "send Photos", "paste",
                                  "rename Photos", "delete Photos"}));

    calls.clear();
    const std::unique_ptr<QMenu> several = menu.build({localFile("a.txt"), localFolder("Photos"), localFolder("Music", 10)});
    named(*several, "calculateFolderSizeAction")->trigger();
    named(*several, "deleteAction")->trigger();
    // Only the folders of unknown size are measured.
    EXPECT_EQ(calls, (QStringList{"calculate Photos", "delete a.txt,Photos,Music"}));
}

TEST_F(FileContextMenuTest, CopyWithNoTargetCopiesNothing)
{
    const std::unique_ptr<QMenu> built = menu.build({});
    named(*built, "copyAction")->trigger();
    EXPECT_EQ(calls, QStringList{"copy "});
}

} // namespace
} // namespace quillbarrow
