// Uploads that end without the session knowing what they left on the device (the cable pulled
// mid-transfer), noted before sending, and what the next session on the device does about them.

#include "LibMTPDeviceSessionTestSupport.h"
#include "transport/InterruptedUploadLog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace quillbarrow;
using namespace quillbarrow::testing;
using Operation = FakeLibMTPBridge::Operation;
using Entry = InterruptedUploadLog::Entry;

namespace quillbarrow {

void PrintTo(const InterruptedUploadLog::Entry& entry, std::ostream* out)
{
    *out << entry.storageID.toStdString() << ':' << entry.folder.join(u'/').toStdString() << '/'
         << entry.name.toStdString() << " (" << entry.size << " bytes)";
}

} // namespace quillbarrow

namespace {

std::string joined(const QStringList& texts)
{
    return texts.join(QStringLiteral(" | ")).toStdString();
}

// The next upload fails twice without libmtp reporting an object, as when the cable is pulled, so
// the session cannot know what the device kept.
void pullCableDuringNextUpload(FakeLibMTPBridge& bridge)
{
    bridge.failNext(Operation::upload, {1, "PTP Layer error 02ff: Could not send object."});
    bridge.failNext(Operation::upload, {5, "No MTP device is attached."});
}

// The bytes of the local file at `path`; "<missing>" when it cannot be read.
QByteArray localBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<missing>");
}

class InterruptedUploads : public LibMTPDeviceSessionTest {
protected:
    InterruptedUploads() : m_log(std::make_shared<InterruptedUploadLog>(m_state.filePath(QStringLiteral("log")))) {}

    void SetUp() override
    {
        ASSERT_TRUE(m_state.isValid());
        LibMTPDeviceSessionTest::SetUp();
        m_dcim = m_bridge->addFolder(storage, root, "DCIM");
        m_camera = m_bridge->addFolder(storage, m_dcim, "Camera");
    }

    LibMTPSessionServices services() const override { return {nullptr, m_log}; }

    static QString key() { return *InterruptedUploadLog::deviceKey(device()); }
    QList<Entry> notes() const { return m_log->entries(key()); }
    static Entry noteOf(const QStringList& folder, const QString& name, qint64 size)
    {
        return Entry{storageID().rawValue(), folder, name, size, {}};
    }

    // The folder at `path` below the storage root, listed on the way as the device browser does.
    RemoteObjectID browse(const QStringList& path)
    {
        QList<RemoteItem> items = runTask(m_session->rootDirectory(storageID())).items;
        RemotePath at = rootPath();
        std::optional<RemoteObjectID> folder;
        for (const QString& name : path) {
            folder.reset();
            for (const RemoteItem& item : items) {
                if (item.name == name && item.kind == RemoteItemKind::folder) {
                    folder = item.id;
                }
            }
            EXPECT_TRUE(folder.has_value()) << name.toStdString();
            if (!folder) {
                return RemoteObjectID(QStringLiteral("missing"));
            }
            at = at.appending(name);
            items = runTask(m_session->listDirectory(*folder, at)).items;
        }
        return *folder;
    }

    // Sends the file, and the cable is pulled while it is sent.
    void interruptUpload(const RemoteObjectID& folder, const QString& name, const QByteArray& content)
    {
        pullCableDuringNextUpload(*m_bridge);
        const std::optional<QuillbarrowError> failure =
            sessionFailure(m_session->uploadFile(localFile(QString::number(qHash(name)), content), name, folder, storageID()));
        EXPECT_TRUE(failure.has_value());
    }

    // The kept copy of a replaced file, "old", as a Replace leaves it in the local folder's
    // `copies` (made when missing); its path.
    QString keptCopyIn(const QString& copies) const
    {
        EXPECT_TRUE(QDir(m_local.path()).mkpath(copies));
        return localFile(copies + QStringLiteral("/0123.kept"), "old");
    }

    // A note under `deviceKey` of a Replace of `name`, 10 bytes, in the device folder `folder`,
    // whose kept copy is in `copies`.
    void noteReplace(const QString& deviceKey, const QStringList& folder, const QString& name, const QString& copies)
    {
        EXPECT_TRUE(m_log->add(deviceKey, Entry{storageID().rawValue(), folder, name, 10, keptCopyIn(copies)}));
    }

    // A file where the log's folder would be: the log cannot be written.
    void blockLog() const
    {
        QFile blocker(m_log->folder());
        EXPECT_TRUE(blocker.open(QIODevice::WriteOnly)) << "a file where the log's folder would be";
    }

    // Closes the session, plugs the device in again and opens a new session on it, whose object
    // ids are all new.
    void replug(const AndroidDevice& as = device())
    {
        runTask(m_session->close());
        m_bridge->replug();
        m_session = std::make_shared<LibMTPDeviceSession>(as, m_bridge->handle(), m_bridge, services());
    }

