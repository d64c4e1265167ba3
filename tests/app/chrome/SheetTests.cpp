#include "ChromeSamples.h"

#include "RunTask.h"
#include "chrome/ConflictResolutionSheet.h"
#include "chrome/ConflictSheetPresenter.h"
#include "chrome/DeleteConfirmation.h"
#include "chrome/NewFolderSheet.h"
#include "chrome/RenameSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <functional>

using namespace quillbarrow;
using namespace quillbarrow::testing;

namespace {

const QStringList hostileNames{QString(), QStringLiteral("   \n\t"), QStringLiteral("."), QStringLiteral(" .. "),
                               QStringLiteral("a/b"), QStringLiteral("../x"), QString::fromUtf16(u"nul\0x", 5)};

// Escape, then the window's close, must each end the sheet through its cancel path.
void pressEscape(QWidget* sheet)
{
    QTest::keyClick(sheet, Qt::Key_Escape);
}

void closeWindow(QWidget* sheet)
{
    sheet->close();
}

// A window to hang the sheets on.
struct SheetHost {
    SheetHost()
    {
        window.resize(600, 400);
        window.show();
    }
    QWidget window;
};

// The answers the coordinator got for the question it asked.
struct AskedQuestion {
    std::optional<ConflictResolution> answer;
    bool finished = false;
};

QCoro::Task<> ask(OpenTransferCoordinator& coordinator, std::shared_ptr<AskedQuestion> asked)
{
    asked->answer = co_await coordinator.requestResolution(std::nullopt, QStringLiteral("IMG_1.jpg"),
                                                           QStringLiteral("DCIM"));
    asked->finished = true;
}

} // namespace

TEST(NewFolderSheet, HostileNamesKeepCreateDisabledAndReturnDoesNothing)
{
    SheetHost host;
    NewFolderSheet sheet(NewFolderSheet::Side::android, &host.window);
    QSignalSpy creates(&sheet, &NewFolderSheet::createRequested);
    sheet.present();
    for (const QString& name : hostileNames) {
        sheet.nameField()->setText(name);
        EXPECT_FALSE(sheet.createButton()->isEnabled()) << name.toStdString();
        QTest::keyClick(sheet.nameField(), Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible());
    }
    EXPECT_EQ(creates.count(), 0);
}

// Both name sheets say, under the field, why the typed name is refused: one short line per rule,
// typed as a person types it (the line follows every key).
TEST(NameSheets, SayUnderTheFieldWhyANameIsRefused)
{
    const struct {
        QString typed;
        QString reason; // empty: no reason shown
    } cases[] = {
        {QStringLiteral("a/b"), QStringLiteral("A name cannot contain \u201c/\u201d.")},
        {QStringLiteral(".."), QStringLiteral("\u201c..\u201d cannot be used as a name.")},
        {QStringLiteral("."), QStringLiteral("\u201c.\u201d cannot be used as a name.")},
        {QStringLiteral("   "), QStringLiteral("A name cannot be empty.")},
        {QStringLiteral("Holiday"), QString()},
    };
    SheetHost host;
    NewFolderSheet newFolder(NewFolderSheet::Side::local, &host.window);
    RenameSheet rename(&host.window);
    const struct {
        QDialog* sheet;
        QLineEdit* field;
        QLabel* reason;
        std::function<void()> present;
    } sheets[] = {
        {&newFolder, newFolder.nameField(), newFolder.reasonText(), [&newFolder] { newFolder.present(); }},
        {&rename, rename.nameField(), rename.reasonText(), [&rename] { rename.present(QStringLiteral("old.txt")); }},
    };
    for (const auto& sheet : sheets) {
        for (const auto& each : cases) {
            sheet.present();
            sheet.field->clear();
            EXPECT_TRUE(sheet.reason->isHidden()) << "nothing typed yet";
            QTest::keyClicks(sheet.field, each.typed);
            EXPECT_EQ(sheet.reason->isHidden(), each.reason.isEmpty()) << each.typed.toStdString();
            if (!each.reason.isEmpty()) {
                EXPECT_EQ(sheet.reason->text(), each.reason);
            }
            sheet.sheet->reject();
        }
    }
}

