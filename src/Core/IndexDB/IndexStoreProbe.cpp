#include "Core/IndexDB/IndexStoreProbe.h"

namespace pallix {

void IndexStoreProbe::injectTransientReadFailures(int count, int code)
{
    // The code first: a store that sees the count must see its code.
    m_readFailureCode = code;
    m_readFailures = count;
}

void IndexStoreProbe::setReopenFails(bool fails)
{
    m_reopenFails = fails;
}

void IndexStoreProbe::setBeforeIndexInstallHook(std::function<void()> hook)
{
    std::lock_guard lock(m_hookMutex);
    m_beforeIndexInstallHook = std::move(hook);
}

void IndexStoreProbe::setBeforeCacheInstallHook(std::function<void()> hook)
{
    std::lock_guard lock(m_hookMutex);
    m_beforeCacheInstallHook = std::move(hook);
}

void IndexStoreProbe::setBetweenNameSlicesHook(std::function<void()> hook)
{
    std::lock_guard lock(m_hookMutex);
    m_betweenNameSlicesHook = std::move(hook);
}

void IndexStoreProbe::rebuildSearchCache()
{
    if (m_store.rebuildSearchCache)
        m_store.rebuildSearchCache();
}

void IndexStoreProbe::whenSearchCacheReady(std::function<void()> callback)
{
    if (m_store.whenSearchCacheReady)
        m_store.whenSearchCacheReady(std::move(callback));
}

std::int64_t IndexStoreProbe::indexBuildGeneration() const
{
    return ask(&Store::indexBuildGeneration, std::int64_t(0));
}

bool IndexStoreProbe::nameOrdersReady() const
{
    return ask(&Store::nameOrdersReady, false);
}

IndexStoreProbe::MemoryUsage IndexStoreProbe::memoryUsage() const
{
    return ask(&Store::memoryUsage, MemoryUsage());
}

int IndexStoreProbe::transientSearchFailureStreak() const
{
    return ask(&Store::transientSearchFailureStreak, 0);
}

int IndexStoreProbe::runningBackgroundJobs() const
{
    return ask(&Store::runningBackgroundJobs, 0);
}

bool IndexStoreProbe::isLoweredNameColumnComplete() const
{
    return ask(&Store::isLoweredNameColumnComplete, false);
}

std::optional<std::string> IndexStoreProbe::pragmaValue(const std::string& name) const
{
    return m_store.pragmaValue ? m_store.pragmaValue(name) : std::nullopt;
}

std::optional<std::vector<IndexedItem>> IndexStoreProbe::fastCandidateItems(const SearchQuery& query) const
{
    return m_store.fastCandidateItems ? m_store.fastCandidateItems(query) : std::nullopt;
}

bool IndexStoreProbe::shouldUseFastCharacterIndex(const SearchQuery& query) const
{
    return m_store.shouldUseFastCharacterIndex && m_store.shouldUseFastCharacterIndex(query);
}

int IndexStoreProbe::takeReadFailure()
{
    int left = m_readFailures.load();
    while (left > 0 && !m_readFailures.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0 ? m_readFailureCode.load() : 0;
}

bool IndexStoreProbe::noteReopen()
{
    ++m_reopens;
    return m_reopenFails;
}

std::function<void()> IndexStoreProbe::beforeIndexInstallHook() const
{
    std::lock_guard lock(m_hookMutex);
    return m_beforeIndexInstallHook;
}

std::function<void()> IndexStoreProbe::beforeCacheInstallHook() const
{
    std::lock_guard lock(m_hookMutex);
    return m_beforeCacheInstallHook;
}

std::function<void()> IndexStoreProbe::betweenNameSlicesHook() const
{
    std::lock_guard lock(m_hookMutex);
    return m_betweenNameSlicesHook;
}

} // namespace pallix
