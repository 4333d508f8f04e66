#include "UI/Common/FilterTitles.h"

#include <algorithm>

#include <QStringList>

namespace pallix::filtertitles {

QString title(SearchContentFilter filter)
{
    switch (filter) {
    case SearchContentFilter::All: return QStringLiteral("所有");
    case SearchContentFilter::Folders: return QStringLiteral("文件夹");
    case SearchContentFilter::Images: return QStringLiteral("图片");
    case SearchContentFilter::Documents: return QStringLiteral("文档");
    case SearchContentFilter::Videos: return QStringLiteral("视频");
    case SearchContentFilter::Normal: return QStringLiteral("普通");
    case SearchContentFilter::Archives: return QStringLiteral("压缩文件");
    case SearchContentFilter::Executables: return QStringLiteral("可执行文件");
    }
    return {};
}

QString title(SearchSortField field)
{
    switch (field) {
    case SearchSortField::Name: return QStringLiteral("名称");
    case SearchSortField::Path: return QStringLiteral("路径");
    case SearchSortField::Size: return QStringLiteral("大小");
    case SearchSortField::ModifiedAt: return QStringLiteral("修改时间");
    }
    return {};
}

QString title(SearchMatchMode mode)
{
    switch (mode) {
    case SearchMatchMode::Contains: return QStringLiteral("包含");
    case SearchMatchMode::Prefix: return QStringLiteral("前缀");
    case SearchMatchMode::Suffix: return QStringLiteral("后缀");
    case SearchMatchMode::Exact: return QStringLiteral("精确");
    }
    return {};
}

QString directionTitle(bool ascending)
{
    return ascending ? QStringLiteral("升序") : QStringLiteral("降序");
}

QString summary(const std::set<SearchContentFilter>& filters)
{
    if (filters == std::set<SearchContentFilter>{SearchContentFilter::All})
        return {};
    QStringList titles;
    for (SearchContentFilter filter : filters)
        titles << title(filter);
    // Code points, not the locale: UTF-16 order equals it for these titles (no surrogates).
    std::sort(titles.begin(), titles.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return QStringLiteral("当前筛选：") + titles.join(QStringLiteral("、"));
}

} // namespace pallix::filtertitles
