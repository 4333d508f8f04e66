// AppModel: settings the search window changes directly (search scope,
// indexing of external disks). Each stores the whole record, persists it,
// republishes it, and only then acts. Also the welcome sheet's flag.

#include "App/AppModel.h"

#include "Core/Config/EditionRule.h"

namespace pallix {

void AppModel::applySearchScopeChanges(bool local, bool server)
{
    AppSettings record = m_settingsStore.settings();
    record.includeLocalInSearch = local;
    record.includeServerInSearch = server;
    m_settingsStore.setSettings(std::move(record));
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
    if (!local)
        setResults({});
    if (!server) {
        setServerResults({});
        m_lastServerDisplayedQuery.reset();
    } else if (m_env.services.startServerFullScanIfNeeded) {
        m_env.services.startServerFullScanIfNeeded(*this);
    }
    scheduleSearch(true, false);
}

void AppModel::updateAutoIndexExternalVolumes(bool enabled)
{
    AppSettings record = m_settingsStore.settings();
    record.autoIndexExternalVolumes = enabled;
    m_settingsStore.setSettings(std::move(record));
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
    rebuildIndex(false);
}

bool AppModel::welcomeSheetDismissed() const
{
    return m_defaults->boolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed)).value_or(false);
}

void AppModel::markWelcomeSheetDismissed()
{
    m_defaults->setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
}

} // namespace pallix
