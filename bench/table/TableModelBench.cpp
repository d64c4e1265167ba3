// The native table's model against a plain QStandardItemModel holding the same rows, in the same
// run:
//
//   quillbarrow_bench_table [--rows N] [--rounds N]
//
// For both kinds of rows (computer and phone items) and N rows (100,000 by default), each side
// runs in a child process of its own (so that its peak resident memory is its own) and times,
// with a table view attached and 1,000 rows selected as a pane would have them:
//   - applying a listing: ours NativeTable::setItems of the rows; theirs, filling the model with a
//     row of three items (name with its icon, size text, date text) per item;
//   - re-sorting by size, descending: ours, the view model's re-sort (the browser order by size,
//     with the names' ranks kept from the listing, and the rows copied into it) and the table
//     applying it; theirs, QStandardItemModel::sort by the byte counts, which sorts and moves its
//     rows. Both check afterwards that most rows moved;
//   - a re-listing that changes 1% of the rows (a third removed, a third new, a third with a new
//     size, spread over the listing), every item read anew as a refresh reads it (ids and names
//     sharing nothing with the rows shown): ours, setItems of the new listing; theirs, refilling.
// Figures are medians over the rounds. Prints detail lines and a Markdown table whose ratio is
// ours over theirs. Exits 1 when something fails (the reason on stderr). Never judges a time.

#include "../ChildProcess.h"
#include "../Samples.h"

#include "async/Allocator.h"
#include "domain/BrowserSort.h"
#include "style/ListingFormat.h"
#include "style/SymbolIcons.h"
#include "table/NativeTable.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>

