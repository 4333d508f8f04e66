#include "UI/Common/Symbols.h"

#include <QHash>
#include <QPainter>

// The resources live in a static library: without this call the linker drops
// their registration.
static void initSymbolResources()
{
    Q_INIT_RESOURCE(Symbols);
}

namespace pallix::symbols {

namespace {

// The theme has no slider, check-box or plus-in-circle symbol: those are
// always ours.
const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("gearshape"), QStringLiteral("emblem-system-symbolic")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear-symbolic")},
        {QStringLiteral("square.grid.2x2"), QStringLiteral("view-grid-symbolic")},
        {QStringLiteral("list.bullet"), QStringLiteral("view-list-symbolic")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh-symbolic")},
        {QStringLiteral("star.fill"), QStringLiteral("starred-symbolic")},
        {QStringLiteral("clock"), QStringLiteral("document-open-recent-symbolic")},
    };
    return names;
}

QIcon resourceIcon(const QString& name)
{
    static const bool initialised = (initSymbolResources(), true);
    Q_UNUSED(initialised);
    return QIcon(QStringLiteral(":/symbols/%1.svg").arg(name));
}

} // namespace

void ensureIconTheme()
{
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QIcon icon(const QString& symbolName)
{
    const QString themeName = themeNames().value(symbolName);
    const QIcon fallback = resourceIcon(symbolName);
    return themeName.isEmpty() ? fallback : QIcon::fromTheme(themeName, fallback);
}

QPixmap tinted(const QString& symbolName, int size, const QColor& color, qreal ratio)
{
    // Chips ask for the same few every paint; the theme lookup and the drawing
    // cost more than the paint itself. Few ever differ: the cache starts anew
    // rather than grow past a screenful.
    static QHash<QString, QPixmap> made;
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(symbolName).arg(size).arg(color.rgba()).arg(ratio);
    if (const auto found = made.constFind(key); found != made.constEnd())
        return *found;
    QPixmap pixmap = icon(symbolName).pixmap(QSize(size, size), ratio);
    {
        // Symbolic theme icons and our drawings are one grey: keep the shape, take the colour.
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
    }
    if (made.size() >= 256)
        made.clear();
    made.insert(key, pixmap);
    return pixmap;
}

QIcon applicationIcon()
{
    return resourceIcon(QStringLiteral("pallix"));
}

} // namespace pallix::symbols
