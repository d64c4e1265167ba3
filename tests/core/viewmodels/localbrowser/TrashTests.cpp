#include "LocalBrowserTestSupport.h"

#include "domain/LocalPath.h"
#include "viewmodels/localbrowser/LocalTrash.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace quillbarrow::testing {
namespace {

// A tree with a folder "top" standing for the top of another file system: the Trash writer is
// pointed at it through its places, so its own Trash folders can be planted there.
class TrashTest : public LocalBrowserTest {
protected:
    void SetUp() override
    {
        LocalBrowserTest::SetUp();
        makeFolder(QStringLiteral("home/shown"));
        makeFolder(QStringLiteral("top/shown"));
        makeFolder(QStringLiteral("elsewhere"));
    }

    // Qt cannot name what does not decode, so the tree goes by its bytes.
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(LocalPath::encoded(m_root.path()).toStdString()), ignored);
        LocalBrowserTest::TearDown();
    }

    LocalTrash::Places places() const
    {
        const QString top = path(QStringLiteral("top"));
        return LocalTrash::Places{path(QStringLiteral("data/Trash")), [top](const QString& item) {
                                      return item.startsWith(top + u'/') ? std::optional<QString>(top) : std::nullopt;
                                  }};
    }

    static QString user() { return QString::number(::getuid()); }

    // The contents of the file at `file`, reached by its real bytes.
    static QByteArray bytesOf(const QString& file)
    {
        const int descriptor = ::open(LocalPath::encoded(file).constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            return "<unreadable>";
        }
        QByteArray contents;
        char buffer[4096];
        for (ssize_t got; (got = ::read(descriptor, buffer, sizeof buffer)) > 0;) {
            contents.append(buffer, got);
        }
        ::close(descriptor);
        return contents;
    }

    // Each item of the Trash at `trash` by the path its info file records ("Path", decoded):
    // the path of the item in "files".
    QMultiHash<QByteArray, QString> trashedByPath(const QString& trash) const
    {
        QMultiHash<QByteArray, QString> found;
        const QDir info(trash + QStringLiteral("/info"));
        for (const QString& entry : info.entryList(QDir::Files | QDir::Hidden)) {
            const QByteArray text = bytesOf(info.filePath(entry));
            const qsizetype start = text.indexOf("\nPath=") + 6;
            const QByteArray recorded = text.mid(start, text.indexOf('\n', start) - start);
            found.insert(QByteArray::fromPercentEncoding(recorded),
                         trash + QStringLiteral("/files/") + entry.chopped(QStringLiteral(".trashinfo").size()));
        }
        return found;
    }
};