TEST(NewFolderSheet, CreatePassesTheNameTheSideExpects)
{
    SheetHost host;
    for (const auto& [side, expected] : {std::pair{NewFolderSheet::Side::android, QStringLiteral("Photos")},
                                         std::pair{NewFolderSheet::Side::local, QStringLiteral("  Photos ")}}) {
        NewFolderSheet sheet(side, &host.window);
        QSignalSpy creates(&sheet, &NewFolderSheet::createRequested);
        sheet.present();
        sheet.nameField()->setText(QStringLiteral("  Photos "));
        QTest::keyClick(sheet.nameField(), Qt::Key_Return);
        ASSERT_EQ(creates.count(), 1);
        EXPECT_EQ(creates[0][0].toString(), expected);
        EXPECT_FALSE(sheet.isVisible());
        // The next presentation starts empty.
        sheet.present();
        EXPECT_TRUE(sheet.nameField()->text().isEmpty());
    }
}

TEST(NewFolderSheet, EscapeAndWindowCloseCancelAndItOpensAgain)
{
    SheetHost host;
    NewFolderSheet sheet(NewFolderSheet::Side::local, &host.window);
    QSignalSpy cancels(&sheet, &NewFolderSheet::cancelled);
    QSignalSpy creates(&sheet, &NewFolderSheet::createRequested);
    for (void (*dismiss)(QWidget*) : {pressEscape, closeWindow}) {
        sheet.present();
        sheet.nameField()->setText(QStringLiteral("half typed"));
        dismiss(&sheet);
        EXPECT_FALSE(sheet.isVisible());
        sheet.present();
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_TRUE(sheet.nameField()->text().isEmpty());
        sheet.reject();
    }
    EXPECT_EQ(cancels.count(), 4);
    EXPECT_EQ(creates.count(), 0);
}

TEST(RenameSheet, OpensFilledAndRenamesOnlyToADifferentTrimmedName)
{
    SheetHost host;
    RenameSheet sheet(&host.window);
    QSignalSpy renames(&sheet, &RenameSheet::renameRequested);
    sheet.present(QStringLiteral("report.pdf"));
    sheet.nameField()->setText(QStringLiteral("left over"));
    pressEscape(&sheet);
    EXPECT_FALSE(sheet.isVisible());

    sheet.present(QStringLiteral("report.pdf"));
    EXPECT_EQ(sheet.nameField()->text(), QStringLiteral("report.pdf"));
    sheet.nameField()->setText(QStringLiteral(" report.pdf \n"));
    QTest::keyClick(sheet.nameField(), Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible()); // closed, nothing asked
    EXPECT_EQ(renames.count(), 0);

    sheet.present(QStringLiteral("report.pdf"));
    for (const QString& name : hostileNames) {
        sheet.nameField()->setText(name);
        EXPECT_FALSE(sheet.renameButton()->isEnabled()) << name.toStdString();
        QTest::keyClick(sheet.nameField(), Qt::Key_Return);
    }
    EXPECT_TRUE(sheet.isVisible());
    sheet.nameField()->setText(QStringLiteral("  final.pdf "));
    sheet.renameButton()->click();
    ASSERT_EQ(renames.count(), 1);
    EXPECT_EQ(renames[0][0].toString(), QStringLiteral("final.pdf"));

    closeWindow(&sheet); // already closed: nothing more happens
    sheet.present(QStringLiteral("other.txt"));
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.nameField()->text(), QStringLiteral("other.txt"));
}

