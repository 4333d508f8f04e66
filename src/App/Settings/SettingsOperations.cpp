#include "App/Settings/SettingsOperations.h"

#include "App/Context/AppContext.h"
#include "Core/Config/EditionRule.h"
#include "Support/LaunchAgentManager.h"

namespace pallix {

SettingsOperations::SettingsOperations(const AppContext& context, const LaunchAgentManager& launchAgent,
                                       Effects effects, QObject* parent)
    : QObject(parent), m_context(context), m_launchAgent(launchAgent), m_effects(std::move(effects))
{
}

const AppSettings& SettingsOperations::settings() const
{
    return m_context.settings();
}

void SettingsOperations::updateLaunchAtLogin(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.launchAtLogin = enabled; });
    if (auto error = m_launchAgent.sync(settings().launchAtLogin, m_context.environment().executablePath))
        m_context.setStatusMessage(QString::fromStdString(error->message));
}

void SettingsOperations::updateShowMenuBarIcon(bool visible)
{
    m_context.writeSettings([visible](AppSettings& s) { s.showMenuBarIcon = visible; });
    if (const auto& changed = m_context.environment().services.menuBarVisibilityChanged)
        changed(settings().showMenuBarIcon);
}

void SettingsOperations::updateGlobalHotKey(const std::optional<GlobalHotKey>& hotKey)
{
    m_context.writeSettings([&hotKey](AppSettings& s) { s.globalHotKey = hotKey; });
    if (const auto& registerHotKey = m_context.environment().services.registerHotKey)
        registerHotKey(settings().globalHotKey);
}

void SettingsOperations::updateKeepIndexerInBackground(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.keepIndexerInBackground = enabled; });
}

void SettingsOperations::updateKeepAppWarmInBackground(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.keepAppWarmInBackground = enabled; });
    m_effects.applyKeepWarmRule();
}

void SettingsOperations::updateExcludeSystemJunkFromIndex(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.excludeSystemJunkFromIndex = enabled; });
    m_context.setStatusMessage(
        enabled ? QStringLiteral("已开启过滤系统与垃圾文件：搜索会立即生效；若库内仍有旧条目，请「重新扫描」或 Ctrl+Shift+R 重建索引。")
                : QStringLiteral("已关闭该过滤：搜索立即显示更多系统/元数据类文件；与磁盘完全一致请重建索引。"));
    m_effects.searchAgain();
}

void SettingsOperations::updateSearchLimit(std::int64_t limit)
{
    m_context.writeSettings([limit](AppSettings& s) { s.searchLimit = AppSettings::clampedSearchLimit(limit); });
    // The shown list was cut at the old limit: narrowing it in memory would
    // never show the results a higher limit lets in.
    m_effects.forgetShownListIsComplete();
    m_effects.searchAgain();
}

void SettingsOperations::updateAutoIndexExternalVolumes(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.autoIndexExternalVolumes = enabled; });
    m_effects.rebuildIndex();
}

void SettingsOperations::updateEnableImageFuzzySearch(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.enableImageFuzzySearch = enabled; });
    // Tagging that runs is not stopped: the tagger has no stop, and the tags
    // it writes meanwhile are there when the switch comes back on.
    if (enabled)
        m_effects.startImageTagging();
    else
        m_effects.clearImageResults();
}

void SettingsOperations::applySearchScopeChanges(bool local, bool server)
{
    m_context.writeSettings([local, server](AppSettings& s) {
        s.includeLocalInSearch = local;
        s.includeServerInSearch = server;
    });
    if (!local)
        m_effects.clearLocalResults();
    if (!server)
        m_effects.clearServerResults();
    else
        m_effects.startServerFullScanIfNeeded();
    m_effects.searchAgain();
}

void SettingsOperations::applyLocalSearchScope(bool on)
{
    applySearchScopeChanges(on, !on || settings().includeServerInSearch);
}

void SettingsOperations::applyServerSearchScope(bool on)
{
    applySearchScopeChanges(!on || settings().includeLocalInSearch, on);
}

void SettingsOperations::removeSearchHistoryEntry(const QString& text)
{
    // Canonically equivalent texts are the same entry; case and width still count.
    const QString wanted = text.normalized(QString::NormalizationForm_C);
    QStringList history = m_effects.searchHistory();
    for (qsizetype i = 0; i < history.size(); ++i) {
        if (history[i].normalized(QString::NormalizationForm_C) == wanted) {
            history.removeAt(i);
            m_effects.replaceSearchHistory(history);
            return;
        }
    }
}

void SettingsOperations::clearSearchHistory()
{
    m_effects.replaceSearchHistory({});
}

void SettingsOperations::applyMenuBarAndHotKey()
{
    const AppServices& services = m_context.environment().services;
    if (services.menuBarVisibilityChanged)
        services.menuBarVisibilityChanged(settings().showMenuBarIcon);
    if (services.registerHotKey)
        services.registerHotKey(settings().globalHotKey);
}

bool SettingsOperations::welcomeSheetDismissed() const
{
    return m_context.defaults().boolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed)).value_or(false);
}

void SettingsOperations::markWelcomeSheetDismissed()
{
    m_context.defaults().setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
}

} // namespace pallix
