// AppModel: the shared-drive operations the settings window calls, forwarded
// to the collaborators that own the flows, and the published shared-drive state.

#include "App/AppModel.h"
#include "App/ServerIndexRuns.h"
#include "App/ServerRoots.h"

namespace pallix {

void AppModel::setServerIndexing(bool indexing)
{
    if (indexing == m_isServerIndexing)
        return;
    m_isServerIndexing = indexing;
    emit isServerIndexingChanged();
}

void AppModel::setServerIndexStatusText(const QString& text)
{
    if (text == m_serverIndexStatusText)
        return;
    m_serverIndexStatusText = text;
    emit serverIndexStatusTextChanged();
}

void AppModel::writeSettings(const std::function<void(AppSettings&)>& change)
{
    AppSettings record = m_settingsStore.settings();
    change(record);
    m_settingsStore.setSettings(std::move(record));
    // A failed write keeps the new value in memory and on screen: the next
    // successful persist writes it, and the effect still applies.
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
}

void AppModel::addServerIndexedRoots(const QStringList& paths) { m_serverRoots->addServerIndexedRoots(paths); }
void AppModel::clearServerIndexedRoots() { m_serverRoots->clearServerIndexedRoots(); }
void AppModel::removeServerIndexedRoot(const std::set<int>& positions) { m_serverRoots->removeServerIndexedRoot(positions); }
void AppModel::refreshServerIndexManually() { m_serverIndexRuns->refreshServerIndexManually(); }

void AppModel::updateEnableServerIndexing(bool enabled)
{
    writeSettings([enabled](AppSettings& s) { s.enableServerIndexing = enabled; });
    if (enabled) {
        m_serverRoots->autoConfigureServerRootsIfNeeded();
        m_serverRoots->beginServerAutoDetectIfNeeded();
        m_serverIndexRuns->startServerFullScanIfNeeded();
        return;
    }
    setServerResults({});
    setServerIndexStatusText({});
    m_serverRoots->cancelDetection();
}

void AppModel::updateAutoResumeServerIndexingOnLaunch(bool enabled)
{
    writeSettings([enabled](AppSettings& s) { s.autoResumeServerIndexingOnLaunch = enabled; });
}

} // namespace pallix
