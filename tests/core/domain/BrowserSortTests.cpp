#include "domain/BrowserSort.h"
#include "domain/LocalItem.h"
#include "domain/RemoteItem.h"

#include <QCollator>
#include <QRandomGenerator>
#include <QTimeZone>

#include <algorithm>

#include <gtest/gtest.h>

namespace quillbarrow {
namespace {

QDateTime day(int d)
{
    return QDateTime(QDate(2024, 1, d), QTime(0, 0), QTimeZone::utc());
}

// Builds items of either type from the fields the order looks at; `tag` rides along in a field
// the order ignores, so that items equal in every sorted field can still be told apart.
struct RemoteItems {
    using Item = RemoteItem;
    static Item make(const QString& name, RemoteItemKind kind, std::optional<qint64> size,
                     std::optional<QDateTime> date, const QString& tag = {})
    {
        return RemoteItem(RemoteObjectID(name + tag), StorageID(QStringLiteral("s")), std::nullopt, name, kind, size,
                          date, std::nullopt);
    }
    static QString tag(const Item& item) { return item.id.rawValue().mid(item.name.size()); }
};

struct LocalItems {
    using Item = LocalItem;
    static Item make(const QString& name, RemoteItemKind kind, std::optional<qint64> size,
                     std::optional<QDateTime> date, const QString& tag = {})
    {
        return LocalItem(QUrl::fromLocalFile(QStringLiteral("/d/") + name + QLatin1Char('#') + tag), name, kind, size,
                         date, false);
    }
    static QString tag(const Item& item) { return item.id.toLocalFile().section(QLatin1Char('#'), -1); }
};

template <typename Items>
class BrowserSortTest : public ::testing::Test {
protected:
    using Item = typename Items::Item;

    static Item file(const QString& name, std::optional<qint64> size = std::nullopt,
                     std::optional<QDateTime> date = std::nullopt, const QString& tag = {})
    {
        return Items::make(name, RemoteItemKind::file, size, date, tag);
    }
    static Item folder(const QString& name, std::optional<qint64> size = std::nullopt,
                       std::optional<QDateTime> date = std::nullopt)
    {
        return Items::make(name, RemoteItemKind::folder, size, date);
    }
    static Item unknown(const QString& name, std::optional<qint64> size = std::nullopt)
    {
        return Items::make(name, RemoteItemKind::unknown, size, std::nullopt);
    }
    static QStringList names(const QList<Item>& items)
    {
        QStringList result;
        for (const Item& item : items) {
            result.append(item.name);
        }
        return result;
    }
};

using ItemTypes = ::testing::Types<RemoteItems, LocalItems>;
TYPED_TEST_SUITE(BrowserSortTest, ItemTypes);

TYPED_TEST(BrowserSortTest, EmptyAndSingleListsComeBackUnchanged)
{
    using Item = typename TestFixture::Item;
    EXPECT_TRUE(sortedForBrowser(QList<Item>(), FileSort::name, true).isEmpty());
    const QList<Item> one{this->file(QStringLiteral("a"))};
    EXPECT_EQ(sortedForBrowser(one, FileSort::size, false), one);
}

TYPED_TEST(BrowserSortTest, GroupsStayInOrderWhateverTheDirectionOrKey)
{
    using Item = typename TestFixture::Item;
    const QList<Item> items{this->unknown(QStringLiteral("a")), this->file(QStringLiteral("b"), 5),
                            this->folder(QStringLiteral("z")), this->file(QStringLiteral("a"), 9),
                            this->folder(QStringLiteral("c"))};
    for (const FileSort sort : allCases<FileSort>()) {
        for (const bool ascending : {true, false}) {
            const QList<Item> sorted = sortedForBrowser(items, sort, ascending);
            ASSERT_EQ(sorted.size(), items.size());
            QList<RemoteItemKind> kinds;
            for (const Item& item : sorted) {
                kinds.append(item.kind);
            }
            EXPECT_EQ(kinds, (QList<RemoteItemKind>{RemoteItemKind::folder, RemoteItemKind::folder,
                                                    RemoteItemKind::file, RemoteItemKind::file,
                                                    RemoteItemKind::unknown}))
                << toText(sort).data() << ascending;
        }
    }
}

TYPED_TEST(BrowserSortTest, DescendingByNameReversesOnlyInsideTheGroups)
{
    const auto input = {this->folder(QStringLiteral("b")), this->file(QStringLiteral("a")),
                        this->folder(QStringLiteral("a"))};
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::name, false)),
              (QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("a")}));
    const auto sorted = sortedForBrowser(QList(input), FileSort::name, false);
    EXPECT_EQ(sorted[0].kind, RemoteItemKind::folder);
    EXPECT_EQ(sorted[2].kind, RemoteItemKind::file);
}

