#include <QApplication>

#include "Platform/AllocatorArenas.h"
#include "UI/Shell/AppNotifications.h"
#include "UI/Shell/PallixApp.h"
#include "UI/Shell/QtTranslations.h"
#include "UI/Shell/SingleInstance.h"

int main(int argc, char** argv)
{
    pallix::limitAllocatorArenas();
    pallix::fixAllocatorLimits();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("珀溪"));
    // The installed launcher's name: the desktop matches windows to it (icon, task bar).
    QApplication::setDesktopFileName(QStringLiteral(PALLIX_APP_ID));
    pallix::installQtTranslations(app);
    // `pallix --toggle` is what a desktop without a global-shortcut service
    // binds to a key: it shows or hides the running window; with none
    // running, it starts 珀溪, whose window shows.
    const bool toggle = QApplication::arguments().contains(QStringLiteral("--toggle"));
    pallix::SingleInstance instance;
    if (instance.handOver(toggle ? pallix::SingleInstance::Request::Toggle : pallix::SingleInstance::Request::Show))
        return 0;
    pallix::PallixApp pallix;
    QObject::connect(&instance, &pallix::SingleInstance::activationRequested, &pallix,
                     [] { pallix::AppNotifications::shared().postShowSearchWindow(); });
    QObject::connect(&instance, &pallix::SingleInstance::toggleRequested, &pallix,
                     [] { pallix::AppNotifications::shared().postToggleSearchWindow(); });
    instance.listen();
    pallix.start();
    return QApplication::exec();
}
