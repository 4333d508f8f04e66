// AppModel: the search history, the common search terms and the result summary.

#include "App/AppModel.h"

#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr qsizetype kMaxHistoryEntries = 15;
constexpr std::size_t kMinHistoryCharacters = 2;

std::string trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

} // namespace

void AppModel::recordSearchHistoryIfNeeded(const QString& text)
{
    const QString entry = text.trimmed();
    // User-perceived characters, so that two Chinese characters qualify.
    if (entry.isEmpty() || text::graphemeCount(entry.toStdString()) < kMinHistoryCharacters)
        return;
    QStringList history = m_searchHistory;
    history.removeAll(entry);
    history.prepend(entry);
    if (history.size() > kMaxHistoryEntries)
        history.resize(kMaxHistoryEntries);
    if (history == m_searchHistory)
        return;
    setSearchHistory(history);
    persistSearchHistory();
}

void AppModel::persistSearchHistory()
{
    std::vector<std::string> stored;
    for (qsizetype i = 0; i < std::min(m_searchHistory.size(), kMaxHistoryEntries); ++i)
        stored.push_back(m_searchHistory[i].toStdString());
    m_defaults->setStringList(searchHistoryKey(), stored);
}

QStringList AppModel::loadSearchHistory(const Defaults& defaults)
{
    // Duplicates and short entries of the stored list stay: only recording
    // keeps the list unique.
    QStringList history;
    for (const std::string& stored : defaults.stringList(searchHistoryKey()).value_or(std::vector<std::string>{})) {
        const QString entry = QString::fromStdString(stored).trimmed();
        if (!entry.isEmpty())
            history.append(entry);
        if (history.size() == kMaxHistoryEntries)
            break;
    }
    return history;
}

void AppModel::addCommonSearchTerm(const QString& term)
{
    const std::string added = term.trimmed().toStdString();
    if (added.empty())
        return;
    AppSettings record = m_settingsStore.settings();
    std::vector<std::string> terms{added};
    for (const std::string& existing : record.commonSearchTerms) {
        std::string entry = trimmed(existing);
        if (!entry.empty() && entry != added)
            terms.push_back(std::move(entry));
    }
    if (terms.size() > AppSettings::kMaxCommonSearchTerms)
        terms.resize(AppSettings::kMaxCommonSearchTerms);
    record.commonSearchTerms = std::move(terms);
    m_settingsStore.setSettings(std::move(record));
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
}

void AppModel::removeCommonSearchTerm(const std::set<int>& offsets)
{
    AppSettings record = m_settingsStore.settings();
    // Positions refer to the list before the removal: erase from the back.
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
        if (*it >= 0 && static_cast<std::size_t>(*it) < record.commonSearchTerms.size())
            record.commonSearchTerms.erase(record.commonSearchTerms.begin() + *it);
    }
    m_settingsStore.setSettings(std::move(record));
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
}

void AppModel::searchForTerm(const QString& text)
{
    noteUserSearchInput();
    setSearchText(text);
    scheduleSearch(true, false);
}

QString AppModel::resultSummaryText() const
{
    SummaryState state;
    state.localHits = m_results.size();
    state.localItems = indexedCount();
    state.serverHits = m_serverResults.size();
    state.serverItems = m_serverIndexedCount;
    state.localInScope = m_settings.includeLocalInSearch;
    state.serverInScope = m_settings.includeServerInSearch;
    state.localIndexing = isIndexing();
    state.serverIndexing = m_isServerIndexing;
    state.limit = m_settings.searchLimit;
    return resultSummaryText(state, [this] { return hasSearchIntent(currentQuerySnapshot()); });
}

QString AppModel::resultSummaryText(const SummaryState& s, const std::function<bool()>& hasIntent)
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

} // namespace pallix
