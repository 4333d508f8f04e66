// SearchSession: the road of one search, publishing, the selection, the
// constraints and the history. scheduleSearch() makes the newest request win
// and answers from memory when it can; the search job answers from the local
// index while the user types and completes the answer once they pause; the
// shared-drive and image stages follow a complete answer.

#include "App/Search/SearchSession.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QPointer>
#include <QUrl>

#include "App/ImageFuzzySearch.h"
#include "App/Search/ServerSearchStage.h"
#include "App/Search/SkuRelatedSearch.h"
#include "App/SystemPaths.h"
#include "App/TypingPause.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Preview/FolderContentInspector.h"
#include "Core/Preview/PreviewController.h"
#include "Core/Preview/ThumbnailProvider.h"
#include "Platform/Text.h"

namespace pallix {

std::string_view rawValue(ResultDisplayMode mode)
{
    return mode == ResultDisplayMode::List ? "list" : "grid";
}

std::optional<ResultDisplayMode> resultDisplayModeFromRaw(std::string_view raw)
{
    if (raw == "list")
        return ResultDisplayMode::List;
    if (raw == "grid")
        return ResultDisplayMode::Grid;
    return std::nullopt;
}

SearchSession::SearchSession(const AppContext& context, Links links, QObject* parent)
    : QObject(parent),
      m_context(context),
      m_links(std::move(links)),
      m_searchHistory(loadSearchHistory(context.defaults())),
      m_parser(context.environment().clock),
      m_skuRelated(std::make_unique<SkuRelatedSearch>(context, *this)),
      m_serverStage(std::make_unique<ServerSearchStage>(
          context, *this, [this] { return m_links.indexActivity && m_links.indexActivity().serverIndexing; }))
{
}

SearchSession::~SearchSession()
{
    for (JobHandle* job : {&m_searchTask, &m_searchPauseCompletionTask, &m_previewBuildTask, &m_folderHintUpdateTask})
        job->cancel();
    m_skuRelated->cancel();
    m_serverStage->cancel();
}

void SearchSession::userTyped(const QString& text)
{
    noteUserSearchInput();
    setSearchText(text);
    scheduleSearch(false, false);
}

void SearchSession::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    emit searchTextChanged();
}

void SearchSession::setResults(ItemList items)
{
    m_results = std::move(items);
    emit resultsChanged();
}

void SearchSession::setImageFuzzyResults(ItemList items)
{
    m_imageFuzzyResults = std::move(items);
    emit imageFuzzyResultsChanged();
}

void SearchSession::setSkuRelatedResults(ItemList items)
{
    m_skuRelatedResults = std::move(items);
    emit skuRelatedResultsChanged();
}

void SearchSession::setServerResults(ItemList items)
{
    m_serverResults = std::move(items);
    emit serverResultsChanged();
}

void SearchSession::forgetServerResults()
{
    setServerResults({});
    m_serverStage->forgetShownQuery();
}

void SearchSession::setSelectedItemID(const QString& id)
{
    // Announced also when unchanged: the views scroll to the selection after
    // every publication.
    m_selectedItemID = id;
    m_selectionIsAutomatic = false;
    emit selectedItemIDChanged();
}

void SearchSession::setDisplayMode(ResultDisplayMode mode)
{
    if (mode == m_displayMode)
        return;
    m_displayMode = mode;
    emit displayModeChanged();
}

void SearchSession::setSearchHistory(const QStringList& history)
{
    if (history == m_searchHistory)
        return;
    m_searchHistory = history;
    emit searchHistoryChanged();
}

void SearchSession::setInlineRenameTargetID(const QString& id)
{
    if (id == m_inlineRenameTargetID)
        return;
    m_inlineRenameTargetID = id;
    emit inlineRenameTargetIDChanged();
}

void SearchSession::setInlineRenameDraft(const QString& draft)
{
    if (draft == m_inlineRenameDraft)
        return;
    m_inlineRenameDraft = draft;
    emit inlineRenameDraftChanged();
}

const std::string& SearchSession::searchHistoryKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::SearchHistory);
    return key;
}

std::optional<Clock::Duration> SearchSession::sinceLastUserInput() const
{
    if (!m_lastUserSearchInputAt)
        return std::nullopt;
    return clock().now() - *m_lastUserSearchInputAt;
}

double SearchSession::secondsSinceLastUserInput() const
{
    const std::optional<Clock::Duration> since = sinceLastUserInput();
    if (!since)
        return std::numeric_limits<double>::infinity();
    return std::chrono::duration<double>(*since).count();
}

const std::shared_ptr<IndexStore>& SearchSession::localStore() const
{
    return m_context.stores().local;
}

void SearchSession::refreshIfSearching(bool immediate)
{
    if (hasSearchIntent(currentQuerySnapshot()))
        scheduleSearch(immediate, false);
}

QCoro::Task<> SearchSession::refreshResultsImmediately(std::optional<std::int64_t> searchGeneration)
{
    QPointer<SearchSession> guard(this);
    const SearchQuery query = currentQuerySnapshot();
    if (!hasSearchIntent(query)) {
        setResults({});
        setSelectedItemID({});
        co_return;
    }
    const int limit = static_cast<int>(settings().searchLimit);
    auto searching = m_context.onPool(
        [store = localStore(), query, limit] { return completeLocalSearch(*store, query, limit, nullptr); });
    LocalAnswer answer = co_await searching;
    if (!guard || (searchGeneration && *searchGeneration != m_searchGeneration))
        co_return;
    applySearchResults(std::move(answer.items), query, answer.completeness);
}

void SearchSession::clearScope()
{
    if (!m_scopedPath.isEmpty() || m_scopeHistoryIndex >= 1)
        applyScopedPath(QString(), true);
}


