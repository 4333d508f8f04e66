#include "UI/Results/ResultTexts.h"

#include <array>
#include <cmath>

#include <QDateTime>
#include <QLocale>

#include "App/Paths/ShownNames.h"

namespace pallix::ResultTexts {

namespace {

// Decimals shown per unit; KB stays whole, as a file list reads better that way.
struct Unit {
    const char* name;
    int decimals;
};
constexpr std::array<Unit, 5> kUnits{{{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}}};

QString trimmedNumber(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text;
}

} // namespace

QString fileSizeText(std::int64_t bytes)
{
    if (bytes < 1000)
        return QString::number(std::max<std::int64_t>(bytes, 0)) + QStringLiteral(" 字节");
    double value = static_cast<double>(bytes);
    for (const Unit& unit : kUnits) {
        value /= 1000.0;
        const double scale = std::pow(10.0, unit.decimals);
        const double rounded = std::round(value * scale) / scale;
        // 999,999 bytes rounds to "1000 KB": that belongs to the next unit.
        if (rounded < 1000.0 || &unit == &kUnits.back())
            return trimmedNumber(rounded, unit.decimals) + u' ' + QLatin1String(unit.name);
    }
    return {};
}

QString modifiedDateText(Date modifiedAt)
{
    static const QLocale chinese(QLocale::Chinese, QLocale::China);
    const auto date = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(modifiedAt * 1000.0)));
    return chinese.toString(date.toLocalTime(), QLocale::ShortFormat);
}

QString sizeColumnText(const IndexedItem& item)
{
    return item.isDirectory() ? QString() : fileSizeText(item.size());
}

QString rowTypeDescription(const IndexedItem& item, bool folderContainsVideo)
{
    if (item.isDirectory() && folderContainsVideo)
        return QStringLiteral("文件夹（含视频）");
    return QString::fromStdString(item.kindDescription());
}

QString gridSubtitle(const IndexedItem& item, bool folderContainsVideo)
{
    if (item.isDirectory())
        return folderContainsVideo ? QStringLiteral("文件夹 · 含视频") : QString::fromStdString(item.kindDescription());
    if (!item.fileExtension().empty())
        return u'.' + QString::fromUtf8(item.fileExtension());
    return QString::fromStdString(item.kindDescription());
}

QString hoverHelpText(const IndexedItem& item)
{
    return shownnames::shown(item.path()) + QStringLiteral("\n大小：")
           + (item.isDirectory() ? QStringLiteral("文件夹") : fileSizeText(item.size()));
}

} // namespace pallix::ResultTexts
