#include "App/SettingsOperations.h"

#include "App/AppModel.h"

namespace pallix {

SettingsOperations::SettingsOperations(AppModel& model) : m_model(model) {}

void SettingsOperations::writeBack(const std::function<void(AppSettings&)>& change)
{
    m_model.writeSettings(change);
}

void SettingsOperations::updateLaunchAtLogin(bool enabled)
{
    writeBack([enabled](AppSettings& s) { s.launchAtLogin = enabled; });
    if (auto error = m_model.m_launchAgentManager.sync(m_model.settings().launchAtLogin, m_model.m_env.executablePath))
        m_model.setStatusMessage(QString::fromStdString(error->message));
}

void SettingsOperations::updateShowMenuBarIcon(bool visible)
{
    writeBack([visible](AppSettings& s) { s.showMenuBarIcon = visible; });
    if (m_model.m_env.services.menuBarVisibilityChanged)
        m_model.m_env.services.menuBarVisibilityChanged(m_model.settings().showMenuBarIcon);
}

void SettingsOperations::updateGlobalHotKey(const std::optional<GlobalHotKey>& hotKey)
{
    writeBack([&hotKey](AppSettings& s) { s.globalHotKey = hotKey; });
    if (m_model.m_env.services.registerHotKey)
        m_model.m_env.services.registerHotKey(m_model.settings().globalHotKey);
}

void SettingsOperations::updateKeepIndexerInBackground(bool enabled)
{
    writeBack([enabled](AppSettings& s) { s.keepIndexerInBackground = enabled; });
}

void SettingsOperations::updateKeepAppWarmInBackground(bool enabled)
{
    writeBack([enabled](AppSettings& s) { s.keepAppWarmInBackground = enabled; });
    m_model.applyKeepWarmRule();
}

void SettingsOperations::updateExcludeSystemJunkFromIndex(bool enabled)
{
    writeBack([enabled](AppSettings& s) { s.excludeSystemJunkFromIndex = enabled; });
    m_model.setStatusMessage(
        enabled ? QStringLiteral("已开启过滤系统与垃圾文件：搜索会立即生效；若库内仍有旧条目，请「重新扫描」或 Ctrl+Shift+R 重建索引。")
                : QStringLiteral("已关闭该过滤：搜索立即显示更多系统/元数据类文件；与磁盘完全一致请重建索引。"));
    m_model.scheduleSearch(true, false);
}

void SettingsOperations::updateSearchLimit(std::int64_t limit)
{
    writeBack([limit](AppSettings& s) { s.searchLimit = AppSettings::clampedSearchLimit(limit); });
    // The shown list was cut at the old limit: narrowing it in memory would
    // never show the results a higher limit lets in.
    m_model.markDisplayedResultsIncomplete();
    m_model.scheduleSearch(true, false);
}

void SettingsOperations::updateAutoIndexExternalVolumes(bool enabled)
{
    writeBack([enabled](AppSettings& s) { s.autoIndexExternalVolumes = enabled; });
    m_model.rebuildIndex(false);
}

void SettingsOperations::updateEnableImageFuzzySearch(bool enabled)
{
    writeBack([enabled](AppSettings& s) { s.enableImageFuzzySearch = enabled; });
    // Tagging that runs is not stopped: the tagger has no stop, and the tags
    // it writes meanwhile are there when the switch comes back on.
    if (enabled)
        m_model.startImageTagging();
    else
        m_model.setImageFuzzyResults({});
}

void SettingsOperations::applySearchScopeChanges(bool local, bool server)
{
    writeBack([local, server](AppSettings& s) {
        s.includeLocalInSearch = local;
        s.includeServerInSearch = server;
    });
    if (!local)
        m_model.applySearchResults({}, m_model.currentQuerySnapshot());
    if (!server) {
        // Forgotten too, or the next shared-drive search would narrow the old list.
        m_model.forgetServerResults();
    } else if (m_model.m_env.services.startServerFullScanIfNeeded) {
        m_model.m_env.services.startServerFullScanIfNeeded(m_model);
    }
    m_model.scheduleSearch(true, false);
}

void SettingsOperations::applyLocalSearchScope(bool on)
{
    applySearchScopeChanges(on, !on || m_model.settings().includeServerInSearch);
}

void SettingsOperations::applyServerSearchScope(bool on)
{
    applySearchScopeChanges(!on || m_model.settings().includeLocalInSearch, on);
}

void SettingsOperations::removeSearchHistoryEntry(const QString& text)
{
    // Canonically equivalent texts are the same entry; case and width still count.
    const QString wanted = text.normalized(QString::NormalizationForm_C);
    QStringList history = m_model.searchHistory();
    for (qsizetype i = 0; i < history.size(); ++i) {
        if (history[i].normalized(QString::NormalizationForm_C) == wanted) {
            history.removeAt(i);
            m_model.setSearchHistory(history);
            m_model.persistSearchHistory();
            return;
        }
    }
}

void SettingsOperations::clearSearchHistory()
{
    m_model.setSearchHistory({});
    m_model.persistSearchHistory();
}

} // namespace pallix
