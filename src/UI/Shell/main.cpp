#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "Core/IndexDB/Sqlite.h"
#include "Platform/AllocatorArenas.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Shell/CommandLine.h"
#include "UI/Shell/PallixApp.h"
#include "UI/Shell/QtTranslations.h"
#include "UI/Shell/SingleInstance.h"

namespace {

// Another 珀溪 holds the lock but does not answer (frozen, or stopped in a
// debugger): said on stderr and in a dialog; true when the user starts anyway.
bool askToStartAnyway()
{
    const QString text = QStringLiteral("另一个珀溪正在运行，但没有响应。");
    std::fprintf(stderr, "珀溪：%s\n", text.toUtf8().constData());
    QMessageBox box(QMessageBox::Warning, QStringLiteral("珀溪"), text);
    box.setInformativeText(QStringLiteral("可以等它恢复后再打开，或者仍然启动：两个珀溪会同时使用同一个索引。"));
    QPushButton* start = box.addButton(QStringLiteral("仍然启动"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("退出"), QMessageBox::RejectRole);
    box.setDefaultButton(start);
    box.exec();
    return box.clickedButton() == start;
}

} // namespace

int main(int argc, char** argv)
{
    // Before QApplication, which aborts without a display.
    const pallix::CommandLine::Parsed options = pallix::CommandLine::parse(argc, argv);
    if (options.action == pallix::CommandLine::Action::ShowHelp) {
        std::fputs(pallix::CommandLine::usage().c_str(), stdout);
        return 0;
    }
    if (options.action == pallix::CommandLine::Action::Refuse) {
        std::fprintf(stderr, "珀溪：未知选项 %s（用 --help 查看可用选项）\n", options.unknown.c_str());
        return 2;
    }
    pallix::limitAllocatorArenas();
    pallix::fixAllocatorLimits();
    pallix::sqlite::configureProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("珀溪"));
    // The installed launcher's name: the desktop matches windows to it (icon, task bar).
    QApplication::setDesktopFileName(QStringLiteral(PALLIX_APP_ID));
    pallix::installQtTranslations(app);
    // `pallix --toggle` is what a desktop without a global-shortcut service
    // binds to a key: it shows or hides the running window; with none
    // running, it starts 珀溪, whose window shows.
    pallix::SingleInstance instance;
    switch (instance.handOver(options.toggle ? QStringLiteral("toggle") : QStringLiteral("show"))) {
    case pallix::SingleInstance::HandOver::HandedOver:
        return 0;
    case pallix::SingleInstance::HandOver::NotAnswering:
        if (!askToStartAnyway())
            return 1;
        if (!instance.startAnyway())
            std::fprintf(stderr, "珀溪：无法接管单实例连接，其他启动将无法转交给本窗口\n");
        break;
    case pallix::SingleInstance::HandOver::NoneRunning:
        if (!instance.listen())
            std::fprintf(stderr, "珀溪：无法监听单实例连接，其他启动将无法转交给本窗口\n");
        break;
    }
    pallix::PallixApp pallix;
    QObject::connect(&instance, &pallix::SingleInstance::activationRequested, &pallix,
                     [] { pallix::AppNotifications::shared().postShowSearchWindow(); });
    QObject::connect(&instance, &pallix::SingleInstance::toggleRequested, &pallix,
                     [] { pallix::AppNotifications::shared().postToggleSearchWindow(); });
    pallix.start();
    return QApplication::exec();
}