TEST(DeleteConfirmation, TitlesMessagesAndCancelAsDefault)
{
    EXPECT_EQ(DeleteConfirmation::titleFor({QStringLiteral("a.txt")}), QStringLiteral("Delete a.txt?"));
    EXPECT_EQ(DeleteConfirmation::titleFor({QStringLiteral("a"), QStringLiteral("b")}), QStringLiteral("Delete 2 items?"));
    EXPECT_EQ(DeleteConfirmation::messageFor(DeleteConfirmation::Side::local),
              QStringLiteral("Move the selected items to the Trash? This cannot be undone from this app."));
    EXPECT_EQ(DeleteConfirmation::messageFor(DeleteConfirmation::Side::android),
              QStringLiteral("This will permanently delete the selected items from the Android device."));

    SheetHost host;
    DeleteConfirmation alert(DeleteConfirmation::Side::android, {QStringLiteral("a"), QStringLiteral("b")}, &host.window);
    QSignalSpy confirms(&alert, &DeleteConfirmation::confirmed);
    QSignalSpy cancels(&alert, &DeleteConfirmation::cancelled);
    EXPECT_EQ(alert.defaultButton(), alert.cancelButton());

    alert.open();
    QTest::keyClick(&alert, Qt::Key_Return); // the default answers Cancel
    alert.open();
    pressEscape(&alert);
    alert.open();
    closeWindow(&alert);
    EXPECT_EQ(cancels.count(), 3);
    EXPECT_EQ(confirms.count(), 0);

    alert.open();
    EXPECT_TRUE(alert.isVisible()); // it opens again after each way out
    alert.deleteButton()->click();
    EXPECT_EQ(confirms.count(), 1);
}

// A name that looks like markup is shown as it is, never as another name: every label that
// shows it renders plain text.
TEST(Sheets, ShowANameThatLooksLikeMarkupAsItIs)
{
    const QString name = QStringLiteral("<s>IMG_0001</s> &lt;2&gt;.jpg");
    SheetHost host;
    DeleteConfirmation alert(DeleteConfirmation::Side::android, {name}, &host.window);
    RenameSheet rename(&host.window);
    rename.present(name);
    ConflictResolutionSheet conflict(ConflictRequest(QUuid::createUuid(), std::nullopt, name, QStringLiteral("Camera")),
                                     &host.window);
    for (QWidget* sheet : QList<QWidget*>{&alert, &rename, &conflict}) {
        int shown = 0;
        for (const QLabel* label : sheet->findChildren<QLabel*>()) {
            if (!label->text().contains(name)) {
                continue;
            }
            ++shown;
            const bool rich = label->textFormat() == Qt::RichText ||
                              (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
            EXPECT_FALSE(rich) << sheet->objectName().toStdString() << ": " << label->text().toStdString();
        }
        EXPECT_GE(shown, 1) << sheet->objectName().toStdString();
    }
    rename.reject();
}

// In every kind of sheet each button that has the keyboard, reached with Tab as a person does,
// looks different from the same button without it, the default button (Return's) included: Space
// then presses the button the user sees marked, never another.
TEST(Sheets, TheButtonWithTheKeyboardIsMarked)
{
    SheetHost host;
    ConflictResolutionSheet conflict(
        ConflictRequest(QUuid::createUuid(), std::nullopt, QStringLiteral("a.jpg"), QStringLiteral("Camera")),
        &host.window);
    DeleteConfirmation deletion(DeleteConfirmation::Side::local, {QStringLiteral("notes.txt")}, &host.window);
    RenameSheet rename(&host.window);
    rename.present(QStringLiteral("old.txt")); // the name enables Rename
    rename.hide();
    const auto pressTab = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); };
    for (QDialog* sheet : QList<QDialog*>{&conflict, &deletion, &rename}) {
        sheet->open();
        sheet->activateWindow();
        ASSERT_TRUE(processEventsUntil([sheet] { return sheet->isActiveWindow(); }));
        const QList<QPushButton*> buttons = sheet->findChildren<QPushButton*>();
        EXPECT_GE(buttons.size(), 2);
        for (QPushButton* button : buttons) {
            SCOPED_TRACE((sheet->objectName() + u' ' + button->objectName()).toStdString());
            if (button->hasFocus()) {
                pressTab();
            }
            const QImage unmarked = button->grab().toImage();
            for (int press = 0; press < 8 && !button->hasFocus(); ++press) {
                pressTab();
            }
            ASSERT_TRUE(button->hasFocus());
            EXPECT_NE(button->grab().toImage(), unmarked);
        }
        sheet->hide();
    }
}