TYPED_TEST(BrowserSortTest, NamesAreNaturalAndCaseInsensitive)
{
    const auto input = {this->file(QStringLiteral("IMG_10.jpg")), this->file(QStringLiteral("img_9.jpg")),
                        this->file(QStringLiteral("IMG_2.jpg")), this->file(QStringLiteral("b.txt")),
                        this->file(QStringLiteral("A.txt"))};
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::name, true)),
              (QStringList{QStringLiteral("A.txt"), QStringLiteral("b.txt"), QStringLiteral("IMG_2.jpg"),
                           QStringLiteral("img_9.jpg"), QStringLiteral("IMG_10.jpg")}));
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::name, false)),
              (QStringList{QStringLiteral("IMG_10.jpg"), QStringLiteral("img_9.jpg"), QStringLiteral("IMG_2.jpg"),
                           QStringLiteral("b.txt"), QStringLiteral("A.txt")}));
}

// Whatever the locale: the C locale (LANG unset, C.UTF-8) has no collation of its own.
TYPED_TEST(BrowserSortTest, NamesCompareAlikeUnderEveryLocale)
{
    const QLocale pinned;
    const auto input = {this->file("Pictures"), this->file("alpha"), this->file("IMG_10.jpg"),
                        this->file("IMG_2.jpg"),  this->file("apple.txt"), this->file("Banana.txt")};
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany), pinned}) {
        QLocale::setDefault(locale);
        EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::name, true)),
                  (QStringList{"alpha", "apple.txt", "Banana.txt", "IMG_2.jpg", "IMG_10.jpg", "Pictures"}))
            << locale.name().toStdString();
    } // the pinned locale last, so it stays the default
}

TYPED_TEST(BrowserSortTest, EqualKeysFallBackToNameAscendingInBothDirections)
{
    const auto input = {this->file(QStringLiteral("y"), 10), this->file(QStringLiteral("x"), 10),
                        this->file(QStringLiteral("file10"), 3), this->file(QStringLiteral("file2"), 3)};
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::size, false)),
              (QStringList{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("file2"), QStringLiteral("file10")}));
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::size, true)),
              (QStringList{QStringLiteral("file2"), QStringLiteral("file10"), QStringLiteral("x"), QStringLiteral("y")}));
}

TYPED_TEST(BrowserSortTest, MissingSizesAreLowest)
{
    const auto input = {this->file(QStringLiteral("big"), 100), this->folder(QStringLiteral("measured"), 50),
                        this->file(QStringLiteral("empty"), 0), this->folder(QStringLiteral("b-unmeasured")),
                        this->file(QStringLiteral("nosize")), this->folder(QStringLiteral("a-unmeasured")),
                        this->file(QStringLiteral("negative"), -1)};
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::size, true)),
              (QStringList{QStringLiteral("a-unmeasured"), QStringLiteral("b-unmeasured"), QStringLiteral("measured"),
                           QStringLiteral("nosize"), QStringLiteral("negative"), QStringLiteral("empty"),
                           QStringLiteral("big")}));
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::size, false)),
              (QStringList{QStringLiteral("measured"), QStringLiteral("a-unmeasured"), QStringLiteral("b-unmeasured"),
                           QStringLiteral("big"), QStringLiteral("empty"), QStringLiteral("negative"),
                           QStringLiteral("nosize")}));
}

TYPED_TEST(BrowserSortTest, MissingDatesAreTheDistantPast)
{
    const QDateTime ancient(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc());
    const auto input = {this->file(QStringLiteral("new"), 1, day(20)), this->file(QStringLiteral("undated")),
                        this->file(QStringLiteral("old"), 1, day(2)), this->file(QStringLiteral("ancient"), 1, ancient),
                        this->folder(QStringLiteral("dir"), std::nullopt, day(30))};
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::modifiedDate, true)),
              (QStringList{QStringLiteral("dir"), QStringLiteral("undated"), QStringLiteral("ancient"),
                           QStringLiteral("old"), QStringLiteral("new")}));
    EXPECT_EQ(this->names(sortedForBrowser(QList(input), FileSort::modifiedDate, false)),
              (QStringList{QStringLiteral("dir"), QStringLiteral("new"), QStringLiteral("old"),
                           QStringLiteral("ancient"), QStringLiteral("undated")}));
}