namespace quillbarrow {

namespace {

class BenchFailure : public std::runtime_error {
public:
    explicit BenchFailure(const QString& message) : std::runtime_error(message.toStdString()) {}
};

struct Options {
    int rows = 100'000;
    int rounds = 3;
    // Set in a child: which side and which kind of rows it measures.
    QString side;
    QString kind;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

double secondsOf(const std::function<void()>& work)
{
    const auto started = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

const QDateTime baseTime(QDate(2024, 3, 5), QTime(14, 7), Qt::UTC);

LocalItem makeRow(const LocalItem*, int number, qint64 size)
{
    const QString name = QStringLiteral("IMG_%1 copy.jpg").arg(number);
    return LocalItem(QUrl::fromLocalFile(QStringLiteral("/home/bench/") + name), name,
                     number % 50 == 0 ? RemoteItemKind::folder : RemoteItemKind::file, size,
                     baseTime.addSecs(-number), false);
}

RemoteItem makeRow(const RemoteItem*, int number, qint64 size)
{
    return RemoteItem(RemoteObjectID(QString::number(100'000 + number)), StorageID(QStringLiteral("65537")),
                      std::nullopt, QStringLiteral("PXL_%1.mp4").arg(number),
                      number % 50 == 0 ? RemoteItemKind::folder : RemoteItemKind::file, size, baseTime.addSecs(-number),
                      std::nullopt);
}

// The item as a new reading of its folder gives it: equal, but sharing no data (id, name) with
// `item`, as the items of a refresh share nothing with the rows shown.
LocalItem reread(const LocalItem& item)
{
    return LocalItem(QUrl::fromLocalFile(item.id.toLocalFile()), QString(item.name.constData(), item.name.size()),
                     item.kind, item.size, item.modifiedAt, item.isHidden);
}

RemoteItem reread(const RemoteItem& item)
{
    const QString& raw = item.id.rawValue();
    return RemoteItem(RemoteObjectID(QString(raw.constData(), raw.size())), item.storageID, item.parentID,
                      QString(item.name.constData(), item.name.size()), item.kind, item.size, item.modifiedAt,
                      item.path);
}

// The listings one round applies: the folder in name order with its names' ranks (as the view
// model keeps them from the listing), and a re-listing of the name order with 1% of it changed,
// read anew.
template <typename Item>
struct Listings {
    QList<Item> byName;
    std::vector<qsizetype> nameRanks;
    QList<Item> relisted;
};

// The view model's re-sort of `listings.byName` by size, descending: the browser order over the
// kept name ranks, the rows copied into it.
template <typename Item>
QList<Item> resortedBySize(const Listings<Item>& listings)
{
    std::vector<BrowserSortFields> fields;
    fields.reserve(listings.nameRanks.size());
    for (qsizetype index = 0; index < listings.byName.size(); ++index) {
        const Item& item = listings.byName[index];
        fields.push_back(BrowserSortFields{item.kind, &item.name, &item.modifiedAt, &item.size,
                                           listings.nameRanks[static_cast<std::size_t>(index)]});
    }
    QList<Item> bySize;
    bySize.reserve(listings.byName.size());
    for (const qsizetype index : browserOrder(fields, FileSort::size, false)) {
        bySize.append(listings.byName[index]);
    }
    return bySize;
}

template <typename Item>
Listings<Item> makeListings(int rows)
{
    QRandomGenerator random(7);
    QList<Item> items;
    items.reserve(rows);
    for (int number = 0; number < rows; ++number) {
        items.append(makeRow(static_cast<const Item*>(nullptr), number, random.bounded(50'000'000)));
    }
    Listings<Item> listings;
    listings.byName = sortedForBrowser(items, FileSort::name, true, &listings.nameRanks);
    // 1% changed: a third removed, a third new, a third with a new size; spread evenly.
    const int changes = std::max(3, rows / 100);
    const int step = std::max(1, rows / changes);
    QList<Item> relisted;
    relisted.reserve(rows + changes);
    int newNumber = rows;
    for (int index = 0; index < listings.byName.size(); ++index) {
        const Item& item = listings.byName[index];
        if (index % step != 0) {
            relisted.append(reread(item));
            continue;
        }
        switch ((index / step) % 3) {
        case 0:
            break; // removed
        case 1:
            relisted.append(reread(item));
            relisted.append(makeRow(static_cast<const Item*>(nullptr), newNumber++, 1234));
            break;
        default: {
            Item grown = reread(item);
            grown.size = item.size.value_or(0) + 1;
            relisted.append(grown);
        }
        }
    }
    listings.relisted = relisted;
    return listings;
}

template <typename Item>
QStringList namesOf(const QList<Item>& items)
{
    QStringList names;
    names.reserve(items.size());
    for (const Item& item : items) {
        names.append(item.name);
    }
    return names;
}

// A re-sort that leaves most rows where they were times nothing worth a figure: at least half of
// the rows must show another name than before (`nameAt` gives a row's name after it).
void requireMostMoved(const QStringList& before, const std::function<QString(int)>& nameAt, const QString& side)
{
    qsizetype moved = 0;
    for (int row = 0; row < before.size(); ++row) {
        moved += nameAt(row) == before[row] ? 0 : 1;
    }
    if (moved < before.size() / 2) {
        throw BenchFailure(QStringLiteral("%1: the re-sort by size moved only %2 of %3 rows")
                               .arg(side)
                               .arg(moved)
                               .arg(before.size()));
    }
}

void selectSome(QTableView& view)
{
    QItemSelection selection;
    const int rows = view.model()->rowCount();
    for (int row = 0; row < rows && selection.size() < 1000; row += std::max(1, rows / 1000)) {
        selection.select(view.model()->index(row, 0), view.model()->index(row, view.model()->columnCount() - 1));
    }
    view.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void configure(QTableView& view)
{
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(22);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.resize(700, 500);
}

struct Times {
    Samples apply;
    Samples resort;
    Samples relist;
    Samples browserSort;
};

template <typename Item>
void measureOurs(const Listings<Item>& listings, Times& times)
{
    NativeTable<Item> table;
    configure(table);
    times.apply.add(secondsOf([&] { table.setItems(listings.byName, QStringLiteral("bench")); }));
    // The pane's selection goes through the table's binding, which keeps it by id.
    selectSome(table);
    QSet<typename NativeTable<Item>::ID> selected;
    for (const QModelIndex& index : table.selectionModel()->selectedRows()) {
        selected.insert(NativeTableItemTraits<Item>::id(table.itemModel()->item(index.row())));
    }
    table.setSelection(selected);
    QList<Item> bySize;
    double sortSeconds = 0;
    times.resort.add(secondsOf([&] {
        sortSeconds = secondsOf([&] { bySize = resortedBySize(listings); });
        table.setItems(bySize, QStringLiteral("bench"));
    }));
    times.browserSort.add(sortSeconds);
    requireMostMoved(namesOf(listings.byName), [&](int row) { return table.itemModel()->item(row).name; },
                     QStringLiteral("ours"));
    table.setItems(listings.byName, QStringLiteral("bench"));
    times.relist.add(secondsOf([&] { table.setItems(listings.relisted, QStringLiteral("bench")); }));
    if (table.model()->rowCount() != listings.relisted.size()) {
        throw BenchFailure(QStringLiteral("ours shows %1 rows of %2").arg(table.model()->rowCount()).arg(listings.relisted.size()));
    }
}

template <typename Item>
void fill(QStandardItemModel& model, const QList<Item>& items, const QIcon& folder, const QIcon& file)
{
    model.setRowCount(0);
    for (const Item& item : items) {
        auto* name = new QStandardItem(item.kind == RemoteItemKind::folder ? folder : file, item.name);
        auto* size = new QStandardItem(ListingFormat::sizeText(item.size));
        size->setData(item.size.value_or(-1), Qt::UserRole);
        auto* date = new QStandardItem(ListingFormat::dateText(item.modifiedAt));
        model.appendRow({name, size, date});
    }
}

template <typename Item>
void measureTheirs(const Listings<Item>& listings, Times& times)
{
    const QIcon folder = SymbolIcons::icon(QStringLiteral("folder"));
    const QIcon file = SymbolIcons::icon(QStringLiteral("doc"));
    QStandardItemModel model;
    model.setSortRole(Qt::UserRole);
    model.setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Modified")});
    QTableView view;
    configure(view);
    view.setModel(&model);
    times.apply.add(secondsOf([&] { fill(model, listings.byName, folder, file); }));
    selectSome(view);
    // Each row's place before the sort, to put them back afterwards: Qt 6.4 takes seconds to
    // delete 100,000 sorted rows (each item looks for its row among all of them).
    constexpr int addedAs = Qt::UserRole + 1;
    QStringList before;
    before.reserve(model.rowCount());
    for (int row = 0; row < model.rowCount(); ++row) {
        before.append(model.item(row, 0)->text());
        model.item(row, 0)->setData(row, addedAs);
    }
    times.resort.add(secondsOf([&] { model.sort(1, Qt::DescendingOrder); }));
    requireMostMoved(before, [&](int row) { return model.item(row, 0)->text(); }, QStringLiteral("QStandardItemModel"));
    for (int row = 1; row < model.rowCount(); ++row) {
        const qint64 previous = model.item(row - 1, 1)->data(Qt::UserRole).toLongLong();
        if (previous < model.item(row, 1)->data(Qt::UserRole).toLongLong()) {
            throw BenchFailure(QStringLiteral("QStandardItemModel: row %1 is out of order by size").arg(row));
        }
    }
    model.setSortRole(addedAs);
    model.sort(0);
    model.setSortRole(Qt::UserRole);
    fill(model, listings.byName, folder, file);
    selectSome(view);
    times.relist.add(secondsOf([&] { fill(model, listings.relisted, folder, file); }));
}

template <typename Item>
void runSide(const Options& options)
{
    Times times;
    for (int round = 0; round < options.rounds; ++round) {
        const Listings<Item> listings = makeListings<Item>(options.rows);
        if (options.side == QLatin1StringView("ours")) {
            measureOurs(listings, times);
        } else {
            measureTheirs(listings, times);
        }
    }
    say(QStringLiteral("result apply=%1 resort=%2 relist=%3 browsersort=%4 detail=%5/%6/%7")
            .arg(times.apply.median(), 0, 'f', 4)
            .arg(times.resort.median(), 0, 'f', 4)
            .arg(times.relist.median(), 0, 'f', 4)
            .arg(times.browserSort.median(), 0, 'f', 4)
            .arg(times.apply.listed(4).replace(u' ', u','), times.resort.listed(4).replace(u' ', u','),
                 times.relist.listed(4).replace(u' ', u',')));
}

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments[index];
        const bool hasValue = index + 1 < arguments.size();
        bool valid = hasValue;
        if (argument == QLatin1StringView("--rows") && hasValue) {
            options.rows = arguments[++index].toInt(&valid);
        } else if (argument == QLatin1StringView("--rounds") && hasValue) {
            options.rounds = arguments[++index].toInt(&valid);
        } else if (argument == QLatin1StringView("--side") && hasValue) {
            options.side = arguments[++index];
        } else if (argument == QLatin1StringView("--kind") && hasValue) {
            options.kind = arguments[++index];
        } else {
            valid = false;
        }
        if (!valid || options.rows < 10 || options.rounds < 1) {
            throw BenchFailure(QStringLiteral("usage: quillbarrow_bench_table [--rows N] [--rounds N]"));
        }
    }
    return options;
}

struct SideRun {
    double apply;
    double resort;
    double relist;
    double browserSort;
    long peakKiB;
    QByteArray detail;
};

SideRun runChildSide(const Options& options, const QString& side, const QString& kind, const QString& scratch)
{
    const ChildRun run = runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--rows"),
                                   QString::number(options.rows), QStringLiteral("--rounds"),
                                   QString::number(options.rounds), QStringLiteral("--side"), side,
                                   QStringLiteral("--kind"), kind},
                                  scratch);
    if (!run.succeeded()) {
        throw BenchFailure(QStringLiteral("the %1 side for %2 rows failed: %3").arg(side, kind, run.errorSummary()));
    }
    const auto field = [&run](const char* key) { return run.field("result", key).toDouble(); };
    return {field("apply"), field("resort"), field("relist"), field("browsersort"), run.maxResidentKiB,
            run.field("result", "detail")};
}

QString ms(double seconds)
{
    return QString::number(seconds * 1000.0, 'f', 1) + QStringLiteral(" ms");
}

QString ratio(double ours, double theirs)
{
    return theirs > 0 ? QString::number(ours / theirs, 'f', 2) : QStringLiteral("-");
}

void runComparison(const Options& options)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        throw BenchFailure(QStringLiteral("no temporary folder"));
    }
    QStringList table{QStringLiteral("| rows | measurement | ours | QStandardItemModel | ours / theirs |"),
                      QStringLiteral("|---|---|---|---|---|")};
    for (const QString& kind : {QStringLiteral("computer"), QStringLiteral("phone")}) {
        const SideRun ours = runChildSide(options, QStringLiteral("ours"), kind, scratch.path());
        const SideRun theirs = runChildSide(options, QStringLiteral("theirs"), kind, scratch.path());
        say(QStringLiteral("detail: %1 rows, ours (apply/re-sort/re-list, seconds per round): %2")
                .arg(kind, QString::fromUtf8(ours.detail)));
        say(QStringLiteral("detail: %1 rows, QStandardItemModel: %2").arg(kind, QString::fromUtf8(theirs.detail)));
        say(QStringLiteral("detail: %1 rows, of ours' re-sort the sort alone (browserOrder, ranks kept, rows "
                           "copied): %2")
                .arg(kind, ms(ours.browserSort)));
        const QString rows = QStringLiteral("%1 %2").arg(options.rows).arg(kind);
        table.append(QStringLiteral("| %1 | apply a listing | %2 | %3 | %4 |")
                         .arg(rows, ms(ours.apply), ms(theirs.apply), ratio(ours.apply, theirs.apply)));
        table.append(QStringLiteral("| %1 | re-sort by size, sorting included | %2 | %3 | %4 |")
                         .arg(rows, ms(ours.resort), ms(theirs.resort), ratio(ours.resort, theirs.resort)));
        table.append(QStringLiteral("| %1 | re-listing, 1% changed | %2 | %3 | %4 |")
                         .arg(rows, ms(ours.relist), ms(theirs.relist), ratio(ours.relist, theirs.relist)));
        table.append(QStringLiteral("| %1 | peak memory | %2 MiB | %3 MiB | %4 |")
                         .arg(rows)
                         .arg(static_cast<double>(ours.peakKiB) / 1024.0, 0, 'f', 1)
                         .arg(static_cast<double>(theirs.peakKiB) / 1024.0, 0, 'f', 1)
                         .arg(ratio(static_cast<double>(ours.peakKiB), static_cast<double>(theirs.peakKiB))));
    }
    for (const QString& line : table) {
        say(line);
    }
}

} // namespace

} // namespace quillbarrow

int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("com.quillbarrow.*=false"));
    try {
        const quillbarrow::Options options = quillbarrow::parse(QCoreApplication::arguments());
        if (options.side.isEmpty()) {
            quillbarrow::runComparison(options);
        } else if (options.kind == QLatin1StringView("computer")) {
            quillbarrow::runSide<quillbarrow::LocalItem>(options);
        } else {
            quillbarrow::runSide<quillbarrow::RemoteItem>(options);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillbarrow_bench_table: %s\n", error.what());
        return 1;
    }
    return 0;
}