using namespace std::chrono_literals;
using namespace searchbudgets;

namespace {

constexpr auto kRequestPause = 4ms;
constexpr auto kImageSecondPassDelay = 55ms;

ItemList toList(std::vector<IndexedItem> items)
{
    return ItemList(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
}

QSet<QString> pathsOf(const ItemList& items)
{
    QSet<QString> out;
    out.reserve(items.size());
    for (const IndexedItem& item : items)
        out.insert(QString::fromStdString(item.path()));
    return out;
}

// Every field but the text and its tokens.
bool sameConstraints(const SearchQuery& a, const SearchQuery& b)
{
    return a.contentFilters == b.contentFilters && a.caseSensitive == b.caseSensitive && a.matchMode == b.matchMode
           && a.sortField == b.sortField && a.ascending == b.ascending && a.pathFilter == b.pathFilter
           && a.extensionFilter == b.extensionFilter && a.typeFilter == b.typeFilter
           && a.modifiedAfter == b.modifiedAfter && a.useRegularExpression == b.useRegularExpression
           && a.wildcardPattern == b.wildcardPattern && a.excludeSystemJunk == b.excludeSystemJunk;
}

// The text a search reads: cut to its first kMaxSearchTextLength units,
// never inside a surrogate pair.
QString searchedText(const QString& text)
{
    if (text.size() <= kMaxSearchTextLength)
        return text;
    qsizetype end = kMaxSearchTextLength;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

} // namespace

SearchQuery SearchSession::currentQuerySnapshot() const
{
    SearchQuery query = m_parser.parse(searchedText(m_searchText).toStdString(), m_contentFilters, m_caseSensitive,
                                       m_matchMode, m_sortField, m_sortAscending,
                                       settings().excludeSystemJunkFromIndex);
    if (!m_scopedPath.isEmpty())
        query.pathFilter = m_scopedPath.toStdString();
    return query;
}

bool SearchSession::hasSearchIntent(const SearchQuery& query)
{
    // The store decides it, for its own searches as for the window's.
    return IndexStore::hasSearchIntent(query);
}

bool SearchSession::canNarrow(const SearchQuery& query, const ItemList& shown, const std::optional<SearchQuery>& shownQuery)
{
    if (shown.isEmpty() || !shownQuery)
        return false;
    const std::string& previous = shownQuery->rawText;
    if (previous.empty() || query.rawText.empty() || !query.rawText.starts_with(previous))
        return false;
    // A longer text only narrows where every hit of it was a hit of the shorter
    // one: an exact or suffix match, or a pattern, can match other names.
    const bool narrowingMode = query.matchMode == SearchMatchMode::Contains
                               || query.matchMode == SearchMatchMode::Prefix;
    return narrowingMode && !query.useRegularExpression && sameConstraints(query, *shownQuery);
}

bool SearchSession::canNarrowImmediately(const SearchQuery& query) const
{
    return canNarrow(query, m_results, m_lastDisplayedQuery);
}

bool SearchSession::canBroadenWithFastPreview(const SearchQuery& query) const
{
    if (!m_lastDisplayedQuery)
        return false;
    const std::string& previous = m_lastDisplayedQuery->rawText;
    return !previous.empty() && !query.rawText.empty() && query.rawText.size() < previous.size()
           && previous.starts_with(query.rawText) && sameConstraints(query, *m_lastDisplayedQuery);
}

QString SearchSession::refreshSearchHint() const
{
    QString hint = QStringLiteral("正在重新搜索");
    const AppSettings& s = settings();
    hint += s.autoIndexExternalVolumes ? QStringLiteral("（范围：本机 + 外接硬盘）")
                                                : QStringLiteral("（范围：本机）");
    if (!s.indexedRoots.empty())
        hint += QStringLiteral("（含手动添加目录）");
    return hint;
}

SearchSession::LocalAnswer SearchSession::completeLocalSearch(IndexStore& store, const SearchQuery& query, int limit,
                                                   const CancelToken* cancel)
{
    // Until the inverted indexes stand the store draws its candidates from a
    // capped scan or a row budget of the database, so only an answer taken with
    // the indexes complete before and after counts as whole.
    const bool indexedBefore = store.isSearchIndexesComplete();
    IndexStore::SearchNotes notes;
    std::vector<IndexedItem> items = store.search(query, limit, cancel, &notes);
    const bool indexedAfter = store.isSearchIndexesComplete();
    LocalAnswer answer = localAnswer(std::move(items), indexedBefore && indexedAfter && !notes.expressionTooComplex
                                                           ? ListCompleteness::Complete
                                                           : ListCompleteness::Partial);
    answer.expressionTooComplex = notes.expressionTooComplex;
    return answer;
}

void SearchSession::reportAnswerNotes(const LocalAnswer& answer)
{
    if (answer.expressionTooComplex)
        m_context.setStatusMessage(QStringLiteral("正则表达式过于复杂，部分结果可能缺失"));
}

SearchSession::LocalAnswer SearchSession::localAnswer(std::vector<IndexedItem> items, ListCompleteness completeness)
{
    // Made here, on the worker: for 10,000 items these copies would cost the
    // GUI thread a good part of a frame.
    LocalAnswer answer;
    answer.items = toList(std::move(items));
    answer.paths = pathsOf(answer.items);
    answer.completeness = completeness;
    return answer;
}

bool SearchSession::isUserTyping() const
{
    return m_lastUserSearchInputAt && clock().now() - *m_lastUserSearchInputAt < kTypingThreshold;
}

void SearchSession::setIsSearching(bool searching)
{
    if (searching == m_isSearching)
        return;
    m_isSearching = searching;
    emit isSearchingChanged();
}

void SearchSession::setSearchingHint(const QString& hint)
{
    if (hint == m_searchingHint)
        return;
    m_searchingHint = hint;
    emit searchingHintChanged();
}

void SearchSession::clearProgress(const SearchRequest& request)
{
    // A request without progress that replaced one with it answers for it too:
    // the older one will never publish, and the window would spin on.
    if (!request.progressToken || m_activeManualSearchToken == request.progressToken)
        setIsSearching(false);
}

void SearchSession::scheduleSearch(bool immediate, bool showProgress)
{
    m_searchTask.cancel();
    SearchRequest request;
    request.immediate = immediate;
    request.generation = ++m_searchGeneration;
    request.query = currentQuerySnapshot();
    if (m_searchText.size() > kMaxSearchTextLength)
        m_context.setStatusMessage(QStringLiteral("搜索内容过长，只按前 %1 个字符搜索").arg(kMaxSearchTextLength));
    request.limit = static_cast<int>(settings().searchLimit);
    request.includeLocal = settings().includeLocalInSearch;
    request.includeServer = settings().includeServerInSearch;
    request.runImageStage = request.includeLocal && shouldRunImageFuzzySearch(request.query);
    request.broadening = canBroadenWithFastPreview(request.query);
    if (showProgress) {
        request.progressToken = QUuid::createUuid();
        m_activeManualSearchToken = request.progressToken;
        setIsSearching(true);
        setSearchingHint(refreshSearchHint());
    }

    if (!hasSearchIntent(request.query)) {
        setImageFuzzyResults({});
        setSkuRelatedResults({});
        setServerResults({});
        setIsSearching(false);
        if (request.progressToken)
            setSearchingHint({});
        applySearchResults({}, request.query);
        return;
    }
    if (!request.runImageStage)
        setImageFuzzyResults({});
    if (!shouldRunSKURelated(request.query))
        setSkuRelatedResults({});

    const qsizetype shown = m_results.size();
    if (shown <= kMaxNarrowedInMemory && canNarrowImmediately(request.query)) {
        // Complete only when the shown list was, and was not cut at the limit.
        const bool complete = m_displayedResultsComplete && shown < request.limit;
        const std::vector<IndexedItem> candidates(m_results.begin(), m_results.end());
        applySearchResults(toList(m_localSearchEngine.search(candidates, request.query, request.limit)),
                           request.query, complete ? ListCompleteness::Complete : ListCompleteness::Partial);
        clearProgress(request);
        if (complete) {
            if (request.runImageStage) {
                m_searchTask = JobHandle::start();
                runImageFollowUp(request.query, request.limit, pathsOf(m_results), request.generation);
            }
            return;
        }
    }
    m_searchTask = JobHandle::start();
    runSearchTask(std::move(request), m_searchTask.token());
}

QCoro::Task<> SearchSession::runSearchTask(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    if (!request.immediate && !request.broadening) {
        // A request replaced within this pause never reaches a store.
        auto pausing = clock().sleepFor(kRequestPause, token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled())
            co_return;
    }
    if (!request.immediate && !isCurrent(request.generation))
        co_return;

    const bool typing = isUserTyping();
    if (request.broadening && request.includeLocal) {
        // Ahead of the local search rather than beside it: a preview that came
        // in after the answer would replace it with its shorter list.
        auto previewing = runFastPreview(request, token);
        co_await previewing;
        if (!guard || token->isCancelled())
            co_return;
    }

    QSet<QString> localPaths;
    if (!request.includeLocal) {
        if (isCurrent(request.generation)) {
            recordSearchHistoryIfNeeded(QString::fromStdString(request.query.rawText));
            clearProgress(request);
        }
    } else if (typing) {
        auto searching = m_context.onPool([store = localStore(), query = request.query, limit = typingLimit(request.limit),
                                 cap = typingCandidateCap(request.limit), token] {
            if (!store->isSearchCacheReady())
                return toList(store->typingFastDatabaseSearch(query, limit));
            return toList(store->quickMemorySearch(query, limit, cap, token.get()));
        });
        ItemList answer = co_await searching;
        if (!guard || token->isCancelled())
            co_return;
        if (isCurrent(request.generation))
            afterLocalAnswer(request, std::move(answer), ListCompleteness::Partial, true);
        m_searchPauseCompletionTask.cancel();
        m_searchPauseCompletionTask = JobHandle::start();
        runLocalPauseCompletion(request, m_searchPauseCompletionTask.token());
        co_return;
    } else {
        auto searching = m_context.onPool([store = localStore(), query = request.query, limit = request.limit, token] {
            return completeLocalSearch(*store, query, limit, token.get());
        });
        LocalAnswer answer = co_await searching;
        if (!guard || token->isCancelled())
            co_return;
        localPaths = std::move(answer.paths);
        if (isCurrent(request.generation)) {
            reportAnswerNotes(answer);
            afterLocalAnswer(request, std::move(answer.items), answer.completeness, true);
        }
    }
    auto following = runSideStages(request, std::move(localPaths), typing, token);
    co_await following;
}

void SearchSession::afterLocalAnswer(const SearchRequest& request, ItemList answer, ListCompleteness completeness,
                                bool recordHistory)
{
    applySearchResults(answer, request.query, completeness);
    scheduleSKURelatedIfNeeded(request.query, request.generation, answer);
    if (recordHistory) {
        recordSearchHistoryIfNeeded(QString::fromStdString(request.query.rawText));
        clearProgress(request);
    }
}

QCoro::Task<> SearchSession::runFastPreview(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    auto previewing = m_context.onPool([store = localStore(), query = request.query, limit = previewLimit(request.limit),
                              cap = previewCandidateCap(request.limit),
                              token]() -> std::optional<ItemList> {
        if (!store->isSearchCacheReady())
            return std::nullopt;
        return toList(store->quickMemorySearch(query, limit, cap, token.get()));
    });
    std::optional<ItemList> preview = co_await previewing;
    if (!guard || !preview || !isCurrent(request.generation))
        co_return;
    applySearchResults(std::move(*preview), request.query, ListCompleteness::Partial);
}

QCoro::Task<> SearchSession::runLocalPauseCompletion(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    // Waits for the pause itself: the keystroke was stamped right before the
    // request, so a fixed short wait would always find the user still typing
    // and leave the capped typing answer on screen for good.
    do {
        auto pausing = clock().sleepFor(untilTypingEnds(sinceLastUserInput()), token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled() || !isCurrent(request.generation))
            co_return;
    } while (isUserTyping());

    auto searching = m_context.onPool([store = localStore(), query = request.query, limit = request.limit, token] {
        // While the indexes are still being built, a wide scan of the cached
        // items answers sooner than the store's search with its database supplement.
        if (store->isSearchCacheReady() && !store->isSearchIndexesComplete())
            return localAnswer(store->quickMemorySearch(query, limit, pauseCompletionCandidateCap(limit), token.get()),
                               ListCompleteness::Partial);
        return completeLocalSearch(*store, query, limit, token.get());
    });
    LocalAnswer answer = co_await searching;
    if (!guard || token->isCancelled())
        co_return;
    if (isCurrent(request.generation)) {
        reportAnswerNotes(answer);
        afterLocalAnswer(request, std::move(answer.items), answer.completeness, false);
    }
    auto following = runSideStages(request, std::move(answer.paths), false, token);
    co_await following;
}

QCoro::Task<> SearchSession::runSideStages(SearchRequest request, QSet<QString> localPaths, bool typing,
                                      std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    if (request.includeServer) {
        auto serverStage = m_serverStage->run(request.query, request.limit, request.generation, typing, token);
        const bool goOn = co_await serverStage;
        if (!guard || !goOn || token->isCancelled())
            co_return;
    } else if (isCurrent(request.generation)) {
        forgetServerResults();
    }
    auto imageStage = runImageStage(request, std::move(localPaths), token);
    co_await imageStage;
}

QCoro::Task<> SearchSession::runImageStage(SearchRequest request, QSet<QString> localPaths,
                                      std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    if (!request.runImageStage) {
        if (isCurrent(request.generation))
            setImageFuzzyResults({});
        co_return;
    }
    // A small first pass shows something soon; an empty one keeps the
    // previous images rather than blanking the section between passes.
    auto firstPass = imageFuzzySearch(request.query, kImageFirstPassLimit, localPaths);
    ItemList first = co_await firstPass;
    if (!guard)
        co_return;
    if (isCurrent(request.generation) && !first.isEmpty())
        setImageFuzzyResults(std::move(first));

    auto pausing = clock().sleepFor(kImageSecondPassDelay, token);
    const bool slept = co_await pausing;
    if (!guard || !slept || token->isCancelled())
        co_return;
    auto secondPass = imageFuzzySearch(request.query, imageSecondPassLimit(request.limit), std::move(localPaths));
    ItemList second = co_await secondPass;
    if (guard && isCurrent(request.generation))
        setImageFuzzyResults(std::move(second));
}

QCoro::Task<> SearchSession::runImageFollowUp(SearchQuery query, int limit, QSet<QString> narrowedPaths,
                                         std::int64_t generation)
{
    QPointer<SearchSession> guard(this);
    auto searching = imageFuzzySearch(std::move(query), imageFollowUpLimit(limit), std::move(narrowedPaths));
    ItemList found = co_await searching;
    if (guard && isCurrent(generation))
        setImageFuzzyResults(std::move(found));
}

bool SearchSession::shouldRunImageFuzzySearch(const SearchQuery& query) const
{
    return settings().enableImageFuzzySearch && !query.useRegularExpression && !query.wildcardPattern
           && !query.extensionFilter && !query.typeFilter && !query.modifiedAfter && !query.pathFilter
           && !query.tokens.empty()
           && query.contentFilters != std::set<SearchContentFilter>{SearchContentFilter::Folders};
}

QCoro::Task<ItemList> SearchSession::imageFuzzySearch(SearchQuery query, int limit, QSet<QString> excludingPaths)
{
    const AppServices& services = m_context.environment().services;
    if (services.imageFuzzySearch) {
        auto searching = services.imageFuzzySearch(std::move(query), limit, std::move(excludingPaths));
        ItemList found = co_await searching;
        co_return found;
    }
    std::shared_ptr<ImageTagStore> server;
    const AppStores& stores = m_context.stores();
    if (hasSharedDriveFeatures(AppEditionInfo::current()) && settings().includeServerInSearch)
        server = stores.serverImageTags;
    const ImageFuzzySearch::Plan plan = ImageFuzzySearch::plan(query, limit, server != nullptr);
    if (plan.groups.empty())
        co_return ItemList();
    // Only values and shared stores cross to the worker; the model may be gone
    // when it answers, and finish() does not need it.
    auto gathering = m_context.onPool([plan, index = stores.local, local = stores.localImageTags, server,
                                       serverIndex = server ? stores.server : nullptr] {
        return ImageFuzzySearch::gather(plan, *index, *local, server.get(), serverIndex.get());
    });
    std::vector<IndexedItem> items = co_await gathering;
    co_return ImageFuzzySearch::finish(std::move(items), excludingPaths, query.sortField, query.ascending, plan.cap);
}

bool SearchSession::shouldRunSKURelated(const SearchQuery& query) const
{
    if (!settings().includeLocalInSearch || query.useRegularExpression || query.wildcardPattern || query.pathFilter
        || query.extensionFilter || query.typeFilter
        || query.contentFilters != std::set<SearchContentFilter>{SearchContentFilter::All}
        || query.nameWords.size() != 1)
        return false;
    // The word as typed: the tokens are cut at "-" and "_", which a code may hold.
    const QString token = QString::fromStdString(query.nameWords.front()).trimmed();
    if (text::graphemeCount(token.toStdString()) < 4)
        return false;
    bool hasDigit = false;
    for (const char32_t c : token.toUcs4()) {
        if (c == U'-' || c == U'_')
            continue;
        if (!text::isLetterMarkOrNumber(c))
            return false;
        hasDigit = hasDigit || QChar::category(c) == QChar::Number_DecimalDigit;
    }
    return hasDigit;
}

void SearchSession::scheduleSKURelatedIfNeeded(const SearchQuery& query, std::int64_t generation, const ItemList& baseHits)
{
    if (shouldRunSKURelated(query))
        m_skuRelated->schedule(baseHits, generation);
}



namespace {

using namespace std::chrono_literals;

constexpr qsizetype kWarmupKeyFolders = 40;
constexpr qsizetype kWarmupProbedFolders = 120;
constexpr auto kWarmupPause = 320ms;

// Roots of the shared drives, standardized; empty ones dropped.
std::vector<std::string> standardizedRoots(const std::vector<std::string>& roots)
{
    std::vector<std::string> out;
    for (const std::string& root : roots) {
        if (root.empty())
            continue;
        std::string standardized = paths::standardize(root);
        if (!standardized.empty())
            out.push_back(std::move(standardized));
    }
    return out;
}

ItemList withoutItemsUnder(const ItemList& items, const std::vector<std::string>& roots)
{
    if (roots.empty() || items.isEmpty())
        return items;
    ItemList kept;
    kept.reserve(items.size());
    for (const IndexedItem& item : items) {
        const std::string path = paths::standardize(item.path());
        const bool underRoot = std::any_of(roots.begin(), roots.end(),
                                           [&](const std::string& root) { return paths::isUnder(path, root); });
        if (!underRoot)
            kept.append(item);
    }
    return kept;
}

// Identifiers are compared under canonical equivalence: a path typed or
// pasted in decomposed form still names the same item. The selection's own
// normal form is made once, not once per item of a 10,000-item list.
class IdMatcher {
public:
    explicit IdMatcher(const std::string& id) : m_id(id), m_ascii(text::isAscii(id)), m_nfc(text::toNFC(id)) {}
    bool matches(const std::string& other) const
    {
        if (other == m_id)
            return true;
        if (m_ascii && text::isAscii(other))
            return false;
        return text::toNFC(other) == m_nfc;
    }

private:
    const std::string& m_id;
    bool m_ascii;
    std::string m_nfc;
};

bool containsID(const ItemList& items, const IdMatcher& id)
{
    return std::any_of(items.begin(), items.end(), [&](const IndexedItem& item) { return id.matches(item.id()); });
}

} // namespace

ItemList SearchSession::applyFolderAwareFolderOrderingIfNeeded(const ItemList& items, const SearchQuery& query)
{
    if (query.sortField != SearchSortField::Name || items.size() > FolderOrdering::kMaxOrderedItems)
        return items;
    ItemList folders;
    for (const IndexedItem& item : items) {
        if (item.isDirectory())
            folders.append(item);
    }
    if (folders.isEmpty())
        return items;
    ItemList ordered = FolderOrdering::ordered(items, query, m_folderHintCache);
    scheduleFolderHintWarmupIfNeeded(folders, query);
    return ordered;
}

int SearchSession::folderCategory(const IndexedItem& item) const
{
    return FolderOrdering::folderCategory(item, m_folderHintCache);
}

void SearchSession::scheduleFolderHintWarmupIfNeeded(const ItemList& folders, const SearchQuery& query)
{
    if (query.sortField != SearchSortField::Name)
        return;
    // Keyed by the first folders only: a republished list, or one whose top
    // folders are unchanged, costs no inspector work.
    QString key;
    for (qsizetype i = 0; i < std::min<qsizetype>(folders.size(), kWarmupKeyFolders); ++i) {
        if (i > 0)
            key += QChar(0x1F);
        key += QString::fromStdString(folders[i].id());
    }
    if (key == m_lastFolderHintWarmupKey)
        return;
    m_lastFolderHintWarmupKey = key;
    m_folderHintUpdateTask.cancel();
    std::vector<std::string> paths;
    for (qsizetype i = 0; i < std::min<qsizetype>(folders.size(), kWarmupProbedFolders); ++i)
        paths.push_back(folders[i].path());
    m_folderHintUpdateTask = JobHandle::start();
    runFolderHintWarmup(std::move(paths), m_searchGeneration, m_folderHintUpdateTask.token());
}

QCoro::Task<> SearchSession::runFolderHintWarmup(std::vector<std::string> paths, std::int64_t generation,
                                            std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    std::erase_if(paths, [&](const std::string& path) { return m_folderHintCache.contains(path); });
    if (paths.empty())
        co_return;
    auto source = m_context.environment().folderContentHint;
    if (!source)
        source = [](const std::string& folder) { return FolderContentInspector::shared().hint(folder); };
    // Cancelling only shortens the pause below: the lookups are cheap to
    // finish, and their hints still count when no newer search started.
    auto probing = m_context.onPool([source, paths] {
        std::vector<std::pair<std::string, FolderHint>> found;
        found.reserve(paths.size());
        for (const std::string& path : paths) {
            const FolderContentInspector::FolderContentHint hint = source(path);
            found.emplace_back(path, FolderHint{hint.hasVideo, hint.hasImage});
        }
        return found;
    });
    const std::vector<std::pair<std::string, FolderHint>> found = co_await probing;
    if (!guard || found.empty())
        co_return;
    auto pausing = clock().sleepFor(kWarmupPause, token);
    co_await pausing;
    if (!guard || generation != m_searchGeneration)
        co_return;
    for (const auto& [path, hint] : found)
        m_folderHintCache[path] = hint;

    const SearchQuery query = currentQuerySnapshot();
    ItemList reordered = applyFolderAwareFolderOrderingIfNeeded(m_results, query);
    if (resultSignature(reordered) != resultSignature(m_results))
        setResults(std::move(reordered));
    if (settings().includeServerInSearch && !m_serverResults.isEmpty()) {
        ItemList reorderedServer = applyFolderAwareFolderOrderingIfNeeded(m_serverResults, query);
        if (resultSignature(reorderedServer) != resultSignature(m_serverResults))
            setServerResults(std::move(reorderedServer));
    }
}

QString SearchSession::resultSignature(const ItemList& items)
{
    const qsizetype n = std::min<qsizetype>(items.size(), kSignatureItems);
    QString signature = QString::number(items.size()) + QLatin1Char('|');
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0)
            signature += QChar(0x1E);
        signature += QString::fromStdString(items[i].id());
    }
    return signature;
}

