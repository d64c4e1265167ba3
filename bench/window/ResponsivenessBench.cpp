// How long the window's main thread stays busy on big folders and big pastes, each beside its
// baseline, in one run:
//
//   quillbarrow_bench_responsiveness [--rows N] [--entries N,N] [--subfolders N,N]
//                                    [--phone-entries N] [--phone-folders N] [--paint-files N]
//                                    [--copies 1000,8000,32000] [--uploads 8000,32000] [--rounds N]
//                                    [--size-folders N]
//                                    [--only select,subfolders,phone,sort,open,type,phone-show,
//                                            phone-refresh,phone-sort,leave,phone-select,
//                                            leave-selected,sizes,refresh,paint,local,device]
//
// The time runs from the input until its results have landed (for a listing or a sort: the last
// row in its place). The longest stall is the largest gap between the ticks of a 1 ms timer on the
// main thread over that time and a few turns after it (so 1 ms is the floor); for the header
// clicks, the folder openings, the phone refresh and the leavings also until the work pool is idle
// and 200 ms after that, for the work the window does once the rows have landed. While the
// benchmark waits, its thread sleeps. Run it under `taskset -c` to give it one CPU or two: the
// first line says how many it has. Measured:
//   - Ctrl+A in the computer pane of the whole window over a folder of N files (100,000 by default),
//     until the pane has the whole selection; the table alone (NativeTable, Ctrl+A until its
//     selection is written into the binding); plain QTableView::selectAll over as many rows (the
//     plain side times selectAll and the turns that follow it; its count is checked afterwards).
//   - Ctrl+A in a folder of E entries of which S are subfolders (10,000 with 200 and 20,000 with
//     400 by default), until every subfolder is measured and shown; beside it plain selectAll over
//     E rows alone, which measures nothing (the figure says what selecting costs, not measuring).
//   - The phone pane over a folder of E entries of which F are subfolders (10,000 and 2,000 by
//     default) on a pretend device that answers from a worker thread: from the folder shown until
//     the automatic pass has measured every subfolder and the table shows the sizes, sorted by name
//     and by size (descending); beside the wall time, the main thread's own processor time.
//   - A click on the size column's header at N rows of varied names, sizes and dates, until the
//     table shows the new order (checked afterwards against the browser order, and that most rows
//     moved); plain QTableView with sorting on over a QStandardItemModel of the same rows.
//   - Opening a folder of N such files in the computer pane, until the table shows every row;
//     plain QTableView over QFileSystemModel, until it has every row.
//   - The phone pane over a pretend phone (BigFolderSession: each listing made anew on a worker
//     thread) whose root holds a folder of N such files and 11 more files, the rows in the browser
//     order by name: Return on the folder's row, until the table shows its last row in order
//     (phone-show; checked that the phone had not listed the folder before); F5 in it, the phone
//     listing the same items again, until the pane has taken them (phone-refresh); a click on the
//     size header, until every row is in the order by size (phone-sort; checked against the
//     browser order, and that most rows moved); Backspace, until the root's 12 rows show (leave).
//     Plain, on the same rows: a new QStandardItemModel built and set on a QTableView; built and
//     set again; the view sorting it by byte count after a header click; a model of the 12 rows
//     set in place of the big one (the big one deleted).
//   - Leaving that folder of N files in the computer pane for its parent of 12 entries (leave),
//     Backspace until the table shows them; plain: a model of 12 rows in place of one of N.
//   - Ctrl+A in the phone's big folder (phone-select), and then leaving it with every row selected
//     (leave-selected), Backspace until the root's 12 rows show; plain: selectAll, and a model of
//     12 rows in place of one of N with every row selected.
//   - The sizes of folders arriving at N rows (sizes), in each pane: a folder of N entries of
//     which F (400 by default) are folders of three files, sorted by name and by size (a header
//     click after the folder showed), every row selected with Ctrl+A, which has the selected
//     folders measured; from Ctrl+A until every folder's size shows in its row (checked: each
//     size right, no row moved). The longest stall is the one while the sizes arrive, from the
//     turn after the pane announced its folders as being measured on (Ctrl+A's own is a detail
//     line). Plain: the same rows in a QStandardItemModel sorted by byte count, every row
//     selected, each folder's size set in its cell as a worker thread measures it (on disk for
//     the computer's, one folder at a time for the phone's), one setData per arrival.
//   - Typing a name of 16 characters, a key every 40 ms, in the computer pane over that folder and
//     in the phone pane over the pretend phone's (type), its first row clicked: each key until the
//     pane's selection is the row the keyboard is on; the longest key, and whether the keyboard
//     ended on the name. Plain: a QTableView over a QStandardItemModel of the same rows.
//   - F5 in the computer pane over a folder of N such files after 1% of them changed on disk
//     (refresh: a third deleted, a third with a new file beside them, a third grown), with rows
//     selected in the middle, until the table shows the new listing (checked, with the selection
//     kept); plain: a new QStandardItemModel of the rows read anew.
//   - The window repainting every 16 ms while a folder of P files (10,000 by default) is pasted
//     into the shown folder through the pane, until the pane lists it; plain: the same copy as one
//     job on Qt's shared pool (QThreadPool::globalInstance(), as QtConcurrent::run would), which
//     Qt's painter also splits its fills over.
//   - Pastes into a local folder: one folder of 1,000 / 8,000 / 32,000 files, and the largest as
//     that many files selected one by one, against `cp -r` of the same folder.
//   - Pastes of a folder of 8,000 / 32,000 files to the mock device (a session that answers at
//     once, as QUILLBARROW_BACKEND=mock does).
// Figures are medians over the rounds. Prints detail lines and a Markdown table. Exits 1 when
// something fails (the reason on stderr). Never judges a time.

#include "../BenchFailure.h"
#include "../ChildProcess.h"
#include "../CoordinatorRig.h"
#include "../MemoryMeter.h"
#include "../Samples.h"
#include "../StallMeter.h"
#include "../scale/WorkerMockSession.h"
#include "BigFolderSession.h"
#include "async/Allocator.h"
#include "async/WorkPool.h"
#include "domain/BrowserSort.h"
#include "infrastructure/InMemoryUserDefaults.h"
#include "panes/AndroidPaneView.h"
#include "panes/LocalPaneView.h"
#include "shell/MainWindow.h"
#include "shell/QuillbarrowApp.h"
#include "style/ListingFormat.h"
#include "style/SymbolIcons.h"
#include "table/LocalItemTable.h"
#include "table/NativeTable.h"
#include "table/RemoteItemTable.h"
#include "transport/MockDeviceSession.h"
#include "transport/MockMTPBackend.h"
#include "viewmodels/devicebrowser/DeviceBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalBrowserViewModel.h"
#include "viewmodels/localbrowser/LocalDirectoryReader.h"
#include "viewmodels/transfers/Clipboard.h"
#include "viewmodels/transfers/TransferQueue.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>
#include <QtTest/QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillbarrow {

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int rows = 100'000;
    // Pairs of a folder's entries and how many of them are subfolders.
    QList<int> entries{10'000, 20'000};
    QList<int> subfolders{200, 400};
    int phoneEntries = 10'000;
    int phoneFolders = 2'000;
    int paintFiles = 10'000;
    QList<int> copies{1'000, 8'000, 32'000};
    QList<int> uploads{8'000, 32'000};
    // How many of the entries of the folders of the sizes rows are folders.
    int sizeFolders = 400;
    int rounds = 1;
    // The measurements to run (all when empty): select, subfolders, phone, sort, open, phone-show,
    // phone-refresh, phone-sort, leave, phone-select, leave-selected, phone-memory, sizes, paint,
    // local, device.
    QStringList only;
    // Set in a child of phone-memory: the side it measures (ours or plain).
    QString memorySide;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

// Runs an event loop until `done` holds, asking it each time the loop is about to wait; throws
// after `seconds`. The thread sleeps while it has nothing to do, so that on one CPU the waiting
// leaves the processor to the work it waits for. A timer wakes the loop at least every 5 ms, for a
// `done` that another thread makes true without sending an event. Being a loop of its own, it
// also deletes what was handed to deleteLater, as the application's loop does.
void turnUntil(const std::function<bool()>& done, const QString& what, int seconds = 600)
{
    if (done()) {
        return;
    }
    QEventLoop loop;
    bool finished = false;
    const auto check = [&] {
        if (!finished && done()) {
            finished = true;
            loop.quit();
        }
    };
    const QMetaObject::Connection asking =
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, check);
    QTimer wake;
    wake.setInterval(5);
    QObject::connect(&wake, &QTimer::timeout, &loop, check);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start();
    limit.start(seconds * 1000);
    loop.exec();
    QObject::disconnect(asking);
    if (!finished && !done()) {
        throw BenchFailure(what + QStringLiteral(": did not finish"));
    }
}

