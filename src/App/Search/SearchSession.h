#pragma once
// SearchSession: the search the window shows. It owns the text, the
// generation of the newest request, the published lists (local,
// image-content, SKU-related and shared-drive), the selection, the progress
// flag; beside it, and owned by it, the constraints (SearchConstraints), the
// recent searches (SearchHistory), the inline rename (InlineRename), the time
// of the last keystroke (TypingClock) and the folder hints that order the
// shown folders (FolderHints). A keystroke is one call, userTyped(); the
// search job answers from the local index while the user types and completes
// the answer once they pause; the shared-drive and image-content stages
// follow a complete answer.
//
// Threads: GUI thread only. Store work runs on the context's pool; each job
// holds a QPointer to the session and a cancel token, and publishes nothing
// once the session is gone, its token fired or its generation is stale.
// Other features reach it only through the calls AppModel wires.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <QCoroTask>

#include "App/Context/AppContext.h"
#include "App/Async/JobHandle.h"
#include "App/Preview/QuickLookSequence.h"
#include "App/Search/InlineRename.h"
#include "App/Search/SearchConstraints.h"
#include "App/Search/SearchHistory.h"
#include "App/Search/ShownList.h"
#include "App/Search/SearchBudgets.h"
#include "App/Search/TagHitsMemo.h"
#include "App/Search/TypingClock.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchParser.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

class FolderHints;
class IndexStore;
class PreviewController;
class ServerSearchStage;
class SkuRelatedSearch;

// Whether a published local list is the whole answer to its query (within the
// limit) or only a first one: a typing answer, a fast preview, a capped scan.
// Only a complete list may stand in for a search of a longer text.
enum class ListCompleteness { Complete, Partial };

class SearchSession : public QObject {
    Q_OBJECT

    // Result lists announce every assignment; the selection announces a
    // change, and a publication for another query announces it even when
    // kept. The other properties announce changes only.
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(pallix::ItemList results READ results NOTIFY resultsChanged)
    Q_PROPERTY(pallix::ItemList imageFuzzyResults READ imageFuzzyResults NOTIFY imageFuzzyResultsChanged)
    Q_PROPERTY(pallix::ItemList skuRelatedResults READ skuRelatedResults NOTIFY skuRelatedResultsChanged)
    Q_PROPERTY(pallix::ItemList serverResults READ serverResults NOTIFY serverResultsChanged)
    Q_PROPERTY(QString selectedItemID READ selectedItemID WRITE setSelectedItemID NOTIFY selectedItemIDChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)
    Q_PROPERTY(QString searchingHint READ searchingHint NOTIFY searchingHintChanged)

public:
    // What the session reads of the indexes it does not own.
    struct IndexActivity {
        std::int64_t localItems = 0;
        std::int64_t serverItems = 0;
        bool localIndexing = false;
        bool serverIndexing = false;
    };
    // What AppModel hands over of the other features.
    struct Links {
        PreviewController* preview = nullptr;
        std::function<IndexActivity()> indexActivity;
    };

    SearchSession(const AppContext& context, Links links, QObject* parent = nullptr);
    ~SearchSession() override;

    // What narrows and orders the search, and the recent searches: a change
    // of the constraints searches again through the session.
    SearchConstraints& constraints() { return *m_constraints; }
    const SearchConstraints& constraints() const { return *m_constraints; }
    SearchHistory& history() { return *m_history; }
    const SearchHistory& history() const { return *m_history; }
    // The result being renamed in place, and the name typed so far.
    InlineRename& inlineRename() { return *m_inlineRename; }
    const InlineRename& inlineRename() const { return *m_inlineRename; }
    // The time of the last keystroke, which userTyped() stamps.
    TypingClock& typingClock() { return m_typingClock; }
    const TypingClock& typingClock() const { return m_typingClock; }

    // The keystroke: stamps the time, takes the field's text and asks for a
    // typing search. The field owns the text; this never writes it back.
    void userTyped(const QString& text);

    // Published state. Optional texts (selection, scope, rename target) are
    // empty when absent: a path is never empty.
    const QString& searchText() const { return m_searchText; }
    void setSearchText(const QString& text);
    const ItemList& results() const { return m_results; }
    const ItemList& imageFuzzyResults() const { return m_imageFuzzyResults; }
    void setImageFuzzyResults(ItemList items);
    const ItemList& skuRelatedResults() const { return m_skuRelatedResults; }
    void setSkuRelatedResults(ItemList items);
    const ItemList& serverResults() const { return m_serverResults; }
    void setServerResults(ItemList items);
    const QString& selectedItemID() const { return m_selectedItemID; }
    void setSelectedItemID(const QString& id);
    bool isSearching() const { return m_isSearching; }
    const QString& searchingHint() const { return m_searchingHint; }
    // The settings record as stored (the limit, the scopes, the common terms).
    const AppSettings& settings() const { return m_context.settings(); }
    const AsyncClock& clock() const { return m_context.clock(); }
    // The selected result: the first item with the selected path in `results`,
    // the image-content results or the shared-drive results.
    std::optional<IndexedItem> selectedItem() const;
    // The arrow keys: moves the selection within `results`, clamped to its ends.
    void moveSelection(int offset);
    // Selects the first local result; clears the selection when there is none.
    void selectFirstResult();
    // Selects the last local result; clears the selection when there is none.
    void selectLastResult();
    // Selects a renamed item by its new path. Until a published list holds
    // that path, a list that still holds the old one keeps the selection and
    // shows the item by its new name in the old place; the list that moves it
    // to its sorted place announces the selection again, so the views follow.
    void selectRenamedItem(const QString& oldPath, const QString& newPath);
    // The Space key: opens the preview panel on the selection at once and, for
    // an image or a video, then on the shown ones of its folder.
    void previewSelected();

