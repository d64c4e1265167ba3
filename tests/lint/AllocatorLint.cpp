#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

// Every program of ours (the window, benchmarks, snapshot program, test programs) sets the allocator
// through configureAllocator(), first thing in main, before any thread allocates: one set otherwise
// would measure another allocator than the one people run.
TEST(AllocatorLint, EveryProgramOfOursSetsTheAllocatorFirstThroughTheOneFunction)
{
    static const QRegularExpression main(QStringLiteral("\\bint\\s+main\\s*\\([^)]*\\)\\s*\\{"));
    static const QRegularExpression firstStatement(QStringLiteral("^(?:\\s*//[^\\n]*\\n)*\\s*([^;]*;)"));
    static const QRegularExpression configured(
        QStringLiteral("^(?:quillbarrow::)?configureAllocator\\(\\);$"));
    QStringList programs;
    for (const char* folder : {"/src/app", "/bench", "/tests"}) {
        QDirIterator it(QStringLiteral(QUILLBARROW_SOURCE_DIR) + QLatin1String(folder),
                        {QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            const QString source = QString::fromUtf8(file.readAll());
            const QRegularExpressionMatch found = main.match(source);
            if (!found.hasMatch()) {
                continue;
            }
            programs.append(path);
            const QString first =
                firstStatement.match(source.mid(found.capturedEnd())).captured(1).simplified();
            EXPECT_TRUE(configured.match(first).hasMatch())
                << path.toStdString() << ": main begins with " << first.toStdString();
        }
    }
    // The window, the test programs, the snapshot program and the seven benchmarks.
    EXPECT_GE(programs.size(), 10) << programs.join(' ').toStdString();
}