// A few more turns so that work queued for later turns (a coalesced publish) lands too.
void settle()
{
    for (int turn = 0; turn < 5; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

// One measured action: wall time from the start until `landed`, and the longest stall.
struct Measured {
    double seconds = 0;
    double stallMs = 0;
};

// How long the stall meter keeps watching after an action has landed and the work pool has gone
// quiet, for the window's own follow-up (old rows released in slices, a selection handed back).
constexpr std::chrono::milliseconds followUp{200};

// Holds once `landed` has held on two checks in a row with the work pool idle, so that work the
// pool is about to hand back to the main thread is waited for too.
std::function<bool()> landedQuietly(std::function<bool()> landed)
{
    auto inARow = std::make_shared<int>(0);
    return [landed = std::move(landed), inARow] {
        if (!landed() || workPool().activeThreadCount() != 0) {
            *inARow = 0;
            return false;
        }
        return ++*inARow >= 2;
    };
}

// Sleeps in the event loop for `duration`, the stall meter running.
void watchFor(std::chrono::milliseconds duration)
{
    QTimer stretch;
    stretch.setSingleShot(true);
    stretch.start(duration);
    turnUntil([&] { return !stretch.isActive(); }, QStringLiteral("a quiet stretch"));
}

// The time runs from `act` until `landed` first holds; the longest stall covers that time and a few
// turns after it, and with `watchFollowUp` also the stretch until the work pool is idle and
// `followUp` after that.
Measured measure(bench::StallMeter& heartbeat, const std::function<void()>& act, const std::function<bool()>& landed,
                 const QString& what, bool watchFollowUp = false)
{
    heartbeat.start();
    const Clock::time_point start = Clock::now();
    act();
    turnUntil(landed, what);
    const Clock::time_point end = Clock::now();
    settle();
    if (watchFollowUp) {
        turnUntil(landedQuietly([] { return true; }), what + QStringLiteral(": the work after it"));
        watchFor(followUp);
    }
    return Measured{std::chrono::duration<double>(end - start).count(), heartbeat.stop()};
}

void makeFiles(const QString& folder, int count, const QString& prefix = QStringLiteral("IMG_"))
{
    if (!QDir().mkpath(folder)) {
        throw BenchFailure(QStringLiteral("cannot create ") + folder);
    }
    for (int index = 0; index < count; ++index) {
        const QByteArray path =
            QFile::encodeName(folder + QLatin1Char('/') + prefix + QStringLiteral("%1.jpg").arg(index, 6, 10, QLatin1Char('0')));
        const int descriptor = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const QByteArray bytes = QByteArray::number(index).rightJustified(16, '0');
        if (descriptor < 0 || ::write(descriptor, bytes.constData(), bytes.size()) != bytes.size()) {
            throw BenchFailure(QStringLiteral("cannot write in ") + folder);
        }
        ::close(descriptor);
    }
}

// One file of a folder made by makeVariedFiles, as it is on disk.
struct MadeFile {
    QString name;
    qint64 size = 0;
    QDateTime modified;
};

// Files named, sized and dated as a person's folder is: several name patterns with numbers, some
// differing only in letter case or in their digits; sizes up to 50 MB, one file in ten of the same
// 4,096 bytes (so that equal sizes fall back to the names); dates over five years. In the order
// made (no sorted order); the same `count` gives the same files every time.
QList<MadeFile> variedFiles(int count)
{
    static const char* const stems[] = {"IMG_", "img_", "Report ", "DSC", "notes-", "Zebra ", "zebra ", "a"};
    static const char* const extensions[] = {".jpg", ".JPG", ".pdf", ".txt", ".mp4", ""};
    QRandomGenerator random(44);
    const qint64 newest = QDateTime(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
    QList<MadeFile> made;
    made.reserve(count);
    for (int index = 0; index < count; ++index) {
        MadeFile file;
        file.name = QLatin1StringView(stems[random.bounded(8)]) + QString::number(random.bounded(100'000)) +
                    QLatin1Char('.') + QString::number(index) + QLatin1StringView(extensions[random.bounded(6)]);
        file.size = random.bounded(10) == 0 ? 4'096 : static_cast<qint64>(random.bounded(50'000'000));
        file.modified = QDateTime::fromSecsSinceEpoch(newest - random.bounded(5 * 365 * 86'400), Qt::UTC);
        made.append(std::move(file));
    }
    return made;
}

// Makes `file` at `path`, sparse, with its date.
void makeSparseFile(const QString& path, const MadeFile& file)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const qint64 seconds = file.modified.toSecsSinceEpoch();
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    const bool made = descriptor >= 0 && ::ftruncate(descriptor, file.size) == 0 && ::futimens(descriptor, times) == 0;
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    if (!made) {
        throw BenchFailure(QStringLiteral("cannot write ") + path);
    }
}

// Makes the varied files of `variedFiles(count)` in `folder`, sparse, so that making them is
// quick, and gives them in the order made.
QList<MadeFile> makeVariedFiles(const QString& folder, int count)
{
    if (!QDir().mkpath(folder)) {
        throw BenchFailure(QStringLiteral("cannot create ") + folder);
    }
    const QList<MadeFile> made = variedFiles(count);
    for (const MadeFile& file : made) {
        makeSparseFile(folder + QLatin1Char('/') + file.name, file);
    }
    return made;
}

// The files beside the big folder in its parent: with it, 12 entries.
QList<MadeFile> parentFiles()
{
    QList<MadeFile> files;
    for (int index = 0; index < 11; ++index) {
        files.append(MadeFile{QStringLiteral("note %1.txt").arg(index + 1, 2, 10, QLatin1Char('0')),
                              1'000LL * (index + 1),
                              QDateTime(QDate(2024, 5, 1 + index), QTime(9, 30), Qt::UTC)});
    }
    return files;
}

// The CPUs this process may run on (what `taskset -c` left it).
int usableCPUs()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : QThread::idealThreadCount();
}

// Rows of three plain columns, as cheap as a model can be: the baseline of selecting.
class PlainRowsModel final : public QAbstractTableModel {
public:
    explicit PlainRowsModel(int rows) : m_rows(rows) {}
    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(index.row() * 3 + index.column()) : QVariant();
    }

private:
    int m_rows;
};

Measured plainSelectAll(bench::StallMeter& heartbeat, int rows)
{
    PlainRowsModel model(rows);
    QTableView view;
    view.setModel(&model);
    view.resize(900, 600);
    view.show();
    settle();
    // Only selectAll and the turns after it are timed; the count is checked once they are over.
    const Measured measured =
        measure(heartbeat, [&] { view.selectAll(); }, [] { return true; }, QStringLiteral("plain select all"));
    if (view.selectionModel()->selectedRows().size() != rows) {
        throw BenchFailure(QStringLiteral("plain select all left rows unselected"));
    }
    return measured;
}

// Plain Qt showing a folder: QTableView over QFileSystemModel, from the root path set until the
// model has every entry.
Measured plainOpen(bench::StallMeter& heartbeat, const QString& folder, int entries)
{
    QFileSystemModel model;
    QTableView view;
    view.setModel(&model);
    view.setSortingEnabled(true);
    view.sortByColumn(0, Qt::AscendingOrder);
    view.resize(900, 600);
    view.show();
    settle();
    QModelIndex root;
    return measure(
        heartbeat,
        [&] {
            root = model.setRootPath(folder);
            view.setRootIndex(root);
        },
        [&] { return model.rowCount(root) == entries; }, QStringLiteral("plain folder open"), true);
}

// How far apart a person's keys are when typing a name.
constexpr std::chrono::milliseconds keySpacing{40};

// A name to type among `names` (in the order shown): the last one of 16 characters, without a
// space (a space also selects), that begins no other name (Qt's search ignores letter case), so
// that typing it whole can go to that name alone. The earlier in the order a name's letters first
// match, the more rows its first keys pass by; the last such name makes them pass by the most.
QString nameToType(const QStringList& names)
{
    for (qsizetype index = names.size() - 1; index >= 0; --index) {
        const QString& name = names[index];
        if (name.size() != 16 || name.contains(u' ')) {
            continue;
        }
        const bool beginsAnother = std::any_of(names.begin(), names.end(), [&name](const QString& other) {
            return other.size() > name.size() && other.startsWith(name, Qt::CaseInsensitive);
        });
        if (!beginsAnother) {
            return name;
        }
    }
    throw BenchFailure(QStringLiteral("no name of 16 characters to type"));
}

// A name typed by a person.
struct Typed {
    // The longest key: from its press until it had landed, and the longest stall over its time.
    Measured longestKey;
    // The row the keyboard ended on shows the name typed.
    bool landed = false;
};

// Types `name` into `window` as a person does, a key every keySpacing (or at once after a key that
// took longer: the window system holds keys that come meanwhile). Each key is timed until
// `keyLanded` holds; `currentName` gives the name on the row the keyboard is on.
Typed typeName(bench::StallMeter& heartbeat, QWindow* window, const QString& name,
               const std::function<bool()>& keyLanded, const std::function<QString()>& currentName)
{
    Typed typed;
    Clock::time_point due = Clock::now();
    for (const QChar key : name) {
        const auto early = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        if (early.count() > 0) {
            watchFor(early);
        }
        due = Clock::now() + keySpacing;
        const Measured measured = measure(
            heartbeat, [&] { QTest::keyClick(window, key.toLatin1()); }, keyLanded, QStringLiteral("a typed key"));
        typed.longestKey.seconds = std::max(typed.longestKey.seconds, measured.seconds);
        typed.longestKey.stallMs = std::max(typed.longestKey.stallMs, measured.stallMs);
    }
    typed.landed = currentName() == name;
    return typed;
}

// Names typed over the rounds of one row.
struct TypingSamples {
    void add(const Typed& typed)
    {
        key.add(typed.longestKey.seconds);
        stall.add(typed.longestKey.stallMs);
        landed += typed.landed ? 1 : 0;
        ++rounds;
    }
    // The longest key's median, and on how many rounds the typing ended on the name.
    QString keyText(const QString& what = QString()) const
    {
        return QStringLiteral("%1 ms%2, on the name %3 of %4")
            .arg(key.median() * 1000, 0, 'f', 1)
            .arg(what.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(what))
            .arg(landed)
            .arg(rounds);
    }
    Samples key;
    Samples stall;
    int landed = 0;
    int rounds = 0;
};

// Types `name` into a pane's table as typeName() does, each key until the pane's selection is the
// row the keyboard is on.
template <typename Table, typename Pane>
Typed typeIntoPane(bench::StallMeter& heartbeat, QWindow* window, Table& table, Pane& pane, const QString& name)
{
    using Item = std::remove_cvref_t<decltype(table.itemModel()->item(0))>;
    const auto current = [&table]() -> const Item* {
        const QModelIndex index = table.currentIndex();
        return index.isValid() ? &table.itemModel()->item(index.row()) : nullptr;
    };
    return typeName(
        heartbeat, window, name,
        [&] { return current() && pane.selection() == QSet<typename Table::ID>{current()->id}; },
        [&] { return current() ? current()->name : QString(); });
}

// Plain Qt over the same rows as a pane: a QTableView over a QStandardItemModel of names, byte
// counts and dates (`asShown`: the texts the pane shows, the name with its icon and the size and
// date formatted, the byte count kept for the sort, each name a text of its own, as a listing
// decoded it). Each new listing is a new model, filled before the view gets it (the quickest way
// plain Qt has to show many rows); the old one is deleted with it.
class PlainTable {
public:
    explicit PlainTable(bool asShown = false) : m_asShown(asShown)
    {
        // A listing of files, not a sheet: a typed key searches the rows, it does not edit a cell.
        m_view.setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_view.setModel(m_model.get());
        m_view.resize(900, 600);
        m_view.show();
        settle();
    }

    // The model holds `rows` (in their order), shown.
    void show(const QList<MadeFile>& rows)
    {
        auto next = std::make_unique<QStandardItemModel>(static_cast<int>(rows.size()), 3);
        next->setSortRole(sortRole());
        for (int row = 0; row < rows.size(); ++row) {
            const MadeFile& file = rows[row];
            const std::optional<qint64> bytes = file.size >= 0 ? std::optional(file.size) : std::nullopt;
            if (m_asShown) {
                const QString name(file.name.constData(), file.name.size());
                auto* named = new QStandardItem(SymbolIcons::icon(bytes ? QStringLiteral("doc") : QStringLiteral("folder")),
                                                name);
                named->setData(name, sortRole());
                next->setItem(row, 0, named);
                auto* size = new QStandardItem(ListingFormat::sizeText(bytes));
                size->setData(bytes.value_or(-1), sortRole());
                next->setItem(row, 1, size);
                next->setItem(row, 2, new QStandardItem(ListingFormat::dateText(file.modified)));
                continue;
            }
            next->setItem(row, 0, new QStandardItem(file.name));
            auto* size = new QStandardItem;
            if (bytes) {
                size->setData(*bytes, Qt::DisplayRole);
            }
            next->setItem(row, 1, size);
            auto* date = new QStandardItem;
            date->setData(file.modified, Qt::DisplayRole);
            next->setItem(row, 2, date);
        }
        m_view.setModel(next.get());
        m_model = std::move(next);
    }

    // A click on the size header, the view sorting by that column (by byte count), until the
    // header shows it. The rows are first sorted by name with sorting switched on, untimed, and
    // afterwards put back in the order they were added: Qt 6.4 takes seconds to delete a sorted
    // model of 100,000 rows (each item looks for its row among all of them), which is no part of
    // what the rows compare.
    Measured clickSize(bench::StallMeter& heartbeat, bool keepSorted = false)
    {
        constexpr int addedAs = Qt::UserRole + 1; // see putBackInAddedOrder()
        for (int row = 0; row < m_model->rowCount(); ++row) {
            m_model->item(row, 0)->setData(row, addedAs);
        }
        QHeaderView* header = m_view.horizontalHeader();
        header->setSortIndicator(0, Qt::AscendingOrder);
        m_view.setSortingEnabled(true);
        settle();
        const int rows = m_model->rowCount();
        QList<QVariant> before;
        before.reserve(rows);
        for (int row = 0; row < rows; ++row) {
            before.append(m_model->index(row, 0).data());
        }
        const QRect section(header->sectionViewportPosition(1), 0, header->sectionSize(1), header->height());
        const Measured measured = measure(
            heartbeat, [&] { QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, section.center()); },
            [&] { return header->sortIndicatorSection() == 1; }, QStringLiteral("plain sort"), true);
        const bool ascending = header->sortIndicatorOrder() == Qt::AscendingOrder;
        int moved = 0;
        for (int row = 0; row < rows; ++row) {
            const qint64 size = m_model->index(row, 1).data(sortRole()).toLongLong();
            if (row > 0) {
                const qint64 previous = m_model->index(row - 1, 1).data(sortRole()).toLongLong();
                if (ascending ? previous > size : previous < size) {
                    throw BenchFailure(QStringLiteral("plain sort: row %1 out of order by size").arg(row));
                }
            }
            moved += m_model->index(row, 0).data() != before[row] ? 1 : 0;
        }
        if (rows > 2 && moved < rows / 2) {
            throw BenchFailure(QStringLiteral("plain sort moved only %1 of %2 rows").arg(moved).arg(rows));
        }
        m_view.setSortingEnabled(false);
        if (!keepSorted) {
            putBackInAddedOrder();
        }
        return measured;
    }

    // The rows sorted by clickSize() back where they were added (untimed).
    void putBackInAddedOrder()
    {
        m_model->setSortRole(Qt::UserRole + 1);
        m_model->sort(0);
        m_model->setSortRole(sortRole());
    }

    // QTableView::selectAll, then the turns after it; checked afterwards that every row is selected.
    Measured selectAll(bench::StallMeter& heartbeat)
    {
        const Measured measured = measure(
            heartbeat, [&] { m_view.selectAll(); }, [] { return true; }, QStringLiteral("plain select all"));
        if (m_view.selectionModel()->selectedRows().size() != m_model->rowCount()) {
            throw BenchFailure(QStringLiteral("plain select all left rows unselected"));
        }
        return measured;
    }

    // Every row selected, then the size of each of `folders` (named as their rows) set in its row
    // where the row stands, one cell per arrival, as `bytesOf` gives it on `threads` worker threads
    // of a pool of its own: from the first job started until the last size is set. The rows are
    // sorted by byte count first (clickSize(), untimed here) and put back afterwards.
    Measured fillSizes(bench::StallMeter& heartbeat, const QStringList& folders, int threads,
                       const std::function<qint64(const QString& name)>& bytesOf)
    {
        clickSize(heartbeat, true);
        m_view.selectAll();
        settle();
        QHash<QString, int> rowOf;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            rowOf.insert(m_model->item(row, 0)->text(), row);
        }
        QThreadPool workers;
        workers.setMaxThreadCount(threads);
        int arrived = 0;
        const auto start = [&] {
            for (const QString& name : folders) {
                const int row = rowOf.value(name, -1);
                if (row < 0) {
                    throw BenchFailure(QStringLiteral("plain sizes: no row named ") + name);
                }
                workers.start([this, &bytesOf, &arrived, name, row] {
                    const qint64 bytes = bytesOf(name);
                    QMetaObject::invokeMethod(
                        &m_view,
                        [this, &arrived, row, bytes] {
                            QStandardItem* size = m_model->item(row, 1);
                            if (m_asShown) {
                                size->setText(ListingFormat::sizeText(bytes));
                            }
                            size->setData(bytes, sortRole());
                            ++arrived;
                        },
                        Qt::QueuedConnection);
                });
            }
        };
        const Measured measured = measure(
            heartbeat, start, [&] { return arrived == folders.size(); }, QStringLiteral("plain sizes"), true);
        workers.waitForDone();
        m_view.clearSelection();
        putBackInAddedOrder();
        return measured;
    }

    // A click on the first row, then `name` typed as a person types it (typeName()).
    Typed type(bench::StallMeter& heartbeat, const QString& name)
    {
        m_view.activateWindow();
        turnUntil([this] { return m_view.isActiveWindow(); }, QStringLiteral("the plain table's window"));
        QTest::mouseClick(m_view.viewport(), Qt::LeftButton, {}, m_view.visualRect(m_model->index(0, 0)).center());
        settle();
        return typeName(
            heartbeat, m_view.windowHandle(), name,
            [this] { return m_view.selectionModel()->isSelected(m_view.currentIndex()); },
            [this] { return m_view.currentIndex().siblingAtColumn(0).data().toString(); });
    }

private:
    int sortRole() const { return m_asShown ? Qt::UserRole : Qt::DisplayRole; }

    const bool m_asShown;
    std::unique_ptr<QStandardItemModel> m_model = std::make_unique<QStandardItemModel>();
    QTableView m_view;
};

// The window over the mock backend, with a temporary home and in-memory settings.
class WindowRig {
public:
    WindowRig()
    {
        QuillbarrowApp::Services services;
        services.homePath = m_home.path();
        services.preferences = std::make_shared<InMemoryUserDefaults>();
        services.chooseBackend = [] {
            return AppEnvironment(std::make_shared<MockMTPBackend>(MockMTPBackend::defaultDevices()), BackendMode::mock);
        };
        services.openedFilesCacheDirectory = m_opened.path();
        m_app = std::make_unique<QuillbarrowApp>(services);
        m_window = m_app->openWindow();
        m_window->show();
        turnUntil([this] { return m_window->windowHandle() != nullptr && m_window->isVisible(); }, QStringLiteral("window"));
        m_window->activateWindow();
        turnUntil([this] { return m_window->isActiveWindow(); }, QStringLiteral("window activation"));
        m_pane = m_window->findChild<LocalPaneView*>();
        m_table = m_pane ? m_pane->table() : nullptr;
        if (!m_pane || !m_table) {
            throw BenchFailure(QStringLiteral("the window has no computer pane"));
        }
    }

    ~WindowRig()
    {
        m_window->close();
        m_app.reset();
    }

    QuillbarrowApp& app() { return *m_app; }
    LocalBrowserViewModel& browser() { return m_app->localBrowser(); }
    LocalPaneView& pane() { return *m_pane; }
    LocalItemTable& table() { return *m_table; }
    QWidget& window() { return *m_window; }

    // Shows `folder` and clicks the row `clickedRow`.
    void show(const QString& folder, int entries, int clickedRow = 0)
    {
        browser().navigateTo(QUrl::fromLocalFile(folder));
        try {
            turnUntil([&] { return browser().items().size() == entries && table().itemModel()->rowCount() == entries; },
                      QStringLiteral("listing ") + folder, 60);
        } catch (const BenchFailure&) {
            throw BenchFailure(QStringLiteral("listing %1: %2 items shown of %3 in %4")
                                   .arg(folder)
                                   .arg(table().itemModel()->rowCount())
                                   .arg(entries)
                                   .arg(browser().currentDirectory().toLocalFile()));
        }
        settle();
        // The pane takes keys once it has the focus, as after a click in it.
        table().scrollTo(table().itemModel()->index(clickedRow, 0));
        settle();
        const QRect cell = table().visualRect(table().itemModel()->index(clickedRow, 0));
        QTest::mouseClick(table().viewport(), Qt::LeftButton, {}, cell.center());
        settle();
        // A person acts once the window has done its own work on the folder shown.
        turnUntil([] { return workPool().activeThreadCount() == 0; }, QStringLiteral("the window's work on ") + folder);
        settle();
    }

    void pressSelectAll() { QTest::keyClick(m_window->windowHandle(), Qt::Key_A, Qt::ControlModifier); }
    void pressKey(Qt::Key key) { QTest::keyClick(m_window->windowHandle(), key); }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_opened;
    std::unique_ptr<QuillbarrowApp> m_app;
    MainWindow* m_window = nullptr;
    LocalPaneView* m_pane = nullptr;
    LocalItemTable* m_table = nullptr;
};

bool foldersMeasured(LocalBrowserViewModel& browser)
{
    if (!browser.calculatingFolderSizeIDs().isEmpty()) {
        return false;
    }
    const QList<LocalItem>& items = browser.items();
    return std::all_of(items.begin(), items.end(), [](const LocalItem& item) {
        return item.kind != RemoteItemKind::folder || item.size.has_value();
    });
}

// The processor time the calling thread has used, in seconds.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

AndroidDevice phoneBenchDevice()
{
    // The device WorkerMockSession says it is.
    return AndroidDevice(DeviceID(QStringLiteral("bench")), QStringLiteral("Bench"), std::nullopt, std::nullopt,
                         std::nullopt, DeviceConnectionKind::usb);
}

// One phone whose sessions `open` makes (each answering from a worker thread).
class WorkerMockBackend final : public MTPBackend {
public:
    explicit WorkerMockBackend(std::function<std::shared_ptr<DeviceSession>()> open)
        : m_devices(std::make_shared<MockMTPBackend>(QList<AndroidDevice>{phoneBenchDevice()})),
          m_open(std::move(open))
    {
    }
    QCoro::Task<QList<AndroidDevice>> currentDevices() override { return m_devices->currentDevices(); }
    AsyncChannel<DeviceConnectionEvent> events() override { return m_devices->events(); }
    QCoro::Task<std::shared_ptr<DeviceSession>> openSession(DeviceID, OpenSessionOptions) override
    {
        co_return m_open();
    }

private:
    std::shared_ptr<MockMTPBackend> m_devices;
    std::function<std::shared_ptr<DeviceSession>()> m_open;
};

// A storage root of `entries` items, `folders` of them folders of three files each; folder number
// i holds 3 * (i + 1) * 100 bytes, so that every folder has a size of its own.
MockTree phoneTree(int entries, int folders)
{
    const StorageID storage(QStringLiteral("bench-internal"));
    MockTree tree({StorageRoot(storage, QStringLiteral("Internal shared storage"), 256'000'000'000LL,
                               141'000'000'000LL)},
                  {});
    for (int index = 0; index < folders; ++index) {
        const RemoteItem folder =
            tree.addFolder(QStringLiteral("Folder %1").arg(index, 5, 10, QLatin1Char('0')), std::nullopt, storage);
        for (int file = 0; file < 3; ++file) {
            tree.addFile(QStringLiteral("part %1.bin").arg(file), folder.id, storage, (index + 1) * 100LL);
        }
    }
    for (int index = folders; index < entries; ++index) {
        tree.addFile(QStringLiteral("IMG_%1.jpg").arg(index, 6, 10, QLatin1Char('0')), std::nullopt, storage,
                     2'000'000);
    }
    return tree;
}

// The whole window over one phone, its table sorted as asked before the phone connects.
class PhoneWindowRig {
public:
    PhoneWindowRig(const MockTree& tree, FileSort sort, bool ascending)
        : PhoneWindowRig([tree] { return std::make_shared<WorkerMockSession>(tree); }, sort, ascending)
    {
    }

    PhoneWindowRig(std::function<std::shared_ptr<DeviceSession>()> open, FileSort sort, bool ascending)
    {
        QuillbarrowApp::Services services;
        services.homePath = m_home.path();
        services.preferences = std::make_shared<InMemoryUserDefaults>();
        services.chooseBackend = [open = std::move(open)] {
            return AppEnvironment(std::make_shared<WorkerMockBackend>(open), BackendMode::mock);
        };
        services.openedFilesCacheDirectory = m_opened.path();
        m_app = std::make_unique<QuillbarrowApp>(services);
        m_app->deviceBrowser().setSort(sort, ascending);
        m_window = m_app->openWindow();
        m_window->show();
        turnUntil([this] { return m_window->windowHandle() != nullptr && m_window->isVisible(); },
                  QStringLiteral("window"));
        m_pane = m_window->findChild<AndroidPaneView*>();
        m_table = m_pane ? m_pane->table() : nullptr;
        if (!m_table) {
            throw BenchFailure(QStringLiteral("the window has no phone pane"));
        }
    }

    ~PhoneWindowRig()
    {
        m_window->close();
        m_app.reset();
    }

    DeviceBrowserViewModel& browser() { return m_app->deviceBrowser(); }
    AndroidPaneView& pane() { return *m_pane; }
    RemoteItemTable& table() { return *m_table; }
    QWindow* windowHandle() { return m_window->windowHandle(); }
    void pressKey(Qt::Key key) { QTest::keyClick(m_window->windowHandle(), key); }
    void pressSelectAll() { QTest::keyClick(m_window->windowHandle(), Qt::Key_A, Qt::ControlModifier); }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_opened;
    std::unique_ptr<QuillbarrowApp> m_app;
    MainWindow* m_window = nullptr;
    AndroidPaneView* m_pane = nullptr;
    RemoteItemTable* m_table = nullptr;
};

// Every folder of the table shows its size, each as the tree holds it, in the row where it stood: every
// folder was unmeasured when the folder showed, so in name order, however the table is sorted.
void requirePhoneSizesShown(RemoteItemTable& table)
{
    const auto* model = table.itemModel();
    QString previous;
    for (int row = 0; row < model->rowCount(); ++row) {
        const RemoteItem& item = model->item(row);
        if (item.kind != RemoteItemKind::folder) {
            continue;
        }
        const qint64 expected = 3 * (item.name.mid(7).toLongLong() + 1) * 100;
        if (item.size != expected) {
            throw BenchFailure(QStringLiteral("%1 shows a wrong size").arg(item.name));
        }
        if (item.name < previous) {
            throw BenchFailure(QStringLiteral("%1 moved as its size arrived").arg(item.name));
        }
        previous = item.name;
    }
}

struct Row {
    QString action;
    QString ours;
    QString baseline;
    QString oursStall;
    QString baselineStall;
};

// A median time: in milliseconds below 10 seconds (a plain operation may take well under one).
QString secondsText(const Samples& samples)
{
    const double seconds = samples.median();
    return seconds < 10 ? QStringLiteral("%1 ms").arg(seconds * 1000, 0, 'f', 1)
                        : QStringLiteral("%1 s").arg(seconds, 0, 'f', 2);
}

QString stallText(const Samples& samples)
{
    return QStringLiteral("%1 ms").arg(samples.median(), 0, 'f', 1);
}

// Runs a paste to its end and says so.
QCoro::Task<> runToEnd(std::function<QCoro::Task<>()> paste, bool* done)
{
    co_await paste();
    *done = true;
}

struct SizeSamples;

class ResponsivenessBench {
public:
    explicit ResponsivenessBench(Options options) : m_options(std::move(options)) {}

    void run();

private:
    void selectAll();
    void selectAllWithSubfolders();
    void selectAllWithSubfolders(int entries, int subfolders);
    void phoneFolderSizes();
    // The folder of varied files the header click, the folder opening and the leaving use, made
    // once, in a folder of 12 entries (it and the files of `parentFiles()`).
    const QList<MadeFile>& variedFolder();
    QString variedFolderPath() const { return m_work.filePath(QStringLiteral("parent/varied")); }
    QString parentPath() const { return m_work.filePath(QStringLiteral("parent")); }
    void sortByHeader();
    void openFolder();
    void phoneBigFolder();
    void leaveComputerFolder();
    void typeInComputerPane();
    void reportTyping(const QString& pane, const QString& typedName, int rows, const TypingSamples& ours,
                      const TypingSamples& plain);
    void refreshAfterChangesOnDisk();
    // Whether the run measures the row of that name (--only).
    bool wants(const char* name) const;
    void paintDuringPaste();
    void localPastes();
    void devicePastes();
    Measured paste(const std::function<QCoro::Task<>()>& paste, const QString& what);
    void phoneSelectAll();
    // The sizes of folders arriving at many rows, every row selected, in each pane (sizes).
    void sizesArriving();
    void localSizesArriving(FileSort sort);
    void phoneSizesArriving(FileSort sort);
    void reportSizes(const QString& pane, FileSort sort, const SizeSamples& ours, const Samples& plain,
                     const Samples& plainStall);
    // How many entries of the sizes rows' folders are folders: a file's row is left to click.
    int sizedFolderCount() const { return std::max(0, std::min(m_options.sizeFolders, m_options.rows - 1)); }
    // The memory of the big folder's rows, each side in a child process (see memoryOfSide()).
    void phoneMemory();

    Options m_options;
    QTemporaryDir m_work;
    bench::StallMeter m_heartbeat{1};
    QList<Row> m_rows;
    QStringList m_memoryRows;
    QList<MadeFile> m_variedFiles;
};

void ResponsivenessBench::selectAll()
{
    const int rows = m_options.rows;
    const QString folder = m_work.filePath(QStringLiteral("rows"));
    makeFiles(folder, rows);
    Samples window, windowStall, table, tableStall, plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            WindowRig rig;
            rig.show(folder, rows);
            const Measured measured = measure(
                m_heartbeat, [&] { rig.pressSelectAll(); },
                [&] { return rig.pane().selection().size() == rows; }, QStringLiteral("Ctrl+A in the pane"));
            window.add(measured.seconds);
            windowStall.add(measured.stallMs);

            // The table alone: its own select all, until the binding holds it.
            LocalItemTable& shown = rig.table();
            rig.pane().setSelection({});
            settle();
            const Measured alone = measure(
                m_heartbeat, [&] { shown.selectAll(); }, [&] { return shown.selection().size() == rows; },
                QStringLiteral("select all in the table"));
            table.add(alone.seconds);
            tableStall.add(alone.stallMs);
        }
        const Measured baseline = plainSelectAll(m_heartbeat, rows);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    say(QStringLiteral("detail: Ctrl+A at %1 rows: window s %2, table s %3, plain s %4")
            .arg(rows)
            .arg(window.listed(3), table.listed(3), plain.listed(3)));
    const QString plainText = secondsText(plain) + QStringLiteral(" (QTableView::selectAll)");
    m_rows.append({QStringLiteral("Ctrl+A in a pane of %1 files").arg(rows), secondsText(window), plainText,
                   stallText(windowStall), stallText(plainStall)});
    m_rows.append({QStringLiteral("the table alone: select all of %1 rows").arg(rows), secondsText(table), plainText,
                   stallText(tableStall), stallText(plainStall)});
}

void ResponsivenessBench::selectAllWithSubfolders()
{
    for (qsizetype set = 0; set < m_options.entries.size(); ++set) {
        selectAllWithSubfolders(m_options.entries[set], std::min(m_options.subfolders[set], m_options.entries[set]));
    }
}

void ResponsivenessBench::selectAllWithSubfolders(int entries, int subfolders)
{
    const QString folder = m_work.filePath(QStringLiteral("entries-%1-%2").arg(entries).arg(subfolders));
    makeFiles(folder, entries - subfolders);
    for (int index = 0; index < subfolders; ++index) {
        makeFiles(folder + QStringLiteral("/Folder %1").arg(index, 4, 10, QLatin1Char('0')), 5);
    }
    Samples window, windowStall, plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            WindowRig rig;
            rig.show(folder, entries);
            const Measured measured = measure(
                m_heartbeat, [&] { rig.pressSelectAll(); },
                [&] { return rig.pane().selection().size() == entries && foldersMeasured(rig.browser()); },
                QStringLiteral("Ctrl+A with subfolders"));
            window.add(measured.seconds);
            windowStall.add(measured.stallMs);
        }
        const Measured baseline = plainSelectAll(m_heartbeat, entries);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    say(QStringLiteral("detail: Ctrl+A at %1 entries, %2 subfolders: window s %3, stall ms %4; plain s %5, stall ms %6")
            .arg(entries)
            .arg(subfolders)
            .arg(window.listed(3), windowStall.listed(1), plain.listed(3), plainStall.listed(1)));
    m_rows.append({QStringLiteral("Ctrl+A in %1 entries with %2 subfolders, until all are measured")
                       .arg(entries)
                       .arg(subfolders),
                   secondsText(window), secondsText(plain) + QStringLiteral(" (plain selectAll alone, no measuring)"),
                   stallText(windowStall), stallText(plainStall)});
}

void ResponsivenessBench::phoneFolderSizes()
{
    const int entries = m_options.phoneEntries;
    const int folders = std::min(m_options.phoneFolders, entries);
    const MockTree tree = phoneTree(entries, folders);
    const struct {
        FileSort sort;
        bool ascending;
        const char* title;
    } orders[] = {{FileSort::name, true, "by name"}, {FileSort::size, false, "by size"}};
    for (const auto& order : orders) {
        Samples wall, busy, stall;
        for (int round = 0; round < m_options.rounds; ++round) {
            PhoneWindowRig rig(tree, order.sort, order.ascending);
            DeviceBrowserViewModel& browser = rig.browser();
            turnUntil(
                [&] { return browser.items().size() == entries && rig.table().itemModel()->rowCount() == entries; },
                QStringLiteral("the phone's folder"), 120);
            // The automatic pass starts a moment after the folder is shown; it has ended once it has
            // announced its folders and none is being measured any more.
            int announced = 0;
            const QMetaObject::Connection counting = QObject::connect(
                &browser, &DeviceBrowserViewModel::calculatingFolderSizeIDsChanged, [&announced] { ++announced; });
            m_heartbeat.start();
            const double busyBefore = threadSeconds();
            const Clock::time_point start = Clock::now();
            turnUntil(
                [&] {
                    if (announced == 0 || !browser.calculatingFolderSizeIDs().isEmpty()) {
                        return false;
                    }
                    const QList<RemoteItem>& items = browser.items();
                    return std::all_of(items.begin(), items.end(), [](const RemoteItem& item) {
                        return item.kind != RemoteItemKind::folder || item.size.has_value();
                    });
                },
                QStringLiteral("measuring the phone's folders"), 600);
            settle();
            wall.add(std::chrono::duration<double>(Clock::now() - start).count());
            busy.add(threadSeconds() - busyBefore);
            stall.add(m_heartbeat.stop());
            QObject::disconnect(counting);
            requirePhoneSizesShown(rig.table());
        }
        say(QStringLiteral("detail: phone pane, %1 entries with %2 folders sorted %3: s %4, main thread s %5, "
                           "stall ms %6")
                .arg(entries)
                .arg(folders)
                .arg(QLatin1StringView(order.title), wall.listed(3), busy.listed(3), stall.listed(1)));
        m_rows.append({QStringLiteral("phone pane: %1 entries with %2 folders sorted %3, until all are measured")
                           .arg(entries)
                           .arg(folders)
                           .arg(QLatin1StringView(order.title)),
                       secondsText(wall) + QStringLiteral(" (main thread %1)").arg(secondsText(busy)),
                       QStringLiteral("-"), stallText(stall), QStringLiteral("-")});
    }
}

const QList<MadeFile>& ResponsivenessBench::variedFolder()
{
    if (m_variedFiles.isEmpty()) {
        m_variedFiles = makeVariedFiles(variedFolderPath(), m_options.rows);
        for (const MadeFile& file : parentFiles()) {
            makeSparseFile(parentPath() + QLatin1Char('/') + file.name, file);
        }
    }
    return m_variedFiles;
}

void ResponsivenessBench::sortByHeader()
{
    const QList<MadeFile>& files = variedFolder();
    const int rows = static_cast<int>(files.size());
    const QString folder = variedFolderPath();
    Samples window, windowStall, plain, plainStall, moved;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            WindowRig rig;
            rig.show(folder, rows);
            LocalItemTable& table = rig.table();
            QHeaderView* header = table.horizontalHeader();
            const std::optional<int> column = table.itemModel()->columnIndex(QStringLiteral("size"));
            if (!column) {
                throw BenchFailure(QStringLiteral("the table has no size column"));
            }
            const QList<LocalItem> before = rig.browser().items();
            // The new order has landed once the table has moved its rows (or shown them anew).
            int reordered = 0;
            const QMetaObject::Connection moving =
                QObject::connect(table.itemModel(), &QAbstractItemModel::layoutChanged, [&reordered] { ++reordered; });
            const QMetaObject::Connection resetting =
                QObject::connect(table.itemModel(), &QAbstractItemModel::modelReset, [&reordered] { ++reordered; });
            const QRect section(header->sectionViewportPosition(*column), 0, header->sectionSize(*column),
                                header->height());
            const Measured measured = measure(
                m_heartbeat, [&] { QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, section.center()); },
                [&] { return reordered > 0 && rig.browser().sort() == FileSort::size; }, QStringLiteral("header click"),
                true);
            QObject::disconnect(moving);
            QObject::disconnect(resetting);
            // The table must show exactly the browser order by size, and most rows must have moved.
            const QList<LocalItem> expected = sortedForBrowser(before, FileSort::size, rig.browser().sortAscending());
            int changed = 0;
            for (int row = 0; row < rows; ++row) {
                if (table.itemModel()->item(row).id != expected[row].id) {
                    throw BenchFailure(QStringLiteral("header click: row %1 is not in the browser order").arg(row));
                }
                changed += before[row].id != expected[row].id ? 1 : 0;
            }
            if (changed < rows / 2) {
                throw BenchFailure(QStringLiteral("header click moved only %1 of %2 rows").arg(changed).arg(rows));
            }
            moved.add(changed);
            window.add(measured.seconds);
            windowStall.add(measured.stallMs);
        }
        PlainTable plainTable;
        plainTable.show(files);
        const Measured baseline = plainTable.clickSize(m_heartbeat);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    say(QStringLiteral("detail: header click at %1 rows (%2 moved): window s %3, stall ms %4; plain s %5, stall ms %6")
            .arg(rows)
            .arg(moved.median(), 0, 'f', 0)
            .arg(window.listed(3), windowStall.listed(1), plain.listed(3), plainStall.listed(1)));
    m_rows.append({QStringLiteral("click on the size header at %1 rows of varied sizes").arg(rows), secondsText(window),
                   secondsText(plain) + QStringLiteral(" (QStandardItemModel)"), stallText(windowStall),
                   stallText(plainStall)});
}

