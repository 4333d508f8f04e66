#include "App/ServerSearchStage.h"

#include <algorithm>
#include <vector>

#include <QPointer>

#include "App/AppModel.h"
#include "App/TypingPause.h"
#include "Core/IndexDB/IndexStore.h"

namespace pallix {

using namespace std::chrono_literals;

namespace {

constexpr int kReadAttempts = 2;
constexpr auto kCacheWait = 6s;

int narrowingLimit(int limit) { return std::min(limit, 4000); }
int sharedLimit(int limit, bool typing) { return typing ? std::min(limit, 1280) : std::min(limit, 4000); }
int prefixLimit(int limit) { return std::min(limit, 900); }

ItemList toList(std::vector<IndexedItem> items)
{
    return ItemList(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
}

} // namespace

void ServerSearchStage::show(std::int64_t generation, const SearchQuery& query, ItemList items, bool ordered)
{
    if (!m_model.isCurrent(generation))
        return;
    m_model.setServerResults(ordered ? m_model.applyFolderAwareFolderOrderingIfNeeded(items, query) : std::move(items));
    m_model.m_lastServerDisplayedQuery = query;
}

QCoro::Task<bool> ServerSearchStage::run(SearchQuery query, int limit, std::int64_t generation, bool typing,
                                         std::shared_ptr<CancelToken> token)
{
    AppModel& model = m_model;
    QPointer<AppModel> guard(&model);
    const bool narrowing = AppModel::canNarrow(query, model.m_serverResults, model.m_lastServerDisplayedQuery);
    if (narrowing) {
        // Only a first answer: the index may hold more than the list that was shown.
        const std::vector<IndexedItem> shown(model.m_serverResults.begin(), model.m_serverResults.end());
        ItemList narrowed = toList(model.m_localSearchEngine.search(shown, query, narrowingLimit(limit)));
        if (model.isCurrent(generation))
            model.setServerResults(std::move(narrowed));
    }

    const int shared = sharedLimit(limit, typing);
    const bool scanning = model.isServerIndexing();
    const auto store = model.m_serverIndexStore;
    auto probing = model.onPool([store] { return store->isSearchCacheReady(); });
    const bool cacheReady = co_await probing;
    if (!guard || token->isCancelled())
        co_return false;
    if (!scanning && cacheReady) {
        auto searching = model.onPool([store, query, shared, token] { return store->search(query, shared, token.get()); });
        std::vector<IndexedItem> found = co_await searching;
        if (!guard || token->isCancelled())
            co_return false;
        show(generation, query, toList(std::move(found)), !typing);
        co_return true;
    }

    const std::filesystem::path database = model.m_serverIndexDatabasePath;
    if (typing && AppEditionInfo::current() == AppEdition::Mardell) {
        auto prefixing = model.onPool([database, query, limit] {
            return IndexStore::readOnlyTypingFastPrefixSearch(database, query, prefixLimit(limit));
        });
        std::vector<IndexedItem> found = co_await prefixing;
        if (!guard || token->isCancelled())
            co_return false;
        const bool answered = !found.empty();
        if (answered)
            show(generation, query, toList(std::move(found)), false);
        model.m_serverSearchPauseCompletionTask.cancel();
        model.m_serverSearchPauseCompletionTask = JobHandle::start();
        runPauseCompletion(query, shared, generation, model.m_serverSearchPauseCompletionTask.token());
        if (answered || narrowing)
            co_return false;
    } else if (typing && narrowing) {
        co_return false;
    }

    auto reading = model.onPool([database, query, shared, clock = model.m_clock.shared()] {
        return IndexStore::readOnlySearchAnswer(database, query, shared, kReadAttempts, 1, clock.get());
    });
    IndexStore::ReadOnlyAnswer answer = co_await reading;
    if (!guard || token->isCancelled())
        co_return false;
    // An empty answer is shown as empty; only a read that failed leaves the
    // list on screen, which is then the best there is.
    if (!answer.readFailed)
        show(generation, query, toList(std::move(answer.items)), !typing);
    co_return true;
}

QCoro::Task<> ServerSearchStage::runPauseCompletion(SearchQuery query, int limit, std::int64_t generation,
                                                    std::shared_ptr<CancelToken> token)
{
    AppModel& model = m_model;
    QPointer<AppModel> guard(&model);
    // Waits for the pause itself rather than a fixed 85 ms: the keystroke was
    // stamped right before the request, so one short wait would nearly always
    // find the user typing and leave the capped prefix answer on screen.
    do {
        auto pausing = model.m_clock.sleepFor(untilTypingEnds(model.m_lastUserSearchInputAt ? std::optional(model.m_clock.now() - *model.m_lastUserSearchInputAt) : std::nullopt), token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled() || !model.isCurrent(generation)
            || !model.m_settings.includeServerInSearch)
            co_return;
    } while (model.isUserTyping());

    const auto store = model.m_serverIndexStore;
    const std::filesystem::path database = model.m_serverIndexDatabasePath;
    const bool scanning = model.isServerIndexing();
    auto searching = model.onPool([store, database, query, limit, scanning, token, clock = model.m_clock.shared()] {
        // While a run writes the store, its memory is busy: the file answers.
        if (!scanning && store->waitForSearchCacheReady(kCacheWait))
            return IndexStore::ReadOnlyAnswer{store->search(query, limit, token.get()), false};
        return IndexStore::readOnlySearchAnswer(database, query, limit, kReadAttempts, 1, clock.get());
    });
    IndexStore::ReadOnlyAnswer answer = co_await searching;
    if (!guard || token->isCancelled())
        co_return;
    if (!answer.readFailed)
        show(generation, query, toList(std::move(answer.items)), true);
}

} // namespace pallix
