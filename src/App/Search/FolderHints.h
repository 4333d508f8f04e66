#pragma once
// FolderHints: what the folders of the shown lists hold, learned in the
// background, and the folder-aware ordering (FolderOrdering) that reads it.
// Ordering a list starts the warm-up of its first folders' missing hints:
// the folder-content inspector (or the environment's hook) runs on the
// context's pool, a short pause follows, and the hints go in only when the
// search they were asked for is still the newest; then learned() tells the
// owner to order its lists again.
//
// Owned by SearchSession; GUI thread only. The warm-up holds a QPointer to
// this object and a cancel token, and stores nothing once either is gone.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QObject>
#include <QString>

#include "App/Async/JobHandle.h"
#include "App/Search/FolderOrdering.h"
#include "App/Search/ShownList.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

class AppContext;

class FolderHints : public QObject {
    Q_OBJECT

public:
    // `isCurrent(generation)`: no newer search than that of `generation` started.
    FolderHints(const AppContext& context, std::function<bool(std::int64_t)> isCurrent, QObject* parent = nullptr);
    ~FolderHints() override;

    // `items` with its folders reordered by the hints known so far; starts
    // the warm-up of the missing hints for the search of `generation`.
    // Unchanged, and nothing started, unless sorted by name and at most
    // FolderOrdering::kMaxOrderedItems long.
    ItemList ordered(const ItemList& items, const SearchQuery& query, std::int64_t generation);

signals:
    // New hints went in: a list ordered again may come out differently.
    void learned();

private:
    void scheduleWarmup(const ItemList& folders, std::int64_t generation);
    QCoro::Task<> runWarmup(std::vector<std::string> paths, std::int64_t generation,
                            std::shared_ptr<CancelToken> token);

    const AppContext& m_context;
    std::function<bool(std::int64_t)> m_isCurrent;
    FolderHintCache m_cache;  // only grows
    JobHandle m_warmupTask;
    QString m_lastWarmupKey;  // the first folders of the list last warmed up
};

} // namespace pallix
