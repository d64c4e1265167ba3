#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

// Qt paints big fills in parallel on QThreadPool::globalInstance() and waits for them: one long
// job of ours on that pool freezes the window. The program's work goes to its own pool.
TEST(WorkPoolLint, NoSourceFileRunsWorkOnQtsSharedPool)
{
    static const QRegularExpression sharedPool(QStringLiteral("QThreadPool\\s*::\\s*globalInstance"));
    static const QRegularExpression lineComment(QStringLiteral("//.*$"));
    QDirIterator it(QStringLiteral(QUILLBARROW_SOURCE_DIR "/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                    QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        ++files;
        int number = 0;
        for (const QByteArray& line : file.readAll().split('\n')) {
            ++number;
            if (QString::fromUtf8(line).remove(lineComment).contains(sharedPool)) {
                ADD_FAILURE() << path.toStdString() << ":" << number << ": work on Qt's shared thread pool";
            }
        }
    }
    EXPECT_GT(files, 0);
}
