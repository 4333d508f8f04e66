#pragma once
// ServerSearchStage: the shared-drive part of a search. It narrows the shown
// shared-drive list in memory when the new text only narrows, then answers
// from the shared-drive store's memory when its cache is loaded and no run is
// writing it, or else from the database file on a read-only connection (only
// name prefixes while the user types), and completes a typing answer once the
// user pauses. The store's own search never waits on a scan or a cache load.
//
// Owned by SearchSession; GUI thread only. It reads the shared-drive store
// from the context; its coroutines send the store work to the context's pool
// and publish through the session after re-checking that the session lives,
// the job's token has not fired and the request is current.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QCoroTask>
#include <QList>

#include "App/Async/JobHandle.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix {

class AppContext;
class FolderHints;
class SearchSession;
class TypingClock;

class ServerSearchStage {
public:
    // `hints` orders the folders of a complete answer; `typing` tells when the
    // user pauses; `isIndexing`: whether a shared-drive run is writing the store now.
    ServerSearchStage(const AppContext& context, SearchSession& session, FolderHints& hints, const TypingClock& typing,
                      std::function<bool()> isIndexing);
    ~ServerSearchStage();
    ServerSearchStage(const ServerSearchStage&) = delete;
    ServerSearchStage& operator=(const ServerSearchStage&) = delete;

    // One request's stage; true when the image stage is to follow, false when
    // the request's search ends here.
    QCoro::Task<bool> run(SearchQuery query, int limit, std::int64_t generation, bool typing,
                          std::shared_ptr<CancelToken> token);
    // Stops the pause completion of a typing answer.
    void cancel();
    // The shown list no longer answers a query: the next search does not narrow it.
    void forgetShownQuery() { m_shownQuery.reset(); }

private:
    // Runs 85 ms after a typing answer of the default edition; once the user
    // has paused, replaces the typing answer with the complete one.
    QCoro::Task<> runPauseCompletion(SearchQuery query, int limit, std::int64_t generation,
                                     std::shared_ptr<CancelToken> token);
    // Publishes `items` as the shared-drive list of `query` when the request is current.
    void show(std::int64_t generation, const SearchQuery& query, QList<IndexedItem> items, bool ordered);

    const AppContext& m_context;
    SearchSession& m_session;
    FolderHints& m_hints;
    const TypingClock& m_typing;
    std::function<bool()> m_isIndexing;
    std::optional<SearchQuery> m_shownQuery;  // the query the shown shared-drive list answers
    JobHandle m_pauseCompletionTask;
};

} // namespace pallix