TYPED_TEST(BrowserSortTest, ItemsEqualInEveryKeyKeepTheirInputOrder)
{
    using Item = typename TestFixture::Item;
    QList<Item> input;
    // Same name (up to case, which the comparison ignores) and the same size: only input order tells them apart.
    for (int i = 0; i < 40; ++i) {
        input.append(this->file(i % 2 ? QStringLiteral("Same") : QStringLiteral("same"), 7, day(1),
                                QString::number(i)));
    }
    for (const FileSort sort : allCases<FileSort>()) {
        for (const bool ascending : {true, false}) {
            const QList<Item> sorted = sortedForBrowser(input, sort, ascending);
            ASSERT_EQ(sorted.size(), input.size());
            for (qsizetype i = 0; i < sorted.size(); ++i) {
                EXPECT_EQ(TypeParam::tag(sorted[i]), QString::number(i));
            }
        }
    }
}

TYPED_TEST(BrowserSortTest, AgreesWithAPlainCollatorOnAShuffledFolder)
{
    // A large folder sorted through precomputed keys gives the order a direct comparison gives.
    using Item = typename TestFixture::Item;
    QRandomGenerator random(1234);
    QList<Item> input;
    for (int i = 0; i < 2000; ++i) {
        const QString name = QStringLiteral("Photo %1 (%2).JPG").arg(random.bounded(500)).arg(random.bounded(3));
        input.append(this->file(i % 3 ? name : name.toLower(), random.bounded(50), std::nullopt, QString::number(i)));
    }
    const QCollator collator = naturalNameCollator();
    const QList<Item> sorted = sortedForBrowser(input, FileSort::size, false);
    ASSERT_EQ(sorted.size(), input.size());
    for (qsizetype i = 1; i < sorted.size(); ++i) {
        const Item& a = sorted[i - 1];
        const Item& b = sorted[i];
        ASSERT_GE(*a.size, *b.size) << i;
        if (*a.size == *b.size) {
            const int byName = collator.compare(a.name, b.name);
            ASSERT_LE(byName, 0) << i;
            if (byName == 0) {
                ASSERT_LT(TypeParam::tag(a).toInt(), TypeParam::tag(b).toInt()) << i;
            }
        }
    }
}

// The rule as written, compared with the collator at every step: what the ranked sort must give.
// A missing size or date is lower than any present one, as std::optional orders them.
template <typename Item>
QList<Item> sortedByTheRule(QList<Item> items, FileSort sort, bool ascending)
{
    const QCollator collator = naturalNameCollator();
    const auto group = [](const Item& item) {
        return item.kind == RemoteItemKind::folder ? 0 : item.kind == RemoteItemKind::file ? 1 : 2;
    };
    const auto compare = [](const auto& a, const auto& b) { return int(a > b) - int(a < b); };
    std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        const int key = sort == FileSort::name   ? collator.compare(a.name, b.name)
                        : sort == FileSort::size ? compare(a.size, b.size)
                                                 : compare(a.modifiedAt, b.modifiedAt);
        if (group(a) != group(b)) {
            return group(a) < group(b);
        }
        if (key != 0) {
            return ascending ? key < 0 : key > 0;
        }
        return collator.compare(a.name, b.name) < 0;
    });
    return items;
}

