// Entry point of the widget tests: GoogleTest inside a widget application on
// the offscreen platform, with the fonts and icon theme of the running system;
// a test may bring its own screens.

#include <cstdlib>

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
#ifdef PALLIX_OFFSCREEN_CONFIG
    setenv("QT_QPA_PLATFORM", "offscreen:configfile=" PALLIX_OFFSCREEN_CONFIG, 1);
#else
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    // No test reaches the user's own desktop services (portals): a test that
    // needs a session bus starts a private one.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/pallix-tests-have-no-session-bus", 1);
    unsetenv("XDG_SESSION_TYPE");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
