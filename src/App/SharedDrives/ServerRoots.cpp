#include "App/SharedDrives/ServerRoots.h"

#include <algorithm>
#include <unordered_set>

#include <QPointer>

#include "App/Context/AppContext.h"
#include "App/SharedDrives/ServerIndexRuns.h"
#include "App/SharedDrives/ServerRootDetection.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/EditionRule.h"
#include "Core/Models/IndexedItem.h"

namespace pallix {

namespace {

const QString kDetectingText = QStringLiteral("正在识别共享盘目录…（请先在文件管理器挂载服务器）");

const std::string& autoConfiguredKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::ServerIndexAutoConfiguredOnce);
    return key;
}

} // namespace

std::vector<std::string> ServerRoots::defaultServerRootsIfPresent() const
{
    const std::string address =
        m_context.defaults().string(editionDefaultsKey(kServerAddressName)).value_or(std::string());
    return paths::standardizeAll(ServerRootDetection::defaultRoots(
        ServerRootDetection::volumeCandidates(*m_context.environment().volumes), address));
}

void ServerRoots::autoConfigureServerRootsIfNeeded()
{
    Defaults& defaults = m_context.defaults();
    if (defaults.boolean(autoConfiguredKey()).value_or(false))
        return;
    if (!m_context.settings().serverIndexedRoots.empty()) {
        defaults.setBoolean(autoConfiguredKey(), true);
        return;
    }
    std::vector<std::string> roots = defaultServerRootsIfPresent();
    if (roots.empty())
        return;
    m_context.writeSettings([&](AppSettings& s) {
        s.serverIndexedRoots = std::move(roots);
        s.enableServerIndexing = true;
        s.includeLocalInSearch = true;
        s.includeServerInSearch = true;
    });
    defaults.setBoolean(autoConfiguredKey(), true);
}

void ServerRoots::beginServerAutoDetectIfNeeded()
{
    if (!m_context.settings().enableServerIndexing)
        return;
    if (!m_context.settings().serverIndexedRoots.empty()) {
        m_drives.setServerIndexStatusText({});
        return;
    }
    m_drives.setServerIndexStatusText(kDetectingText);
    if (m_detectTask.isActive())
        return;
    m_detectTask = JobHandle::start();
    runDetection(m_detectTask.token());
}

void ServerRoots::cancelDetection()
{
    m_detectTask.cancel();
    m_detectTask = {};
}

QCoro::Task<> ServerRoots::runDetection(std::shared_ptr<CancelToken> token)
{
    QPointer<SharedDrives> guard(&m_drives);
    for (;;) {
        if (token->isCancelled())
            co_return;
        const std::vector<std::string> found = detectableRoots();
        if (!found.empty()) {
            adoptDetectedRoots(found);
            co_return;
        }
        auto pausing = m_context.clock().sleepFor(kDetectionInterval, token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled())
            co_return;
    }
}

std::vector<std::string> ServerRoots::detectableRoots()
{
    std::vector<std::string> found = defaultServerRootsIfPresent();
    std::erase_if(m_dismissed, [&](const std::string& root) {
        return std::find(found.begin(), found.end(), root) == found.end();
    });
    // Adopting the folder the user has just cleared undid the clearing at once.
    std::erase_if(found, [&](const std::string& root) { return m_dismissed.contains(root); });
    return found;
}

void ServerRoots::dismiss(const std::vector<std::string>& roots)
{
    for (const std::string& root : roots)
        m_dismissed.insert(paths::standardize(root));
}

void ServerRoots::adoptDetectedRoots(const std::vector<std::string>& found)
{
    // Roots added by hand meanwhile stay: detection only fills an empty list.
    m_context.writeSettings([&](AppSettings& s) {
        if (s.serverIndexedRoots.empty())
            s.serverIndexedRoots = found;
        s.enableServerIndexing = true;
    });
    m_drives.setServerIndexStatusText(QStringLiteral("已识别共享盘目录，准备建立索引…"));
    cancelDetection();
    m_drives.runs().startServerFullScanIfNeeded();
}

void ServerRoots::addServerIndexedRoots(const QStringList& paths)
{
    std::vector<std::string> given;
    for (const QString& path : paths) {
        if (!path.isEmpty())
            given.push_back(paths::standardize(path.toStdString()));
    }
    if (given.empty())
        return;
    std::vector<std::string> roots = paths::standardizeAll(m_context.settings().serverIndexedRoots);
    std::unordered_set<std::string> seen(roots.begin(), roots.end());
    for (std::string& path : given) {
        m_dismissed.erase(path);
        if (seen.insert(path).second)
            roots.push_back(std::move(path));
    }
    m_context.writeSettings([&](AppSettings& s) {
        s.serverIndexedRoots = std::move(roots);
        s.enableServerIndexing = true;
    });
    beginServerAutoDetectIfNeeded();
    m_drives.runs().startServerFullScanIfNeeded();
}

void ServerRoots::clearServerIndexedRoots()
{
    dismiss(m_context.settings().serverIndexedRoots);
    m_context.writeSettings([](AppSettings& s) { s.serverIndexedRoots.clear(); });
    m_drives.setServerIndexStatusText(QStringLiteral("已清除共享盘目录，将重新识别…（请先在文件管理器挂载服务器）"));
    beginServerAutoDetectIfNeeded();
}

void ServerRoots::removeServerIndexedRoot(const std::set<int>& positions)
{
    m_context.writeSettings([&](AppSettings& s) {
        for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
            if (*it >= 0 && static_cast<std::size_t>(*it) < s.serverIndexedRoots.size()) {
                dismiss({s.serverIndexedRoots[static_cast<std::size_t>(*it)]});
                s.serverIndexedRoots.erase(s.serverIndexedRoots.begin() + *it);
            }
        }
    });
    const bool none = m_context.settings().serverIndexedRoots.empty();
    m_drives.setServerIndexStatusText(none ? QStringLiteral("共享盘目录已清空，将重新识别…")
                                           : QStringLiteral("已移除共享盘目录"));
    if (none)
        beginServerAutoDetectIfNeeded();
}

} // namespace pallix
