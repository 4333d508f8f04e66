#include "App/Search/ServerSearchStage.h"

#include <algorithm>
#include <vector>

#include <QPointer>

#include "App/Context/AppContext.h"
#include "App/Search/FolderHints.h"
#include "App/Search/SearchBudgets.h"
#include "App/Search/SearchSession.h"
#include "App/Search/TypingClock.h"
#include "App/Async/TypingPause.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/ReadOnlySearch.h"
#include "Core/Search/SearchEngine.h"

namespace pallix {

using namespace std::chrono_literals;
using namespace searchbudgets;

namespace {

constexpr int kReadAttempts = 2;
constexpr auto kCacheWait = 6s;

ItemList toList(std::vector<IndexedItem> items)
{
    return ItemList(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
}

} // namespace

ServerSearchStage::ServerSearchStage(const AppContext& context, SearchSession& session, FolderHints& hints,
                                     const TypingClock& typing, std::function<bool()> isIndexing)
    : m_context(context), m_session(session), m_hints(hints), m_typing(typing), m_isIndexing(std::move(isIndexing))
{
}

ServerSearchStage::~ServerSearchStage()
{
    cancel();
}

void ServerSearchStage::cancel()
{
    m_pauseCompletionTask.cancel();
}

void ServerSearchStage::show(std::int64_t generation, const SearchQuery& query, ItemList items, bool ordered)
{
    if (generation != m_session.searchGeneration())
        return;
    m_session.setServerResults(ordered ? m_hints.ordered(items, query, generation) : std::move(items));
    m_shownQuery = query;
}

QCoro::Task<bool> ServerSearchStage::run(SearchQuery query, int limit, std::int64_t generation, bool typing,
                                         std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(&m_session);
    const ItemList& shownList = m_session.serverResults();
    const bool narrowing = ShownList::canNarrow(query, shownList, m_shownQuery);
    if (narrowing) {
        // Only a first answer: the index may hold more than the list that was shown.
        const std::vector<IndexedItem> shown(shownList.begin(), shownList.end());
        ItemList narrowed = toList(SearchEngine().search(shown, query, serverNarrowingLimit(limit)));
        if (generation == m_session.searchGeneration())
            m_session.setServerResults(std::move(narrowed));
    }

    const int shared = serverLimit(limit, typing);
    const bool scanning = m_isIndexing && m_isIndexing();
    const auto store = m_context.stores().server;
    auto probing = m_context.onPool([store] { return store->status().cacheReady; });
    const bool cacheReady = co_await probing;
    if (!guard || token->isCancelled())
        co_return false;
    if (!scanning && cacheReady) {
        auto searching =
            m_context.onPool([store, query, shared, token] { return store->search(query, shared, token.get()); });
        std::vector<IndexedItem> found = co_await searching;
        if (!guard || token->isCancelled())
            co_return false;
        show(generation, query, toList(std::move(found)), !typing);
        co_return true;
    }

    const std::filesystem::path database = m_context.stores().serverDatabasePath;
    if (typing && AppEditionInfo::current() == AppEdition::Mardell) {
        auto prefixing = m_context.onPool([database, query, limit] {
            return readOnlyTypingFastPrefixSearch(database, query, serverPrefixLimit(limit));
        });
        std::vector<IndexedItem> found = co_await prefixing;
        if (!guard || token->isCancelled())
            co_return false;
        const bool answered = !found.empty();
        if (answered)
            show(generation, query, toList(std::move(found)), false);
        m_pauseCompletionTask.cancel();
        m_pauseCompletionTask = JobHandle::start();
        runPauseCompletion(query, shared, generation, m_pauseCompletionTask.token());
        if (answered || narrowing)
            co_return false;
    } else if (typing && narrowing) {
        co_return false;
    }

    auto reading = m_context.onPool([database, query, shared, clock = m_context.clock().shared()] {
        return readOnlySearchAnswer(database, query, shared, kReadAttempts, 1, clock.get());
    });
    ReadOnlyAnswer answer = co_await reading;
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
    QPointer<SearchSession> guard(&m_session);
    // Waits for the pause itself rather than a fixed 85 ms: the keystroke was
    // stamped right before the request, so one short wait would nearly always
    // find the user typing and leave the capped prefix answer on screen.
    do {
        auto pausing = m_context.clock().sleepFor(untilTypingEnds(m_typing.sinceLastKeystroke()), token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled() || generation != m_session.searchGeneration()
            || !m_context.settings().includeServerInSearch)
            co_return;
    } while (m_typing.isTyping());

    const auto store = m_context.stores().server;
    const std::filesystem::path database = m_context.stores().serverDatabasePath;
    const bool scanning = m_isIndexing && m_isIndexing();
    auto searching =
        m_context.onPool([store, database, query, limit, scanning, token, clock = m_context.clock().shared()] {
            // While a run writes the store, its memory is busy: the file answers.
            if (!scanning && store->waitForSearchCacheReady(kCacheWait))
                return ReadOnlyAnswer{store->search(query, limit, token.get()), false};
            return readOnlySearchAnswer(database, query, limit, kReadAttempts, 1, clock.get());
        });
    ReadOnlyAnswer answer = co_await searching;
    if (!guard || token->isCancelled())
        co_return;
    if (!answer.readFailed)
        show(generation, query, toList(std::move(answer.items)), true);
}

} // namespace pallix