    // The fake device's object at `path` below the storage root, by names.
    std::optional<FakeLibMTPBridge::Object> objectAt(const QStringList& path) const
    {
        std::uint32_t parent = root;
        std::optional<FakeLibMTPBridge::Object> found;
        for (const QString& name : path) {
            found.reset();
            for (const FakeLibMTPBridge::Object& object : m_bridge->children(storage, parent)) {
                if (object.name == name.toUtf8()) {
                    found = object;
                }
            }
            if (!found) {
                return std::nullopt;
            }
            parent = found->id;
        }
        return found;
    }

    // "name size" for each file, "name/" for each folder, of the device folder at `path`.
    QStringList contentsOf(const QStringList& path) const
    {
        const std::optional<FakeLibMTPBridge::Object> folder = objectAt(path);
        if (!folder) {
            return {QStringLiteral("<no folder>")};
        }
        QStringList contents;
        for (const FakeLibMTPBridge::Object& object : m_bridge->children(storage, folder->id)) {
            contents.append(QString::fromUtf8(object.name) +
                            (object.folder ? QStringLiteral("/") : QStringLiteral(" %1").arg(object.size)));
        }
        contents.sort();
        return contents;
    }

    QTemporaryDir m_state;
    std::shared_ptr<InterruptedUploadLog> m_log;
    std::uint32_t m_dcim = 0;
    std::uint32_t m_camera = 0;
};

const QStringList camera{QStringLiteral("DCIM"), QStringLiteral("Camera")};

TEST_F(InterruptedUploads, AreNotedBeforeSendingAndTheNoteGoesOnceTheSessionKnowsWhatTheUploadLeft)
{
    struct Ending {
        const char* name;
        std::function<void(FakeLibMTPBridge&)> script;
        bool stopsThroughProgress;
        bool noteKept;
        QStringList left;
    };
    const QList<Ending> endings{
        {"sent", [](FakeLibMTPBridge&) {}, false, false, {QStringLiteral("sent.jpg 10")}},
        {"stopped through the progress function", [](FakeLibMTPBridge&) {}, true, false, {}},
        {"stopped, and the device could not be asked what was left",
         [](FakeLibMTPBridge& bridge) { bridge.failNext(Operation::list, {1, "PTP Layer error 02ff"}); }, true,
         true, {}},
        {"failed twice, each leftover deleted",
         [](FakeLibMTPBridge& bridge) {
             bridge.failNext(Operation::upload, {1, "PTP Layer error 2007", true});
             bridge.failNext(Operation::upload, {1, "PTP Layer error 2007", true});
         },
         false, false, {}},
        {"failed twice without an object from libmtp",
         [](FakeLibMTPBridge& bridge) {
             bridge.failNext(Operation::upload, {1, "PTP Layer error 02ff"});
             bridge.failNext(Operation::upload, {1, "PTP Layer error 02ff"});
         },
         false, true, {}},
        {"failed, and the first leftover could not be deleted",
         [](FakeLibMTPBridge& bridge) {
             bridge.failNext(Operation::upload, {1, "PTP Layer error 2007", true});
             bridge.failNext(Operation::deleteObject, {1, "PTP Layer error 02ff"});
             bridge.failNext(Operation::upload, {1, "PTP Layer error 2007", true});
         },
         false, true, {QStringLiteral("failed, and the first leftover could not be deleted.jpg 5")}},
    };
    const RemoteObjectID folder = browse(camera);
    QList<Entry> kept;
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.name);
        const QString name = QString::fromUtf8(ending.name) + QStringLiteral(".jpg");
        const QString source = localFile(name, "0123456789");
        ending.script(*m_bridge);
        const TransferProgressFunction progress = [stop = ending.stopsThroughProgress](qint64, std::optional<qint64>) {
            return !stop;
        };
        m_bridge->holdTransfers();
        auto log = std::make_shared<QStringList>();
        QCoro::Task<> uploading = noteEnding(m_session->uploadFile(source, name, folder, storageID(), progress), log, name);
        ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waitingTransfers() == 1; }));
        EXPECT_EQ(notes(), kept + QList<Entry>{noteOf(camera, name, 10)})
            << "noted before the first byte " << joined(m_bridge->calls());
        m_bridge->release();
        ASSERT_TRUE(processEventsUntil([&log] { return !log->isEmpty(); }));

        if (ending.noteKept) {
            kept.append(noteOf(camera, name, 10));
        }
        EXPECT_EQ(notes(), kept);
        QStringList left;
        for (const QString& item : contentsOf(camera)) {
            if (item.startsWith(name)) {
                left.append(item);
            }
        }
        EXPECT_EQ(left, ending.left);
    }
}

