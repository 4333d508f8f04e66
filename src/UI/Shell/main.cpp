#include <QApplication>

#include "Platform/AllocatorArenas.h"
#include "UI/Shell/PallixApp.h"

int main(int argc, char** argv)
{
    pallix::limitAllocatorArenas();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("珀溪"));
    pallix::PallixApp pallix;
    pallix.start();
    return QApplication::exec();
}
