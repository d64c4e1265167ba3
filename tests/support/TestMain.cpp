#include "async/Allocator.h"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

// Every test executable runs inside a QApplication on the offscreen platform, so that
// coroutines, timers and queued calls have a main-thread event loop to resume on.
int main(int argc, char** argv)
{
    // The allocator as the program sets it, before anything allocates from another thread.
    quillbarrow::configureAllocator();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Pin the locale so that sorting and number formatting give the same result on every machine;
    // the runs under another locale take the environment's (QUILLBARROW_TEST_LOCALE=system).
    if (qgetenv("QUILLBARROW_TEST_LOCALE") != "system") {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