TEST_F(InterruptedUploads, AreNotedOnlyWhereWhatTheyLeftCanBeToldFromAnythingElse)
{
    m_bridge->addFile(storage, m_camera, "taken.jpg", "older");
    const std::uint32_t music = m_bridge->addFolder(storage, root, "Music");
    const std::uint32_t album = m_bridge->addFolder(storage, music, "Album");
    const RemoteObjectID folder = browse(camera);
    const RemoteItem made = runTask(m_session->createFolder(QStringLiteral("Made"), folder, storageID()));

    struct Case {
        const char* name;
        RemoteObjectID folder;
        QString file;
        QByteArray content;
        std::optional<Entry> note;
    };
    const QString longName = QString(256, QChar(0x00E9)); // 512 bytes: more than a listing shows
    const QList<Case> cases{
        {"a free name in a listed folder", folder, QStringLiteral("free.jpg"), "0123456789",
         noteOf(camera, QStringLiteral("free.jpg"), 10)},
        {"a name the folder already holds", folder, QStringLiteral("taken.jpg"), "0123456789", std::nullopt},
        {"an empty file", folder, QStringLiteral("empty.jpg"), "", std::nullopt},
        {"a name longer than a listing shows", folder, longName, "0123456789", std::nullopt},
        {"a folder whose way from the root the session never saw", idOf(album), QStringLiteral("song.mp3"),
         "0123456789", std::nullopt},
        {"a folder the session made", made.id, QStringLiteral("new.jpg"), "0123",
         noteOf(camera + QStringList{QStringLiteral("Made")}, QStringLiteral("new.jpg"), 4)},
    };
    QList<Entry> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        interruptUpload(c.folder, c.file, c.content);
        if (c.note) {
            expected.append(*c.note);
        }
        EXPECT_EQ(notes(), expected);
    }
    // The folder that the session made was listed once, for the note; the one it never saw not at
    // all (its listing could not have been used).
    const QStringList calls = m_bridge->calls();
    EXPECT_EQ(calls.count(QStringLiteral("list 65537 ") + made.id.rawValue()), 1) << joined(calls);
    EXPECT_EQ(calls.count(QStringLiteral("list 65537 %1").arg(album)), 0) << joined(calls);
}

// Without a serial number, or with one that phones of a model share when theirs is not set, the
// next phone of the model would be taken for this one: its files deleted, or sent this one's.
TEST_F(InterruptedUploads, AreNotNotedForADeviceThatCannotBeToldFromAnotherOfItsModel)
{
    const std::optional<QString> serials[] = {std::nullopt, QString(), QStringLiteral("0123456789ABCDEF"),
                                              QStringLiteral("0123456789abcdef"), QStringLiteral(" 0000000000 "),
                                              QStringLiteral("unknown")};
    for (const std::optional<QString>& serial : serials) {
        SCOPED_TRACE(serial.value_or(QStringLiteral("none")).toStdString());
        runTask(m_session->close());
        m_bridge->replug();
        const AndroidDevice anonymous(DeviceID(QStringLiteral("libmtp-1-4")), QStringLiteral("Pixel 8"),
                                      QStringLiteral("Google"), QStringLiteral("Pixel 8"), serial,
                                      DeviceConnectionKind::usb);
        EXPECT_EQ(InterruptedUploadLog::deviceKey(anonymous), std::nullopt);
        // A log an earlier version kept for it is emptied, touching nothing on the device (which
        // may be another of the model): the copy it knows stays here, under the file's name.
        const std::optional<QString> former = InterruptedUploadLog::formerDeviceKey(anonymous);
        EXPECT_EQ(former.has_value(), serial && !serial->trimmed().isEmpty());
        const QString copies = m_local.filePath(QStringLiteral("Replaced Files"));
        if (former) {
            noteReplace(*former, camera, QStringLiteral("b.jpg"), QStringLiteral("Replaced Files"));
            m_log->compact(*former);
        }
        m_session = std::make_shared<LibMTPDeviceSession>(anonymous, m_bridge->handle(), m_bridge, services());
        interruptUpload(browse(camera), QStringLiteral("a.jpg"), "0123456789");
        EXPECT_TRUE(QDir(m_log->folder()).entryList(QDir::Files).isEmpty());
        if (former) {
            EXPECT_EQ(QDir(copies).entryList(QDir::Files), QStringList{QStringLiteral("b.jpg")});
            EXPECT_FALSE(objectAt(camera + QStringList{QStringLiteral("b.jpg")}));
            QDir(copies).removeRecursively();
        }
    }
}

// A log that cannot be written (here a file stands where its folder should be) costs the chance to
// clean up, never the upload.
TEST_F(InterruptedUploads, AnUnwritableLogDoesNotStopTheUpload)
{
    blockLog();
    const RemoteItem sent = runTask(m_session->uploadFile(localFile(QStringLiteral("a.jpg"), "0123456789"),
                                                          QStringLiteral("a.jpg"), browse(camera), storageID()));
    EXPECT_EQ(sent.size, std::optional<qint64>(10));
    EXPECT_EQ(contentsOf(camera), QStringList{QStringLiteral("a.jpg 10")});
    EXPECT_TRUE(notes().isEmpty());
}

