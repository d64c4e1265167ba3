#include "RunTask.h"
#include "ShellTestSupport.h"

#include "shell/MainWindow.h"
#include "shell/PaneArea.h"
#include "window/PaneKeyCommand.h"
#include "window/PaneKeyMonitor.h"
#include "window/WindowState.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <vector>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

using Command = PaneKeyCommand;

struct KeyCase {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::optional<Command> command = std::nullopt;
};

// The presses every pane command is reached by, in the order the tests press them.
const QList<KeyCase> commandKeys = {
    {Qt::Key_C, Qt::ControlModifier, Command::copy},
    {Qt::Key_V, Qt::ControlModifier, Command::paste},
    {Qt::Key_A, Qt::ControlModifier, Command::selectAll},
    {Qt::Key_Return, Qt::NoModifier, Command::openSelection},
    {Qt::Key_Delete, Qt::NoModifier, Command::deleteSelection},
    {Qt::Key_Up, Qt::ControlModifier, Command::parentFolder},
};

QList<Command> commandsOf(const QList<KeyCase>& cases)
{
    QList<Command> commands;
    for (const KeyCase& each : cases) {
        commands.append(*each.command);
    }
    return commands;
}

// A widget with the keyboard that records what reaches it, as the table would.
class KeyRecorder final : public QWidget {
public:
    explicit KeyRecorder(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        // The modifier keys themselves are pressed too; only the keys with them count here.
        if (event->key() != Qt::Key_Control && event->key() != Qt::Key_Shift && event->key() != Qt::Key_Alt) {
            keys.append(event->key());
        }
    }
};

// A pane's handler: records each command and takes it unless told to leave it.
struct PaneRecorder {
    QList<Command> commands;
    bool takes = true;
    PaneKeyMonitor::Handler handler()
    {
        return [this](Command command) {
            commands.append(command);
            return takes;
        };
    }
};

// A window with a key monitor on each pane, each over a table of its own, and the keyboard in the
// Mac pane's table.
struct KeyedWindow {
    explicit KeyedWindow(QuillbarrowApp& app) : window(app.openWindow())
    {
        QWidget* macPane = window->paneArea()->macPane();
        QWidget* androidPane = window->paneArea()->androidPane();
        table = new KeyRecorder(macPane);
        macPane->layout()->addWidget(table);
        androidTable = new KeyRecorder(androidPane);
        androidPane->layout()->addWidget(androidTable);
        new PaneKeyMonitor(macPane, table, FocusedPane::mac, &window->state(), mac.handler());
        new PaneKeyMonitor(androidPane, androidTable, FocusedPane::android, &window->state(),
                           android.handler());
        waitUntilShown(window);
        table->setFocus();
    }
    void press(const QList<KeyCase>& cases) const
    {
        for (const KeyCase& each : cases) {
            pressKey(window, each.key, each.modifiers);
        }
    }

    MainWindow* window;
    PaneRecorder mac;
    PaneRecorder android;
    KeyRecorder* table;
    KeyRecorder* androidTable;
};

} // namespace

