#include "App/Paths/HelperPrograms.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace pallix::helperprograms {

QString find(const char* environmentVariable, const QString& fileName, const QString& buildPath)
{
    const QString fromEnvironment = qEnvironmentVariable(environmentVariable);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        const QString beside = folder + QLatin1Char('/') + fileName;
        if (QFileInfo(beside).isExecutable())
            return beside;
        // Where `make install` puts it: <prefix>/libexec/pallix beside <prefix>/bin.
        const QString installed = QFileInfo(folder + QStringLiteral("/../libexec/pallix/") + fileName).absoluteFilePath();
        if (QFileInfo(installed).isExecutable())
            return installed;
    }
    return buildPath;
}

} // namespace pallix::helperprograms