// The sort compares name ranks worked out once per listing; it must order exactly as the rule
// does, in every key and direction, through ties of every kind, and with the ranks of a whole
// listing lent for the part of it shown.
TYPED_TEST(BrowserSortTest, RanksOrderExactlyAsTheRuleDoes)
{
    using Item = typename TestFixture::Item;
    QRandomGenerator random(44);
    const QStringList stems = QStringLiteral("IMG_ img_ Same same file File0").split(u' ');
    // One value in five missing.
    const auto some = [&random]<typename Value>(Value value) {
        return random.bounded(5) ? std::optional(value) : std::nullopt;
    };
    QList<Item> listing;
    for (int index = 0; index < 600; ++index) {
        // Names that differ only in case or in their digits, or not at all; few sizes and dates.
        const QString name = stems[random.bounded(6)] + QString::number(random.bounded(12));
        const std::optional<qint64> size = some(qint64(random.bounded(4) * 1000));
        const std::optional<QDateTime> date = some(day(1 + random.bounded(3)));
        const quint32 kind = random.bounded(10);
        listing.append(kind == 0   ? this->unknown(name, size)
                       : kind < 4 ? this->folder(name, size, date)
                                  : this->file(name, size, date, QString::number(index)));
    }
    std::vector<const QString*> names(std::size_t(listing.size()));
    std::ranges::transform(listing, names.begin(), [](const Item& item) { return &item.name; });
    const std::vector<qsizetype> ranks = browserNameRanks(names);
    // Every third item left out, as hidden names are.
    QList<Item> shown;
    std::vector<BrowserSortFields> fields;
    for (qsizetype index = 0; index < listing.size(); ++index) {
        if (const Item& item = listing[index]; index % 3 != 0) {
            shown.append(item);
            fields.push_back({item.kind, &item.name, &item.modifiedAt, &item.size, ranks[std::size_t(index)]});
        }
    }
    for (const FileSort sort : allCases<FileSort>()) {
        for (const bool ascending : {true, false}) {
            SCOPED_TRACE(std::string(toText(sort).data()) + (ascending ? " ascending" : " descending"));
            const QList<Item> expected = sortedByTheRule(shown, sort, ascending);
            EXPECT_EQ(sortedForBrowser(shown, sort, ascending), expected);
            QList<Item> lent;
            for (const qsizetype index : browserOrder(fields, sort, ascending)) {
                lent.append(shown[index]);
            }
            EXPECT_EQ(lent, expected) << "lent ranks";
        }
    }
}

// A listing taken again unasked: the items that stood in rows keep those rows' order, whatever the
// order says, and each other item goes where the order puts it among them. Items are letters (a is
// position 0), each with the row it stood in ('-': it was not shown).
TEST(KeptRowsTest, RowsSeenKeepTheirOrderAndNewItemsGoWhereTheOrderPutsThemAmongThem)
{
    const struct {
        const char* what;
        const char* order;
        const char* rowOfEach;
        qsizetype rows;
        const char* placed;
    } cases[] = {
        {"nothing kept: the order", "cab", "---", 0, "cab"},
        {"everything kept: the rows, not the order", "abc", "120", 3, "cab"},
        {"a new item after the kept item before it in the order", "badc", "012-", 3, "adbc"},
        {"a new item first in the order at the top", "dabc", "012-", 3, "dabc"},
        {"a new item last in the order at the bottom", "bacd", "012-", 3, "abcd"},
        {"new items after one kept item in the order's order", "adcb", "01--", 2, "adcb"},
        {"a gone item leaves its row", "ab", "02", 3, "ab"},
        {"a row claimed twice keeps the first claimant, the other is new", "ba", "00", 1, "ba"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        std::vector<qsizetype> order;
        for (const char letter : std::string_view(each.order)) {
            order.push_back(letter - 'a');
        }
        std::vector<qsizetype> rowOfEach;
        for (const char row : std::string_view(each.rowOfEach)) {
            rowOfEach.push_back(row == '-' ? -1 : row - '0');
        }
        std::string placed;
        for (const qsizetype position : keepingRowsInPlace(order, rowOfEach, each.rows)) {
            placed += char('a' + position);
        }
        EXPECT_EQ(placed, each.placed);
    }
}

TEST(BrowserSortInputTest, TheInputListIsNotChanged)
{
    const QList<RemoteItem> input{RemoteItems::make(QStringLiteral("b"), RemoteItemKind::file, 1, std::nullopt),
                                  RemoteItems::make(QStringLiteral("a"), RemoteItemKind::folder, 2, std::nullopt)};
    const QList<RemoteItem> copy = input;
    const QList<RemoteItem> sorted = sortedForBrowser(input, FileSort::name, true);
    EXPECT_EQ(input, copy);
    EXPECT_EQ(sorted.first().name, QStringLiteral("a"));
}

} // namespace
} // namespace quillbarrow