TEST(PaneKeyCommand, MapsTheLinuxKeysOfEachCommand)
{
    const KeyCase cases[] = {
        {Qt::Key_C, Qt::ControlModifier, Command::copy},
        {Qt::Key_V, Qt::ControlModifier, Command::paste},
        {Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, Command::selectAll},
        {Qt::Key_Up, Qt::ControlModifier, Command::parentFolder},
        {Qt::Key_Up, Qt::AltModifier, Command::parentFolder},
        {Qt::Key_Backspace, Qt::NoModifier, Command::parentFolder},
        {Qt::Key_R, Qt::ControlModifier, Command::refresh},
        {Qt::Key_F5, Qt::NoModifier, Command::refresh},
        {Qt::Key_Delete, Qt::NoModifier, Command::deleteSelection},
        {Qt::Key_Delete, Qt::ControlModifier, Command::deleteSelection},
        {Qt::Key_Return, Qt::NoModifier, Command::openSelection},
        {Qt::Key_Return, Qt::ControlModifier, Command::openSelection},
        // Rename, the typed path, hidden files and new folders: on the menu and header buttons only.
        {Qt::Key_F2, Qt::NoModifier, std::nullopt},
        {Qt::Key_L, Qt::ControlModifier, std::nullopt},
        {Qt::Key_H, Qt::ControlModifier, std::nullopt},
        {Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, std::nullopt},
        {Qt::Key_N, Qt::ControlModifier, std::nullopt}, // the menu's New Window
        {Qt::Key_Enter, Qt::KeypadModifier, std::nullopt},
        {Qt::Key_C, Qt::NoModifier, std::nullopt},
        {Qt::Key_Up, Qt::NoModifier, std::nullopt},
        {Qt::Key_Down, Qt::AltModifier, std::nullopt},
        {Qt::Key_X, Qt::ControlModifier, std::nullopt},
        {Qt::Key_Tab, Qt::NoModifier, std::nullopt},
    };
    for (const KeyCase& each : cases) {
        EXPECT_EQ(paneKeyCommand(each.key, each.modifiers), each.command)
            << "key " << each.key << ", modifiers " << each.modifiers.toInt();
    }
}

// Pane commands reach the focused pane, and only while its table has the keyboard; taken by the pane,
// they never reach the table too. With the keyboard anywhere else (a list, a button), or in the table
// of the pane not marked focused, every press goes to what has the keyboard.
TEST(PaneKeyMonitor, CommandsReachTheFocusedPaneOnlyWhileItsTableHasTheKeyboard)
{
    ShellFixture fixture;
    KeyedWindow keyed(*fixture.app);
    auto* list = new KeyRecorder(keyed.window->paneArea());
    list->show();
    const QList<KeyCase> presses =
        commandKeys + QList<KeyCase>{{Qt::Key_Backspace, Qt::NoModifier, Command::parentFolder},
                                     {Qt::Key_F5, Qt::NoModifier, Command::refresh},
                                     {Qt::Key_R, Qt::ControlModifier, Command::refresh},
                                     {Qt::Key_Up, Qt::AltModifier, Command::parentFolder}};
    const struct {
        const char* what;
        KeyRecorder* keyboard;
        FocusedPane focused;
        PaneRecorder* reached;
    } cases[] = {
        {"the Mac table, the Mac pane marked", keyed.table, FocusedPane::mac, &keyed.mac},
        {"the Android table, the Android pane marked", keyed.androidTable, FocusedPane::android,
         &keyed.android},
        {"another widget, the Mac pane marked", list, FocusedPane::mac, nullptr},
        {"another widget, the Android pane marked", list, FocusedPane::android, nullptr},
        {"the Android table, the Mac pane marked", keyed.androidTable, FocusedPane::mac, nullptr},
        {"the Mac table, the Android pane marked", keyed.table, FocusedPane::android, nullptr},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        each.keyboard->setFocus();
        keyed.window->state().focusPane(each.focused);
        keyed.mac.commands.clear();
        keyed.android.commands.clear();
        each.keyboard->keys.clear();
        keyed.press(presses);
        for (PaneRecorder* pane : {&keyed.mac, &keyed.android}) {
            // As vectors: Qt's comparison of two empty lists, one never allocated, hands memcmp a
            // null pointer, which the sanitizer reports.
            const QList<Command> expected = pane == each.reached ? commandsOf(presses) : QList<Command>();
            EXPECT_EQ(std::vector(pane->commands.cbegin(), pane->commands.cend()),
                      std::vector(expected.cbegin(), expected.cend()));
        }
        EXPECT_EQ(each.keyboard->keys.size(), each.reached != nullptr ? 0 : presses.size());
    }
}