TEST_F(TrashTest, NamesOf240To255BytesGoToTheTrashWithInfoFilesThatFit)
{
    const QString wide = QString(QChar(u'ж')); // two bytes in UTF-8
    // Four bytes in UTF-8, two UTF-16 units; the camera's second unit looks like a kept byte.
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"), camera = QString::fromUtf8("\xF0\x9F\x93\xB7");
    const QStringList names{
        QString(236, u'a') + QStringLiteral(".txt"), // 240 bytes
        QString(241, u'b') + QStringLiteral(".txt"), // 245: the longest whose info file fits as it is
        QString(242, u'c') + QStringLiteral(".txt"), // 246
        QString(250, u'd'),
        QString(127, QChar(u'ж')) + QStringLiteral("e"), // 255 bytes, cut between two-byte letters
        wide.repeated(125) + QStringLiteral("f.txt"),   // 255 bytes with an extension
        QStringLiteral("gh") + smile.repeated(63),       // 254 bytes, cut between four-byte letters
        QStringLiteral("i") + camera.repeated(61) + QStringLiteral("j.txt"), // 250 bytes with an extension
    };
    for (const QString& name : names) {
        makeFile(QStringLiteral("home/shown/") + name, LocalPath::encoded(name));
    }
    auto model = makeModel(url(QStringLiteral("home/shown")));
    model->refresh();
    waitForListing(*model);
    ASSERT_EQ(model->items().size(), names.size());

    model->deleteItems(model->items());
    waitForListing(*model);

    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_TRUE(model->items().isEmpty());
    const QMultiHash<QByteArray, QString> trashed = trashedByPath(path(QStringLiteral("data/Trash")));
    for (const QString& name : names) {
        SCOPED_TRACE(LocalPath::encoded(name).size());
        const QString original = path(QStringLiteral("home/shown/") + name);
        ASSERT_TRUE(trashed.contains(LocalPath::encoded(original)));
        const QString inTrash = trashed.value(LocalPath::encoded(original));
        EXPECT_EQ(bytesOf(inTrash), LocalPath::encoded(name)) << "the item itself, with its contents";
        const QByteArray trashName = LocalPath::encoded(QFileInfo(inTrash).fileName());
        EXPECT_FALSE(LocalPath::hasKeptBytes(LocalPath::decoded(trashName))) << "no character is split";
        EXPECT_LE(trashName.size() + 10, 255);
        const QString kept = QString::fromUtf8(trashName); // whole letters of the name, then its extension
        const QString extension = name.contains(u'.') ? name.mid(name.lastIndexOf(u'.')) : QString();
        EXPECT_TRUE(kept.endsWith(extension) && name.startsWith(kept.chopped(extension.size()))) << trashName.data();
    }
}

// Items of one name moved to the Trash one after the other, from another folder or made again
// where the first was: none takes another's info file, so each can be put back.
TEST_F(TrashTest, ItemsOfOneNameEachKeepTheirOwnInfoFile)
{
    QMultiHash<QByteArray, QString> expected, restorable;
    for (const char* folder : {"shown", "other", "shown"}) {
        const QString item = QStringLiteral("home/%1/a.txt").arg(QLatin1StringView(folder));
        const QString contents = QStringLiteral("item %1").arg(expected.size());
        makeFile(item, contents.toUtf8());
        ASSERT_EQ(LocalTrash::moveToTrash(path(item), places()), std::nullopt);
        expected.insert(LocalPath::encoded(path(item)), contents);
    }
    for (const auto& [recorded, inTrash] : trashedByPath(path(QStringLiteral("data/Trash"))).asKeyValueRange()) {
        restorable.insert(recorded, QString::fromUtf8(bytesOf(inTrash)));
    }
    EXPECT_EQ(restorable, expected);
}