void SearchSession::applySearchResults(ItemList items, const SearchQuery& query, ListCompleteness completeness)
{
    const AppSettings& s = settings();
    if (hasSharedDriveFeatures(AppEditionInfo::current()) && s.includeLocalInSearch && !s.includeServerInSearch)
        items = withoutItemsUnder(items, standardizedRoots(s.serverIndexedRoots));

    const QString signature = resultSignature(items);
    if (signature != m_lastAppliedResultSignature) {
        m_lastAppliedResultSignature = signature;
        // A new session drops queued renders; doing that on every keystroke
        // would starve the list the user finally stops at.
        if (secondsSinceLastUserInput() >= kPreviewSessionPauseSeconds) {
            ThumbnailProvider* injected = m_context.environment().thumbnails;
            ThumbnailProvider& thumbnails = injected ? *injected : ThumbnailProvider::shared();
            thumbnails.beginNewPreviewSessionThrottled(signature, kPreviewSessionMinIntervalMs);
        }
    }
    if (secondsSinceLastUserInput() >= kFolderOrderingPauseSeconds)
        items = applyFolderAwareFolderOrderingIfNeeded(items, query);

    // The first result this publishing picked on an earlier list is no
    // selection of the user's: kept while still listed, it stayed on a row
    // that a later, complete list ranks lower, and Return opened that one.
    const std::string previous = m_selectionIsAutomatic ? std::string() : m_selectedItemID.toStdString();
    setResults(std::move(items));
    m_lastDisplayedQuery = query;
    m_displayedResultsComplete = completeness == ListCompleteness::Complete;

    QString selection;
    if (!previous.empty()) {
        const IdMatcher id(previous);
        if (containsID(m_results, id) || containsID(m_imageFuzzyResults, id) || containsID(m_serverResults, id))
            selection = m_selectedItemID;
    }
    const bool picked = selection.isEmpty() && !m_results.isEmpty();
    if (picked)
        selection = QString::fromStdString(m_results.front().id());
    setSelectedItemID(selection);
    m_selectionIsAutomatic = picked;
}