void ResponsivenessBench::openFolder()
{
    const int rows = static_cast<int>(variedFolder().size());
    const QString folder = variedFolderPath();
    const QString start = m_work.filePath(QStringLiteral("start"));
    makeFiles(start, 1);
    Samples window, windowStall, plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            WindowRig rig;
            rig.show(start, 1);
            LocalBrowserViewModel& browser = rig.browser();
            const auto* model = rig.table().itemModel();
            const Measured measured = measure(
                m_heartbeat, [&] { browser.navigateTo(QUrl::fromLocalFile(folder)); },
                [&] { return !browser.isLoading() && browser.items().size() == rows && model->rowCount() == rows; },
                QStringLiteral("opening a folder"), true);
            window.add(measured.seconds);
            windowStall.add(measured.stallMs);
        }
        const Measured baseline = plainOpen(m_heartbeat, folder, rows);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    say(QStringLiteral("detail: opening a folder of %1 files: window s %2, stall ms %3; plain s %4, stall ms %5")
            .arg(rows)
            .arg(window.listed(3), windowStall.listed(1), plain.listed(3), plainStall.listed(1)));
    m_rows.append({QStringLiteral("open a folder of %1 files").arg(rows), secondsText(window),
                   secondsText(plain) + QStringLiteral(" (QFileSystemModel)"), stallText(windowStall),
                   stallText(plainStall)});
}

