#include <QApplication>

#include "Platform/AllocatorArenas.h"
#include "UI/Shell/AppNotifications.h"
#include "UI/Shell/PallixApp.h"
#include "UI/Shell/SingleInstance.h"

int main(int argc, char** argv)
{
    pallix::limitAllocatorArenas();
    pallix::fixAllocatorLimits();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("珀溪"));
    pallix::SingleInstance instance;
    if (instance.handOver())
        return 0;
    pallix::PallixApp pallix;
    QObject::connect(&instance, &pallix::SingleInstance::activationRequested, &pallix,
                     [] { pallix::AppNotifications::shared().postShowSearchWindow(); });
    instance.listen();
    pallix.start();
    return QApplication::exec();
}