namespace {

// Paths are one text under canonical equivalence: a selection typed or pasted
// in decomposed form still names its item.
const IndexedItem* findByPath(const ItemList& items, const std::string& path)
{
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const IndexedItem& item) { return text::canonicallyEqual(item.path(), path); });
    return it == items.end() ? nullptr : &*it;
}

} // namespace

std::optional<IndexedItem> SearchSession::selectedItem() const
{
    if (m_selectedItemID.isEmpty())
        return std::nullopt;
    const std::string path = m_selectedItemID.toStdString();
    for (const ItemList* list : {&m_results, &m_imageFuzzyResults, &m_serverResults}) {
        if (const IndexedItem* item = findByPath(*list, path))
            return *item;
    }
    return std::nullopt;
}

void SearchSession::moveSelection(int offset)
{
    if (m_results.isEmpty()) {
        setSelectedItemID({});
        return;
    }
    const IndexedItem* selected =
        m_selectedItemID.isEmpty() ? nullptr : findByPath(m_results, m_selectedItemID.toStdString());
    if (!selected) {
        setSelectedItemID(QString::fromStdString(m_results.front().id()));
        return;
    }
    const qsizetype index = std::clamp<qsizetype>((selected - m_results.constData()) + offset, 0, m_results.size() - 1);
    setSelectedItemID(QString::fromStdString(m_results[index].id()));
}