bool ResponsivenessBench::wants(const char* name) const
{
    return m_options.only.isEmpty() || m_options.only.contains(QLatin1StringView(name));
}

// Whether the table shows 17 rows spread from `expected`'s first to its last where `expected` has
// them: a look cheap enough for every turn of the loop (the whole order is checked once the time is
// taken).
bool showsSpreadRows(const RemoteItemTable& table, const QList<RemoteItem>& expected)
{
    const auto* model = table.itemModel();
    const qsizetype rows = expected.size();
    if (model->rowCount() != rows) {
        return false;
    }
    for (qsizetype step = 0; step <= 16 && rows > 0; ++step) {
        const int row = static_cast<int>((rows - 1) * step / 16);
        if (!(model->item(row).id == expected[row].id)) {
            return false;
        }
    }
    return true;
}

// The table shows exactly `expected`, row by row.
template <typename Table, typename Item>
void requireShown(const Table& table, const QList<Item>& expected, const QString& what)
{
    const auto* model = table.itemModel();
    if (model->rowCount() != expected.size()) {
        throw BenchFailure(
            QStringLiteral("%1: %2 rows shown of %3").arg(what).arg(model->rowCount()).arg(expected.size()));
    }
    for (int row = 0; row < model->rowCount(); ++row) {
        if (!(model->item(row).id == expected[row].id)) {
            throw BenchFailure(QStringLiteral("%1: row %2 is not in the browser order").arg(what).arg(row));
        }
    }
}

template <typename Item>
MadeFile madeFileOf(const Item& item)
{
    return MadeFile{item.name, item.size.value_or(-1), item.modifiedAt.value_or(QDateTime())};
}

template <typename Item>
QList<MadeFile> madeFilesOf(const QList<Item>& items)
{
    QList<MadeFile> files;
    files.reserve(items.size());
    for (const Item& item : items) {
        files.append(madeFileOf(item));
    }
    return files;
}

// The name and bytes of folder number `index` of a folder of the sizes rows: every folder holds a
// size of its own.
QString sizedFolderName(int index)
{
    return QStringLiteral("Folder %1").arg(index, 5, 10, QLatin1Char('0'));
}
qint64 sizedFolderFileBytes(int index)
{
    return (index + 1) * 100LL;
}

// The pretend phone of the big-folder rows: its root holds the folder "Camera" of N entries and 11
// more files. Of the entries, the first `folders` are folders of three files each (see
// sizedFolderName()), the others varied files.
struct BigPhoneFolder {
    explicit BigPhoneFolder(int rows, int folders = 0)
    {
        const QList<MadeFile> files = variedFiles(rows);
        for (int index = 0; index < files.size(); ++index) {
            const MadeFile& file = files[index];
            if (index < folders) {
                const QString folder = sizedFolderName(index);
                entries.append({folder, sizedFolderFileBytes(index), file.modified.toSecsSinceEpoch(), true});
                folderBytes.insert(folder, 3 * sizedFolderFileBytes(index));
                continue;
            }
            entries.append({file.name, file.size, file.modified.toSecsSinceEpoch()});
        }
        rootRows.append(MadeFile{name, -1, QDateTime()});
        for (const MadeFile& file : parentFiles()) {
            rootFiles.append({file.name, file.size, file.modified.toSecsSinceEpoch()});
            rootRows.append(file);
        }
        byName = session()->bigFolderItems();
        for (const RemoteItem& item : std::as_const(byName)) {
            plainRows.append(madeFileOf(item));
        }
    }

    std::shared_ptr<BigFolderSession> session() const
    {
        return std::make_shared<BigFolderSession>(name, entries, rootFiles);
    }
    int rootCount() const { return static_cast<int>(rootRows.size()); }

    const QString name = QStringLiteral("Camera");
    QList<BigFolderSession::Entry> entries;
    QList<BigFolderSession::Entry> rootFiles;
    // The bytes of each of its folders, by name.
    QHash<QString, qint64> folderBytes;
    // The folder's rows as the phone lists them, in the browser order by name; the same for
    // plain Qt; the root's rows.
    QList<RemoteItem> byName;
    QList<MadeFile> plainRows;
    QList<MadeFile> rootRows;
};

// The window over `phone`, at the root once the size pass of the connection has tried the big
// folder (which the phone refuses until it is opened) and ended.
class BigFolderWindow {
public:
    BigFolderWindow(const BigPhoneFolder& phone, std::shared_ptr<BigFolderSession> session)
        : m_phone(phone), m_session(std::move(session)), m_rig([session = m_session] { return session; },
                                                                FileSort::name, true)
    {
        int sizePassChanges = 0;
        const QMetaObject::Connection counting =
            QObject::connect(&browser(), &DeviceBrowserViewModel::calculatingFolderSizeIDsChanged,
                             [&sizePassChanges] { ++sizePassChanges; });
        turnUntil([this] { return showsRoot(); }, QStringLiteral("the phone's root"), 120);
        turnUntil(landedQuietly([&] { return sizePassChanges > 0 && browser().calculatingFolderSizeIDs().isEmpty(); }),
                  QStringLiteral("the size pass at connection"), 60);
        QObject::disconnect(counting);
    }

