#include "App/Search/ResultSummary.h"

#include <QStringList>

namespace pallix::ResultSummary {

QString text(const State& s, const std::function<bool()>& hasIntent)
{
    const QString localIdle = QStringLiteral("本机/外接：%1（索引 %2）").arg(s.localHits).arg(s.localItems);
    const QString serverIdle = QStringLiteral("共享盘：%1（索引 %2）").arg(s.serverHits).arg(s.serverItems);
    const QString serverBusyAlone = QStringLiteral("共享盘：更新中（已收录 %1）").arg(s.serverItems);
    const QString separator = QStringLiteral("  ");

    if (s.localIndexing && s.serverIndexing) {
        QStringList segments;
        if (s.localInScope)
            segments << QStringLiteral("本机/外接：后台索引中（%1）").arg(s.localItems);
        if (s.serverInScope)
            segments << QStringLiteral("共享盘：更新中（%1）").arg(s.serverItems);
        return segments.join(separator);
    }
    if (s.localIndexing) {
        if (s.localInScope)
            return QStringLiteral("本机/外接：后台索引中（已收录 %1）").arg(s.localItems);
        // Only the shared drives in scope: their index is idle and reports so.
        return s.serverInScope ? serverIdle : QString();
    }
    if (s.serverIndexing) {
        if (s.localInScope && s.serverInScope)
            return localIdle + separator + serverBusyAlone;
        return s.localInScope ? localIdle : serverBusyAlone;
    }
    QStringList segments;
    if (s.localInScope)
        segments << localIdle;
    if (s.serverInScope)
        segments << serverIdle;
    QString summary = segments.join(separator);
    if (s.localInScope && s.limit >= 1 && s.localHits >= s.limit && hasIntent())
        summary += QStringLiteral("（本机/外接命中已达上限）");
    return summary;
}

} // namespace pallix::ResultSummary
