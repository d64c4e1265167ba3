#include "HeldWorkPool.h"
#include "TableRows.h"
#include "style/ListingFormat.h"
#include "table/ItemTableModel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

using testing::HeldWorkPool;
using testing::localFile;
using testing::localFiles;
using testing::localFolder;
using testing::localID;

using LocalModel = ItemTableModel<LocalItem>;

const QString listing = QStringLiteral("/data");

QStringList shownNames(const LocalModel& model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row) {
        names.append(model.index(row, 0).data().toString());
    }
    return names;
}

// Every announcement of a model, in order, as text: "removed 4-4", "inserted 1-1" ...
class Announcements {
public:
    explicit Announcements(QAbstractItemModel& model)
    {
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { m_seen.append(QStringLiteral("reset")); });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [this](const QModelIndex&, int first, int last) {
            m_seen.append(QStringLiteral("removed %1-%2").arg(first).arg(last));
        });
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex&, int first, int last) {
            m_seen.append(QStringLiteral("inserted %1-%2").arg(first).arg(last));
        });
        QObject::connect(&model, &QAbstractItemModel::layoutChanged, [this] { m_seen.append(QStringLiteral("layout")); });
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
                             QStringList roleNames;
                             for (const int role : roles) {
                                 roleNames.append(QString::number(role));
                             }
                             m_seen.append(QStringLiteral("changed %1,%2-%3,%4 roles %5")
                                               .arg(topLeft.row())
                                               .arg(topLeft.column())
                                               .arg(bottomRight.row())
                                               .arg(bottomRight.column())
                                               .arg(roleNames.join(u',')));
                         });
    }
    const QStringList& seen() const { return m_seen; }
    void clear() { m_seen.clear(); }

private:
    QStringList m_seen;
};

// The index by value is still being built all along (the pool is held): the rows listed anew are
// matched by value among the rows that share no data with a listed item.
TEST(ItemTableModel, ARelistingOfTheSameFolderAnnouncesRangesNotAReset)
{
    const HeldWorkPool held;
    LocalModel model(NativeTableColumn::standardColumns());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems(localFiles({"a", "b", "c", "d", "e", "f"}), listing);
    Announcements announced(model);

    QList<LocalItem> relisted = localFiles({"a", "x", "c", "d", "f", "y", "z"});
    relisted[3] = localFile(QStringLiteral("d"), 999); // d grew
    model.setItems(relisted, listing);

    EXPECT_EQ(shownNames(model), (QStringList{"a", "x", "c", "d", "f", "y", "z"}));
    EXPECT_EQ(model.index(3, 1).data().toString(), QStringLiteral("999 bytes"));
    // Removals bottom-up, then the changed size cell alone, then insertions top-down.
    EXPECT_EQ(announced.seen(), (QStringList{"removed 4-4", "removed 1-1", "changed 2,1-2,1 roles 0", "inserted 1-1",
                                             "inserted 5-6"}));
    EXPECT_EQ(model.rowOf(localID(QStringLiteral("f"))), 4);
    EXPECT_EQ(model.rowOf(localID(QStringLiteral("b"))), std::nullopt);

    // The same rows again, as the very list or as copies, announce nothing.
    announced.clear();
    model.setItems(relisted, listing);
    model.setItems(QList<LocalItem>(relisted.begin(), relisted.end()), listing);
    EXPECT_TRUE(announced.seen().isEmpty());
    // Rows listed as they were, and "x" (grown), "f" and "z" listed anew; "y" gone; "n" new.
    model.setItems({relisted[0], localFile("x", 7), relisted[2], relisted[3], localFile("f"), localFile("z"),
                    localFile("n")},
                   listing);
    EXPECT_EQ(announced.seen(), (QStringList{"removed 5-5", "changed 1,1-1,1 roles 0", "inserted 6-6"}));
    EXPECT_EQ(shownNames(model), (QStringList{"a", "x", "c", "d", "f", "z", "n"}));
}

