#include "WholeWindowRig.h"

#include "chrome/ConflictResolutionSheet.h"
#include "chrome/ConflictSheetPresenter.h"
#include "chrome/TransferJobDelegate.h"
#include "chrome/TransferJobListModel.h"
#include "chrome/TransferPanel.h"
#include "domain/RemoteItem.h"
#include "panes/LocalPaneView.h"
#include "shell/MainWindow.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/transfers/TransferCoordinator.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <algorithm>

namespace quillbarrow::testing {

namespace {

QString fileLine(const QString& path, const QByteArray& bytes)
{
    return path + QStringLiteral(" = ") + QString::fromLatin1(bytes.toPercentEncoding());
}

void walkDevice(MockDeviceSession& session, const RemoteItem& folder, const QString& prefix,
                QStringList& lines)
{
    const QString here = prefix + folder.name + QLatin1Char('/');
    lines.append(here);
    const DirectoryPage page = runTask(session.listDirectory(folder.id, RemotePath(folder.storageID, {})));
    for (const RemoteItem& item : page.items) {
        if (item.kind == RemoteItemKind::folder) {
            walkDevice(session, item, here, lines);
            continue;
        }
        const std::optional<QByteArray> kept = session.content(item.id);
        const QByteArray bytes = kept.value_or(MockDeviceSession::downloadText(item));
        if (kept) {
            EXPECT_EQ(item.size, std::optional<qint64>(kept->size())) << (here + item.name).toStdString();
        }
        lines.append(fileLine(here + item.name, bytes));
    }
}

} // namespace

QList<TreeEntry> sampleTree(const QString& top)
{
    QByteArray binary;
    for (int value = 0; value < 256; ++value) {
        binary.append(static_cast<char>(value));
    }
    return {
        {top, std::nullopt},
        {top + QStringLiteral("/notes.txt"), QByteArray("Notes for the trip\n")},
        {top + QStringLiteral("/empty.txt"), QByteArray()},
        {top + QStringLiteral("/Photos"), std::nullopt},
        {top + QStringLiteral("/Photos/pixel.bin"), binary},
        {top + QStringLiteral("/Photos/Old"), std::nullopt},
        {top + QStringLiteral("/Photos/Old/list.csv"), QByteArray("a,b\n1,2\n")},
    };
}

QStringList localTree(const QString& folderPath)
{
    const QDir folder(folderPath);
    const QString top = folder.dirName();
    QStringList lines{top + QLatin1Char('/')};
    QDirIterator walk(folderPath, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QString relative = top + QLatin1Char('/') + folder.relativeFilePath(path);
        if (walk.fileInfo().isDir()) {
            lines.append(relative + QLatin1Char('/'));
            continue;
        }
        QFile file(path);
        lines.append(
            fileLine(relative, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>")));
    }
    // The device lists a folder's items in name order, its subfolders' items right after them.
    std::sort(lines.begin(), lines.end());
    return lines;
}

QStringList deviceTree(MockDeviceSession& session, const RemoteItem& folder)
{
    QStringList lines;
    walkDevice(session, folder, QString(), lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

void WholeWindowTest::SetUp()
{
    ASSERT_TRUE(trash.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(trash.path()));
    fixture = std::make_unique<ShellFixture>(MockMTPBackend::defaultDevices());
    QDir home(fixture->home.path());
    ASSERT_TRUE(home.mkpath(QStringLiteral("Work")));
    work = QDir(home.filePath(QStringLiteral("Work")));
    window = fixture->app->openWindow();
    window->show();
    ASSERT_TRUE(waitUntilShown(window));
    macPane = window->findChild<LocalPaneView*>();
    ASSERT_NE(macPane, nullptr);
    local().navigateTo(QUrl::fromLocalFile(work.path()));
    ASSERT_TRUE(processEventsUntil([this] { return !local().isLoading(); }));
    // The one mock device is chosen by itself and its storage root shown.
    ASSERT_TRUE(processEventsUntil([this] {
        return device().currentPage().has_value() && device().currentSession() != nullptr &&
               !device().isLoading();
    }));
}

void WholeWindowTest::TearDown()
{
    if (window) {
        window->close();
    }
    fixture.reset();
    qunsetenv("XDG_DATA_HOME");
}

LocalBrowserViewModel& WholeWindowTest::local()
{
    return fixture->app->localBrowser();
}

DeviceBrowserViewModel& WholeWindowTest::device()
{
    return fixture->app->deviceBrowser();
}

TransferCoordinator& WholeWindowTest::coordinator()
{
    return fixture->app->coordinator();
}

MockDeviceSession& WholeWindowTest::mockSession()
{
    return dynamic_cast<MockDeviceSession&>(*device().currentSession());
}

void WholeWindowTest::write(const QDir& root, const QList<TreeEntry>& entries)
{
    for (const TreeEntry& entry : entries) {
        if (!entry.bytes) {
            ASSERT_TRUE(root.mkpath(entry.path));
            continue;
        }
        QFile file(root.filePath(entry.path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << entry.path.toStdString();
        ASSERT_EQ(file.write(*entry.bytes), entry.bytes->size());
    }
}

void WholeWindowTest::writeOnDevice(const QList<TreeEntry>& entries)
{
    QTemporaryDir staging;
    write(QDir(staging.path()), entries);
    MockDeviceSession& session = mockSession();
    const StorageID storage = device().currentPage()->storage.id;
    QHash<QString, RemoteObjectID> folders;
    for (const TreeEntry& entry : entries) {
        const qsizetype slash = entry.path.lastIndexOf(QLatin1Char('/'));
        const QString name = entry.path.mid(slash + 1);
        const std::optional<RemoteObjectID> parent =
            slash < 0 ? std::nullopt : std::optional<RemoteObjectID>(folders.value(entry.path.left(slash)));
        if (!entry.bytes) {
            folders.insert(entry.path, runTask(session.createFolder(name, parent, storage)).id);
        } else {
            runTask(session.uploadFile(QDir(staging.path()).filePath(entry.path), name, parent, storage));
        }
    }
}

std::optional<RemoteItem> WholeWindowTest::deviceRootItem(const QString& name)
{
    const DirectoryPage root = runTask(mockSession().rootDirectory(device().currentPage()->storage.id));
    for (const RemoteItem& item : root.items) {
        if (item.name == name) {
            return item;
        }
    }
    return std::nullopt;
}

QStringList WholeWindowTest::deviceRootNames()
{
    QStringList names;
    const DirectoryPage root = runTask(mockSession().rootDirectory(device().currentPage()->storage.id));
    for (const RemoteItem& item : root.items) {
        names.append(item.name);
    }
    return names;
}

bool WholeWindowTest::waitForLocalRow(const QString& name)
{
    return processEventsUntil([this, &name] {
        const QList<LocalItem>& items = local().items();
        return std::any_of(items.begin(), items.end(),
                           [&name](const LocalItem& item) { return item.name == name; });
    });
}

void WholeWindowTest::answerConflict(const QString& fileName, const char* buttonName, bool applyToAll)
{
    ConflictSheetPresenter* presenter = window->conflictSheet();
    ASSERT_TRUE(processEventsUntil([presenter] {
        return presenter->sheet() && presenter->sheet()->isVisible();
    })) << "no question about "
        << fileName.toStdString();
    ConflictResolutionSheet* sheet = presenter->sheet();
    EXPECT_EQ(sheet->findChild<QLabel*>(QStringLiteral("conflictTitle"))->text(),
              QStringLiteral("\u201C") + fileName + QStringLiteral("\u201D already exists"));
    auto* box = sheet->findChild<QCheckBox*>(QStringLiteral("applyToAllBox"));
    EXPECT_FALSE(box->isChecked()); // every question starts unticked
    if (applyToAll) {
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(4, box->height() / 2));
        EXPECT_TRUE(box->isChecked());
    }
    QTest::mouseClick(sheet->findChild<QPushButton*>(QString::fromLatin1(buttonName)), Qt::LeftButton);
    // The sheet goes once the coordinator has taken the answer.
    const QPointer<ConflictResolutionSheet> answered(sheet);
    ASSERT_TRUE(processEventsUntil([&answered] { return answered.isNull() || !answered->isVisible(); }));
}

QStringList WholeWindowTest::panelRows()
{
    const TransferJobListModel* model = window->transferPanel()->model();
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row);
        rows.append(index.data(Qt::DisplayRole).toString() + QStringLiteral(": ") +
                    index.data(TransferJobListModel::StateLineRole).toString());
    }
    return rows;
}

void WholeWindowTest::clickCancelInPanel(const QString& name)
{
    QListView* view = window->transferPanel()->listView();
    const TransferJobListModel* model = window->transferPanel()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row);
        if (index.data(Qt::DisplayRole).toString() != name) {
            continue;
        }
        view->scrollTo(index);
        const QRect button =
            TransferJobDelegate::layout(view->visualRect(index), index, view->font()).cancelButton;
        ASSERT_FALSE(button.isEmpty()) << "the row of " << name.toStdString() << " has no cancel button";
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, button.center());
        return;
    }
    ADD_FAILURE() << "no panel row " << name.toStdString();
}

} // namespace quillbarrow::testing