    PhoneWindowRig& rig() { return m_rig; }
    DeviceBrowserViewModel& browser() { return m_rig.browser(); }
    RemoteItemTable& table() { return m_rig.table(); }
    BigFolderSession& session() { return *m_session; }

    bool showsRoot()
    {
        const int rootCount = m_phone.rootCount();
        return !browser().isLoading() && browser().currentPage() && browser().currentPage()->path.isRoot() &&
               browser().items().size() == rootCount && table().itemModel()->rowCount() == rootCount;
    }
    // The big folder shown in full, in `order`.
    bool showsBigFolder(const QList<RemoteItem>& order)
    {
        return !browser().isLoading() && browser().currentPage() && !browser().currentPage()->path.isRoot() &&
               showsSpreadRows(table(), order);
    }
    // A click on the row of that name: the pane takes the keys, with that row selected.
    void clickRow(const QString& name)
    {
        const auto* model = table().itemModel();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->item(row).name == name) {
                const QPoint cell = table().visualRect(model->index(row, 0)).center();
                QTest::mouseClick(table().viewport(), Qt::LeftButton, {}, cell);
                return;
            }
        }
        throw BenchFailure(QStringLiteral("no row named ") + name);
    }
    void clickHeader(const QString& column)
    {
        QHeaderView* header = table().horizontalHeader();
        const std::optional<int> section = table().itemModel()->columnIndex(column);
        if (!section) {
            throw BenchFailure(QStringLiteral("the phone table has no column ") + column);
        }
        const QRect area(header->sectionViewportPosition(*section), 0, header->sectionSize(*section),
                         header->height());
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, area.center());
    }
    // A click on the big folder's row: the pane takes the keys, with that row selected. The folder
    // selected is measured too, which the phone refuses; from then on the phone lists it.
    void selectBigFolder()
    {
        m_session->openBigFolder(false);
        int sizePassChanges = 0;
        const QMetaObject::Connection counting =
            QObject::connect(&browser(), &DeviceBrowserViewModel::calculatingFolderSizeIDsChanged,
                             [&sizePassChanges] { ++sizePassChanges; });
        clickRow(m_phone.name);
        turnUntil(landedQuietly([&] {
                      return m_rig.pane().selection().size() == 1 && sizePassChanges > 0 &&
                             browser().calculatingFolderSizeIDs().isEmpty();
                  }),
                  QStringLiteral("the click on the big folder"));
        QObject::disconnect(counting);
        m_session->openBigFolder();
    }
    // Opens the big folder as a person does (its row selected, then Return), until its rows show in
    // the order by name and the window's work on them is done.
    void openBigFolder()
    {
        selectBigFolder();
        m_rig.pressKey(Qt::Key_Return);
        turnUntil(landedQuietly([&] { return showsBigFolder(m_phone.byName); }), QStringLiteral("the big folder"));
    }

private:
    const BigPhoneFolder& m_phone;
    std::shared_ptr<BigFolderSession> m_session;
    PhoneWindowRig m_rig;
};

void ResponsivenessBench::phoneBigFolder()
{
    const int rows = m_options.rows;
    const BigPhoneFolder phone(rows);
    const QList<RemoteItem>& byName = phone.byName;
    const QList<MadeFile>& plainRows = phone.plainRows;
    const QList<MadeFile>& rootRows = phone.rootRows;
    // The rows by size both ways.
    const QList<RemoteItem> bySizeAscending = sortedForBrowser(byName, FileSort::size, true);
    const QList<RemoteItem> bySizeDescending = sortedForBrowser(byName, FileSort::size, false);
    const int rootCount = phone.rootCount();
    QStringList names;
    for (const RemoteItem& item : byName) {
        names.append(item.name);
    }
    const QString typedName = nameToType(names);
    TypingSamples typed, plainTyped;

    Samples show, showStall, refresh, refreshStall, sort, sortStall, leave, leaveStall, moved, listing;
    Samples plainShow, plainShowStall, plainRefresh, plainRefreshStall, plainSorting, plainSortingStall, plainLeave,
        plainLeaveStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            BigFolderWindow window(phone, phone.session());
            PhoneWindowRig& rig = window.rig();
            DeviceBrowserViewModel& browser = window.browser();
            RemoteItemTable& table = window.table();
            BigFolderSession* session = &window.session();
            const auto showsRoot = [&] { return window.showsRoot(); };
            window.selectBigFolder();

            const Measured shown = measure(
                m_heartbeat, [&] { rig.pressKey(Qt::Key_Return); },
                [&] {
                    return session->bigFolderListings() > 0 && !browser.isLoading() && browser.currentPage() &&
                           !browser.currentPage()->path.isRoot() && showsSpreadRows(table, byName);
                },
                QStringLiteral("phone pane: first showing"), true);
            requireShown(table, byName, QStringLiteral("phone pane: first showing"));
            // Listed once, by the opening: no page of it was kept to show at once.
            if (session->bigFolderListings() != 1) {
                throw BenchFailure(
                    QStringLiteral("phone pane: the big folder was listed %1 times for its first showing")
                        .arg(session->bigFolderListings()));
            }
            show.add(shown.seconds);
            showStall.add(shown.stallMs);
            listing.add(session->lastListingSeconds());

            // The same items listed again.
            const int listedBefore = session->bigFolderListings();
            const Measured refreshed = measure(
                m_heartbeat, [&] { rig.pressKey(Qt::Key_F5); },
                landedQuietly([&] {
                    return session->bigFolderListings() > listedBefore && !browser.isLoading() &&
                           showsSpreadRows(table, byName);
                }),
                QStringLiteral("phone pane: refresh"), true);
            requireShown(table, byName, QStringLiteral("phone pane: refresh"));
            if (session->bigFolderListings() != listedBefore + 1) {
                throw BenchFailure(QStringLiteral("phone pane: the refresh listed the big folder %1 times")
                                       .arg(session->bigFolderListings() - listedBefore));
            }
            refresh.add(refreshed.seconds);
            refreshStall.add(refreshed.stallMs);

            // A click on the first row, then a name typed, until the keyboard is on its row.
            if (wants("type")) {
                const QPoint first = table.visualRect(table.itemModel()->index(0, 0)).center();
                QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, first);
                turnUntil(landedQuietly([&] { return rig.pane().selection().size() == 1; }),
                          QStringLiteral("phone pane: the click on the first row"));
                typed.add(typeIntoPane(m_heartbeat, rig.windowHandle(), table, rig.pane(), typedName));
            }

            // A click on the size header, until every row is in the order by size.
            const auto bySize = [&]() -> const QList<RemoteItem>& {
                return browser.sortAscending() ? bySizeAscending : bySizeDescending;
            };
            const Measured sorted = measure(
                m_heartbeat, [&] { window.clickHeader(QStringLiteral("size")); },
                [&] { return browser.sort() == FileSort::size && showsSpreadRows(table, bySize()); },
                QStringLiteral("phone pane: size header click"), true);
            requireShown(table, bySize(), QStringLiteral("phone pane: size header click"));
            int changed = 0;
            for (int row = 0; row < rows; ++row) {
                changed += byName[row].id == bySize()[row].id ? 0 : 1;
            }
            if (changed < rows / 2) {
                throw BenchFailure(QStringLiteral("phone pane: the size header click moved only %1 of %2 rows")
                                       .arg(changed)
                                       .arg(rows));
            }
            moved.add(changed);
            sort.add(sorted.seconds);
            sortStall.add(sorted.stallMs);

            // Up to the root, of 12 rows.
            const Measured left = measure(
                m_heartbeat, [&] { rig.pressKey(Qt::Key_Backspace); }, showsRoot,
                QStringLiteral("phone pane: leaving the big folder"), true);
            leave.add(left.seconds);
            leaveStall.add(left.stallMs);
        }
        // Plain Qt: the same rows shown, set again, sorted by byte count, and 12 rows instead.
        PlainTable plain;
        const Measured plainShown = measure(
            m_heartbeat, [&] { plain.show(plainRows); }, [] { return true; }, QStringLiteral("plain showing"), true);
        plainShow.add(plainShown.seconds);
        plainShowStall.add(plainShown.stallMs);
        const Measured plainRefreshed = measure(
            m_heartbeat, [&] { plain.show(plainRows); }, [] { return true; }, QStringLiteral("plain refresh"), true);
        plainRefresh.add(plainRefreshed.seconds);
        plainRefreshStall.add(plainRefreshed.stallMs);
        if (wants("type")) {
            plainTyped.add(plain.type(m_heartbeat, typedName));
        }
        const Measured plainSorted = plain.clickSize(m_heartbeat);
        plainSorting.add(plainSorted.seconds);
        plainSortingStall.add(plainSorted.stallMs);
        const Measured plainLeft = measure(
            m_heartbeat, [&] { plain.show(rootRows); }, [] { return true; }, QStringLiteral("plain leaving"), true);
        plainLeave.add(plainLeft.seconds);
        plainLeaveStall.add(plainLeft.stallMs);
    }
    say(QStringLiteral("detail: phone pane at %1 rows: the pretend phone lists them in s %2 (its own thread)")
            .arg(rows)
            .arg(listing.listed(3)));
    const auto report = [&](const char* name, const QString& action, const Samples& ours, const Samples& oursStall,
                            const Samples& theirs, const Samples& theirsStall, const QString& plainText) {
        if (!wants(name)) {
            return;
        }
        say(QStringLiteral("detail: %1: ours s %2, stall ms %3; plain s %4, stall ms %5")
                .arg(action, ours.listed(3), oursStall.listed(1), theirs.listed(3), theirsStall.listed(1)));
        m_rows.append({action, secondsText(ours), secondsText(theirs) + QStringLiteral(" (%1)").arg(plainText),
                       stallText(oursStall), stallText(theirsStall)});
    };
    if (wants("type")) {
        reportTyping(QStringLiteral("phone pane"), typedName, rows, typed, plainTyped);
    }
    report("phone-show", QStringLiteral("phone pane: first showing of a folder of %1 files").arg(rows), show, showStall,
           plainShow, plainShowStall, QStringLiteral("QStandardItemModel built and shown"));
    report("phone-refresh", QStringLiteral("phone pane: refresh of that folder (same items)"), refresh, refreshStall,
           plainRefresh, plainRefreshStall, QStringLiteral("the same rows built and shown again"));
    report("phone-sort",
           QStringLiteral("phone pane: click on the size header at %1 rows (%2 moved)")
               .arg(rows)
               .arg(moved.median(), 0, 'f', 0),
           sort, sortStall, plainSorting, plainSortingStall, QStringLiteral("QStandardItemModel sorted by byte count"));
    report("leave", QStringLiteral("phone pane: leaving that folder for one of %1 rows").arg(rootCount), leave,
           leaveStall, plainLeave, plainLeaveStall,
           QStringLiteral("a model of %1 rows for the big one").arg(rootCount));
}

void ResponsivenessBench::phoneSelectAll()
{
    const int rows = m_options.rows;
    const BigPhoneFolder phone(rows);
    Samples ours, oursStall, plain, plainStall, leave, leaveStall, plainLeave, plainLeaveStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            BigFolderWindow window(phone, phone.session());
            window.openBigFolder();
            // The pane takes the keys from a click on a row of a file (a file selected measures nothing).
            window.clickRow(phone.byName.constFirst().name);
            AndroidPaneView& pane = window.rig().pane();
            turnUntil(landedQuietly([&] { return pane.selection().size() == 1; }), QStringLiteral("the click"));
            const Measured selected = measure(
                m_heartbeat, [&] { window.rig().pressSelectAll(); }, [&] { return pane.selection().size() == rows; },
                QStringLiteral("phone pane: Ctrl+A"), true);
            if (pane.selectedItems().size() != rows || window.table().selectionModel()->selectedRows().size() != rows) {
                throw BenchFailure(QStringLiteral("phone pane: Ctrl+A left rows unselected"));
            }
            ours.add(selected.seconds);
            oursStall.add(selected.stallMs);

            // Up to the root, of 12 rows, every row of the big folder selected.
            const Measured left = measure(
                m_heartbeat, [&] { window.rig().pressKey(Qt::Key_Backspace); },
                [&] { return window.showsRoot(); },
                QStringLiteral("phone pane: leaving the big folder, every row selected"), true);
            if (!pane.selection().isEmpty()) {
                throw BenchFailure(
                    QStringLiteral("phone pane: rows of the big folder stayed selected at the root"));
            }
            leave.add(left.seconds);
            leaveStall.add(left.stallMs);
        }
        PlainTable table;
        table.show(phone.plainRows);
        settle();
        const Measured baseline = table.selectAll(m_heartbeat);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
        const Measured plainLeft = measure(
            m_heartbeat, [&] { table.show(phone.rootRows); }, [] { return true; },
            QStringLiteral("plain leaving, every row selected"), true);
        plainLeave.add(plainLeft.seconds);
        plainLeaveStall.add(plainLeft.stallMs);
    }
    if (wants("leave-selected")) {
        say(QStringLiteral(
                "detail: phone pane, leaving a folder of %1 files with every row selected: ours s %2, "
                "stall ms %3; plain s %4, stall ms %5")
                .arg(rows)
                .arg(leave.listed(4), leaveStall.listed(1), plainLeave.listed(4), plainLeaveStall.listed(1)));
        m_rows.append(
            {QStringLiteral("phone pane: leaving a folder of %1 files with every row selected for one of %2 "
                            "rows")
                 .arg(rows)
                 .arg(phone.rootCount()),
             secondsText(leave),
             secondsText(plainLeave) +
                 QStringLiteral(" (a model of %1 rows for the big one, all selected)").arg(phone.rootCount()),
             stallText(leaveStall), stallText(plainLeaveStall)});
    }
    if (!wants("phone-select")) {
        return;
    }
    say(QStringLiteral("detail: phone pane, Ctrl+A at %1 rows: ours s %2, stall ms %3; plain s %4, stall ms %5")
            .arg(rows)
            .arg(ours.listed(4), oursStall.listed(1), plain.listed(4), plainStall.listed(1)));
    m_rows.append({QStringLiteral("phone pane: Ctrl+A in a folder of %1 files").arg(rows), secondsText(ours),
                   secondsText(plain) + QStringLiteral(" (QTableView::selectAll over a QStandardItemModel)"),
                   stallText(oursStall), stallText(plainStall)});
}

