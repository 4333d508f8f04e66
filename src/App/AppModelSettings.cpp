// AppModel: settings the search window changes directly (search scope,
// indexing of external disks). Each stores the whole record, persists it,
// republishes it, and only then acts.

#include "App/AppModel.h"

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

} // namespace pallix