void SearchSession::selectFirstResult()
{
    setSelectedItemID(m_results.isEmpty() ? QString() : QString::fromStdString(m_results.front().id()));
}

void SearchSession::previewSelected()
{
    const std::optional<IndexedItem> selected = selectedItem();
    if (!selected)
        return;
    m_previewBuildTask.cancel();
    const QUrl url = systempaths::url(selected->path());
    // Space on what the panel already shows (the item or its folder's
    // sequence) closes it, and no sequence follows to open it again.
    if (m_links.preview->isShowing(url)) {
        m_links.preview->closePanel();
        return;
    }
    const std::optional<QuickLookSequence::Kind> kind = QuickLookSequence::kindOf(*selected);
    // The panel opens on the item at once; the folder's sequence follows.
    m_links.preview->togglePreview({url}, 0);
    if (!kind)
        return;
    m_previewBuildTask = JobHandle::start();
    runPreviewSequence(*selected, *kind, m_previewBuildTask.token());
}

QCoro::Task<> SearchSession::runPreviewSequence(IndexedItem selected, QuickLookSequence::Kind sequenceKind,
                                           std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    // The lists are implicitly shared: these copies cost nothing until the
    // model publishes new ones.
    auto building = m_context.onPool([selected, sequenceKind, results = m_results, images = m_imageFuzzyResults,
                            sku = m_skuRelatedResults, server = m_serverResults] {
        return QuickLookSequence::build(selected, sequenceKind, QuickLookSequence::perFolderLimit(sequenceKind),
                                        results, images, sku, server);
    });
    const QList<IndexedItem> sequence = co_await building;
    if (!guard || token->isCancelled())
        co_return;
    QList<QUrl> urls;
    int index = -1;
    for (const IndexedItem& item : sequence) {
        if (index < 0 && item.path() == selected.path())
            index = static_cast<int>(urls.size());
        urls.append(systempaths::url(item.path()));
    }
    // A selection that moved meanwhile keeps the panel as it was opened.
    if (m_selectedItemID.isEmpty() || !text::canonicallyEqual(m_selectedItemID.toStdString(), selected.path()))
        co_return;
    // Replaced, not toggled: toggling would close the panel just opened when
    // the sequence is that one item. A panel closed meanwhile stays closed.
    m_links.preview->replaceShown(urls, std::max(index, 0));
}