// The next session's first operation looks for what each noted upload left: the only object of
// its name in its folder, found by the folder's names (object ids do not outlive a session), and
// only when it is a file smaller than the whole. Nothing else is ever removed. A kept copy of a
// replaced file that cannot go back for that reason stays on the computer under the file's name.
TEST_F(InterruptedUploads, TheNextSessionRemovesWhatTheyLeftAndNothingElse)
{
    struct Case {
        const char* name;
        // Makes what the device holds at the next session, in the case's own folder below DCIM.
        std::function<void(FakeLibMTPBridge&, std::uint32_t folder, std::uint32_t dcim)> leave;
        QStringList remains; // in the case's folder afterwards
        bool replacedAFile = false; // the upload was a Replace, with a kept copy of the old file
    };
    const auto file = [](const QByteArray& name, int size) {
        return [name, size](FakeLibMTPBridge& bridge, std::uint32_t folder, std::uint32_t) {
            bridge.addFile(storage, folder, name, QByteArray(size, 'x'));
        };
    };
    const QList<Case> cases{
        {"what arrived of it", file("f.jpg", 5), {}},
        {"nothing of it", [](FakeLibMTPBridge&, std::uint32_t, std::uint32_t) {}, {}},
        {"the whole file", file("f.jpg", 10), {QStringLiteral("f.jpg 10")}},
        {"a larger object", file("f.jpg", 12), {QStringLiteral("f.jpg 12")}},
        {"an object of another name", file("g.jpg", 5), {QStringLiteral("g.jpg 5")}},
        {"two objects of its name",
         [](FakeLibMTPBridge& bridge, std::uint32_t folder, std::uint32_t) {
             bridge.addFile(storage, folder, "f.jpg", "12345");
             bridge.addFile(storage, folder, "f.jpg", "123");
         },
         {QStringLiteral("f.jpg 3"), QStringLiteral("f.jpg 5")}},
        {"a folder of its name",
         [](FakeLibMTPBridge& bridge, std::uint32_t folder, std::uint32_t) {
             bridge.addFolder(storage, folder, "f.jpg");
         },
         {QStringLiteral("f.jpg/")}},
        {"a part of its name in another folder",
         [](FakeLibMTPBridge& bridge, std::uint32_t, std::uint32_t dcim) {
             bridge.addFile(storage, dcim, "f.jpg", "12345");
         },
         {}},
        {"a part in its folder, renamed since",
         [](FakeLibMTPBridge& bridge, std::uint32_t folder, std::uint32_t) {
             bridge.addFile(storage, folder, "f.jpg", "12345");
             bridge.setName(folder, "renamed");
         },
         {QStringLiteral("<no folder>")}},
        {"two objects of its name, and a copy of the file it replaced",
         [](FakeLibMTPBridge& bridge, std::uint32_t folder, std::uint32_t) {
             bridge.addFile(storage, folder, "f.jpg", "12345");
             bridge.addFile(storage, folder, "f.jpg", "123");
         },
         {QStringLiteral("f.jpg 3"), QStringLiteral("f.jpg 5")},
         true},
        {"its folder gone, and a copy of the file it replaced",
         [](FakeLibMTPBridge& bridge, std::uint32_t folder, std::uint32_t) {
             bridge.setName(folder, "moved");
         },
         {QStringLiteral("<no folder>")},
         true},
    };
    // Each copy in a folder of its own, as "Replaced Files" would be.
    const auto copiesOf = [](qsizetype index) { return QStringLiteral("Replaced Files ") + QString::number(index); };
    QList<std::uint32_t> folders;
    for (qsizetype index = 0; index < cases.size(); ++index) {
        folders.append(m_bridge->addFolder(storage, m_dcim, QByteArray::number(index)));
    }
    for (qsizetype index = 0; index < cases.size(); ++index) {
        const QStringList folder{QStringLiteral("DCIM"), QString::number(index)};
        interruptUpload(browse(folder), QStringLiteral("f.jpg"), "0123456789");
        if (cases[index].replacedAFile) {
            noteReplace(key(), folder, QStringLiteral("f.jpg"), copiesOf(index));
        }
        cases[index].leave(*m_bridge, folders[index], m_dcim);
    }
    ASSERT_EQ(notes().size(), cases.size());

    replug();
    runTask(m_session->storages());

    for (qsizetype index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(cases[index].name);
        EXPECT_EQ(contentsOf({QStringLiteral("DCIM"), QString::number(index)}), cases[index].remains);
        if (cases[index].replacedAFile) {
            const QDir copies(m_local.filePath(copiesOf(index)));
            EXPECT_EQ(copies.entryList(QDir::Files), QStringList{QStringLiteral("f.jpg")})
                << "the only whole copy of the old file, where a person finds it";
            EXPECT_EQ(localBytes(copies.filePath(QStringLiteral("f.jpg"))), "old");
        }
    }
    EXPECT_EQ(m_bridge->children(storage, objectAt({QStringLiteral("DCIM")})->id).count(), cases.size() + 2)
        << "the part in DCIM itself stays";
    EXPECT_EQ(objectAt({QStringLiteral("DCIM"), QStringLiteral("renamed"), QStringLiteral("f.jpg")})->size, 5u);
    EXPECT_TRUE(notes().isEmpty()) << "each was settled";
}

