#include "UI/Common/ResultSymbols.h"

#include <QFile>
#include <QHash>

// The resources live in a static library: without this call the linker drops
// their registration and the fallbacks are never found.
static void initResultSymbolResources()
{
    Q_INIT_RESOURCE(results);
}

namespace pallix::ResultSymbols {

QString themeName(const QString& name)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("arrow.turn.down.right"), QStringLiteral("go-jump-symbolic")},
        {QStringLiteral("arrow.down.right.and.arrow.up.left"), QStringLiteral("view-restore-symbolic")},
        {QStringLiteral("folder"), QStringLiteral("folder-symbolic")},
        {QStringLiteral("eye"), QStringLiteral("view-reveal-symbolic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("system-search-symbolic")},
        {QStringLiteral("play.rectangle.fill"), QStringLiteral("media-playback-start-symbolic")},
    };
    return names.value(name);
}

QIcon icon(const QString& name)
{
    // Looked up once per name: QIcon::fromTheme walks the theme folders.
    static QHash<QString, QIcon> cache;
    static const bool registered = (initResultSymbolResources(), true);
    Q_UNUSED(registered);
    if (const auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    const QString theme = themeName(name);
    if (theme.isEmpty())
        return {};
    QIcon found = QIcon::fromTheme(theme);
    if (found.isNull()) {
        const QString resource = QStringLiteral(":/results/symbols/") + name + QStringLiteral(".svg");
        if (QFile::exists(resource))
            found = QIcon(resource);
    }
    cache.insert(name, found);
    return found;
}

} // namespace pallix::ResultSymbols
