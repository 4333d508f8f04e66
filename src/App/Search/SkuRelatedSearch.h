#pragma once
// SkuRelatedSearch: the SKU-related section's job. After a local answer to a
// code-like word, it takes the folders of the first document hits and lists
// what lies directly in them (sub-folders and images) as related results.
// A newer request cancels the running job between two folder listings, and a
// job publishes only while its search generation is still the session's.
//
// Threads: owned by SearchSession and called on the GUI thread. The listing
// runs on the context's pool with copies only; publication happens back on the
// GUI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QList>

#include "App/Async/JobHandle.h"
#include "Core/Config/AppSettings.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

class AppContext;
class SearchSession;

class SkuRelatedSearch {
public:
    static constexpr int kMaxDocuments = 8;    // document hits looked at
    static constexpr int kMaxFolders = 6;      // folders listed
    static constexpr int kPerFolder = 160;     // items taken from one folder
    static constexpr int kMaxItems = 700;      // items published

    // What one folder directly holds of the related kinds, at most `limit`.
    using FolderLister = std::function<std::vector<IndexedItem>(const std::string& folder, int limit)>;

    SkuRelatedSearch(const AppContext& context, SearchSession& session);
    ~SkuRelatedSearch();
    SkuRelatedSearch(const SkuRelatedSearch&) = delete;
    SkuRelatedSearch& operator=(const SkuRelatedSearch&) = delete;

    // Whether a local answer to `query` has a section: local search on and
    // one code-like word (four characters or more, letters and digits with
    // "-" or "_", at least one digit) without filters.
    static bool isWanted(const SearchQuery& query, const AppSettings& settings);
    // Starts a job for the folders of `baseHits` (the answer of `generation`),
    // replacing the running one. No document among the hits: the running job
    // and the published list are left alone.
    void schedule(const QList<IndexedItem>& baseHits, std::int64_t generation);
    void cancel();

    // The parent folders of the first document hits, first seen first.
    static std::vector<std::string> candidateFolders(const QList<IndexedItem>& baseHits);
    // Lists the folders in turn, stopping when `cancel` fires; repeats by path
    // are dropped and at most kMaxItems kept, sorted. Any thread.
    static QList<IndexedItem> gather(const std::vector<std::string>& folders, const FolderLister& list,
                                     const CancelToken* cancel);
    // Folders before images, then by name (zh_CN, case-insensitive), then by path.
    static bool comesBefore(const IndexedItem& a, const IndexedItem& b);

private:
    QCoro::Task<> run(std::vector<std::string> folders, std::int64_t generation, std::shared_ptr<CancelToken> token);

    const AppContext& m_context;
    SearchSession& m_session;
    JobHandle m_job;
};

} // namespace pallix
