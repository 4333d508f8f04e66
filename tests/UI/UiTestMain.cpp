// Entry point of the widget tests: GoogleTest inside a widget application on
// the offscreen platform, with the fonts and icon theme of the running system.

#include <cstdlib>

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