    // The generation of the newest request; an answer of an older one is not published.
    std::int64_t searchGeneration() const { return m_searchGeneration; }
    const std::optional<SearchQuery>& lastDisplayedQuery() const { return m_lastDisplayedQuery; }
    // Whether the shown local list is the complete answer to lastDisplayedQuery().
    bool displayedResultsComplete() const { return m_displayedResultsComplete; }
    // The index changed under the shown list, or the limit did: searching the
    // same text again must ask the store.
    void markDisplayedResultsIncomplete() { m_displayedResultsComplete = false; }

    // Search requests. The query of the published inputs; whether it asks for
    // anything at all is the engine's call (TypingRoad::hasSearchIntent).
    SearchQuery currentQuerySnapshot() const;
    // Makes the newest request win: raises the generation, clears the lists
    // when there is nothing to search, narrows the shown list in memory when it
    // can, and starts the search job, which answers while the user types and
    // completes the answer once they pause. `immediate` skips the short pause
    // before the first store search; `showProgress` raises isSearching.
    void scheduleSearch(bool immediate, bool showProgress);
    // The store's complete answer for the current inputs, published unless a
    // newer request started after `searchGeneration` was taken.
    QCoro::Task<> refreshResultsImmediately(std::optional<std::int64_t> searchGeneration);

    // The shared-drive list: cleared, and the query it answered forgotten so
    // the next shared-drive search does not narrow it.
    void forgetServerResults();

    // Publishing local results: the only way a local list reaches `results`.
    void applySearchResults(ItemList items, const SearchQuery& query,
                            ListCompleteness completeness = ListCompleteness::Complete);

    // The image-tag stores wrote rows (the tagger's progress): the image
    // section of the current search is searched again when they may change
    // its answer, at most once every TagHitsMemo::kRefreshInterval.
    void tagsWritten();

    // A chip's click: the text becomes the search text and is searched for at once.
    void searchForTerm(const QString& text);

