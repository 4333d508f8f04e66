#pragma once
// Shared pieces of the index store tests: a temporary folder, items made from
// paths, queries, a clock whose sleeps pass at once, and waiting for a
// background job's effect without sleeping.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix::test {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pallix-indexdb-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

inline IndexedItem fileItem(std::string_view path, std::int64_t size = 10, Date modifiedAt = 1'700'000'000.0)
{
    FileMetadata m;
    m.isDirectory = false;
    m.fileSize = size;
    m.contentModifiedAt = modifiedAt;
    return *IndexedItem::from(path, m);
}

inline IndexedItem folderItem(std::string_view path, Date modifiedAt = 1'700'000'000.0)
{
    FileMetadata m;
    m.isDirectory = true;
    m.contentModifiedAt = modifiedAt;
    return *IndexedItem::from(path, m);
}

inline SearchQuery wordsQuery(std::vector<std::string> tokens, SearchMatchMode mode = SearchMatchMode::Contains,
                              bool caseSensitive = false)
{
    SearchQuery q;
    for (const std::string& t : tokens)
        q.rawText += (q.rawText.empty() ? "" : " ") + t;
    q.tokens = std::move(tokens);
    q.matchMode = mode;
    q.caseSensitive = caseSensitive;
    q.contentFilters = {SearchContentFilter::All};
    q.excludeSystemJunk = false;
    return q;
}

inline std::vector<std::string> pathsOf(const std::vector<IndexedItem>& items)
{
    std::vector<std::string> out;
    for (const IndexedItem& i : items)
        out.emplace_back(i.path());
    return out;
}

// Polls `condition` until it holds; gives up after a real minute (a failure,
// not a timing). Background jobs run on their own threads, so a test waits for
// their effect rather than for a time.
inline bool eventually(const std::function<bool()>& condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// A clock whose sleeps return at once, moving its time forward by the sleep
// and recording it: for code that waits on the calling thread.
class InstantClock final : public Clock {
public:
    TimePoint now() const override
    {
        std::lock_guard lock(m_mutex);
        return TimePoint(m_elapsed);
    }
    double wallSecondsSince1970() const override { return 1'700'000'000.0; }
    bool sleepFor(Duration d, const CancelToken* cancel = nullptr) override
    {
        if (cancel && cancel->isCancelled())
            return false;
        std::lock_guard lock(m_mutex);
        m_elapsed += d;
        m_sleeps.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(d));
        return true;
    }
    void advance(Duration d)
    {
        std::lock_guard lock(m_mutex);
        m_elapsed += d;
    }
    std::vector<std::chrono::milliseconds> sleeps() const
    {
        std::lock_guard lock(m_mutex);
        return m_sleeps;
    }
    void clearSleeps()
    {
        std::lock_guard lock(m_mutex);
        m_sleeps.clear();
    }

private:
    mutable std::mutex m_mutex;
    Duration m_elapsed{0};
    std::vector<std::chrono::milliseconds> m_sleeps;
};

// Holds the warm-up between loading the snapshot and installing it. The hook
// shares the gate's state, so it stays valid whenever the warm-up gets to it.
class InstallGate {
public:
    std::function<void()> hook()
    {
        return [opened = m_opened] { opened.wait(); };
    }
    void open()
    {
        if (!m_isOpen)
            m_open.set_value();
        m_isOpen = true;
    }
    ~InstallGate() { open(); }

private:
    std::promise<void> m_open;
    std::shared_future<void> m_opened = m_open.get_future().share();
    bool m_isOpen = false;
};

// A store with a probe of its own, for the tests that read or steer it.
class ProbedStore : public IndexStore {
public:
    explicit ProbedStore(std::filesystem::path db, std::shared_ptr<Clock> clock = Clock::system())
        : ProbedStore(std::move(db), std::move(clock), std::make_shared<IndexStoreProbe>())
    {
    }
    IndexStoreProbe& probe() const { return *m_probe; }

private:
    ProbedStore(std::filesystem::path db, std::shared_ptr<Clock> clock, std::shared_ptr<IndexStoreProbe> probe)
        : IndexStore(std::move(db), std::move(clock), probe), m_probe(std::move(probe))
    {
    }
    std::shared_ptr<IndexStoreProbe> m_probe;
};

// Writes `items` straight into a fresh index file through a store of its own,
// so that another store's bootstrap finds them in its snapshot.
inline void seedDatabase(const std::filesystem::path& db, const std::vector<IndexedItem>& items)
{
    IndexStore seeder(db, std::make_shared<FakeClock>());
    ASSERT_TRUE(seeder.bootstrap());
    ASSERT_TRUE(seeder.upsert(items));
}

// Waits until every running background job of `store` sleeps on `clock`.
// Sleeps take a duration, so advancing the clock while a job is between
// reading the time and falling asleep would stretch its sleep: tests advance
// only when all jobs are asleep.
inline bool allJobsAsleep(const ProbedStore& store, const FakeClock& clock)
{
    return eventually([&] { return clock.sleepers() == store.probe().runningBackgroundJobs(); });
}

inline void advanceAsleep(const ProbedStore& store, FakeClock& clock, Clock::Duration d)
{
    ASSERT_TRUE(allJobsAsleep(store, clock));
    clock.advance(d);
}

// Moves time on until no background job of `store` is left.
inline void settle(const ProbedStore& store, FakeClock& clock)
{
    ASSERT_TRUE(eventually([&] {
        if (store.probe().runningBackgroundJobs() == 0)
            return true;
        if (clock.sleepers() == store.probe().runningBackgroundJobs())
            clock.advance(std::chrono::milliseconds(50));
        return false;
    }));
}

// Bootstraps `store` and lets its cache load and its index build finish.
inline void bootstrapToComplete(ProbedStore& store, FakeClock& clock)
{
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    advanceAsleep(store, clock, std::chrono::milliseconds(90));
    ASSERT_TRUE(eventually([&] { return store.status().searchIndexesComplete; }));
}

} // namespace pallix::test
