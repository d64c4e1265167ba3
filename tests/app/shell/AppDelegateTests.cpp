#include "ShellTestSupport.h"

#include "infrastructure/InMemoryUserDefaults.h"
#include "shell/AppDelegate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillbarrow;

namespace {

const QString savedStateFolder = QStringLiteral("Library/Saved Application State");

// Makes <home>/Library/Saved Application State/<name> with one file inside; its path.
QString makeSavedState(const QDir& home, const QString& name)
{
    const QString folder = home.filePath(savedStateFolder + QLatin1Char('/') + name);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/windows.plist"));
    file.open(QIODevice::WriteOnly);
    file.write("state");
    return folder;
}

// Collects every message written while it lives.
struct MessageCapture {
    MessageCapture() { previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) { messages().append(message); }
    static QStringList& messages()
    {
        static QStringList collected;
        return collected;
    }
    QtMessageHandler previous;
};

} // namespace

TEST(AppDelegate, WithoutAnIdentifierTheDefaultSavedStateFolderIsRemovedAndOthersStay)
{
    QTemporaryDir home;
    const QString ours = makeSavedState(QDir(home.path()), QStringLiteral("com.quillbarrow.app.savedState"));
    const QString other = makeSavedState(QDir(home.path()), QStringLiteral("org.example.other.savedState"));

    AppDelegate::removeStaleSavedApplicationState(home.path(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(ours));
    EXPECT_TRUE(QFileInfo::exists(other + QStringLiteral("/windows.plist")));

    const QString named = makeSavedState(QDir(home.path()), QStringLiteral("org.example.quill.savedState"));
    AppDelegate::removeStaleSavedApplicationState(home.path(), QStringLiteral("org.example.quill"));
    EXPECT_FALSE(QFileInfo::exists(named));
}

TEST(AppDelegate, AMissingSavedStateFolderIsNoError)
{
    QTemporaryDir home;
    MessageCapture::messages().clear();
    {
        const MessageCapture capture;
        AppDelegate::removeStaleSavedApplicationState(home.path(), std::nullopt);
        AppDelegate::removeStaleSavedApplicationState(home.path() + QStringLiteral("/no such home"), std::nullopt);
    }
    EXPECT_TRUE(MessageCapture::messages().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("Library"))));
}

TEST(AppDelegate, ALinkInPlaceOfTheSavedStateIsRemovedWithoutTouchingWhereItPoints)
{
    QTemporaryDir home;
    QTemporaryDir elsewhere;
    QFile precious(elsewhere.filePath(QStringLiteral("precious.txt")));
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();
    QDir().mkpath(home.filePath(savedStateFolder));
    const QString link = home.filePath(savedStateFolder + QStringLiteral("/com.quillbarrow.app.savedState"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), link));

    AppDelegate::removeStaleSavedApplicationState(home.path(), std::nullopt);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(precious.fileName()));

    // An identifier that would climb out of the saved-state folder names nothing.
    const QString outside = makeSavedState(QDir(home.path()), QStringLiteral("../Documents.savedState"));
    AppDelegate::removeStaleSavedApplicationState(home.path(), QStringLiteral("../Documents"));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/windows.plist")));
}

TEST(AppDelegate, RestorationDefaultsAreSetAndOnlyExactWindowGeometryKeysRemoved)
{
    InMemoryUserDefaults defaults;
    defaults.setBool(QStringLiteral("NSQuitAlwaysKeepsWindows"), true);
    const QStringList removed = {QStringLiteral("NSWindow Frame Main"), QStringLiteral("NSWindow Frame "),
                                 QStringLiteral("NSSplitView Subview Frames Main, Sidebar")};
    const QStringList kept = {QStringLiteral("NSWindow FrameMain"), QStringLiteral("NSSplitView Subview FramesMain"),
                              QStringLiteral("nswindow frame main"), QStringLiteral("Old NSWindow Frame Main"),
                              QStringLiteral("localBrowser.lastDirectory")};
    for (const QString& key : removed + kept) {
        defaults.setString(key, QStringLiteral("value"));
    }

    AppDelegate::disableWindowRestorationDefaults(defaults);
    EXPECT_FALSE(defaults.boolValue(QStringLiteral("NSQuitAlwaysKeepsWindows")));
    EXPECT_TRUE(defaults.allKeys().contains(QStringLiteral("NSQuitAlwaysKeepsWindows")));
    EXPECT_TRUE(defaults.boolValue(QStringLiteral("ApplePersistenceIgnoreState")));
    for (const QString& key : removed) {
        EXPECT_FALSE(defaults.string(key).has_value()) << key.toStdString();
    }
    for (const QString& key : kept) {
        EXPECT_EQ(defaults.string(key), std::optional<QString>(QStringLiteral("value"))) << key.toStdString();
    }
}

TEST(AppDelegate, TheApplicationCleansUpWhenBuiltAndAgainWhenLaunched)
{
    QTemporaryDir home;
    const QString ours = makeSavedState(QDir(home.path()), QStringLiteral("com.quillbarrow.app.savedState"));
    quillbarrow::testing::ShellFixture fixture;
    fixture.defaults->setString(QStringLiteral("NSWindow Frame Main"), QStringLiteral("0 0 800 600"));
    // The application's home is the user's home folder, HOME here.
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    auto services = fixture.services();
    services.homePath = QDir::homePath();
    qputenv("HOME", savedHome);
    QuillbarrowApp app(services);
    EXPECT_FALSE(QFileInfo::exists(ours));
    EXPECT_FALSE(fixture.defaults->string(QStringLiteral("NSWindow Frame Main")));

    // Anything written in between is cleaned up again once launching has finished.
    makeSavedState(QDir(home.path()), QStringLiteral("com.quillbarrow.app.savedState"));
    fixture.defaults->setString(QStringLiteral("NSSplitView Subview Frames Main"), QStringLiteral("x"));
    app.finishLaunching();
    EXPECT_FALSE(QFileInfo::exists(ours));
    EXPECT_FALSE(fixture.defaults->string(QStringLiteral("NSSplitView Subview Frames Main")));
}
