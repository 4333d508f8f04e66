#include "App/Search/FolderHints.h"

#include <algorithm>
#include <utility>

#include <QPointer>

#include "App/Context/AppContext.h"
#include "App/Preview/FolderContentInspector.h"

namespace pallix {

namespace {

using namespace std::chrono_literals;

constexpr qsizetype kWarmupKeyFolders = 40;
constexpr qsizetype kWarmupProbedFolders = 120;
constexpr auto kWarmupPause = 320ms;

} // namespace

FolderHints::FolderHints(const AppContext& context, std::function<bool(std::int64_t)> isCurrent, QObject* parent)
    : QObject(parent), m_context(context), m_isCurrent(std::move(isCurrent))
{
}

FolderHints::~FolderHints()
{
    m_warmupTask.cancel();
}

ItemList FolderHints::ordered(const ItemList& items, const SearchQuery& query, std::int64_t generation)
{
    if (query.sortField != SearchSortField::Name || items.size() > FolderOrdering::kMaxOrderedItems)
        return items;
    ItemList folders;
    for (const IndexedItem& item : items) {
        if (item.isDirectory())
            folders.append(item);
    }
    if (folders.isEmpty())
        return items;
    ItemList result = FolderOrdering::ordered(items, query, m_cache);
    scheduleWarmup(folders, generation);
    return result;
}

void FolderHints::scheduleWarmup(const ItemList& folders, std::int64_t generation)
{
    // Keyed by the first folders only: a republished list, or one whose top
    // folders are unchanged, costs no inspector work.
    QString key;
    for (qsizetype i = 0; i < std::min<qsizetype>(folders.size(), kWarmupKeyFolders); ++i) {
        if (i > 0)
            key += QChar(0x1F);
        key += QString::fromUtf8(folders[i].id());
    }
    if (key == m_lastWarmupKey)
        return;
    m_lastWarmupKey = key;
    m_warmupTask.cancel();
    std::vector<std::string> paths;
    for (qsizetype i = 0; i < std::min<qsizetype>(folders.size(), kWarmupProbedFolders); ++i)
        paths.emplace_back(folders[i].path());
    m_warmupTask = JobHandle::start();
    runWarmup(std::move(paths), generation, m_warmupTask.token());
}

QCoro::Task<> FolderHints::runWarmup(std::vector<std::string> paths, std::int64_t generation,
                                     std::shared_ptr<CancelToken> token)
{
    QPointer<FolderHints> guard(this);
    std::erase_if(paths, [&](const std::string& path) { return m_cache.contains(path); });
    if (paths.empty())
        co_return;
    auto source = m_context.environment().folderContentHint;
    if (!source)
        source = [](const std::string& folder) { return FolderContentInspector::shared().hint(folder); };
    // Cancelling only shortens the pause below: the lookups are cheap to
    // finish, and their hints still count when no newer search started.
    auto probing = m_context.onPool([source, paths] {
        std::vector<std::pair<std::string, FolderHint>> found;
        found.reserve(paths.size());
        for (const std::string& path : paths) {
            const FolderContentInspector::FolderContentHint hint = source(path);
            found.emplace_back(path, FolderHint{hint.hasVideo, hint.hasImage});
        }
        return found;
    });
    const std::vector<std::pair<std::string, FolderHint>> found = co_await probing;
    if (!guard || found.empty())
        co_return;
    auto pausing = m_context.clock().sleepFor(kWarmupPause, token);
    co_await pausing;
    if (!guard || !m_isCurrent(generation))
        co_return;
    for (const auto& [path, hint] : found)
        m_cache[path] = hint;
    emit learned();
}

} // namespace pallix