TEST_F(InterruptedUploads, ANoteStaysUntilTheDeviceCanBeAsked)
{
    interruptUpload(browse(camera), QStringLiteral("f.jpg"), "0123456789");
    m_bridge->addFile(storage, m_camera, "f.jpg", "12345");
    const QList<Entry> noted = notes();
    ASSERT_EQ(noted.size(), 1);

    // The device does not answer the listings: nothing is removed, the note stays, and the
    // operation itself goes on.
    replug();
    m_bridge->failNext(Operation::list, {1, "PTP Layer error 02ff"});
    EXPECT_EQ(runTask(m_session->storages()).size(), 1);
    EXPECT_EQ(contentsOf(camera), QStringList{QStringLiteral("f.jpg 5")});
    EXPECT_EQ(notes(), noted);

    // Another phone of the same model is not this one.
    const AndroidDevice other(DeviceID(QStringLiteral("libmtp-1-5")), QStringLiteral("Pixel 8"),
                              QStringLiteral("Google"), QStringLiteral("Pixel 8"), QStringLiteral("SER999"),
                              DeviceConnectionKind::usb);
    replug(other);
    runTask(m_session->storages());
    EXPECT_EQ(contentsOf(camera), QStringList{QStringLiteral("f.jpg 5")});
    EXPECT_EQ(notes(), noted);

    // A storage that is not in the phone now (a memory card taken out) may come back.
    const Entry onCard{QStringLiteral("131073"), {QStringLiteral("Music")}, QStringLiteral("song.mp3"), 10, {}};
    ASSERT_TRUE(m_log->add(key(), onCard));

    // Closing first looks for nothing; the next session that works does.
    replug();
    runTask(m_session->close());
    EXPECT_EQ(notes(), noted + QList<Entry>{onCard});
    replug();
    runTask(m_session->rootDirectory(storageID()));
    EXPECT_EQ(contentsOf(camera), QStringList());
    EXPECT_EQ(notes(), QList<Entry>{onCard});
}

// A path from the storage root whose folders are not each the only one of their name cannot tell
// which folder the upload went to: nothing is deleted, and the note goes.
TEST_F(InterruptedUploads, APathThroughTwoFoldersOfOneNameDeletesNothing)
{
    const std::uint32_t twin = m_bridge->addFolder(storage, m_dcim, "Twin");
    interruptUpload(browse({QStringLiteral("DCIM"), QStringLiteral("Twin")}), QStringLiteral("f.jpg"), "0123456789");
    m_bridge->addFile(storage, twin, "f.jpg", "12345");
    const std::uint32_t other = m_bridge->addFolder(storage, m_dcim, "Twin");
    m_bridge->addFile(storage, other, "f.jpg", "123");
    ASSERT_EQ(notes().size(), 1);

    replug();
    runTask(m_session->storages());

    EXPECT_TRUE(m_bridge->calls().filter(QStringLiteral("delete")).isEmpty()) << joined(m_bridge->calls());
    EXPECT_TRUE(notes().isEmpty());
}

