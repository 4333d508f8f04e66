#pragma once
// IndexStoreProbe: what tests and benchmarks see of an IndexStore beyond its
// public roads, and the faults they set into it. A probe is handed to one
// store's constructor (the application makes none): the store asks it for the
// faults, tells it of its read runs and reopens, and lets it read its state
// and run a few steps while the store lives. Once the store is gone (or
// before a store took it) the readings give nothing: zero, false, empty.
//
// Threading: any method on any thread, but not while the store is being
// destroyed. The readings that take the store's lock must not be asked from
// a callback the store runs under it (see whenSearchCacheReady());
// indexBuildGeneration() and runningBackgroundJobs() take no lock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

class IndexStoreProbe {
public:
    // Bytes held by the search cache, by part.
    struct MemoryUsage {
        std::size_t itemCount = 0;
        std::size_t items = 0;  // item table with its path map
        std::size_t characterIndex = 0;
        std::size_t bigramIndex = 0;
        std::size_t prefixIndex = 0;
        std::size_t total() const { return items + characterIndex + bigramIndex + prefixIndex; }
    };

    // ---- Faults.
    // The next `count` runs of a read statement on the store's connection
    // report `code` (SQLITE_BUSY or SQLITE_LOCKED) instead of rows.
    void injectTransientReadFailures(int count, int code);
    // Reopening after transient failures fails.
    void setReopenFails(bool fails);
    // Called without the lock right before a finished index build takes the
    // lock to install its result.
    void setBeforeIndexInstallHook(std::function<void()> hook);
    // Called on the warm-up thread between loading the snapshot and
    // installing it. Set it before bootstrap().
    void setBeforeCacheInstallHook(std::function<void()> hook);
    // Called without the lock on an index build's worker after each slice
    // of name forms it copies. Set it before the build starts.
    void setBetweenNameSlicesHook(std::function<void()> hook);

    // ---- Steps.
    // Rebuilds the path map and restarts the index build from the current items.
    void rebuildSearchCache();
    // Runs `callback` once the cache is installed (at once, on this thread, when
    // it is); callbacks run in the order they were registered, under the store's
    // lock, so they must only hand off.
    void whenSearchCacheReady(std::function<void()> callback);

    // ---- Readings.
    // Runs of read statements on the store's connection, and reopens, so far.
    int readRuns() const { return m_readRuns.load(); }
    int reopenCount() const { return m_reopens.load(); }
    std::int64_t indexBuildGeneration() const;
    // Every cached item has its name's collation ordinal (they follow the
    // indexes; a search sorting by name is faster with them, not different).
    bool nameOrdersReady() const;
    MemoryUsage memoryUsage() const;
    int transientSearchFailureStreak() const;
    // Background jobs started and not finished (tests wait for quiet with it).
    int runningBackgroundJobs() const;
    // Whether the stored lower-cased names are complete, so that the typing
    // prefix search reads their index (older files are filled after start-up).
    bool isLoweredNameColumnComplete() const;
    // The value of "PRAGMA <name>;" on the store's connection, for read-back.
    std::optional<std::string> pragmaValue(const std::string& name) const;
    // The complete search's candidates from the inverted indexes (nothing:
    // every item is ranked), and whether it takes them.
    std::optional<std::vector<IndexedItem>> fastCandidateItems(const SearchQuery& query) const;
    bool shouldUseFastCharacterIndex(const SearchQuery& query) const;

    // ---- The store's side.
    // What the store lets its probe read and run; each runs on the asker's thread.
    struct Store {
        std::function<std::int64_t()> indexBuildGeneration;
        std::function<bool()> nameOrdersReady;
        std::function<MemoryUsage()> memoryUsage;
        std::function<int()> transientSearchFailureStreak;
        std::function<int()> runningBackgroundJobs;
        std::function<bool()> isLoweredNameColumnComplete;
        std::function<std::optional<std::string>(const std::string&)> pragmaValue;
        std::function<std::optional<std::vector<IndexedItem>>(const SearchQuery&)> fastCandidateItems;
        std::function<bool(const SearchQuery&)> shouldUseFastCharacterIndex;
        std::function<void()> rebuildSearchCache;
        std::function<void(std::function<void()>)> whenSearchCacheReady;
    };
    // The store's constructor attaches it, its destructor detaches it.
    void attach(Store store) { m_store = std::move(store); }
    void detach() { m_store = Store(); }
    // A read statement runs: counted; the code of an injected failure for its
    // next step, or 0 for none.
    void noteReadRun() { ++m_readRuns; }
    int takeReadFailure();
    // A reopen after transient failures: counted; true when it must fail.
    bool noteReopen();
    std::function<void()> beforeIndexInstallHook() const;
    std::function<void()> beforeCacheInstallHook() const;
    std::function<void()> betweenNameSlicesHook() const;

private:
    // Asks the attached store through `reader`, or gives `none` without one.
    template <class T, class Reader>
    T ask(Reader Store::*reader, T none) const
    {
        const Reader& read = m_store.*reader;
        return read ? read() : none;
    }

    Store m_store;  // set and cleared only by the store's constructor and destructor
    std::atomic<int> m_readRuns{0};
    std::atomic<int> m_reopens{0};
    std::atomic<int> m_readFailures{0};
    std::atomic<int> m_readFailureCode{0};
    std::atomic<bool> m_reopenFails{false};
    mutable std::mutex m_hookMutex;
    std::function<void()> m_beforeIndexInstallHook;  // under m_hookMutex
    std::function<void()> m_beforeCacheInstallHook;  // under m_hookMutex
    std::function<void()> m_betweenNameSlicesHook;   // under m_hookMutex
};

} // namespace pallix
