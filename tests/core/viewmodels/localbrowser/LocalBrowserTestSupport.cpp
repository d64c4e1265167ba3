#include "LocalBrowserTestSupport.h"

#include "RunTask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QCoreApplication>

#include <unistd.h>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

void PrintTo(const QUrl& url, std::ostream* out)
{
    *out << url.toString().toStdString();
}

namespace quillbarrow {

void PrintTo(const VolumeLocation& location, std::ostream* out)
{
    *out << "VolumeLocation(" << location.url.toString().toStdString() << ", \"" << location.name.toStdString()
         << "\", " << location.systemImage.toStdString() << (location.isRemovable ? ", removable)" : ")");
}

void PrintTo(const LocalFavoriteLocation& location, std::ostream* out)
{
    *out << "LocalFavoriteLocation(" << location.url.toString().toStdString() << ", \"" << location.name.toStdString()
         << "\", " << location.systemImage.toStdString() << (location.isUserFavorite ? ", user" : "")
         << (location.isDefault ? ", default)" : ")");
}

} // namespace quillbarrow

namespace quillbarrow::testing {

namespace {

QMutex capturedMutex;
std::vector<LogCapture::Entry> captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QMutexLocker lock(&capturedMutex);
    captured.push_back(LogCapture::Entry{QString::fromUtf8(context.category), type, message});
}

} // namespace

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto saved = m_saved.rbegin(); saved != m_saved.rend(); ++saved) {
        if (saved->second) {
            qputenv(saved->first.constData(), *saved->second);
        } else {
            qunsetenv(saved->first.constData());
        }
    }
}

void ScopedEnvironment::set(const char* name, const QString& value)
{
    m_saved.emplace_back(QByteArray(name), qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, QFile::encodeName(value));
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&capturedMutex);
    captured.clear();
    previousHandler = qInstallMessageHandler(capture);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

std::vector<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker lock(&capturedMutex);
    return captured;
}

void LocalBrowserTest::SetUp()
{
    ASSERT_TRUE(m_root.isValid());
    makeFolder(QStringLiteral("home"));
    m_environment.set("HOME", path(QStringLiteral("home")));
    m_environment.set("XDG_DATA_HOME", path(QStringLiteral("data")));
    m_defaults = std::make_shared<InMemoryUserDefaults>();
    m_pool.setMaxThreadCount(1);
}

void LocalBrowserTest::TearDown()
{
    m_pool.waitForDone();
    // Folders made unreadable or unwritable by a test must not stop the clean-up.
    QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+rwx"), m_root.path()});
}

QString LocalBrowserTest::path(const QString& relative) const
{
    return relative.isEmpty() ? m_root.path() : m_root.path() + u'/' + relative;
}

QUrl LocalBrowserTest::url(const QString& relative) const
{
    return QUrl::fromLocalFile(path(relative));
}

void LocalBrowserTest::makeFolder(const QString& relative) const
{
    ASSERT_TRUE(QDir().mkpath(path(relative))) << relative.toStdString();
}

void LocalBrowserTest::makeFile(const QString& relative, const QByteArray& contents) const
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path())) << relative.toStdString();
    QFile file(path(relative));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << relative.toStdString();
    ASSERT_EQ(file.write(contents), contents.size());
}

std::unique_ptr<LocalBrowserViewModel> LocalBrowserTest::makeModel(std::optional<QUrl> startingAt)
{
    auto model = std::make_unique<LocalBrowserViewModel>(std::move(startingAt),
                                                         AppLogger(QStringLiteral("LocalBrowserViewModel")), m_defaults);
    model->setWorkPool(&m_pool);
    return model;
}

void LocalBrowserTest::waitForListing(const LocalBrowserViewModel& model)
{
    ASSERT_TRUE(processEventsUntil([&] { return !model.isLoading(); }));
}

void LocalBrowserTest::waitForMeasurements(const LocalBrowserViewModel& model)
{
    ASSERT_TRUE(processEventsUntil([&] { return model.calculatingFolderSizeIDs().isEmpty(); }));
}

LocalItem LocalBrowserTest::shownItem(const LocalBrowserViewModel& model, const QString& name)
{
    for (const LocalItem& item : model.items()) {
        if (item.name == name) {
            return item;
        }
    }
    ADD_FAILURE() << "no item named " << name.toStdString();
    return LocalItem(QUrl(), name, RemoteItemKind::unknown, std::nullopt, std::nullopt, false);
}

bool LocalBrowserTest::rerunUnprivileged()
{
    if (::geteuid() != 0) {
        return false;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QStringLiteral("--gtest_filter=%1.%2").arg(QLatin1StringView(test->test_suite_name()),
                                                                      QLatin1StringView(test->name()));
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                            QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                                            filter});
    if (!child.waitForStarted()) {
        ADD_FAILURE() << "setpriv cannot be started: " << child.errorString().toStdString();
        return true;
    }
    if (!child.waitForFinished(60'000)) {
        child.kill();
        child.waitForFinished();
        ADD_FAILURE() << "the unprivileged run did not end: " << child.readAll().toStdString();
        return true;
    }
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
    return true;
}

QStringList names(const QList<LocalItem>& items)
{
    QStringList result;
    for (const LocalItem& item : items) {
        result.append(item.name);
    }
    return result;
}

} // namespace quillbarrow::testing