// The home Trash, or its "files" or "info" (opened alike), may be a link of the user's own; a link
// of another user, or to another user's folder, is refused. Another file system's "files" or "info"
// is never reached through a link, the user's own included: anybody may plant one there.
TEST_F(TrashTest, OnlyTheHomeTrashMayBeReachedThroughTheUsersOwnLinks)
{
    const QString trash = path(QStringLiteral("data/Trash"));
    const QString topTrash = QStringLiteral("top/.Trash-") + user();
    const QString isALink =
        QStringLiteral("The Trash folder %1 is a link, and the Trash is never reached through a link.");
    const QString othersFolder = QStringLiteral("The Trash folder %1 belongs to another user.");
    struct Case {
        QString link;          // a link to its namesake in "elsewhere"; the item is below its top folder
        const char* othersOwn; // given to another user (as root only)
        QString outcome;       // where the item lands, else the refusal
    };
    const Case cases[] = {
        {QStringLiteral("data/Trash"), nullptr, QStringLiteral("elsewhere/Trash/files/item")},
        {QStringLiteral("data/Trash/files"), nullptr, QStringLiteral("elsewhere/files/item")},
        {QStringLiteral("data/Trash"), "elsewhere/Trash", othersFolder.arg(trash)},
        {QStringLiteral("data/Trash/files"), "elsewhere/files", othersFolder.arg(trash + QStringLiteral("/files"))},
        {QStringLiteral("data/Trash"), "data/Trash",
         QStringLiteral("The Trash folder %1 is a link, and the Trash is never reached through a link.").arg(trash)},
        {topTrash + QStringLiteral("/files"), nullptr, isALink.arg(path(topTrash + QStringLiteral("/files")))},
        {topTrash + QStringLiteral("/info"), nullptr, isALink.arg(path(topTrash + QStringLiteral("/info")))},
    };
    for (const Case& row : cases) {
        if (row.othersOwn && ::geteuid() != 0) {
            continue;
        }
        SCOPED_TRACE(row.link.toStdString() + " is a link; another user owns " + (row.othersOwn ? row.othersOwn : "none"));
        ASSERT_TRUE(QDir(path(QStringLiteral("data"))).removeRecursively() &&
                    QDir(path(QStringLiteral("elsewhere"))).removeRecursively() &&
                    QDir(path(topTrash)).removeRecursively());
        const QString shown = QString::fromLatin1(row.link.startsWith(u"top/") ? "top" : "home") + "/shown/item";
        const QString item = path(shown);
        const QString target = QStringLiteral("elsewhere/") + QFileInfo(row.link).fileName();
        makeFolder(QFileInfo(row.link).path());
        makeFolder(target);
        makeFile(shown, "mine");
        ASSERT_TRUE(QFile::link(path(target), path(row.link)));
        if (row.othersOwn) {
            ASSERT_EQ(::lchown(LocalPath::encoded(path(QLatin1StringView(row.othersOwn))).constData(), 65534, 65534), 0);
        }

        const std::optional<QString> refusal = LocalTrash::moveToTrash(item, places());

        const bool refused = row.outcome.startsWith(QStringLiteral("The Trash"));
        EXPECT_EQ(refusal, refused ? std::optional(row.outcome) : std::nullopt);
        EXPECT_EQ(bytesOf(refused ? item : path(row.outcome)), "mine") << "the item stays, or lands";
        EXPECT_EQ(trashedByPath(trash).keys(), refused ? QList<QByteArray>() : QList{LocalPath::encoded(item)});
        QDirIterator reached(path(QStringLiteral("elsewhere")), QDir::Files | QDir::Hidden,
                             QDirIterator::Subdirectories);
        EXPECT_TRUE(!refused || !reached.hasNext()) << "nothing lands where a refused link points";
    }
}