// What the sizes of a pass of folder measurements cost as they arrived: from the action until every
// size shows in its row; the longest stall while they arrived, from the turn after the browser
// first announced folders being measured on (the action's own turns lie before it); the longest
// stall of the action until then; and how many times the browser published its rows meanwhile.
struct Arrived {
    double seconds = 0;
    double stallMs = 0;
    double actionStallMs = 0;
    int publications = 0;
};

template <typename Browser>
Arrived measureArrivals(bench::StallMeter& heartbeat, Browser& browser, const std::function<void()>& act,
                        const std::function<bool()>& landed, const QString& what)
{
    Arrived arrived;
    bool announced = false;
    QObject watching;
    QObject::connect(&browser, &Browser::calculatingFolderSizeIDsChanged, &watching, [&] {
        if (announced) {
            return;
        }
        announced = true;
        // Behind everything the action's own turn queued, ahead of any measurement's answer.
        QMetaObject::invokeMethod(
            &watching,
            [&] {
                arrived.actionStallMs = heartbeat.stop();
                heartbeat.start();
            },
            Qt::QueuedConnection);
    });
    QObject::connect(&browser, &Browser::itemsChanged, &watching,
                     [&] { arrived.publications += announced ? 1 : 0; });
    heartbeat.start();
    const Clock::time_point start = Clock::now();
    act();
    turnUntil([&] { return announced && landed(); }, what);
    arrived.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    settle();
    turnUntil(landedQuietly([] { return true; }), what + QStringLiteral(": the work after it"));
    watchFor(followUp);
    arrived.stallMs = heartbeat.stop();
    return arrived;
}

// The arrivals of the rounds of one row.
struct SizeSamples {
    void add(const Arrived& arrived)
    {
        time.add(arrived.seconds);
        stall.add(arrived.stallMs);
        actionStall.add(arrived.actionStallMs);
        publications.add(arrived.publications);
    }
    Samples time;
    Samples stall;
    Samples actionStall;
    Samples publications;
};

// The rows of a table's folders, each with its id, where they stand.
template <typename Table> QList<std::pair<int, typename Table::ID>> folderRowsOf(const Table& table)
{
    QList<std::pair<int, typename Table::ID>> rows;
    const auto* model = table.itemModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->item(row).kind == RemoteItemKind::folder) {
            rows.append({row, model->item(row).id});
        }
    }
    return rows;
}

// Every folder of `rows` shows a size, still in its row: cheap enough to ask at every turn.
template <typename Table>
bool sizesShown(const Table& table, const QList<std::pair<int, typename Table::ID>>& rows)
{
    const auto* model = table.itemModel();
    return std::all_of(rows.begin(), rows.end(), [model](const auto& row) {
        return row.first < model->rowCount() && model->item(row.first).id == row.second &&
               model->item(row.first).size.has_value();
    });
}

// Every folder of `rows` still in its row, showing the bytes `bytes` gives for its name.
template <typename Table>
void requireSizesInPlace(const Table& table, const QList<std::pair<int, typename Table::ID>>& rows,
                         const QHash<QString, qint64>& bytes, const QString& what)
{
    const auto* model = table.itemModel();
    for (const auto& [row, id] : rows) {
        if (row >= model->rowCount() || !(model->item(row).id == id)) {
            throw BenchFailure(
                QStringLiteral("%1: the folder of row %2 moved as its size arrived").arg(what).arg(row));
        }
        const auto& item = model->item(row);
        if (item.size != bytes.value(item.name, -1)) {
            throw BenchFailure(QStringLiteral("%1: %2 shows a wrong size").arg(what, item.name));
        }
    }
}

// A click on the header of the column `identifier`, until `sorted` holds and the window's work is done.
template <typename Table>
void clickHeaderOf(Table& table, const QString& identifier, const std::function<bool()>& sorted)
{
    QHeaderView* header = table.horizontalHeader();
    const std::optional<int> section = table.itemModel()->columnIndex(identifier);
    if (!section) {
        throw BenchFailure(QStringLiteral("the table has no column ") + identifier);
    }
    const QRect area(header->sectionViewportPosition(*section), 0, header->sectionSize(*section),
                     header->height());
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, area.center());
    turnUntil(landedQuietly(sorted), QStringLiteral("the click on the header ") + identifier);
}

void ResponsivenessBench::sizesArriving()
{
    for (const FileSort sort : {FileSort::size, FileSort::name}) {
        localSizesArriving(sort);
        phoneSizesArriving(sort);
    }
}

void ResponsivenessBench::localSizesArriving(FileSort sort)
{
    const int rows = m_options.rows;
    const int folders = sizedFolderCount();
    const QString folder = m_work.filePath(QStringLiteral("sizes-%1-%2").arg(rows).arg(folders));
    // Made once: the folders first, each of three files, then the varied files.
    static QHash<QString, qint64> bytes;
    if (!QFileInfo::exists(folder)) {
        bytes.clear();
        const QList<MadeFile> files = variedFiles(rows - folders);
        if (!QDir().mkpath(folder)) {
            throw BenchFailure(QStringLiteral("cannot create ") + folder);
        }
        for (const MadeFile& file : files) {
            makeSparseFile(folder + QLatin1Char('/') + file.name, file);
        }
        for (int index = 0; index < folders; ++index) {
            const QString inner = folder + QLatin1Char('/') + sizedFolderName(index);
            QDir().mkpath(inner);
            for (int part = 0; part < 3; ++part) {
                makeSparseFile(inner + QStringLiteral("/part %1.bin").arg(part),
                               MadeFile{QString(), sizedFolderFileBytes(index),
                                        QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC)});
            }
            bytes.insert(sizedFolderName(index), 3 * sizedFolderFileBytes(index));
        }
    }
    const QString what = QStringLiteral("computer pane: sizes arriving");
    SizeSamples ours;
    Samples plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            WindowRig rig;
            // A file's row clicked: a folder selected would be measured there and then.
            rig.show(folder, rows, folders);
            LocalItemTable& table = rig.table();
            if (sort == FileSort::size) {
                clickHeaderOf(table, QStringLiteral("size"),
                              [&] { return rig.browser().sort() == FileSort::size; });
            }
            if (!rig.browser().calculatingFolderSizeIDs().isEmpty() || rig.pane().selection().size() != 1) {
                throw BenchFailure(what + QStringLiteral(": a folder was measured before Ctrl+A"));
            }
            const auto folderRows = folderRowsOf(table);
            if (folderRows.size() != folders) {
                throw BenchFailure(
                    what + QStringLiteral(": %1 folders listed of %2").arg(folderRows.size()).arg(folders));
            }
            ours.add(measureArrivals(
                m_heartbeat, rig.browser(), [&] { rig.pressSelectAll(); },
                [&] { return rig.pane().selection().size() == rows && sizesShown(table, folderRows); },
                what));
            requireSizesInPlace(table, folderRows, bytes, what);
        }
        PlainTable table(true);
        table.show(madeFilesOf(LocalDirectoryReader::read(folder, FileSort::name, true)));
        const Measured baseline =
            table.fillSizes(m_heartbeat, QStringList(bytes.keyBegin(), bytes.keyEnd()),
                            workPool().maxThreadCount(), [&folder](const QString& name) {
                                qint64 total = 0;
                                for (const QFileInfo& file :
                                     QDir(folder + QLatin1Char('/') + name).entryInfoList(QDir::Files)) {
                                    total += file.size();
                                }
                                return total;
                            });
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    reportSizes(QStringLiteral("computer pane"), sort, ours, plain, plainStall);
}

void ResponsivenessBench::phoneSizesArriving(FileSort sort)
{
    const int rows = m_options.rows;
    const int folders = sizedFolderCount();
    const BigPhoneFolder phone(rows, folders);
    const QString what = QStringLiteral("phone pane: sizes arriving");
    const QList<RemoteItem> bySize = sortedForBrowser(phone.byName, FileSort::size, true);
    SizeSamples ours;
    Samples plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            BigFolderWindow window(phone, phone.session());
            window.openBigFolder();
            RemoteItemTable& table = window.table();
            if (sort == FileSort::size) {
                clickHeaderOf(table, QStringLiteral("size"), [&] {
                    return window.browser().sort() == FileSort::size && window.showsBigFolder(bySize);
                });
            }
            // A file's row clicked: the pane takes the keys, and a file selected measures nothing.
            window.clickRow(phone.byName.at(folders).name);
            AndroidPaneView& pane = window.rig().pane();
            turnUntil(landedQuietly([&] { return pane.selection().size() == 1; }),
                      QStringLiteral("the click"));
            const auto folderRows = folderRowsOf(table);
            if (folderRows.size() != folders || !window.browser().calculatingFolderSizeIDs().isEmpty()) {
                throw BenchFailure(
                    what +
                    QStringLiteral(": %1 folders unmeasured of %2").arg(folderRows.size()).arg(folders));
            }
            ours.add(measureArrivals(
                m_heartbeat, window.browser(), [&] { window.rig().pressSelectAll(); },
                [&] { return pane.selection().size() == rows && sizesShown(table, folderRows); }, what));
            requireSizesInPlace(table, folderRows, phone.folderBytes, what);
        }
        PlainTable table(true);
        table.show(phone.plainRows);
        // The phone answers one listing at a time.
        const Measured baseline = table.fillSizes(
            m_heartbeat, QStringList(phone.folderBytes.keyBegin(), phone.folderBytes.keyEnd()), 1,
            [&phone](const QString& name) {
                std::this_thread::sleep_for(BigFolderSession::innerFolderLatency);
                return phone.folderBytes.value(name);
            });
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    reportSizes(QStringLiteral("phone pane"), sort, ours, plain, plainStall);
}

void ResponsivenessBench::reportSizes(const QString& pane, FileSort sort, const SizeSamples& ours,
                                      const Samples& plain, const Samples& plainStall)
{
    const int rows = m_options.rows;
    const int folders = sizedFolderCount();
    const QString order = sort == FileSort::size ? QStringLiteral("by size") : QStringLiteral("by name");
    say(QStringLiteral(
            "detail: %1, sizes of %2 folders arriving at %3 rows sorted %4, all selected: ours s %5, "
            "stall ms %6 (Ctrl+A's own %7), publications %8; plain s %9, stall ms %10")
            .arg(pane)
            .arg(folders)
            .arg(rows)
            .arg(order, ours.time.listed(3), ours.stall.listed(1), ours.actionStall.listed(1),
                 ours.publications.listed(0), plain.listed(3), plainStall.listed(1)));
    m_rows.append(
        {QStringLiteral("%1: sizes of %2 folders arriving at %3 rows, all selected, sorted %4 (longest "
                        "stall while they arrive)")
             .arg(pane)
             .arg(folders)
             .arg(rows)
             .arg(order),
         secondsText(ours.time),
         secondsText(plain) + QStringLiteral(" (QStandardItemModel, one cell set per arrival)"),
         stallText(ours.stall), stallText(plainStall)});
}

// What one side's child process measured: the memory its rows held in each state (medians of the
// rounds) and the peak of resident memory over every round, each above what the process held
// before the first round, in MiB; and the rounds one by one, for the detail lines.
struct MemoryOfSide {
    double byName = 0;
    double bySize = 0;
    double selected = 0;
    double left = 0;
    double peak = 0;
};

// The states each round goes through, measured once the window's work on them is done.
enum class MemoryState { byName, bySize, selected, left };

// Takes the heap in use above `baseline` in each state, round by round; prints the child's result
// line from them and the peak resident memory above `resident`.
class MemoryLog {
public:
    MemoryLog() : m_baseline(bench::memoryNow())
    {
        bench::resetPeakResident();
    }
    void take(MemoryState state)
    {
        m_samples[static_cast<int>(state)].add(bench::memoryNow().heapMiB - m_baseline.heapMiB);
    }
    void print() const
    {
        QStringList rounds;
        for (const Samples& samples : m_samples) {
            rounds.append(samples.listed(1).replace(u' ', u','));
        }
        say(QStringLiteral("result byname=%1 bysize=%2 selected=%3 left=%4 peak=%5 rounds=%6")
                .arg(m_samples[0].median(), 0, 'f', 1)
                .arg(m_samples[1].median(), 0, 'f', 1)
                .arg(m_samples[2].median(), 0, 'f', 1)
                .arg(m_samples[3].median(), 0, 'f', 1)
                .arg(bench::peakResidentMiB() - m_baseline.residentMiB, 0, 'f', 1)
                .arg(rounds.join(u'/')));
    }

private:
    bench::MemoryNow m_baseline;
    Samples m_samples[4];
};