// Removals at the edges, where no survivor stands below the removed rows: the rows shown and
// the rows counted are exactly the new listing.
TEST(ItemTableModel, RemovalsReachingTheLastRowLeaveExactlyTheNewListing)
{
    const struct {
        QStringList before;
        QStringList after;
    } cases[] = {
        {{"a", "b", "c"}, {"a", "b"}},
        {{"a", "b", "c"}, {"a"}},
        {{"a", "b", "c"}, {}},
        {{"a", "b", "c", "d"}, {"b"}},
        {{"a", "b", "c", "d"}, {"a", "c"}},
    };
    for (const auto& test : cases) {
        LocalModel model(NativeTableColumn::standardColumns());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.setItems(localFiles(test.before), listing);
        model.setItems(localFiles(test.after), listing);
        EXPECT_EQ(shownNames(model), test.after) << test.before.join(',').toStdString();
        EXPECT_EQ(model.rowCount(), test.after.size());
    }
}

TEST(ItemTableModel, PersistentIndexesFollowTheirRowsThroughRemovalsInsertionsAndReordering)
{
    LocalModel model(NativeTableColumn::standardColumns());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems(localFiles({"a", "b", "c", "d", "e"}), listing);
    const QPersistentModelIndex c = model.index(2, 0);
    const QPersistentModelIndex e = model.index(4, 2);
    const QPersistentModelIndex b = model.index(1, 0);
    Announcements announced(model);

    model.setItems(localFiles({"e", "new", "c", "a", "d"}), listing);

    EXPECT_EQ(shownNames(model), (QStringList{"e", "new", "c", "a", "d"}));
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(c.row(), 2);
    EXPECT_EQ(e.row(), 0);
    EXPECT_EQ(e.column(), 2);
    EXPECT_EQ(announced.seen(), (QStringList{"removed 1-1", "layout", "inserted 1-1"}));
}

TEST(ItemTableModel, OnlyTheChangedCellsAndRolesAreAnnouncedPerBlockOfRows)
{
    LocalModel model(NativeTableColumn::standardColumns());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems({localFile("a"), localFile("b"), localFolder("c"), localFile("d"), localFile("e")}, listing);
    Announcements announced(model);

    const QDateTime noon(QDate(2024, 1, 2), QTime(12, 0), Qt::UTC);
    QList<LocalItem> relisted{localFile("a", 100, noon), localFile("b", 5), localFolder("c", 4096), localFile("d"),
                              LocalItem(localID("e"), "e renamed", RemoteItemKind::folder, 100, std::nullopt, false)};
    model.setItems(relisted, listing);

    EXPECT_EQ(announced.seen(), (QStringList{"changed 0,1-2,2 roles 0", "changed 4,0-4,0 roles 0,1"}));
    EXPECT_EQ(model.index(2, 1).data().toString(), QStringLiteral("4 KB"));
    EXPECT_EQ(model.index(4, 0).data().toString(), QStringLiteral("e renamed"));
}

