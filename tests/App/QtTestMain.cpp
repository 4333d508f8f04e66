// Entry point of the Qt tests: GoogleTest inside a GUI application on the
// offscreen platform, so that queued calls, coroutines awaiting futures and
// application-state signals behave as in the running program.

#include <cstdlib>

#include <gtest/gtest.h>

#include <QGuiApplication>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