// One side of phoneMemory(), in a child process: ours, the phone pane of the whole window over the
// big folder (opened from the root, sorted by size with a header click, Ctrl+A, left with
// Backspace, sorted by name again at the root); plain, a QTableView over a QStandardItemModel of
// the same rows (built and set, sorted by byte count by the view after a header click, every row
// selected, a model of the root's rows set in its place).
void memoryOfSide(const QString& side, int rows, int rounds)
{
    const BigPhoneFolder phone(rows);
    const QList<RemoteItem> bySizeAscending = sortedForBrowser(phone.byName, FileSort::size, true);
    const QList<RemoteItem> bySizeDescending = sortedForBrowser(phone.byName, FileSort::size, false);
    bench::StallMeter unwatched(1000);
    if (side == QLatin1StringView("plain")) {
        PlainTable table(true);
        settle();
        MemoryLog log;
        for (int round = 0; round < rounds; ++round) {
            table.show(phone.plainRows);
            settle();
            log.take(MemoryState::byName);
            table.clickSize(unwatched, true);
            log.take(MemoryState::bySize);
            table.selectAll(unwatched);
            log.take(MemoryState::selected);
            table.putBackInAddedOrder();
            table.show(phone.rootRows);
            settle();
            log.take(MemoryState::left);
        }
        log.print();
        return;
    }
    BigFolderWindow window(phone, phone.session());
    window.selectBigFolder();
    AndroidPaneView& pane = window.rig().pane();
    const auto quietly = [](const std::function<bool()>& landed, const char* what) {
        turnUntil(landedQuietly(landed), QString::fromLatin1(what));
        watchFor(followUp);
    };
    quietly([] { return true; }, "the window at the root");
    MemoryLog log;
    const auto bySize = [&]() -> const QList<RemoteItem>& {
        return window.browser().sortAscending() ? bySizeAscending : bySizeDescending;
    };
    for (int round = 0; round < rounds; ++round) {
        if (round > 0) {
            window.selectBigFolder();
        }
        window.rig().pressKey(Qt::Key_Return);
        quietly([&] { return window.showsBigFolder(phone.byName); }, "the big folder");
        log.take(MemoryState::byName);
        window.clickHeader(QStringLiteral("size"));
        quietly([&] { return window.browser().sort() == FileSort::size && window.showsBigFolder(bySize()); },
                "the sort by size");
        log.take(MemoryState::bySize);
        window.clickRow(bySize().constFirst().name);
        quietly([&] { return pane.selection().size() == 1; }, "a click on a row");
        window.rig().pressSelectAll();
        quietly([&] { return pane.selection().size() == rows; }, "Ctrl+A");
        log.take(MemoryState::selected);
        window.rig().pressKey(Qt::Key_Backspace);
        quietly([&] { return window.showsRoot(); }, "the root");
        log.take(MemoryState::left);
        window.clickHeader(QStringLiteral("name"));
        quietly([&] { return window.browser().sort() == FileSort::name && window.showsRoot(); }, "the sort by name");
    }
    log.print();
}

void ResponsivenessBench::phoneMemory()
{
    const int rows = m_options.rows;
    const int rounds = std::max(m_options.rounds, 3);
    const auto runSide = [&](const QString& side) {
        const ChildRun run = runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--rows"),
                                       QString::number(rows), QStringLiteral("--rounds"), QString::number(rounds),
                                       QStringLiteral("--memory-side"), side},
                                      m_work.path());
        if (!run.succeeded()) {
            throw BenchFailure(QStringLiteral("the %1 side of the memory rows failed: %2").arg(side, run.errorSummary()));
        }
        const auto field = [&run](const char* key) { return run.field("result", key).toDouble(); };
        say(QStringLiteral("detail: phone rows' memory, %1 side, MiB per round by name/by size/all "
                           "selected/left: %2")
                .arg(side, QString::fromUtf8(run.field("result", "rounds"))));
        return MemoryOfSide{field("byname"), field("bysize"), field("selected"), field("left"), field("peak")};
    };
    const MemoryOfSide ours = runSide(QStringLiteral("ours"));
    const MemoryOfSide plain = runSide(QStringLiteral("plain"));
    const auto row = [&](const QString& what, double oursMiB, double plainMiB) {
        m_memoryRows.append(QStringLiteral("| %1 | %2 MiB | %3 MiB | %4 |")
                                .arg(what)
                                .arg(oursMiB, 0, 'f', 1)
                                .arg(plainMiB, 0, 'f', 1)
                                .arg(plainMiB > 0 ? QString::number(oursMiB / plainMiB, 'f', 2) : QStringLiteral("-")));
    };
    m_memoryRows.append(QStringLiteral("| %1 phone rows, %2 CPUs, %3 rounds | ours | QStandardItemModel | ours / theirs |")
                            .arg(rows)
                            .arg(usableCPUs())
                            .arg(rounds));
    m_memoryRows.append(QStringLiteral("|---|---|---|---|"));
    row(QStringLiteral("in use, in name order"), ours.byName, plain.byName);
    row(QStringLiteral("in use, sorted by size"), ours.bySize, plain.bySize);
    row(QStringLiteral("in use, all selected"), ours.selected, plain.selected);
    row(QStringLiteral("in use, after leaving for the root"), ours.left, plain.left);
    row(QStringLiteral("peak resident over the rounds"), ours.peak, plain.peak);
}

void ResponsivenessBench::leaveComputerFolder()
{
    const QList<MadeFile>& files = variedFolder();
    const int rows = static_cast<int>(files.size());
    QList<MadeFile> parentRows{MadeFile{QStringLiteral("varied"), -1, QDateTime()}};
    parentRows.append(parentFiles());
    const int parentCount = static_cast<int>(parentRows.size());
    const QString parent = QDir::cleanPath(parentPath());
    Samples window, windowStall, plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        {
            WindowRig rig;
            rig.show(variedFolderPath(), rows);
            LocalBrowserViewModel& browser = rig.browser();
            const auto* model = rig.table().itemModel();
            const Measured measured = measure(
                m_heartbeat, [&] { rig.pressKey(Qt::Key_Backspace); },
                [&] {
                    return !browser.isLoading() &&
                           QDir::cleanPath(browser.currentDirectory().toLocalFile()) == parent &&
                           browser.items().size() == parentCount && model->rowCount() == parentCount;
                },
                QStringLiteral("computer pane: leaving the big folder"), true);
            window.add(measured.seconds);
            windowStall.add(measured.stallMs);
        }
        PlainTable table;
        table.show(files);
        settle();
        const Measured baseline = measure(
            m_heartbeat, [&] { table.show(parentRows); }, [] { return true; }, QStringLiteral("plain leaving"), true);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    say(QStringLiteral("detail: computer pane, leaving a folder of %1 files for one of %2: ours s %3, stall ms %4; "
                       "plain s %5, stall ms %6")
            .arg(rows)
            .arg(parentCount)
            .arg(window.listed(3), windowStall.listed(1), plain.listed(3), plainStall.listed(1)));
    m_rows.append({QStringLiteral("computer pane: leaving a folder of %1 files for one of %2 rows")
                       .arg(rows)
                       .arg(parentCount),
                   secondsText(window),
                   secondsText(plain) + QStringLiteral(" (a model of %1 rows for the big one)").arg(parentCount),
                   stallText(windowStall), stallText(plainStall)});
}

void ResponsivenessBench::typeInComputerPane()
{
    const int rows = static_cast<int>(variedFolder().size());
    QString typedName;
    TypingSamples typed, plainTyped;
    for (int round = 0; round < m_options.rounds; ++round) {
        QList<MadeFile> shownRows;
        {
            // The pane shows the folder with its first row clicked.
            WindowRig rig;
            rig.show(variedFolderPath(), rows);
            LocalItemTable& table = rig.table();
            QStringList names;
            for (const LocalItem& item : rig.browser().items()) {
                names.append(item.name);
            }
            shownRows = madeFilesOf(rig.browser().items());
            typedName = nameToType(names);
            typed.add(typeIntoPane(m_heartbeat, rig.window().windowHandle(), table, rig.pane(), typedName));
        }
        PlainTable plain;
        plain.show(shownRows);
        plainTyped.add(plain.type(m_heartbeat, typedName));
    }
    reportTyping(QStringLiteral("computer pane"), typedName, rows, typed, plainTyped);
}

void ResponsivenessBench::reportTyping(const QString& pane, const QString& typedName, int rows,
                                       const TypingSamples& ours, const TypingSamples& plain)
{
    say(QStringLiteral("detail: %1, typing \"%2\" at %3 rows: longest key ours s %4, stall ms %5, on the name %6 "
                       "of %7; plain s %8, stall ms %9, on the name %10 of %11")
            .arg(pane, typedName)
            .arg(rows)
            .arg(ours.key.listed(3), ours.stall.listed(1))
            .arg(ours.landed)
            .arg(ours.rounds)
            .arg(plain.key.listed(3), plain.stall.listed(1))
            .arg(plain.landed)
            .arg(plain.rounds));
    m_rows.append({QStringLiteral("%1: typing a name of 16 characters at %2 rows, keys %3 ms apart (longest key)")
                       .arg(pane)
                       .arg(rows)
                       .arg(keySpacing.count()),
                   ours.keyText(), plain.keyText(QStringLiteral("QStandardItemModel")), stallText(ours.stall),
                   stallText(plain.stall)});
}

// What changeOnePercent() did to a folder, to undo it.
struct DiskChanges {
    QStringList added;
    // The files removed or grown, as they were.
    QList<MadeFile> before;
    QSet<QString> removed;
    // The entries of the folder now.
    int entries = 0;
};

// Changes 1% of the files of `folder` as a person's other programs do between two looks at it,
// spread over the order shown (`shown`, as `made` made them): a third deleted, a third with a new
// file beside it, a third grown by a byte.
DiskChanges changeOnePercent(const QString& folder, const QList<LocalItem>& shown, const QHash<QString, MadeFile>& made)
{
    DiskChanges changes;
    changes.entries = static_cast<int>(shown.size());
    constexpr int step = 100;
    for (int index = step / 2; index < shown.size(); index += step) {
        const MadeFile& file = made[shown[index].name];
        const QString path = folder + QLatin1Char('/') + file.name;
        switch ((index / step) % 3) {
        case 0:
            if (!QFile::remove(path)) {
                throw BenchFailure(QStringLiteral("cannot remove ") + path);
            }
            changes.before.append(file);
            changes.removed.insert(file.name);
            --changes.entries;
            break;
        case 1: {
            const MadeFile added{file.name + QLatin1Char('b'), 1'234, file.modified};
            makeSparseFile(folder + QLatin1Char('/') + added.name, added);
            changes.added.append(added.name);
            ++changes.entries;
            break;
        }
        default: {
            MadeFile grown = file;
            grown.size += 1;
            makeSparseFile(path, grown);
            changes.before.append(file);
        }
        }
    }
    return changes;
}

void undo(const QString& folder, const DiskChanges& changes)
{
    for (const QString& name : changes.added) {
        QFile::remove(folder + QLatin1Char('/') + name);
    }
    for (const MadeFile& file : changes.before) {
        makeSparseFile(folder + QLatin1Char('/') + file.name, file);
    }
}

void ResponsivenessBench::refreshAfterChangesOnDisk()
{
    const int rows = m_options.rows;
    const QString folder = m_work.filePath(QStringLiteral("refresh/varied"));
    QHash<QString, MadeFile> made;
    for (const MadeFile& file : makeVariedFiles(folder, rows)) {
        made.insert(file.name, file);
    }
    Samples window, windowStall, plain, plainStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        QList<MadeFile> before, after;
        {
            WindowRig rig;
            rig.show(folder, rows);
            LocalBrowserViewModel& browser = rig.browser();
            LocalItemTable& table = rig.table();
            const auto* model = table.itemModel();
            // A person's place in the middle of the folder: a row clicked, ten more with Shift.
            const int first = rows / 2;
            table.scrollTo(model->index(first, 0), QAbstractItemView::PositionAtTop);
            settle();
            QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.visualRect(model->index(first, 0)).center());
            QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              table.visualRect(model->index(first + 10, 0)).center());
            turnUntil(landedQuietly([&] { return rig.pane().selection().size() == 11; }),
                      QStringLiteral("the selection before the refresh"));
            const QSet<QUrl> selected = rig.pane().selection();
            const QList<LocalItem> shown = browser.items();
            before = madeFilesOf(shown);
            const DiskChanges changes = changeOnePercent(folder, shown, made);

            const Measured measured = measure(
                m_heartbeat, [&] { rig.pressKey(Qt::Key_F5); },
                [&] {
                    return !browser.isLoading() && browser.items().size() == changes.entries &&
                           model->rowCount() == changes.entries;
                },
                QStringLiteral("computer pane: refresh after changes on disk"), true);
            requireShown(table, browser.items(), QStringLiteral("computer pane: refresh after changes on disk"));
            // The selected rows the refresh found again stay selected, and only they.
            QSet<QUrl> kept;
            for (const QUrl& id : selected) {
                if (!changes.removed.contains(id.fileName())) {
                    kept.insert(id);
                }
            }
            if (rig.pane().selection() != kept) {
                throw BenchFailure(QStringLiteral("computer pane: the refresh kept %1 of %2 selected rows")
                                       .arg(rig.pane().selection().size())
                                       .arg(kept.size()));
            }
            after = madeFilesOf(browser.items());
            window.add(measured.seconds);
            windowStall.add(measured.stallMs);
            undo(folder, changes);
        }
        PlainTable table;
        table.show(before);
        settle();
        const Measured baseline = measure(
            m_heartbeat, [&] { table.show(after); }, [] { return true; }, QStringLiteral("plain refresh"), true);
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
    }
    say(QStringLiteral("detail: computer pane, refresh of %1 files after 1% changed on disk: ours s %2, stall ms %3; "
                       "plain s %4, stall ms %5")
            .arg(rows)
            .arg(window.listed(3), windowStall.listed(1), plain.listed(3), plainStall.listed(1)));
    m_rows.append({QStringLiteral("computer pane: refresh of %1 files after 1% of them changed on disk").arg(rows),
                   secondsText(window),
                   secondsText(plain) + QStringLiteral(" (a model of the rows read anew built and shown)"),
                   stallText(windowStall), stallText(plainStall)});
}

