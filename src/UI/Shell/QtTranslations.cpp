#include "UI/Shell/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pallix {

QTranslator* installQtTranslations(QCoreApplication& app)
{
    // Dates, numbers and the file types Qt's dialogs show follow the default
    // locale, which would otherwise be the system's (English under C.UTF-8).
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(&app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          folder)) {
        qWarning("Qt's Chinese translation (qtbase_zh_CN.qm) is missing in %s", qPrintable(folder));
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

} // namespace pallix