namespace {

constexpr double kZoomPerDelta = 0.018;
constexpr double kMinZoomStep = 0.12;
constexpr double kMaxZoomStep = 0.28;
constexpr double kMinGridZoom = 0.7;
constexpr double kMaxGridZoom = 1.9;

} // namespace

void SearchSession::setCaseSensitive(bool caseSensitive)
{
    if (caseSensitive == m_caseSensitive)
        return;
    m_caseSensitive = caseSensitive;
    emit caseSensitiveChanged();
}

void SearchSession::setMatchMode(SearchMatchMode mode)
{
    if (mode == m_matchMode)
        return;
    m_matchMode = mode;
    emit matchModeChanged();
}

void SearchSession::updateSort(SearchSortField field)
{
    if (field != m_sortField) {
        m_sortField = field;
        emit sortFieldChanged();
        if (!m_sortAscending) {
            m_sortAscending = true;
            emit sortAscendingChanged();
        }
    } else {
        m_sortAscending = !m_sortAscending;
        emit sortAscendingChanged();
    }
    scheduleSearch(true, false);
}

void SearchSession::toggleSortDirection()
{
    m_sortAscending = !m_sortAscending;
    emit sortAscendingChanged();
    scheduleSearch(true, false);
}

void SearchSession::applyMatchMode(SearchMatchMode mode)
{
    setMatchMode(mode);
    scheduleSearch(true, false);
}