// Sizes filled in where the rows stand: only the rows named are compared and announced, a block per
// run of neighbours; every row takes the new item, and rows, ids and persistent indexes stay.
TEST(ItemTableModel, SizesFilledInAreTakenRowForRowAndOnlyTheRowsNamedAreAnnounced)
{
    const QList<LocalItem> shown{localFolder("c"), localFolder("d"), localFolder("e"), localFile("a"),
                                 localFile("b")};
    const struct {
        const char* what;
        std::vector<qsizetype> rows;
        QStringList announced;
    } cases[] = {
        {"one row", {1}, {"changed 1,1-1,1 roles 0"}},
        {"neighbouring rows", {0, 1}, {"changed 0,1-1,1 roles 0"}},
        {"rows apart", {0, 2}, {"changed 0,1-0,1 roles 0", "changed 2,1-2,1 roles 0"}},
        {"a row named whose size did not change", {4}, {}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        LocalModel model(NativeTableColumn::standardColumns());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.setItems(shown, listing);
        // The sizes shown so far are formatted and kept.
        for (int row = 0; row < model.rowCount(); ++row) {
            model.index(row, 1).data();
        }
        const QPersistentModelIndex last = model.index(4, 0);
        QList<LocalItem> filled = shown;
        for (const qsizetype row : each.rows) {
            if (filled[row].kind == RemoteItemKind::folder) {
                filled[row].size = 4096 * (row + 1);
            }
        }
        Announcements announced(model);
        EXPECT_EQ(model.setItems(filled, listing, &each.rows), LocalModel::ListingChange::fieldsOnly);
        EXPECT_EQ(announced.seen(), each.announced);
        for (int row = 0; row < model.rowCount(); ++row) {
            EXPECT_EQ(model.item(row), filled[row]) << row;
            EXPECT_EQ(model.index(row, 1).data().toString(), ListingFormat::sizeText(filled[row].size))
                << row;
            EXPECT_EQ(model.rowOf(filled[row].id), row);
        }
        EXPECT_EQ(last.row(), 4);
    }
}

TEST(ItemTableModel, AFieldTheTableDoesNotShowChangesSilently)
{
    LocalModel model(NativeTableColumn::standardColumns());
    model.setItems({localFile("a")}, listing);
    Announcements announced(model);
    LocalItem hidden = localFile("a");
    hidden.isHidden = true;
    model.setItems({hidden}, listing);
    EXPECT_TRUE(announced.seen().isEmpty());
    EXPECT_TRUE(model.item(0).isHidden);
}

TEST(ItemTableModel, AnotherListingIsOneReset)
{
    LocalModel model(NativeTableColumn::standardColumns());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems(localFiles({"a", "b"}), listing);
    Announcements announced(model);
    model.setItems(localFiles({"a", "c"}), QStringLiteral("/elsewhere"));
    EXPECT_EQ(announced.seen(), QStringList{"reset"});
    EXPECT_EQ(shownNames(model), (QStringList{"a", "c"}));
}

TEST(ItemTableModel, AListingWithARepeatedIDIsShownAsGiven)
{
    LocalModel model(NativeTableColumn::standardColumns());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setItems(localFiles({"a", "b"}), listing);
    Announcements announced(model);
    model.setItems(localFiles({"a", "b", "a"}), listing);
    EXPECT_EQ(announced.seen(), QStringList{"reset"});
    EXPECT_EQ(shownNames(model), (QStringList{"a", "b", "a"}));
    // No row is found by an id two rows share, also when more ids are looked for than there are rows.
    EXPECT_TRUE(model.rowsOf({localID("a"), localID("b"), localID("c"), localID("d"), localID("e")}).empty());
    // A later listing without the repetition is a diff again.
    announced.clear();
    model.setItems(localFiles({"a", "b", "c"}), listing);
    EXPECT_EQ(shownNames(model), (QStringList{"a", "b", "c"}));
}

TEST(ItemTableModel, CellsShowTwoDashesForUnknownValuesAndTheKindsSymbol)
{
    LocalModel model(NativeTableColumn::standardColumns());
    model.setItems({localFolder("Photos"), localFile("notes.txt", 1'500, std::nullopt)}, listing);
    EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("Photos"));
    EXPECT_EQ(model.index(0, 1).data().toString(), QStringLiteral("--"));
    EXPECT_EQ(model.index(0, 2).data().toString(), QStringLiteral("--"));
    EXPECT_EQ(model.index(1, 1).data().toString(), QStringLiteral("2 KB"));
    const QImage folder = model.index(0, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
    const QImage file = model.index(1, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
    EXPECT_FALSE(folder.isNull());
    EXPECT_FALSE(file.isNull());
    EXPECT_NE(folder, file);
    EXPECT_FALSE(model.index(0, 1).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size"));
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Modified"));
}

// Right after a new listing the index of ids is still being built on the work pool (here every
// thread of the pool is held, so it waits in line): rows are found by id at once all the same,
// a few ids row by row and more through an index built on the spot.
TEST(ItemTableModel, RowsAreFoundByIDWhileTheIndexIsStillBeingBuilt)
{
    const HeldWorkPool held;
    LocalModel model(NativeTableColumn::standardColumns());
    QStringList names; // file n on row n
    for (int index = 0; index < 20; ++index) {
        names.append(QString::number(index));
    }
    model.setItems(localFiles(names), listing);
    // The ids sought are equal to the rows' ids, sharing nothing with them.
    EXPECT_EQ(model.rowOf(localID("3")), 3);
    EXPECT_EQ(model.rowsOf({localID("19"), localID("5"), localID("x"), localID("1")}), (std::vector<int>{1, 5, 19}));
    EXPECT_EQ(model.rowsOf({localID("12"), localID("0"), localID("7"), localID("2"), localID("9"), localID("11"),
                            localID("y")}),
              (std::vector<int>{0, 2, 7, 9, 11, 12}));
}

// A re-listing too scattered for a diff is a reset; an id taken from a row of the listing before
// (a selected or current row) is still found where that row went, or known to be gone.
TEST(ItemTableModel, IDsOfTheRowsBeforeAResetOfTheSameFolderFindWhereTheRowsWent)
{
    const HeldWorkPool held;
    LocalModel model(NativeTableColumn::standardColumns());
    QStringList names;
    for (int index = 0; index < 300; ++index) {
        names.append(QString::number(index));
    }
    model.setItems(localFiles(names), listing);
    const QSet<QUrl> taken{model.item(10).id, model.item(11).id, model.item(12).id, model.item(13).id,
                           model.item(14).id, model.item(150).id};
    QList<LocalItem> relisted;
    for (int row = 0; row < 300; ++row) {
        if (row % 3 != 1) {
            // Row 150 listed anew, sharing nothing with the row shown.
            relisted.append(row == 150 ? localFile(names[row]) : model.item(row));
        }
    }
    Announcements announced(model);
    model.setItems(relisted, listing);
    ASSERT_EQ(announced.seen(), QStringList{"reset"});
    // 11 and 14 are gone; 10, 12 and 13 stand on rows 7, 8 and 9, 150 on row 100.
    EXPECT_EQ(model.rowsOf(taken), (std::vector<int>{7, 8, 9, 100}));
}

// A re-listing needing no lookup (which would take the answer first), applied while the pool's index
// of the rows waits queued, finds each row where it is now by its id or an equal one, then and after.
TEST(ItemTableModel, ARelistingBeforeThePoolsAnswerLandsFindsEachRowWhereItIsNow)
{
    const std::tuple<const char*, int, bool> cases[] = {
        {"a row in 100 gone, the very items shown", 100, false}, {"a row in 100 gone, read anew", 100, true},
        {"a row in 3 gone, read anew (a reset)", 3, true}};
    QList<LocalItem> shown;
    for (int index = 0; index < 300; ++index) {
        shown.append(localFile(QString::number(index)));
    }
    for (const auto& [what, oneGoneIn, readAnew] : cases) {
        LocalModel model(NativeTableColumn::standardColumns());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.setItems(shown, listing);
        workPool().waitForDone(); // the pool has answered; the answer waits in the event queue
        HeldWorkPool held;
        QList<LocalItem> relisted;
        for (qsizetype index = 0; index < shown.size(); ++index) {
            if (index % oneGoneIn != 1) {
                relisted.append(readAnew ? localFile(shown[index].name) : shown[index]);
            }
        }
        model.setItems(relisted, listing);
        for (const char* landed : {"the last listing's index landed", "this listing's index landed"}) {
            SCOPED_TRACE(landed);
            QCoreApplication::processEvents();
            for (int row = 0; row < model.rowCount(); ++row) {
                ASSERT_EQ(model.rowOf(model.item(row).id), row) << what << ", row " << row;
                ASSERT_EQ(model.rowOf(localID(model.item(row).name)), row) << what << ", row " << row;
            }
            held.release(); // once more does no harm
        }
    }
}

// A listing the model lets go of is freed on the work pool, not on the window's thread, and only
// after the new listing is shown; freeing it leaves the items the new listing shares with it whole.
TEST(ItemTableModel, AListingLetGoOfIsFreedOnTheWorkPool)
{
    LocalModel model(NativeTableColumn::standardColumns());
    QList<LocalItem> shown;
    for (int index = 0; index < 3'000; ++index) {
        shown.append(localFile(QStringLiteral("file %1").arg(index)));
    }
    model.setItems(std::exchange(shown, {}), listing);
    const QString onlyInTheOldListing = model.item(2'000).name;
    const QList<LocalItem> next{model.item(0), localFile("new")};
    HeldWorkPool held;
    model.setItems(next, QStringLiteral("/elsewhere"));
    EXPECT_FALSE(onlyInTheOldListing.isDetached()); // the old listing still holds it
    EXPECT_EQ(shownNames(model), (QStringList{"file 0", "new"}));
    held.release();
    EXPECT_TRUE(onlyInTheOldListing.isDetached());
    EXPECT_EQ(shownNames(model), (QStringList{"file 0", "new"}));
    EXPECT_EQ(model.rowOf(localID("file 0")), 0);
}

// The items of a selection are the listed ones, in row order; every row (as select-all hands the
// ids out, or named anew) is the listing shown itself, not a copy of each of its items.
TEST(ItemTableModel, TheItemsOfASelectionAreTheListedOnesInRowOrder)
{
    LocalModel model(NativeTableColumn::standardColumns());
    const QList<LocalItem> shown = localFiles({"c", "a", "b"});
    model.setItems(shown, listing);
    const QList<std::pair<QSet<QUrl>, QList<LocalItem>>> cases{
        {model.allIDs(), shown},
        {{localID("b"), localID("c"), localID("a")}, shown},
        {{localID("a"), localID("b"), localID("gone")}, {shown[1], shown[2]}},
        // More ids than rows (a big folder's selection in a small one): each row looked up among them.
        {{localID("b"), localID("a"), localID("gone"), localID("gone too")}, {shown[1], shown[2]}},
        {{localID("x"), localID("y"), localID("z"), localID("gone")}, {}}};
    for (const auto& [ids, expected] : cases) {
        const QList<LocalItem> items = model.itemsWithIDs(ids);
        EXPECT_EQ(items, expected);
        EXPECT_EQ(items.constData() == shown.constData(), expected.size() == shown.size());
    }
}

// Many random re-listings (removals, arrivals, changes and moves together, some read anew) against
// the model tester: the rows shown always end as the listing given.
TEST(ItemTableModel, RandomRelistingsAlwaysEndAsTheListingGiven)
{
    LocalModel model(NativeTableColumn::standardColumns());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QRandomGenerator random(20);
    QList<LocalItem> current;
    int nextName = 0;
    for (int index = 0; index < 40; ++index) {
        current.append(localFile(QString::number(nextName++)));
    }
    model.setItems(current, listing);
    QList<QPersistentModelIndex> tracked;
    for (int round = 0; round < 80; ++round) {
        QList<LocalItem> next;
        for (const LocalItem& item : current) {
            const quint32 fate = random.bounded(10);
            if (fate == 0) {
                continue; // removed
            }
            next.append(fate == 1 ? localFile(item.name, random.bounded(5000)) : item);
            if (random.bounded(8) == 0) {
                next.append(localFile(QString::number(nextName++)));
            }
        }
        if (round % 3 == 0 && next.size() > 2) {
            std::swap(next[random.bounded(static_cast<int>(next.size()))], next[0]);
        }
        // Now and then the folder is read anew (no id shares data with a row), and reversed.
        for (LocalItem& item : next) {
            item = round % 5 == 4 ? localFile(item.name, item.size) : item;
        }
        if (round % 11 == 10) {
            std::reverse(next.begin(), next.end());
        }
        tracked.clear();
        for (int row = 0; row < model.rowCount(); row += 7) {
            tracked.append(model.index(row, 0));
        }
        QStringList trackedNames;
        for (const QPersistentModelIndex& index : tracked) {
            trackedNames.append(index.data().toString());
        }
        model.setItems(next, listing);
        current = next;
        ASSERT_EQ(model.rowCount(), current.size());
        for (int row = 0; row < model.rowCount(); ++row) {
            ASSERT_EQ(model.item(row), current[row]) << "round " << round << " row " << row;
            ASSERT_EQ(model.rowOf(current[row].id), row);
            // An equal id that shares nothing with the row is found by value.
            ASSERT_EQ(model.rowOf(localID(current[row].name)), row) << "round " << round << " row " << row;
        }
        for (qsizetype index = 0; index < tracked.size(); ++index) {
            if (tracked[index].isValid()) {
                ASSERT_EQ(tracked[index].data().toString(), trackedNames[index]) << "round " << round;
            }
        }
    }
}

} // namespace
} // namespace quillbarrow
