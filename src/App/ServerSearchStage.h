#pragma once
// ServerSearchStage: the shared-drive part of a search. It narrows the shown
// shared-drive list in memory when the new text only narrows, then answers
// from the shared-drive store's memory when its cache is loaded and no run is
// writing it, or else from the database file on a read-only connection (only
// name prefixes while the user types), and completes a typing answer once the
// user pauses. The store's own search never waits on a scan or a cache load.
//
// Owned by AppModel; GUI thread only. Its coroutines send the store work to
// the model's pool and publish through the model after re-checking that the
// model lives, the job's token has not fired and the request is current.

#include <cstdint>
#include <memory>

#include <QCoroTask>
#include <QList>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix {

class AppModel;

class ServerSearchStage {
public:
    explicit ServerSearchStage(AppModel& model) : m_model(model) {}

    // One request's stage; true when the image stage is to follow, false when
    // the request's search ends here.
    QCoro::Task<bool> run(SearchQuery query, int limit, std::int64_t generation, bool typing,
                          std::shared_ptr<CancelToken> token);

private:
    // Runs 85 ms after a typing answer of the default edition; once the user
    // has paused, replaces the typing answer with the complete one.
    QCoro::Task<> runPauseCompletion(SearchQuery query, int limit, std::int64_t generation,
                                     std::shared_ptr<CancelToken> token);
    // Publishes `items` as the shared-drive list of `query` when the request is current.
    void show(std::int64_t generation, const SearchQuery& query, QList<IndexedItem> items, bool ordered);

    AppModel& m_model;
};

} // namespace pallix