void SearchSession::updateContentFilter(SearchContentFilter filter)
{
    std::set<SearchContentFilter> filters = m_contentFilters;
    if (filter == SearchContentFilter::All) {
        filters = {SearchContentFilter::All};
    } else {
        filters.erase(SearchContentFilter::All);
        if (!filters.erase(filter))
            filters.insert(filter);
        if (filters.empty())
            filters = {SearchContentFilter::All};
    }
    if (filters != m_contentFilters) {
        m_contentFilters = std::move(filters);
        emit contentFiltersChanged();
    }
    scheduleSearch(true, false);
}

void SearchSession::adjustGridZoom(double delta)
{
    const double step = std::clamp(std::abs(delta) * kZoomPerDelta, kMinZoomStep, kMaxZoomStep);
    const double zoom = std::clamp(m_gridZoom + (delta > 0 ? step : -step), kMinGridZoom, kMaxGridZoom);
    if (zoom == m_gridZoom)
        return;
    m_gridZoom = zoom;
    emit gridZoomChanged();
}

void SearchSession::resetGridZoom()
{
    if (m_gridZoom == 1.0)
        return;
    m_gridZoom = 1.0;
    emit gridZoomChanged();
}

void SearchSession::applyScopedPath(const QString& path, bool recordHistory)
{
    const QString scope = path.isEmpty() ? QString() : QString::fromStdString(paths::standardize(path.toStdString()));
    if (!recordHistory && scope == m_scopedPath)
        return;
    if (scope != m_scopedPath) {
        m_scopedPath = scope;
        emit scopedPathChanged();
    }
    if (recordHistory) {
        // Nothing moves the index back yet, so nothing after it is dropped in practice.
        const auto last = static_cast<std::int64_t>(m_scopeHistory.size()) - 1;
        if (m_scopeHistoryIndex < last)
            m_scopeHistory.resize(static_cast<std::size_t>(m_scopeHistoryIndex + 1));
        if (m_scopeHistory.empty() || m_scopeHistory.back() != scope)
            m_scopeHistory.push_back(scope);
        m_scopeHistoryIndex = static_cast<std::int64_t>(m_scopeHistory.size()) - 1;
    }
    m_context.setStatusMessage(scope.isEmpty()
                         ? QStringLiteral("已回到全局搜索")
                         : QStringLiteral("已切换到 ")
                               + QString::fromStdString(std::string(paths::lastComponent(scope.toStdString()))));
    scheduleSearch(true, false);
}