    // The line under the results: hits and index sizes of the parts in scope.
    QString resultSummaryText() const;

signals:
    void searchTextChanged();
    void resultsChanged();
    void imageFuzzyResultsChanged();
    void skuRelatedResultsChanged();
    void serverResultsChanged();
    void selectedItemIDChanged();
    void isSearchingChanged();
    void searchingHintChanged();
    // The settings record or an index's size or activity changed: what the
    // summary line and the section titles are made of.
    void summaryInputsChanged();
    void settingsChanged();

private:
    // What a search job receives, fixed when it is scheduled.
    struct SearchRequest {
        bool immediate = false;
        bool broadening = false;  // the text got shorter: show the fast preview first
        std::int64_t generation = 0;
        int limit = 0;
        bool includeLocal = true;
        SearchQuery query;
        std::optional<QUuid> progressToken;  // set when the request raised isSearching
        bool includeServer = false;
        bool runImageStage = false;
        // A text new since the last recorded search (or picked again), which
        // can be searched: only such a search goes into the recent searches.
        bool recordsHistory = false;
    };
    // A store answer, made ready for publishing on the worker, and whether it
    // is the whole answer within the limit.
    struct LocalAnswer {
        ItemList items;
        QSet<QString> paths;  // of the items
        ListCompleteness completeness = ListCompleteness::Partial;
        bool expressionTooComplex = false;  // IndexStore::SearchNotes
    };
    static LocalAnswer localAnswer(std::vector<IndexedItem> items, ListCompleteness completeness);
    // The store's complete search. Worker thread.
    static LocalAnswer completeLocalSearch(IndexStore& store, const SearchQuery& query, int limit,
                                           const CancelToken* cancel);
    const std::shared_ptr<IndexStore>& localStore() const;
    bool isCurrent(std::int64_t generation) const { return generation == m_searchGeneration; }
    void clearProgress(const SearchRequest& request);
    void setIsSearching(bool searching);
    void setSearchingHint(const QString& hint);
    void setResults(ItemList items);
    // `items` without those the shared-drive section lists.
    ItemList withoutServerResults(const ItemList& items) const;
    QCoro::Task<> runSearchTask(SearchRequest request, std::shared_ptr<CancelToken> token);
    // The store's typing answer, started on the pool now.
    QueuedFuture<ItemList> typingSearch(const SearchRequest& request, const std::shared_ptr<CancelToken>& token);
    QCoro::Task<> runFastPreview(SearchRequest request, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runLocalPauseCompletion(SearchRequest request, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runSideStages(SearchRequest request, QSet<QString> localPaths, bool typing,
                                std::shared_ptr<CancelToken> token);
    QCoro::Task<> runImageStage(SearchRequest request, QSet<QString> localPaths, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runImageFollowUp(SearchQuery query, int limit, QSet<QString> narrowedPaths, std::int64_t generation,
                                   std::shared_ptr<CancelToken> token);
    QCoro::Task<> runPreviewSequence(IndexedItem selected, QuickLookSequence::Kind kind,
                                     std::shared_ptr<CancelToken> token);
    void afterLocalAnswer(const SearchRequest& request, ItemList answer, ListCompleteness completeness,
                          bool recordHistory);
    void recordHistoryIfTyped(const SearchRequest& request);
    // The status line's word on what a published answer may lack.
    void reportAnswerNotes(const LocalAnswer& answer);
    void reportInvalidExpression(const SearchQuery& query);
    QString refreshSearchHint() const;
    // One pass of the image-content search: what it asked, for which request.
    struct ImagePass {
        SearchQuery query;
        int limit = 0;
        QSet<QString> excludingPaths;
        std::int64_t generation = 0;
    };
    // The shared-drive tag store and index an image search reads; none when
    // the shared drives are not searched.
    struct ServerTagSource {
        std::shared_ptr<ImageTagWrites> tags;
        std::shared_ptr<IndexStore> index;
    };
    ServerTagSource serverTagSource() const;
    // ImageFuzzySearch over the tag stores, or the service hook when one is
    // set. The tag stores' answer is reused while no new tag could change it
    // (TagHitsMemo); one kept only for the refresh interval has the pass run
    // again once the interval is over (startImageRefresh()).
    QCoro::Task<ItemList> imageFuzzySearch(ImagePass pass, std::shared_ptr<CancelToken> token);
    void startImageRefresh(const ImagePass& pass, Clock::TimePoint at);
    QCoro::Task<> runImageRefresh(ImagePass pass, Clock::TimePoint at, std::shared_ptr<CancelToken> token);
    void scheduleSKURelatedIfNeeded(const SearchQuery& query, std::int64_t generation, const ItemList& baseHits);
    // The folder hints learned more: the shown lists are ordered again.
    void reorderShownFolders();
    QString keptSelection(const std::string& previous);
    // Puts a renamed item the index does not list yet in the place of its old
    // path; where it stands in `items` then, or -1.
    qsizetype placeRenamedItem(ItemList& items);

    const AppContext& m_context;
    Links m_links;
    std::unique_ptr<SearchConstraints> m_constraints;
    std::unique_ptr<SearchHistory> m_history;
    std::unique_ptr<InlineRename> m_inlineRename;
    TypingClock m_typingClock;

    QString m_searchText;
    // The text changed, or was picked again, since the last recorded search:
    // searching the same text again (after a change on disk) records nothing.
    bool m_searchTextUnrecorded = false;
    ItemList m_results;
    ItemList m_imageFuzzyResults;
    ItemList m_skuRelatedResults;
    ItemList m_serverResults;
    QString m_selectedItemID;
    // The selection is publishing's own pick of the first result, not one
    // made by a click, a key or an action: the next publication replaces it.
    bool m_selectionIsAutomatic = false;
    // A rename's old and new path while the published lists may lag behind
    // it, and the item as it now is on disk (none when it cannot be read).
    struct RenamedSelection {
        std::string oldPath;
        std::string newPath;
        std::optional<IndexedItem> item;
    };
    std::optional<RenamedSelection> m_renamedSelection;
    bool m_isSearching = false;
    QString m_searchingHint;
    std::optional<QUuid> m_activeManualSearchToken;  // newest request that asked for progress

    SearchParser m_parser;
    SearchEngine m_localSearchEngine;  // stateless
    // Handles of the jobs a newer request replaces; the owner of each cancels
    // it before storing the next one.
    JobHandle m_searchTask;
    JobHandle m_searchPauseCompletionTask;
    JobHandle m_previewBuildTask;
    JobHandle m_imageRefreshTask;  // a pass to run again once new tags may be asked for
    std::optional<ImagePass> m_lastImagePass;  // of the model's own image search
    std::int64_t m_searchGeneration = 0;
    std::optional<SearchQuery> m_lastDisplayedQuery;
    QString m_lastAppliedResultSignature;
    bool m_displayedResultsComplete = false;
    TagHitsMemo m_tagHits;
    std::unique_ptr<FolderHints> m_folderHints;
    std::unique_ptr<SkuRelatedSearch> m_skuRelated;
    std::unique_ptr<ServerSearchStage> m_serverStage;
};

} // namespace pallix