// Copies every file of `source` into `target` with QFile::copy, one after another.
bool copyFilesPlainly(const QString& source, const QString& target)
{
    if (!QDir().mkpath(target)) {
        return false;
    }
    bool copied = true;
    for (const QString& name : QDir(source).entryList(QDir::Files)) {
        copied = QFile::copy(source + QLatin1Char('/') + name, target + QLatin1Char('/') + name) && copied;
    }
    return copied;
}

void ResponsivenessBench::paintDuringPaste()
{
    const int files = m_options.paintFiles;
    const QString source = m_work.filePath(QStringLiteral("paint/Camera"));
    const QString target = m_work.filePath(QStringLiteral("paint-target"));
    makeFiles(source, files);
    const auto freshTarget = [&] {
        QDir(target).removeRecursively();
        makeFiles(target, 1);
    };
    const auto arrived = [&] { return QDir(target + QStringLiteral("/Camera")).entryList(QDir::Files).size(); };
    Samples ours, oursStall, plain, plainStall, idleStall;
    for (int round = 0; round < m_options.rounds; ++round) {
        freshTarget();
        WindowRig rig;
        rig.show(target, 1);
        // The window paints itself anew every frame, as it does while the transfer panel moves.
        QTimer frames;
        frames.setInterval(16);
        QObject::connect(&frames, &QTimer::timeout, &rig.window(), [&rig] { rig.window().repaint(); });
        frames.start();
        settle();

        // What painting alone costs on this machine, over a stretch as long as a short paste.
        {
            QTimer stretch;
            stretch.setSingleShot(true);
            stretch.start(300);
            const Measured idle =
                measure(m_heartbeat, [] {}, [&] { return !stretch.isActive(); }, QStringLiteral("painting alone"));
            idleStall.add(idle.stallMs);
        }

        TransferQueue& queue = *rig.app().transferQueue();
        rig.app().clipboard().copyLocal({QUrl::fromLocalFile(source)});
        // Started once the queue has announced a job: a small paste may come and go between two
        // looks at the queue.
        bool started = false;
        const QMetaObject::Connection announced =
            QObject::connect(&queue, &TransferQueue::jobChanged, [&started] { started = true; });
        const Measured measured = measure(
            m_heartbeat, [&] { rig.pane().paste(); },
            [&] {
                return started && !queue.hasActiveJobs() && !rig.browser().isLoading() &&
                       rig.browser().items().size() == 2;
            },
            QStringLiteral("paste while painting"));
        QObject::disconnect(announced);
        if (arrived() != files) {
            throw BenchFailure(QStringLiteral("paste while painting: %1 of %2 files arrived").arg(arrived()).arg(files));
        }
        ours.add(measured.seconds);
        oursStall.add(measured.stallMs);

        freshTarget();
        std::atomic<bool> done = false;
        std::atomic<bool> copied = false;
        const Measured baseline = measure(
            m_heartbeat,
            [&] {
                QThreadPool::globalInstance()->start([&] {
                    copied = copyFilesPlainly(source, target + QStringLiteral("/Camera"));
                    done = true;
                });
            },
            [&] { return done.load(); }, QStringLiteral("plain copy while painting"));
        QThreadPool::globalInstance()->waitForDone();
        if (!copied || arrived() != files) {
            throw BenchFailure(QStringLiteral("plain copy while painting: %1 of %2 files arrived").arg(arrived()).arg(files));
        }
        plain.add(baseline.seconds);
        plainStall.add(baseline.stallMs);
        frames.stop();
    }
    say(QStringLiteral("detail: painting during a paste of %1 files, %2 CPUs (Qt's pool %3 threads, ours %4): ours s %5, "
                       "stall ms %6; plain s %7, stall ms %8; painting alone stall ms %9")
            .arg(files)
            .arg(usableCPUs())
            .arg(QThreadPool::globalInstance()->maxThreadCount())
            .arg(workPool().maxThreadCount())
            .arg(ours.listed(3), oursStall.listed(1), plain.listed(3), plainStall.listed(1), idleStall.listed(1)));
    m_rows.append({QStringLiteral("the window painting while a folder of %1 files is pasted").arg(files),
                   secondsText(ours),
                   secondsText(plain) + QStringLiteral(" (one job on Qt's shared pool)"), stallText(oursStall),
                   stallText(plainStall)});
}

Measured ResponsivenessBench::paste(const std::function<QCoro::Task<>()>& run, const QString& what)
{
    bool done = false;
    std::optional<QCoro::Task<>> task;
    return measure(
        m_heartbeat, [&] { task.emplace(runToEnd(run, &done)); }, [&] { return done; }, what);
}

void ResponsivenessBench::localPastes()
{
    for (const int files : std::as_const(m_options.copies)) {
        const QString source = m_work.filePath(QStringLiteral("copies/Camera-%1").arg(files));
        makeFiles(source, files);
        Samples ours, oursStall, cp, oneByOne, oneByOneStall;
        const bool singly = files == m_options.copies.last();
        for (int round = 0; round < m_options.rounds; ++round) {
            CoordinatorRig rig(m_work.filePath(QStringLiteral("opened-files")));
            const QString target = m_work.filePath(QStringLiteral("pasted"));
            QDir(target).removeRecursively();
            QDir().mkpath(target);
            rig.clipboard.copyLocal({QUrl::fromLocalFile(source)});
            const Measured measured = paste(
                [&]() { return rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(target), nullptr); },
                QStringLiteral("local paste"));
            rig.requireCompleted(QStringLiteral("local paste of %1 files").arg(files));
            if (QDir(target + QStringLiteral("/Camera-%1").arg(files)).entryList(QDir::Files).size() != files) {
                throw BenchFailure(QStringLiteral("local paste of %1 files: not all arrived").arg(files));
            }
            ours.add(measured.seconds);
            oursStall.add(measured.stallMs);

            QDir(target).removeRecursively();
            QDir().mkpath(target);
            const ChildRun copied = runChild({QStringLiteral("cp"), QStringLiteral("-r"), source, target}, m_work.path());
            if (!copied.succeeded()) {
                throw BenchFailure(QStringLiteral("cp -r: ") + copied.errorSummary());
            }
            cp.add(copied.seconds);

            if (singly) {
                QDir(target).removeRecursively();
                QDir().mkpath(target);
                QList<QUrl> urls;
                for (const QString& name : QDir(source).entryList(QDir::Files, QDir::Name)) {
                    urls.append(QUrl::fromLocalFile(source + QLatin1Char('/') + name));
                }
                rig.clipboard.copyLocal(urls);
                const Measured each = paste(
                    [&]() { return rig.coordinator.pasteIntoLocal(QUrl::fromLocalFile(target), nullptr); },
                    QStringLiteral("local paste one by one"));
                rig.requireCompleted(QStringLiteral("local paste of %1 files one by one").arg(files), files);
                oneByOne.add(each.seconds);
                oneByOneStall.add(each.stallMs);
            }
            QDir(target).removeRecursively();
        }
        say(QStringLiteral("detail: local paste of %1 files: ours s %2, stall ms %3, cp -r s %4")
                .arg(files)
                .arg(ours.listed(3), oursStall.listed(1), cp.listed(3)));
        m_rows.append({QStringLiteral("paste a folder of %1 files into a local folder").arg(files), secondsText(ours),
                       secondsText(cp) + QStringLiteral(" (cp -r)"), stallText(oursStall), QStringLiteral("-")});
        if (singly) {
            m_rows.append({QStringLiteral("paste %1 files selected one by one into a local folder").arg(files),
                           secondsText(oneByOne), secondsText(cp) + QStringLiteral(" (cp -r)"),
                           stallText(oneByOneStall), QStringLiteral("-")});
        }
    }
}

void ResponsivenessBench::devicePastes()
{
    const StorageID storage(QStringLiteral("bench-internal"));
    for (const int files : std::as_const(m_options.uploads)) {
        const QString source = m_work.filePath(QStringLiteral("uploads/Camera-%1").arg(files));
        makeFiles(source, files);
        Samples ours, oursStall;
        for (int round = 0; round < m_options.rounds; ++round) {
            CoordinatorRig rig(m_work.filePath(QStringLiteral("opened-files")));
            const AndroidDevice device = MockMTPBackend::defaultDevices().front();
            auto session = std::make_shared<MockDeviceSession>(
                device, MockTree({StorageRoot(storage, QStringLiteral("Internal shared storage"), 256'000'000'000LL,
                                              141'000'000'000LL)},
                                 {}));
            rig.clipboard.copyLocal({QUrl::fromLocalFile(source)});
            const Measured measured = paste(
                [&]() { return rig.coordinator.pasteIntoDevice(std::nullopt, storage, session); },
                QStringLiteral("paste to the device"));
            rig.requireCompleted(QStringLiteral("paste of %1 files to the device").arg(files), files);
            ours.add(measured.seconds);
            oursStall.add(measured.stallMs);
        }
        say(QStringLiteral("detail: paste of %1 files to the mock device: s %2, stall ms %3")
                .arg(files)
                .arg(ours.listed(3), oursStall.listed(1)));
        m_rows.append({QStringLiteral("paste a folder of %1 files to the mock device").arg(files), secondsText(ours),
                       QStringLiteral("-"), stallText(oursStall), QStringLiteral("-")});
    }
}

void ResponsivenessBench::run()
{
    if (!m_work.isValid()) {
        throw BenchFailure(QStringLiteral("no temporary folder"));
    }
    say(QStringLiteral("detail: %1 CPUs").arg(usableCPUs()));
    const auto runs = [this](const char* name) { return wants(name); };
    if (runs("select")) {
        selectAll();
    }
    if (runs("subfolders")) {
        selectAllWithSubfolders();
    }
    if (runs("phone")) {
        phoneFolderSizes();
    }
    if (runs("sort")) {
        sortByHeader();
    }
    if (runs("open")) {
        openFolder();
    }
    if (runs("type")) {
        typeInComputerPane();
    }
    if (runs("phone-show") || runs("phone-refresh") || runs("phone-sort") || runs("leave") || runs("type")) {
        phoneBigFolder();
    }
    if (runs("phone-select") || runs("leave-selected")) {
        phoneSelectAll();
    }
    if (runs("sizes")) {
        sizesArriving();
    }
    if (runs("phone-memory")) {
        phoneMemory();
    }
    if (runs("leave")) {
        leaveComputerFolder();
    }
    if (runs("refresh")) {
        refreshAfterChangesOnDisk();
    }
    if (runs("paint")) {
        paintDuringPaste();
    }
    if (runs("local")) {
        localPastes();
    }
    if (runs("device")) {
        devicePastes();
    }
    say(QString());
    say(QStringLiteral("| action | ours: time | baseline: time | ours: longest stall | baseline: longest stall |"));
    say(QStringLiteral("|---|---|---|---|---|"));
    for (const Row& row : std::as_const(m_rows)) {
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                .arg(row.action, row.ours, row.baseline, row.oursStall, row.baselineStall));
    }
    if (!m_memoryRows.isEmpty()) {
        say(QString());
        for (const QString& row : std::as_const(m_memoryRows)) {
            say(row);
        }
    }
}

QList<int> numbers(const QString& text)
{
    QList<int> values;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value <= 0) {
            throw BenchFailure(QStringLiteral("not a count: ") + part);
        }
        values.append(value);
    }
    return values;
}

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        if (index + 1 >= arguments.size()) {
            throw BenchFailure(QStringLiteral("missing value after ") + argument);
        }
        const QString value = arguments[++index];
        const int number = value.toInt();
        if (argument == QStringLiteral("--rows") && number > 0) {
            options.rows = number;
        } else if (argument == QStringLiteral("--entries")) {
            options.entries = numbers(value);
        } else if (argument == QStringLiteral("--subfolders")) {
            options.subfolders = numbers(value);
        } else if (argument == QStringLiteral("--paint-files") && number > 0) {
            options.paintFiles = number;
        } else if (argument == QStringLiteral("--phone-entries") && number > 0) {
            options.phoneEntries = number;
        } else if (argument == QStringLiteral("--phone-folders") && number >= 0) {
            options.phoneFolders = number;
        } else if (argument == QStringLiteral("--size-folders") && number > 0) {
            options.sizeFolders = number;
        } else if (argument == QStringLiteral("--rounds") && number > 0) {
            options.rounds = number;
        } else if (argument == QStringLiteral("--copies")) {
            options.copies = numbers(value);
        } else if (argument == QStringLiteral("--uploads")) {
            options.uploads = numbers(value);
        } else if (argument == QStringLiteral("--only")) {
            options.only = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (argument == QStringLiteral("--memory-side") && (value == "ours" || value == "plain")) {
            options.memorySide = value;
        } else {
            throw BenchFailure(QStringLiteral("unknown or bad option ") + argument + QLatin1Char(' ') + value);
        }
    }
    if (options.entries.size() != options.subfolders.size()) {
        throw BenchFailure(QStringLiteral("--entries and --subfolders need as many values each"));
    }
    return options;
}

} // namespace

} // namespace quillbarrow

int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("com.quillbarrow.*=false"));
    try {
        const quillbarrow::Options options = quillbarrow::parse(QCoreApplication::arguments());
        if (!options.memorySide.isEmpty()) {
            quillbarrow::memoryOfSide(options.memorySide, options.rows, options.rounds);
            return 0;
        }
        quillbarrow::ResponsivenessBench bench(options);
        bench.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillbarrow_bench_responsiveness: %s\n", error.what());
        return 1;
    }
    return 0;
}