TEST(ConflictResolutionSheet, OnlyItsButtonsCloseIt)
{
    SheetHost host;
    ConflictResolutionSheet sheet(ConflictRequest(QUuid::createUuid(), std::nullopt, QStringLiteral("a.jpg"),
                                                  QStringLiteral("Camera")),
                                  &host.window);
    QSignalSpy answers(&sheet, &ConflictResolutionSheet::resolved);
    sheet.open();
    pressEscape(&sheet);
    closeWindow(&sheet);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.findChild<QLabel*>(QStringLiteral("conflictTitle"))->text(),
              QStringLiteral("\u201Ca.jpg\u201D already exists"));
    EXPECT_EQ(sheet.findChild<QLabel*>(QStringLiteral("conflictDestination"))->text(),
              QStringLiteral("An item with this name is already in \u201CCamera\u201D."));

    QTest::keyClick(&sheet, Qt::Key_Return); // Return answers Replace
    ASSERT_EQ(answers.count(), 1);
    EXPECT_EQ(answers[0][0].value<ConflictResolution>(), ConflictResolution::replace);
    EXPECT_FALSE(answers[0][1].toBool());
    EXPECT_FALSE(sheet.isVisible());
    sheet.findChild<QPushButton*>(QStringLiteral("skipButton"))->click();
    EXPECT_EQ(answers.count(), 1); // answered once only
}

TEST(ConflictSheetPresenter, EachButtonAnswersTheCoordinatorExactlyOnce)
{
    const struct {
        const char* button;
        bool tick;
        std::optional<ConflictResolution> expected;
    } cases[] = {
        {"skipButton", true, ConflictResolution::skip},
        {"keepBothButton", false, ConflictResolution::keepBoth},
        {"replaceButton", false, ConflictResolution::replace},
        {"cancelButton", false, std::nullopt},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.button);
        SheetHost host;
        CoordinatorRig rig;
        ConflictSheetPresenter presenter(&rig.coordinator, &host.window);
        auto asked = std::make_shared<AskedQuestion>();
        QCoro::Task<> question = ask(rig.coordinator, asked);
        ASSERT_TRUE(processEventsUntil([&] { return presenter.sheet() && presenter.sheet()->isVisible(); }));
        ConflictResolutionSheet* sheet = presenter.sheet();
        EXPECT_FALSE(sheet->applyToAllBox()->isChecked());
        sheet->applyToAllBox()->setChecked(row.tick);
        QPushButton* button = sheet->findChild<QPushButton*>(QString::fromLatin1(row.button));
        button->click();
        button->click(); // a second click of a closed sheet answers nothing
        ASSERT_TRUE(processEventsUntil([&] { return asked->finished; }));
        EXPECT_EQ(asked->answer, row.expected);
        EXPECT_FALSE(rig.coordinator.pendingConflict());
        EXPECT_FALSE(presenter.sheet());

        // A later question with the sticky answer is answered without a sheet; otherwise a new
        // sheet opens, unticked.
        if (row.expected && row.tick) {
            auto again = std::make_shared<AskedQuestion>();
            QCoro::Task<> next = ask(rig.coordinator, again);
            ASSERT_TRUE(processEventsUntil([&] { return again->finished; }));
            EXPECT_EQ(again->answer, ConflictResolution::skip);
            EXPECT_FALSE(presenter.sheet());
        }
    }
}

TEST(ConflictSheetPresenter, AQuestionClearedElsewhereClosesItsSheet)
{
    SheetHost host;
    CoordinatorRig rig;
    ConflictSheetPresenter presenter(&rig.coordinator, &host.window);
    auto asked = std::make_shared<AskedQuestion>();
    QCoro::Task<> question = ask(rig.coordinator, asked);
    ASSERT_TRUE(processEventsUntil([&] { return presenter.sheet() != nullptr; }));
    QPointer<ConflictResolutionSheet> first = presenter.sheet();
    rig.coordinator.cancelConflicts(); // e.g. the batch cancelled from the panel
    ASSERT_TRUE(processEventsUntil([&] { return asked->finished && !first; }));
    EXPECT_FALSE(asked->answer);

    // The next question opens a fresh sheet.
    auto next = std::make_shared<AskedQuestion>();
    QCoro::Task<> another = ask(rig.coordinator, next);
    ASSERT_TRUE(processEventsUntil([&] { return presenter.sheet() && presenter.sheet()->isVisible(); }));
    presenter.sheet()->findChild<QPushButton*>(QStringLiteral("keepBothButton"))->click();
    ASSERT_TRUE(processEventsUntil([&] { return next->finished; }));
    EXPECT_EQ(next->answer, ConflictResolution::keepBoth);
}