// A Replace where the device cannot rename: the old object is deleted, the new file sent, and the
// kept copy of the old one goes back whenever the new one does not arrive whole, at once or, when
// the device could not be asked, at the next session. The copy goes only once the old file is back
// whole: a send-back cut short leaves part of it, which must never pass for the new file having
// arrived, however their sizes compare.
TEST_F(InterruptedUploads, AReplacedFileComesBackWhenItsReplacementDoesNotArrive)
{
    const QByteArray oldContent = "OLD-OLD-OLD-OLD-OLD-"; // larger than the new file
    const QStringList oldWhole{QStringLiteral("a.jpg 20")};
    const QStringList newWhole{QStringLiteral("a.jpg 4")};
    using Script = std::function<void(FakeLibMTPBridge&)>;
    struct Row {
        const char* what;
        Script script;
        QStringList contents; // of DCIM/Camera afterwards
        bool copyKept;
        Script atNextSession;
        QStringList contentsAfterReplug;
        bool copyKeptAfterReplug = false; // then the session after that brings the old file back
    };
    const auto fail = [](std::int32_t code, bool leaves) {
        return FakeLibMTPBridge::Failure{code, "PTP Layer error 02ff", leaves};
    };
    const Script nothing = [](FakeLibMTPBridge&) {};
    const QList<Row> rows{
        {"the new file arrives", nothing, newWhole, false, nothing, newWhole},
        {"the new file fails, and the device is there",
         [&](FakeLibMTPBridge& bridge) {
             bridge.failNext(Operation::upload, fail(1, true));
             bridge.failNext(Operation::upload, fail(1, true));
         },
         oldWhole, false, nothing, oldWhole},
        {"the device refuses the new file and makes nothing",
         [](FakeLibMTPBridge& bridge) {
             bridge.failNext(Operation::upload, FakeLibMTPBridge::Failure{1, "PTP Layer error 2009", false});
             bridge.failNext(Operation::upload, FakeLibMTPBridge::Failure{1, "PTP Layer error 2009", false});
         },
         oldWhole, false, nothing, oldWhole},
        {"the device goes while the new file is sent, keeping two bytes of it", pullCableDuringNextUpload, {}, true,
         [this](FakeLibMTPBridge& bridge) { bridge.addFile(storage, objectAt(camera)->id, "a.jpg", "ne"); },
         oldWhole},
        {"the device goes while the new file is sent, and again when half the old one is sent back",
         pullCableDuringNextUpload, {}, true,
         [&](FakeLibMTPBridge& bridge) {
             bridge.failNext(Operation::upload, fail(1, true));
             bridge.failNext(Operation::deleteObject, {5, "No MTP device is attached."});
             bridge.failNext(Operation::upload, {5, "No MTP device is attached.", false});
         },
         {QStringLiteral("a.jpg 10")}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Object ids do not outlive a session.
        const std::uint32_t cameraNow = objectAt(camera)->id;
        for (const FakeLibMTPBridge::Object& object : m_bridge->children(storage, cameraNow)) {
            runTask(m_session->deleteItem(idOf(object.id)));
        }
        const std::uint32_t old = m_bridge->addFile(storage, cameraNow, "a.jpg", oldContent);
        const RemoteObjectID folder = browse(camera);
        const QString kept = localFile(QStringLiteral("kept"), oldContent);
        row.script(*m_bridge);

        const std::optional<QuillbarrowError> failure =
            sessionFailure(m_session->replaceFile(localFile(QStringLiteral("new"), "new!"), QStringLiteral("a.jpg"),
                                                  folder, storageID(), idOf(old), kept, TransferProgressFunction()));

        EXPECT_EQ(failure.has_value(), row.contents != newWhole);
        EXPECT_EQ(contentsOf(camera), row.contents);
        EXPECT_EQ(QFileInfo::exists(kept), row.copyKept);
        EXPECT_EQ(notes().size(), row.copyKept ? 1 : 0);

        replug();
        row.atNextSession(*m_bridge);
        runTask(m_session->storages());
        EXPECT_EQ(contentsOf(camera), row.contentsAfterReplug);
        if (row.copyKeptAfterReplug) {
            EXPECT_TRUE(QFileInfo::exists(kept)) << "half the old file is no reason to let the copy go";
            replug();
            runTask(m_session->storages());
            EXPECT_EQ(contentsOf(camera), oldWhole);
        }
        if (row.contentsAfterReplug != newWhole) {
            EXPECT_EQ(m_bridge->children(storage, objectAt(camera)->id).first().content, oldContent) << "byte for byte";
        }
        EXPECT_FALSE(QFileInfo::exists(kept));
        EXPECT_TRUE(notes().isEmpty());
    }
}

// Without a note (its log cannot be written) no later session would send the copy back: when the
// replacement does not arrive and the old file cannot go back at once, the copy stays on the
// computer under the file's name, never over another file, and the error says where.
TEST_F(InterruptedUploads, AnUnnotedReplaceThatCannotPutTheOldFileBackSaysWhereItsCopyIs)
{
    blockLog();
    const QString copies = m_local.filePath(QStringLiteral("Replaced Files"));
    struct Row {
        const char* what;
        QStringList before; // the names already in the copies' folder
        QString keptAs;
    };
    const QList<Row> rows{
        {"the name is free", {}, QStringLiteral("a.jpg")},
        {"the name is taken there", {QStringLiteral("a.jpg")}, QStringLiteral("a 2.jpg")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(copies).removeRecursively();
        const QString kept = keptCopyIn(QStringLiteral("Replaced Files"));
        for (const QString& name : row.before) {
            localFile(QStringLiteral("Replaced Files/") + name, "another file");
        }
        const std::uint32_t old = m_bridge->addFile(storage, objectAt(camera)->id, "a.jpg", "old");
        const RemoteObjectID folder = browse(camera);
        pullCableDuringNextUpload(*m_bridge);

        const std::optional<QuillbarrowError> failure = sessionFailure(
            m_session->replaceFile(localFile(QStringLiteral("new"), "new one"), QStringLiteral("a.jpg"), folder,
                                   storageID(), idOf(old), kept, TransferProgressFunction()));

        const QString keptAs = copies + QLatin1Char('/') + row.keptAs;
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->userMessage(),
                  QStringLiteral("The file couldn't be copied to the device. No Android file transfer device was found. "
                                 "The replaced a.jpg is no longer on the device; a copy of it is kept at ") +
                      keptAs + QLatin1Char('.'));
        EXPECT_EQ(localBytes(keptAs), "old");
        for (const QString& name : row.before) {
            EXPECT_EQ(localBytes(copies + QLatin1Char('/') + name), "another file");
        }
        replug();
    }
}

// A file cut short while it is sent fails at once, naming it: sending it again would end the same
// way. What the attempt left is removed.
TEST_F(InterruptedUploads, AFileThatEndsEarlyFailsNamingItAndLeavesNothing)
{
    const RemoteObjectID folder = browse(camera);
    const QString source = localFile(QStringLiteral("shrinking.jpg"), "0123456789");
    m_bridge->failNext(Operation::upload, {1, "PTP Layer error 02ff", true});
    m_bridge->holdTransfers();
    auto log = std::make_shared<QStringList>();
    QCoro::Task<> uploading =
        noteEnding(m_session->uploadFile(source, QStringLiteral("s.jpg"), folder, storageID()), log, "upload");
    ASSERT_TRUE(processEventsUntil([this] { return m_bridge->waitingTransfers() == 1; }));
    QFile file(source);
    ASSERT_TRUE(file.resize(4));
    m_bridge->release();
    ASSERT_TRUE(processEventsUntil([&log] { return !log->isEmpty(); }));

    EXPECT_EQ(*log, QStringList{QStringLiteral("upload transferFailed: Could not send ") + source +
                                QStringLiteral(": it ended after 4 of the 10 bytes it had when the upload began.")});
    EXPECT_EQ(m_bridge->calls().filter(QStringLiteral("upload s.jpg")).size(), 1) << "not sent again";
    EXPECT_EQ(contentsOf(camera), QStringList());
}

const QString logDevice = QStringLiteral("Google\x1FPixel\x1FSER1");

// The log's entry for `name` in DCIM, of 10 bytes.
Entry logged(const char* name, const QString& keptCopy = {})
{
    return Entry{QStringLiteral("65537"), {QStringLiteral("DCIM")}, QString::fromUtf8(name), 10, keptCopy};
}

// The path of the only file in `folder`; none when there is not exactly one.
QString onlyFileIn(const QTemporaryDir& folder)
{
    const QStringList files = QDir(folder.path()).entryList(QDir::Files);
    return files.size() == 1 ? folder.filePath(files.first()) : QString();
}

// A crash or the disk may spoil a line of the log: a record torn at the end is lost, nothing else,
// and a spoilt first line names nobody, the records after it still the device's. Either way new
// records go in, and the next rewrite leaves what is still due, each record on a line of its own.
TEST(InterruptedUploadLogFile, ReadsPastASpoiltLineAndCompactsToWhatIsStillDue)
{
    const struct {
        const char* what;
        QIODevice::OpenMode mode;
        QByteArray bytes; // written to the compacted log
    } cases[] = {
        {"a record torn at the end", QIODevice::Append, R"({"storage":"65537","folder":["DCIM"],"na)"},
        {"the first line spoilt", QIODevice::ReadWrite, QByteArray(8, '\0')},
    };
    const Entry withCopy = logged("c", QStringLiteral("/cache/Replaced Files/1.kept"));
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        QTemporaryDir folder;
        InterruptedUploadLog log(folder.path());
        ASSERT_TRUE(log.add(logDevice, logged("a")));
        ASSERT_TRUE(log.add(logDevice, logged("b")));
        ASSERT_TRUE(log.remove(logDevice, logged("a")));
        ASSERT_TRUE(log.add(logDevice, withCopy));
        EXPECT_EQ(log.entries(logDevice), (QList<Entry>{logged("b"), withCopy}));
        EXPECT_EQ(log.entries(QStringLiteral("another")), QList<Entry>());

        log.compact(logDevice);
        {
            QFile file(onlyFileIn(folder));
            ASSERT_TRUE(file.open(test.mode));
            file.write(test.bytes);
        }
        InterruptedUploadLog next(folder.path()); // as the next session reads it
        EXPECT_EQ(next.entries(logDevice), (QList<Entry>{logged("b"), withCopy}));
        ASSERT_TRUE(next.add(logDevice, logged("d")));
        next.compact(logDevice);
        EXPECT_EQ(next.entries(logDevice), (QList<Entry>{logged("b"), withCopy, logged("d")}));
        const QByteArray compacted = localBytes(onlyFileIn(folder));
        EXPECT_EQ(compacted.count('\n'), 4) << "the device, then one line per entry";
        for (const QByteArray& line : compacted.trimmed().split('\n')) {
            EXPECT_TRUE(QJsonDocument::fromJson(line).isObject()) << line.toStdString();
        }

        for (const char* name : {"b", "c", "d"}) {
            ASSERT_TRUE(next.remove(logDevice, logged(name)));
        }
        next.compact(logDevice);
        EXPECT_EQ(onlyFileIn(folder), QString()) << "no entries, no file";
    }
}

