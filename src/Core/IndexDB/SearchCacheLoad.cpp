// The search cache's life: the warm-up at start-up, the install of its
// snapshot, the rebuilds after writes and the background build of the
// inverted indexes.

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>

#include <sqlite3.h>

#include "Core/IndexDB/CacheSnapshot.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/NameOrder.h"
#include "Platform/AllocatorArenas.h"
#include "Platform/Parallel.h"

namespace pallix {

namespace {

constexpr auto kIndexBuildDelay = std::chrono::milliseconds(90);
// Items whose name forms are copied per hold of the lock: well under a millisecond.
constexpr std::size_t kNameCopySlice = 16384;

// Calls copy(position) for the positions [begin, end), a slice at a time under
// `mutex` so that writes and searches get in between; false as soon as
// current(), asked under the lock, says no. `between` runs after each slice.
template <class Current, class Copy>
bool copyInSlices(std::mutex& mutex, std::size_t begin, std::size_t end, Current current, Copy copy,
                  const std::function<void()>& between = nullptr)
{
    for (std::size_t first = begin; first < end; first += kNameCopySlice) {
        {
            std::lock_guard lock(mutex);
            if (!current())
                return false;
            for (std::size_t p = first; p < std::min(end, first + kNameCopySlice); ++p)
                copy(p);
        }
        if (between)
            between();
        std::this_thread::yield();
    }
    return true;
}

} // namespace

void IndexStore::startCacheWarmup()
{
    m_warmupPending = true;
    m_pendingWrites.clear();
    const std::int64_t generation = ++m_warmupGeneration;
    std::function<void()> hook = m_probe ? m_probe->beforeCacheInstallHook() : nullptr;
    m_warmupTask = m_jobs.start([this, hook, generation](const CancelToken& token) {
        CacheSnapshot snapshot = loadCacheSnapshot(m_databaseURL, &token);
        if (hook)
            hook();
        if (!token.isCancelled() && snapshot.damaged)
            startOverAfterDamagedSnapshot(generation);
        else if (!token.isCancelled())
            applyLoadedCache(std::move(snapshot.items), generation);
        // The load leaves many freed small blocks behind (rows, name forms,
        // block lists): handed back rather than kept at the peak.
        returnFreedMemory();
    });
}

void IndexStore::startOverAfterDamagedSnapshot(std::int64_t warmupGeneration)
{
    std::function<void()> startedOver;
    {
        std::unique_lock lock(m_mutex);
        if (warmupGeneration != m_warmupGeneration)
            return;  // the start it belonged to failed
        if (m_discardLoadingSnapshot) {
            // The file it read was moved aside already: the fresh one is empty.
            lock.unlock();
            applyLoadedCache(ItemTable(), warmupGeneration);
            return;
        }
        m_warmupTask.reset();
        // Part of the file read, the rest lost: installing the part would
        // look like an index that forgot files. The writes made meanwhile
        // went to the damaged file too; the owner fills the fresh one.
        m_warmupPending = false;
        m_discardLoadingSnapshot = false;
        m_pendingWrites.clear();
        m_damageSeen = true;
        if (!recoverFromDamageLocked()) {
            // The file stays where it is: the next write tries again, and
            // searches meanwhile find an empty cache rather than a partial one.
            m_damageSeen = true;
            resetSearchIndexesLocked();
            m_items = ItemTable();
            m_cacheReady = true;
            m_searchIndexesComplete = true;
        } else {
            startedOver = m_startedOverHandler;
        }
        resumeSearchCacheReadyWaiters(true);
    }
    if (startedOver)
        startedOver();
}

void IndexStore::abandonCacheWarmupLocked()
{
    if (!m_warmupPending)
        return;
    ++m_warmupGeneration;
    if (m_warmupTask)
        m_warmupTask->cancel();
    m_warmupTask.reset();
    m_warmupPending = false;
    m_discardLoadingSnapshot = false;
    m_pendingWrites.clear();
}

void IndexStore::resetSearchIndexesLocked()
{
    if (m_debouncedSearchCacheRebuildTask) {
        m_debouncedSearchCacheRebuildTask->cancel();
        m_debouncedSearchCacheRebuildTask.reset();
    }
    m_searchIndexesComplete = false;
    m_indexes.clear();
    stopIndexBuildLocked();
}

void IndexStore::stopIndexBuildLocked()
{
    ++m_indexBuildGeneration;
    if (m_indexBuildTask) {
        m_indexBuildTask->cancel();
        m_indexBuildTask.reset();
    }
    m_buildRecording = false;
    m_buildChanges.clear();
}

void IndexStore::restartIndexBuildLocked()
{
    stopIndexBuildLocked();
    if (!m_items.empty())
        startIndexBuild(m_indexBuildGeneration);
}

void IndexStore::applyLoadedCache(ItemTable snapshot, std::int64_t warmupGeneration)
{
    std::lock_guard lock(m_mutex);
    if (warmupGeneration != m_warmupGeneration)
        return;  // the start it belonged to failed
    m_warmupTask.reset();
    resetSearchIndexesLocked();
    const std::int64_t generation = m_indexBuildGeneration;

    m_items = std::exchange(m_discardLoadingSnapshot, false) ? ItemTable() : std::move(snapshot);
    // The snapshot was read while writes went on; replaying them in order
    // gives the rows as they are now, whichever of them it already holds.
    for (const PendingWrite& write : m_pendingWrites) {
        if (write.isRemoval)
            m_items.removeUnder(write.removedPrefix, write.keptPaths);
        else
            for (const IndexedItem& item : write.upserted)
                m_items.patch(item);
    }
    m_pendingWrites.clear();
    m_pendingWrites.shrink_to_fit();
    m_warmupPending = false;
    m_persistedIndexedCount = static_cast<std::int64_t>(m_items.size());

    m_cacheReady = true;
    resumeSearchCacheReadyWaiters(true);
    if (m_items.empty()) {
        m_searchIndexesComplete = true;
        return;
    }
    startIndexBuild(generation);
}

void IndexStore::rebuildSearchCacheLocked()
{
    resetSearchIndexesLocked();
    const std::int64_t generation = m_indexBuildGeneration;
    m_items.compactIfWasteful();
    if (m_items.empty()) {
        m_searchIndexesComplete = true;
        return;
    }
    startIndexBuild(generation);
}

void IndexStore::startIndexBuild(std::int64_t generation)
{
    const Clock::TimePoint startedAt = m_clock->now();
    m_indexBuildTask = m_jobs.start([this, generation, startedAt](const CancelToken& token) {
        runIndexBuild(generation, startedAt, token);
    });
}

void IndexStore::runIndexBuild(std::int64_t generation, Clock::TimePoint startedAt, const CancelToken& token)
{
    // A cancelled delay is no error: the checks below stop a superseded build.
    const Clock::Duration delay = startedAt + kIndexBuildDelay - m_clock->now();
    if (delay > Clock::Duration::zero())
        m_clock->sleepFor(delay, &token);

    auto stillCurrent = [&] { return m_indexBuildGeneration.load() == generation && !token.isCancelled(); };
    auto releaseHandle = [&] {
        if (m_indexBuildTask.get() == &token)
            m_indexBuildTask.reset();
    };

    // The build covers the items there are now (its base); the writes from
    // here on are recorded and laid over it. Each block copies its items'
    // name forms when it starts, slice by slice under the lock, so writes and
    // searches get in between and the key extraction needs no lock at all;
    // an item removed meanwhile is left out, and the others are read where
    // the removals moved them.
    std::size_t count = 0;
    bool replacing = false;
    {
        std::lock_guard lock(m_mutex);
        if (!stillCurrent())
            return releaseHandle();
        replacing = m_searchIndexesComplete;
        count = m_items.size();
        m_buildChanges.startOver(static_cast<std::uint32_t>(count));
        m_buildRecording = true;
    }
    const std::function<void()> betweenSlices = m_probe ? m_probe->betweenNameSlicesHook() : nullptr;
    auto copyNames = [&](std::size_t begin, std::size_t end, NameList& out) {
        out.reserve(end - begin, (end - begin) * 40);
        return copyInSlices(
            m_mutex, begin, end, stillCurrent,
            [&](std::size_t p) {
                const std::optional<std::uint32_t> now = m_buildChanges.livePosition(static_cast<std::uint32_t>(p));
                if (!now) {
                    out.append({}, {});
                    return;
                }
                const ItemTable::KeyForms forms = m_items.keyForms(*now);
                out.append(forms.searchName, forms.normalizedSearchName, forms.normalizedStem);
            },
            betweenSlices);
    };

    // A rebuild behind complete indexes is background work, searched around
    // meanwhile: one worker, so it holds one block's lists at a time rather
    // than one per core beside the indexes it replaces.
    const unsigned workers = !replacing && count >= 2 * 65536 ? spareThreads() : 1;
    // The writes that made this rebuild due freed more than they kept:
    // handed back before the new indexes grow beside the old ones.
    if (replacing)
        returnFreedMemory();
    std::optional<SearchIndexes> built = buildSearchIndexes(count, copyNames, workers, stillCurrent);
    std::function<void()> hook = m_probe ? m_probe->beforeIndexInstallHook() : nullptr;
    if (hook)
        hook();

    bool installed = false;
    {
        std::lock_guard lock(m_mutex);
        if (built && stillCurrent()) {
            m_buildChanges.installBase(std::move(*built));
            m_indexes = std::move(m_buildChanges);
            m_buildChanges.clear();
            m_buildRecording = false;
            m_searchIndexesComplete = true;
            installed = true;
        }
    }
    built.reset();
    if (installed) {
        // What the indexes replaced held goes back before the ordinals take theirs.
        returnFreedMemory();
        installNameOrders(stillCurrent);
    }
    {
        std::lock_guard lock(m_mutex);
        releaseHandle();
        // The start-up's reads and writes left pages in the connection's
        // cache (8 MB at a million items) that nothing reads again soon.
        if (m_db.isOpen())
            sqlite3_db_release_memory(m_db.handle());
    }
    returnFreedMemory();
}

void IndexStore::installNameOrders(const std::function<bool()>& stillCurrent)
{
    // After the indexes, which searches wait for: sorting by name works
    // without the ordinals, only slower. Any change of the items meanwhile
    // makes them stale; the rebuild that change asks for makes new ones.
    std::size_t count = 0;
    std::uint64_t version = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!stillCurrent())
            return;
        count = m_items.size();
        version = m_items.version();
    }
    // Asked under the lock.
    auto unchanged = [&] { return stillCurrent() && m_items.version() == version; };
    // nameOrdersOf() keeps a small list on one thread.
    std::optional<std::vector<std::uint32_t>> orders = nameOrdersOf(
        count,
        [&](std::size_t begin, std::size_t end, TextList& out) {
            return copyInSlices(m_mutex, begin, end, unchanged, [&](std::size_t p) { out.append(m_items.nameAt(p)); });
        },
        spareThreads(), stillCurrent);
    std::lock_guard lock(m_mutex);
    if (orders && stillCurrent() && m_items.version() == version)
        m_items.setNameOrders(*orders);
}

} // namespace pallix