void SearchSession::resetSearchConstraints()
{
    clearScope();
    if (m_contentFilters != std::set<SearchContentFilter>{SearchContentFilter::All}) {
        m_contentFilters = {SearchContentFilter::All};
        emit contentFiltersChanged();
    }
    setCaseSensitive(false);
    setMatchMode(SearchMatchMode::Contains);
    scheduleSearch(true, false);
}



namespace {

constexpr qsizetype kMaxHistoryEntries = 15;
constexpr std::size_t kMinHistoryCharacters = 2;

std::string trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

} // namespace

void SearchSession::recordSearchHistoryIfNeeded(const QString& text)
{
    const QString entry = text.trimmed();
    // User-perceived characters, so that two Chinese characters qualify.
    if (entry.isEmpty() || text::graphemeCount(entry.toStdString()) < kMinHistoryCharacters)
        return;
    QStringList history = m_searchHistory;
    history.removeAll(entry);
    history.prepend(entry);
    if (history.size() > kMaxHistoryEntries)
        history.resize(kMaxHistoryEntries);
    if (history == m_searchHistory)
        return;
    setSearchHistory(history);
    persistSearchHistory();
}

void SearchSession::persistSearchHistory()
{
    std::vector<std::string> stored;
    for (qsizetype i = 0; i < std::min(m_searchHistory.size(), kMaxHistoryEntries); ++i)
        stored.push_back(m_searchHistory[i].toStdString());
    m_context.defaults().setStringList(searchHistoryKey(), stored);
}

QStringList SearchSession::loadSearchHistory(const Defaults& defaults)
{
    // Duplicates and short entries of the stored list stay: only recording
    // keeps the list unique.
    QStringList history;
    for (const std::string& stored : defaults.stringList(searchHistoryKey()).value_or(std::vector<std::string>{})) {
        const QString entry = QString::fromStdString(stored).trimmed();
        if (!entry.isEmpty())
            history.append(entry);
        if (history.size() == kMaxHistoryEntries)
            break;
    }
    return history;
}

void SearchSession::addCommonSearchTerm(const QString& term)
{
    const std::string added = term.trimmed().toStdString();
    if (added.empty())
        return;
    m_context.writeSettings([&added](AppSettings& record) {
        std::vector<std::string> terms{added};
        for (const std::string& existing : record.commonSearchTerms) {
            std::string entry = trimmed(existing);
            if (!entry.empty() && entry != added)
                terms.push_back(std::move(entry));
        }
        if (terms.size() > AppSettings::kMaxCommonSearchTerms)
            terms.resize(AppSettings::kMaxCommonSearchTerms);
        record.commonSearchTerms = std::move(terms);
    });
}

void SearchSession::removeCommonSearchTerm(const std::set<int>& offsets)
{
    m_context.writeSettings([&offsets](AppSettings& record) {
        // Positions refer to the list before the removal: erase from the back.
        for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
            if (*it >= 0 && static_cast<std::size_t>(*it) < record.commonSearchTerms.size())
                record.commonSearchTerms.erase(record.commonSearchTerms.begin() + *it);
        }
    });
}

void SearchSession::searchForTerm(const QString& text)
{
    noteUserSearchInput();
    setSearchText(text);
    scheduleSearch(true, false);
}

QString SearchSession::resultSummaryText() const
{
    const IndexActivity activity = m_links.indexActivity ? m_links.indexActivity() : IndexActivity{};
    SummaryState state;
    state.localHits = m_results.size();
    state.localItems = activity.localItems;
    state.serverHits = m_serverResults.size();
    state.serverItems = activity.serverItems;
    state.localInScope = settings().includeLocalInSearch;
    state.serverInScope = settings().includeServerInSearch;
    state.localIndexing = activity.localIndexing;
    state.serverIndexing = activity.serverIndexing;
    state.limit = settings().searchLimit;
    return resultSummaryText(state, [this] { return hasSearchIntent(currentQuerySnapshot()); });
}

QString SearchSession::resultSummaryText(const SummaryState& s, const std::function<bool()>& hasIntent)
{
    const QString localIdle = QStringLiteral("本机/外接：%1（索引 %2）").arg(s.localHits).arg(s.localItems);
    const QString serverIdle = QStringLiteral("共享盘：%1（索引 %2）").arg(s.serverHits).arg(s.serverItems);
    const QString serverBusyAlone = QStringLiteral("共享盘：更新中（已收录 %1）").arg(s.serverItems);
    const QString separator = QStringLiteral("  ");

    if (s.localIndexing && s.serverIndexing) {
        QStringList segments;
        if (s.localInScope)
            segments << QStringLiteral("本机/外接：后台索引中（%1）").arg(s.localItems);
        if (s.serverInScope)
            segments << QStringLiteral("共享盘：更新中（%1）").arg(s.serverItems);
        return segments.join(separator);
    }
    if (s.localIndexing) {
        if (s.localInScope)
            return QStringLiteral("本机/外接：后台索引中（已收录 %1）").arg(s.localItems);
        // Only the shared drives in scope: their index is idle and reports so.
        return s.serverInScope ? serverIdle : QString();
    }
    if (s.serverIndexing) {
        if (s.localInScope && s.serverInScope)
            return localIdle + separator + serverBusyAlone;
        return s.localInScope ? localIdle : serverBusyAlone;
    }
    QStringList segments;
    if (s.localInScope)
        segments << localIdle;
    if (s.serverInScope)
        segments << serverIdle;
    QString summary = segments.join(separator);
    if (s.localInScope && s.limit >= 1 && s.localHits >= s.limit && hasIntent())
        summary += QStringLiteral("（本机/外接命中已达上限）");
    return summary;
}

} // namespace pallix