TEST_F(TrashTest, AnotherFileSystemsTrashIsUsedOnlyWhenItIsARealFolderOfTheUser)
{
    const QString own = QStringLiteral("top/.Trash-") + user();
    const auto link = [this](const char* target, const QString& at) { ASSERT_TRUE(QFile::link(path(target), path(at))); };
    const auto folder = [this](const QString& at, mode_t mode) {
        makeFolder(at);
        ASSERT_EQ(::chmod(LocalPath::encoded(path(at)).constData(), mode), 0);
    };
    const QString isALink = QStringLiteral("The Trash folder %1 is a link").arg(path(own));
    // What is planted, and where the item lands below "top" (else the start of the refusal).
    std::vector<std::tuple<const char*, std::function<void()>, QString>> cases{
        {"no Trash yet: the user's own is made", [] {}, own.mid(4) + QStringLiteral("/files/item")},
        {"the user's own is a link to a folder", [&] { link("elsewhere", own); }, isALink},
        {"the user's own is a link to nothing", [&] { link("elsewhere/made", own); }, isALink},
        {"a shared Trash with the sticky bit", [&] { folder(QStringLiteral("top/.Trash"), 01777); },
         QStringLiteral(".Trash/") + user() + QStringLiteral("/files/item")},
        {"a shared Trash without it", [&] { folder(QStringLiteral("top/.Trash"), 0777); }, own.mid(4) + "/files/item"},
        {"a shared Trash that is a link to a sticky folder",
         [&] { folder(QStringLiteral("elsewhere/shared"), 01777), link("elsewhere/shared", QStringLiteral("top/.Trash")); },
         own.mid(4) + "/files/item"},
        {"the user's folder in the shared Trash is a link",
         [&] { folder(QStringLiteral("top/.Trash"), 01777), link("elsewhere", QStringLiteral("top/.Trash/") + user()); },
         own.mid(4) + "/files/item"},
    };
    if (::geteuid() == 0) {
        cases.emplace_back("the user's own belongs to another user", [&] {
            makeFolder(own);
            ASSERT_EQ(::chown(LocalPath::encoded(path(own)).constData(), 65534, 65534), 0);
        }, QStringLiteral("The Trash folder %1 belongs to another user.").arg(path(own)));
    }
    for (const auto& [name, plant, outcome] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(QDir(path(QStringLiteral("top"))).removeRecursively() && QDir(path(QStringLiteral("elsewhere"))).removeRecursively());
        makeFile(QStringLiteral("top/shown/item"), "mine");
        makeFolder(QStringLiteral("elsewhere"));
        plant();

        const std::optional<QString> refusal = LocalTrash::moveToTrash(path(QStringLiteral("top/shown/item")), places());

        QDirIterator reached(path(QStringLiteral("elsewhere")), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        EXPECT_FALSE(reached.hasNext()) << "nothing lands where a link points";
        if (!outcome.startsWith(QStringLiteral("The Trash"))) {
            EXPECT_EQ(refusal, std::nullopt);
            EXPECT_EQ(bytesOf(path(QStringLiteral("top/") + outcome)), "mine");
            const QString trash = QFileInfo(QFileInfo(path(QStringLiteral("top/") + outcome)).path()).path();
            EXPECT_EQ(trashedByPath(trash).keys(), QList<QByteArray>{"shown/item"}) << "relative to the top";
            if (QFileInfo(path(own)).isDir()) {
                EXPECT_EQ(QFileInfo(path(own)).permissions() & 0x0077, QFileDevice::Permissions()) << "private";
            }
        } else {
            ASSERT_TRUE(refusal.has_value());
            EXPECT_TRUE(refusal->startsWith(QStringLiteral("Its file system has no Trash that can take it. ") + outcome))
                << refusal->toStdString();
            EXPECT_EQ(bytesOf(path(QStringLiteral("top/shown/item"))), "mine") << "the item stays";
        }
    }
}

TEST_F(TrashTest, ALinkGoesToTheTrashAsTheLinkAndThePathIsPercentEncoded)
{
    struct Case {
        QString name;
        QByteArray recordedName;
        bool dangling;
    };
    const Case cases[] = {
        {QStringLiteral("link to nothing"), "link%20to%20nothing", true},
        {QStringLiteral("50% #1 é"), "50%25%20%231%20%C3%A9", false},
        {LocalPath::decoded("raw\xff" "byte"), "raw%FFbyte", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(LocalPath::encoded(row.name).toStdString());
        const QString item = path(QStringLiteral("home/shown/")) + row.name;
        if (row.dangling) {
            ASSERT_EQ(::symlink("../nowhere", LocalPath::encoded(item).constData()), 0);
        } else {
            ::close(::open(LocalPath::encoded(item).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        }

        EXPECT_EQ(LocalTrash::moveToTrash(item, places()), std::nullopt);

        struct stat info {};
        EXPECT_NE(::lstat(LocalPath::encoded(item).constData(), &info), 0) << "moved away";
        const QString inTrash = path(QStringLiteral("data/Trash/files/")) + row.name;
        ASSERT_EQ(::lstat(LocalPath::encoded(inTrash).constData(), &info), 0);
        EXPECT_EQ(S_ISLNK(info.st_mode), row.dangling);
        const QByteArray text = bytesOf(path(QStringLiteral("data/Trash/info/")) + row.name + QStringLiteral(".trashinfo"));
        EXPECT_TRUE(text.startsWith("[Trash Info]\nPath=" +
                                    LocalPath::encoded(path(QStringLiteral("home/shown/"))).toPercentEncoding("/") +
                                    row.recordedName + "\nDeletionDate="))
            << text.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("home/nowhere"))));
}

} // namespace
} // namespace quillbarrow::testing

