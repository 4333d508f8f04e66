#include "App/SharedDrives/SharedDrives.h"

#include "App/Context/AppContext.h"
#include "App/SharedDrives/ServerIndexRuns.h"
#include "App/SharedDrives/ServerRoots.h"

namespace pallix {

SharedDrives::SharedDrives(const AppContext& context, std::function<bool()> isLocalIndexing,
                           FileScanner::ListingFault listingFault, QObject* parent)
    : QObject(parent),
      m_context(context),
      m_roots(std::make_unique<ServerRoots>(context, *this)),
      m_runs(std::make_unique<ServerIndexRuns>(context, *this, std::move(isLocalIndexing), std::move(listingFault)))
{
}

SharedDrives::~SharedDrives() = default;

void SharedDrives::setServerIndexing(bool indexing)
{
    if (indexing == m_isServerIndexing)
        return;
    m_isServerIndexing = indexing;
    emit isServerIndexingChanged();
}

void SharedDrives::setServerIndexedCount(qint64 count)
{
    if (count == m_serverIndexedCount)
        return;
    m_serverIndexedCount = count;
    emit serverIndexedCountChanged();
}

void SharedDrives::setServerIndexStatusText(const QString& text)
{
    if (text == m_serverIndexStatusText)
        return;
    m_serverIndexStatusText = text;
    emit serverIndexStatusTextChanged();
}

void SharedDrives::addServerIndexedRoots(const QStringList& paths) { m_roots->addServerIndexedRoots(paths); }
void SharedDrives::clearServerIndexedRoots() { m_roots->clearServerIndexedRoots(); }
void SharedDrives::removeServerIndexedRoot(const std::set<int>& positions) { m_roots->removeServerIndexedRoot(positions); }
void SharedDrives::refreshServerIndexManually() { m_runs->refreshServerIndexManually(); }

void SharedDrives::updateEnableServerIndexing(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.enableServerIndexing = enabled; });
    if (enabled) {
        m_roots->autoConfigureServerRootsIfNeeded();
        m_roots->beginServerAutoDetectIfNeeded();
        m_runs->startServerFullScanIfNeeded();
        return;
    }
    emit indexingTurnedOff();
    setServerIndexStatusText({});
    m_roots->cancelDetection();
}

void SharedDrives::updateAutoResumeServerIndexingOnLaunch(bool enabled)
{
    m_context.writeSettings([enabled](AppSettings& s) { s.autoResumeServerIndexingOnLaunch = enabled; });
}

void SharedDrives::cancelJobs()
{
    m_runs->cancel();
    m_roots->cancelDetection();
}

} // namespace pallix