TEST(PaneKeyMonitor, PressesThePaneLeavesOrDoesNotKnowReachTheTable)
{
    ShellFixture fixture;
    KeyedWindow keyed(*fixture.app);
    keyed.mac.takes = false; // e.g. Delete with nothing selected
    keyed.press({{Qt::Key_Delete, Qt::NoModifier}, {Qt::Key_C, Qt::NoModifier}, {Qt::Key_Down, Qt::NoModifier},
                 {Qt::Key_F2, Qt::NoModifier}, {Qt::Key_L, Qt::ControlModifier}, {Qt::Key_H, Qt::ControlModifier},
                 {Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier}});
    EXPECT_EQ(keyed.mac.commands, QList<Command>{Command::deleteSelection});
    EXPECT_EQ(keyed.table->keys,
              (QList<int>{Qt::Key_Delete, Qt::Key_C, Qt::Key_Down, Qt::Key_F2, Qt::Key_L, Qt::Key_H, Qt::Key_N}));
}

TEST(PaneKeyMonitor, ASheetOfTheWindowTakesEveryPress)
{
    ShellFixture fixture;
    KeyedWindow keyed(*fixture.app);
    auto* sheet = new QDialog(keyed.window);
    auto* field = new QLineEdit(sheet);
    (new QVBoxLayout(sheet))->addWidget(field);
    sheet->open();
    ASSERT_TRUE(waitUntilShown(sheet));
    field->setFocus();
    EXPECT_TRUE(PaneKeyMonitor::shouldIgnoreKeyEvent(keyed.window));

    keyed.press(commandKeys);
    pressKey(sheet, Qt::Key_X);
    pressKey(sheet, Qt::Key_Backspace);
    pressKey(sheet, Qt::Key_Y);
    EXPECT_TRUE(keyed.mac.commands.isEmpty());
    EXPECT_TRUE(keyed.android.commands.isEmpty());
    EXPECT_EQ(field->text(), QStringLiteral("y"));

    sheet->reject();
    EXPECT_FALSE(PaneKeyMonitor::shouldIgnoreKeyEvent(keyed.window));
    keyed.table->setFocus();
    keyed.press({commandKeys.front()});
    EXPECT_EQ(keyed.mac.commands, QList<Command>{Command::copy});
}

TEST(PaneKeyMonitor, ATextFieldWithTheKeyboardGetsEveryPress)
{
    ShellFixture fixture;
    KeyedWindow keyed(*fixture.app);
    auto* pathField = new QLineEdit(keyed.window->paneArea()->macPane());
    keyed.window->paneArea()->macPane()->layout()->addWidget(pathField);
    pathField->show();
    pathField->setFocus();
    ASSERT_EQ(keyed.window->focusWidget(), pathField);

    pressKey(keyed.window, Qt::Key_A);
    pressKey(keyed.window, Qt::Key_B);
    keyed.press(commandKeys); // select all, backspace and the rest act on the text
    EXPECT_TRUE(keyed.mac.commands.isEmpty());
    EXPECT_TRUE(keyed.android.commands.isEmpty());
    EXPECT_EQ(pathField->text(), QString());
}

TEST(PaneKeyMonitor, APressInOneWindowNeverActsInAnother)
{
    ShellFixture fixture;
    KeyedWindow first(*fixture.app);
    KeyedWindow second(*fixture.app);
    second.press(commandKeys);
    EXPECT_EQ(second.mac.commands, commandsOf(commandKeys));
    EXPECT_TRUE(first.mac.commands.isEmpty());
    EXPECT_TRUE(first.android.commands.isEmpty());

    first.press({commandKeys.front()});
    EXPECT_EQ(first.mac.commands, QList<Command>{Command::copy});
    EXPECT_EQ(second.mac.commands.size(), commandKeys.size());
}

TEST(PaneKeyMonitor, AMonitorGoesWithItsPane)
{
    ShellFixture fixture;
    MainWindow* window = fixture.app->openWindow();
    ASSERT_TRUE(waitUntilShown(window));
    PaneRecorder recorder;
    auto* pane = new QWidget(window->paneArea()->macPane());
    auto* table = new KeyRecorder(pane);
    pane->show();
    table->setFocus();
    new PaneKeyMonitor(pane, table, FocusedPane::mac, &window->state(), recorder.handler());
    pressKey(window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(recorder.commands, QList<Command>{Command::refresh});

    delete pane;
    pressKey(window, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(recorder.commands.size(), 1);
}