namespace quillbarrow::testing {
namespace {

// Two files whose names differ only in a byte that is not UTF-8 and a real U+FFFD, and a folder
// whose name holds such a byte: every action reaches the item listed, by its real bytes.
class RealBytesTest : public TrashTest {
protected:
    void SetUp() override
    {
        TrashTest::SetUp();
        writeRaw("a\xff.txt", "an invalid byte");
        writeRaw("a\xef\xbf\xbd.txt", "the replacement character");
        ASSERT_EQ(::mkdir(LocalPath::encoded(path(QStringLiteral("home/shown/"))).append("d\xfe").constData(), 0755), 0);
        writeRaw("d\xfe/inside", "12345");
        m_model = makeModel(url(QStringLiteral("home/shown")));
        m_model->refresh();
        waitForListing(*m_model);
    }

    void writeRaw(const QByteArray& relative, const QByteArray& contents) const
    {
        const QByteArray file = LocalPath::encoded(path(QStringLiteral("home/shown/"))) + relative;
        const int descriptor = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(descriptor, 0);
        ASSERT_EQ(::write(descriptor, contents.constData(), contents.size()), contents.size());
        ::close(descriptor);
    }

    QByteArray contentsOf(const QByteArray& relative) const
    {
        return bytesOf(LocalPath::decoded(LocalPath::encoded(path(QStringLiteral("home/shown/"))) + relative));
    }

    // The listed item whose real name is `bytes`.
    LocalItem listed(const QByteArray& bytes) const
    {
        for (const LocalItem& item : m_model->items()) {
            if (LocalPath::encoded(LocalPath::fromUrl(item.id)).endsWith('/' + bytes)) {
                return item;
            }
        }
        ADD_FAILURE() << "not listed: " << bytes.toStdString();
        return LocalItem(QUrl(), QString(), RemoteItemKind::file, std::nullopt, std::nullopt, false);
    }

    std::unique_ptr<LocalBrowserViewModel> m_model;
};

TEST_F(RealBytesTest, EveryActionReachesTheItemListedNotTheOneItsShownNameSpells)
{
    const QString shown = QString::fromUtf8("a\xef\xbf\xbd.txt");
    EXPECT_EQ(names(m_model->items()), (QStringList{QString::fromUtf8("d\xef\xbf\xbd"), shown, shown}));
    EXPECT_NE(listed("a\xff.txt").id, listed("a\xef\xbf\xbd.txt").id);

    m_model->calculateFolderSizes({listed("d\xfe")});
    waitForMeasurements(*m_model);
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
    EXPECT_EQ(listed("d\xfe").size, 5);

    m_model->rename(listed("a\xff.txt"), QStringLiteral("renamed.txt"));
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
    EXPECT_EQ(contentsOf("renamed.txt"), "an invalid byte");
    EXPECT_EQ(contentsOf("a\xef\xbf\xbd.txt"), "the replacement character");

    m_model->deleteItems({listed("a\xef\xbf\xbd.txt")});
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
    EXPECT_EQ(bytesOf(path(QStringLiteral("data/Trash/files/")) + shown), "the replacement character");
    EXPECT_EQ(contentsOf("renamed.txt"), "an invalid byte");

    m_model->navigateTo(listed("d\xfe").id);
    waitForListing(*m_model);
    EXPECT_EQ(m_model->errorMessage(), std::nullopt);
    EXPECT_EQ(names(m_model->items()), QStringList{QStringLiteral("inside")});
}

} // namespace
} // namespace quillbarrow::testing
