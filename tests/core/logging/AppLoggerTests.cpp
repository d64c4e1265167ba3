#include "logging/AppLogger.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quillbarrow {
namespace {

struct Entry {
    QString category;
    QtMsgType type;
    QString message;
    bool operator==(const Entry&) const = default;
};

QMutex capturedMutex;
std::vector<Entry> captured;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QMutexLocker lock(&capturedMutex);
    captured.push_back(Entry{QString::fromUtf8(context.category), type, message});
}

// Captures every log entry written while the test runs.
class AppLoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        captured.clear();
        m_previous = qInstallMessageHandler(capture);
    }
    void TearDown() override
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    static std::vector<Entry> entries()
    {
        QMutexLocker lock(&capturedMutex);
        return captured;
    }

private:
    QtMessageHandler m_previous = nullptr;
};

TEST_F(AppLoggerTest, WritesEachLevelUnderTheComponentCategory)
{
    const AppLogger logger(QStringLiteral("TransferQueue"));
    EXPECT_STREQ(logger.categoryName(), "com.quillbarrow.app.TransferQueue");
    logger.debug(QStringLiteral("d"));
    logger.info(QStringLiteral("queued transfer IMG_0001.jpg"));
    logger.error(QStringLiteral("e"));
    const QString category = QStringLiteral("com.quillbarrow.app.TransferQueue");
    EXPECT_EQ(entries(), (std::vector<Entry>{{category, QtDebugMsg, QStringLiteral("d")},
                                             {category, QtInfoMsg, QStringLiteral("queued transfer IMG_0001.jpg")},
                                             {category, QtCriticalMsg, QStringLiteral("e")}}));
}

TEST_F(AppLoggerTest, MessagesAreWrittenLiterally)
{
    const AppLogger logger(QStringLiteral("LibMTPBackend"));
    const QString tricky = QStringLiteral("100% of %s %n {0} {} %1 \\n trailing ") + QChar(0x00E9) + QChar(0x4E2D) +
                           QStringLiteral(" ");
    logger.info(tricky);
    logger.error(QString());
    const std::vector<Entry> written = entries();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].message, tricky);
    EXPECT_EQ(written[1].message, QString());
    EXPECT_EQ(written[1].type, QtCriticalMsg);
}

TEST_F(AppLoggerTest, DisabledLevelWritesNothing)
{
    QLoggingCategory::setFilterRules(QStringLiteral("com.quillbarrow.app.QuietComponent.debug=false"));
    const AppLogger logger(QStringLiteral("QuietComponent"));
    logger.debug(QStringLiteral("hidden"));
    logger.info(QStringLiteral("shown"));
    const std::vector<Entry> written = entries();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].message, QStringLiteral("shown"));
}

TEST_F(AppLoggerTest, CopiesAndLoggersOfOneCategoryShareItAcrossThreads)
{
    const AppLogger original(QStringLiteral("DeviceBrowserViewModel"));
    const AppLogger copy = original;
    EXPECT_EQ(copy.categoryName(), original.categoryName());
    EXPECT_NE(AppLogger(QStringLiteral("LocalBrowserViewModel")).categoryName(), original.categoryName());

    constexpr int threadCount = 8;
    constexpr int perThread = 50;
    std::vector<const char*> names(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t, &names] {
            // A logger made on another thread for a new category, used at once.
            const AppLogger logger(QStringLiteral("Concurrent"));
            names[static_cast<std::size_t>(t)] = logger.categoryName();
            for (int i = 0; i < perThread; ++i) {
                logger.info(QString::number(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const char* name : names) {
        EXPECT_EQ(name, names.front()); // one category object for the name
    }
    const std::vector<Entry> written = entries();
    EXPECT_EQ(written.size(), static_cast<std::size_t>(threadCount * perThread));
    for (const Entry& entry : written) {
        EXPECT_EQ(entry.category, QStringLiteral("com.quillbarrow.app.Concurrent"));
    }
}

} // namespace
} // namespace quillbarrow