// The log's rewrite reaches the disk whole or not at all. Here no file may grow past 64 bytes (the
// process's file size limit), so writes fail as on a disk that fills up: the part of the rewrite
// past that fails only when the buffered bytes are written out.
TEST(InterruptedUploadLogFile, ARewriteThatCannotBeWrittenLeavesTheLogAsItWas)
{
    QTemporaryDir folder;
    InterruptedUploadLog log(folder.path());
    const Entry replaced = logged("a.jpg", QStringLiteral("/cache/Replaced Files/1.kept"));
    ASSERT_TRUE(log.add(logDevice, replaced));
    ASSERT_TRUE(log.add(logDevice, logged("b.jpg")));

    rlimit usual{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &usual), 0);
    rlimit small = usual;
    small.rlim_cur = 64;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails, nothing more
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    log.compact(logDevice);
    ::setrlimit(RLIMIT_FSIZE, &usual);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(log.entries(logDevice), (QList<Entry>{replaced, logged("b.jpg")}));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 1) << "nothing left beside the log";
}

// A log that is there but cannot be read whole may hold entries still due (a kept copy's among
// them): it is never removed or rewritten, and nothing is added to it that would not be read back.
TEST(InterruptedUploadLogFile, ALogThatCannotBeReadWholeIsKeptAsItIs)
{
    const Entry entry = logged("a.jpg", QStringLiteral("/cache/Replaced Files/1.kept"));
    const struct {
        const char* what;
        QByteArray firstLine; // in place of the log's own, when given
        bool unreadable;
    } cases[] = {
        {"it cannot be opened", {}, true},
        {"its first line names another device", QByteArray("{\"device\":\"x\"}"), false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        QTemporaryDir folder;
        {
            InterruptedUploadLog log(folder.path());
            ASSERT_TRUE(log.add(logDevice, entry));
        }
        QFile file(onlyFileIn(folder));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray before = file.readAll();
        file.close();
        if (!test.firstLine.isEmpty()) {
            before = test.firstLine + before.mid(before.indexOf('\n'));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(before);
            file.close();
        }
        if (test.unreadable) {
            ASSERT_TRUE(file.setPermissions(QFileDevice::Permissions()));
            if (file.open(QIODevice::ReadOnly)) {
                file.close();
                continue; // this user reads anything (root): the run as an ordinary user checks it
            }
        }

        InterruptedUploadLog log(folder.path());
        log.compact(logDevice);
        EXPECT_FALSE(log.add(logDevice, entry)) << "it would not be read back";
        log.compact(logDevice);

        ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "still there";
        EXPECT_EQ(file.readAll(), before);
    }
}

// Names are whatever the user's files and the device's folders are called: every one comes back
// from the log as it went in, and a record never spills onto the next line.
TEST(InterruptedUploadLogFile, KeepsEveryNameAsWritten)
{
    const struct {
        const char* what;
        QString name;
    } cases[] = {
        {"plain", QStringLiteral("IMG_0001.jpg")},
        {"quotes", QStringLiteral(R"(say "cheese".jpg)")},
        {"backslashes", QStringLiteral(R"(a\b\\c\"d.jpg)")},
        {"line breaks and tabs", QStringLiteral("two\nlines\r\tand\x01\x1F\x7F.jpg")},
        {"not ASCII", QStringLiteral("Fête à Zürich — 東京 🎉.jpg")},
        {"invalid UTF-8 bytes, as the file system gave them", QFile::decodeName("bad\xff\xfe\xc3(.jpg")},
        {"JSON of its own", QStringLiteral(R"({"removed":true}],")")},
    };
    const QString device = QStringLiteral("Google\x1FPixel \"7\"\x1FSER\\1");
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        QTemporaryDir folder;
        const Entry entry{QStringLiteral("65537"), {QStringLiteral("DCIM"), test.name}, test.name, 123'456,
                          folder.filePath(test.name)};
        Entry other = entry;
        other.name += QStringLiteral(" (2)");
        other.keptCopy.clear();
        {
            InterruptedUploadLog log(folder.path());
            ASSERT_TRUE(log.add(device, entry));
            ASSERT_TRUE(log.add(device, other));
        }
        // Read by a log that did not write it, as the next session does.
        InterruptedUploadLog log(folder.path());
        EXPECT_EQ(log.entries(device), (QList<Entry>{entry, other}));
        ASSERT_TRUE(log.remove(device, entry));
        EXPECT_EQ(log.entries(device), QList<Entry>{other}) << "the removal names the same target";
        log.compact(device);
        EXPECT_EQ(InterruptedUploadLog(folder.path()).entries(device), QList<Entry>{other});

        const QList<QByteArray> lines = localBytes(onlyFileIn(folder)).split('\n');
        EXPECT_EQ(lines.size(), 3) << "the device and one entry, each on a line of its own";
        for (const QByteArray& line : lines.first(lines.size() - 1)) {
            QJsonParseError error{};
            EXPECT_TRUE(QJsonDocument::fromJson(line, &error).isObject()) << line.toStdString();
        }
    }
}

} // namespace
