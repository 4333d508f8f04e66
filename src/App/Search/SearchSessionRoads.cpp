// SearchSession: the road of one search. scheduleSearch() makes the newest
// request win and answers from memory when it can; the search job answers
// from the local index while the user types and completes the answer once
// they pause; the shared-drive and image stages follow a complete answer.

#include "App/Search/SearchSession.h"

#include <algorithm>

#include <QPointer>

#include "App/ImageTags/ImageFuzzySearch.h"
#include "App/ImageTags/ImageTagWrites.h"
#include "App/Search/ImageContentRule.h"
#include "App/Search/ServerSearchStage.h"
#include "App/Search/SkuRelatedSearch.h"
#include "App/Async/TypingPause.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Search/PreparedQuery.h"
#include "Platform/Text.h"

namespace pallix {

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
        out.insert(QString::fromUtf8(item.path()));
    return out;
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

// An expression that does not compile makes the query invalid: it finds
// nothing, and is not worth searching again.
bool expressionsCompile(const SearchQuery& query)
{
    if (!query.useRegularExpression && !query.wildcardPattern)
        return true;
    return PreparedQuery(query).mode != PreparedQuery::Mode::Nothing;
}

} // namespace

SearchQuery SearchSession::currentQuerySnapshot() const
{
    SearchQuery query = m_parser.parse(searchedText(m_searchText).toStdString(), m_constraints->contentFilters(),
                                       m_constraints->caseSensitive(), m_constraints->matchMode(),
                                       m_constraints->sortField(), m_constraints->sortAscending(),
                                       settings().excludeSystemJunkFromIndex);
    if (!m_constraints->scopedPath().isEmpty())
        query.pathFilter = m_constraints->scopedPath().toStdString();
    return query;
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
    const bool indexedBefore = store.status().searchIndexesComplete;
    IndexStore::SearchNotes notes;
    std::vector<IndexedItem> items = store.search(query, limit, cancel, &notes);
    const bool indexedAfter = store.status().searchIndexesComplete;
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

// An expression that does not compile matches nothing: the empty list alone
// would not say why.
void SearchSession::reportInvalidExpression(const SearchQuery& query)
{
    if (!query.useRegularExpression)
        return;
    for (const std::string& token : query.tokens) {
        if (const std::optional<text::RegexProblem> problem = text::Regex::problemWith(token)) {
            m_context.setStatusMessage(QStringLiteral("正则表达式“%1”无效：%2（第 %3 个字符处）")
                                           .arg(QString::fromStdString(token), QString::fromStdString(problem->reason))
                                           .arg(problem->position));
            return;
        }
    }
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
    // A keystroke ends the completion of the answer before it too: running,
    // it holds the store that the new answer needs.
    m_searchTask.cancel();
    m_searchPauseCompletionTask.cancel();
    m_imageRefreshTask.cancel();
    SearchRequest request;
    request.immediate = immediate;
    request.generation = ++m_searchGeneration;
    request.query = currentQuerySnapshot();
    if (m_searchText.size() > kMaxSearchTextLength)
        m_context.setStatusMessage(QStringLiteral("搜索内容过长，只按前 %1 个字符搜索").arg(kMaxSearchTextLength));
    reportInvalidExpression(request.query);
    request.limit = static_cast<int>(settings().searchLimit);
    request.includeLocal = settings().includeLocalInSearch;
    request.includeServer = settings().includeServerInSearch;
    request.runImageStage = request.includeLocal && ImageContentRule::isWanted(request.query, settings());
    request.broadening = ShownList::canBroaden(request.query, m_lastDisplayedQuery);
    request.recordsHistory = m_searchTextUnrecorded && m_searchText.size() <= kMaxSearchTextLength
                             && expressionsCompile(request.query);
    if (showProgress) {
        request.progressToken = QUuid::createUuid();
        m_activeManualSearchToken = request.progressToken;
        setIsSearching(true);
        setSearchingHint(refreshSearchHint());
    }

    if (!TypingRoad::hasSearchIntent(request.query)) {
        setImageFuzzyResults({});
        setSkuRelatedResults({});
        setServerResults({});
        setIsSearching(false);
        if (request.progressToken)
            setSearchingHint({});
        applySearchResults({}, request.query);
        recordHistoryIfTyped(request);  // an emptied field may end a word typed a moment ago
        return;
    }
    if (!request.runImageStage)
        setImageFuzzyResults({});
    if (!SkuRelatedSearch::isWanted(request.query, settings()))
        setSkuRelatedResults({});

    // A renamed item the index does not list yet stands where the engine did
    // not put it: such a list is not the index's, and is not narrowed.
    const qsizetype shown = m_results.size();
    if (!m_renamedSelection && shown <= kMaxNarrowedInMemory
        && ShownList::canNarrow(request.query, m_results, m_lastDisplayedQuery)) {
        // Complete only when the shown list was, and was not cut at the limit.
        const bool complete = m_displayedResultsComplete && shown < request.limit;
        const std::vector<IndexedItem> candidates(m_results.begin(), m_results.end());
        applySearchResults(toList(m_localSearchEngine.search(candidates, request.query, request.limit)),
                           request.query, complete ? ListCompleteness::Complete : ListCompleteness::Partial);
        clearProgress(request);
        if (complete) {
            if (request.runImageStage) {
                m_searchTask = JobHandle::start();
                runImageFollowUp(request.query, request.limit, pathsOf(m_results), request.generation, m_searchTask.token());
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
    const bool pauses = !request.immediate && !request.broadening;
    // While the user types, the typing answer is worked out during the pause:
    // the pause is idle time, and the answer is still published only after it,
    // only when the request is still current and still a typing one.
    std::optional<QueuedFuture<ItemList>> early;
    if (pauses && request.includeLocal && m_typingClock.isTyping())
        early.emplace(typingSearch(request, token));
    if (pauses) {
        // A request replaced within this pause publishes nothing.
        auto pausing = clock().sleepFor(kRequestPause, token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled())
            co_return;
    }
    if (!request.immediate && !isCurrent(request.generation))
        co_return;

    const bool typing = m_typingClock.isTyping();
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
            recordHistoryIfTyped(request);
            clearProgress(request);
        }
    } else if (typing) {
        if (!early)
            early.emplace(typingSearch(request, token));
        ItemList answer = co_await *early;
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

QueuedFuture<ItemList> SearchSession::typingSearch(const SearchRequest& request, const std::shared_ptr<CancelToken>& token)
{
    return m_context.onPool([store = localStore(), query = request.query,
                             budget = TypingBudget::typing(request.limit), token] {
        if (!store->status().cacheReady)
            return toList(store->typingFastDatabaseSearch(query, budget.limit));
        return toList(store->typingSearch(query, budget, token.get()));
    });
}

void SearchSession::afterLocalAnswer(const SearchRequest& request, ItemList answer, ListCompleteness completeness,
                                bool recordHistory)
{
    applySearchResults(answer, request.query, completeness);
    scheduleSKURelatedIfNeeded(request.query, request.generation, answer);
    if (recordHistory) {
        recordHistoryIfTyped(request);
        clearProgress(request);
    }
}

void SearchSession::recordHistoryIfTyped(const SearchRequest& request)
{
    if (!request.recordsHistory)
        return;
    m_searchTextUnrecorded = false;
    m_history->recordIfNeeded(QString::fromStdString(request.query.rawText));
}

QCoro::Task<> SearchSession::runFastPreview(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    auto previewing = m_context.onPool([store = localStore(), query = request.query,
                                        budget = TypingBudget::preview(request.limit),
                                        token]() -> std::optional<ItemList> {
        if (!store->status().cacheReady)
            return std::nullopt;
        return toList(store->typingSearch(query, budget, token.get()));
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
        auto pausing = clock().sleepFor(untilTypingEnds(m_typingClock.sinceLastKeystroke()), token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled() || !isCurrent(request.generation))
            co_return;
    } while (m_typingClock.isTyping());

    auto searching = m_context.onPool([store = localStore(), query = request.query, limit = request.limit, token] {
        // While the indexes are still being built, a wide scan of the cached
        // items answers sooner than the store's search with its database supplement.
        if (store->status().cacheReady && !store->status().searchIndexesComplete)
            return localAnswer(store->typingSearch(query, TypingBudget::pauseCompletion(limit), token.get()),
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
    auto firstPass = imageFuzzySearch({request.query, kImageFirstPassLimit, localPaths, request.generation}, token);
    ItemList first = co_await firstPass;
    if (!guard || token->isCancelled())
        co_return;
    if (isCurrent(request.generation) && !first.isEmpty())
        setImageFuzzyResults(std::move(first));

    auto pausing = clock().sleepFor(kImageSecondPassDelay, token);
    const bool slept = co_await pausing;
    if (!guard || !slept || token->isCancelled())
        co_return;
    auto secondPass = imageFuzzySearch(
        {request.query, imageSecondPassLimit(request.limit), std::move(localPaths), request.generation}, token);
    ItemList second = co_await secondPass;
    if (guard && !token->isCancelled() && isCurrent(request.generation))
        setImageFuzzyResults(std::move(second));
}

QCoro::Task<> SearchSession::runImageFollowUp(SearchQuery query, int limit, QSet<QString> narrowedPaths,
                                         std::int64_t generation, std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    auto searching =
        imageFuzzySearch({std::move(query), imageFollowUpLimit(limit), std::move(narrowedPaths), generation}, token);
    ItemList found = co_await searching;
    if (guard && !token->isCancelled() && isCurrent(generation))
        setImageFuzzyResults(std::move(found));
}

SearchSession::ServerTagSource SearchSession::serverTagSource() const
{
    const AppStores& stores = m_context.stores();
    if (hasSharedDriveFeatures(AppEditionInfo::current()) && settings().includeServerInSearch && stores.server)
        return {stores.serverImageTags, stores.server};
    return {};
}

QCoro::Task<ItemList> SearchSession::imageFuzzySearch(ImagePass pass, std::shared_ptr<CancelToken> token)
{
    const AppServices& services = m_context.environment().services;
    if (services.imageFuzzySearch) {
        auto searching = services.imageFuzzySearch(std::move(pass.query), pass.limit, std::move(pass.excludingPaths));
        ItemList found = co_await searching;
        co_return found;
    }
    QPointer<SearchSession> guard(this);
    const AppStores& stores = m_context.stores();
    const ServerTagSource server = serverTagSource();
    const ImageFuzzySearch::Plan plan = ImageFuzzySearch::plan(pass.query, pass.limit, server.tags != nullptr);
    if (plan.groups.empty())
        co_return ItemList();
    // A later pass answers for the one a refresh would run again, unless it
    // is that refresh.
    if (m_imageRefreshTask.token() != token)
        m_imageRefreshTask.cancel();
    m_lastImagePass = pass;
    const TagHitsMemo::Stores tagStores{stores.localImageTags.get(), server.tags.get()};
    TagHitsMemo::Verdict verdict = m_tagHits.look(plan, tagStores, clock().now());
    if (verdict.refreshAt)
        startImageRefresh(pass, *verdict.refreshAt);
    const TagHitsMemo::Marks marks = TagHitsMemo::marksOf(tagStores);
    const Clock::TimePoint askedAt = clock().now();
    struct Gathered {
        std::optional<ImageFuzzySearch::TagHits> asked;  // set when the tag stores were asked
        std::vector<IndexedItem> items;
    };
    // Only values and shared stores cross to the worker; the model may be gone
    // when it answers, and finish() does not need it.
    auto gathering = m_context.onPool(
        [plan, kept = std::move(verdict.hits), index = stores.local, local = stores.localImageTags, server, token] {
            Gathered gathered;
            if (!kept)
                gathered.asked = ImageFuzzySearch::tagHits(plan, *local, server.tags.get());
            gathered.items = ImageFuzzySearch::gather(plan, *index, kept ? *kept : *gathered.asked,
                                                      server.index.get(), token.get());
            return gathered;
        });
    Gathered gathered = co_await gathering;
    if (guard && gathered.asked)
        m_tagHits.remember(plan, std::move(*gathered.asked), marks, askedAt);
    co_return ImageFuzzySearch::finish(std::move(gathered.items), pass.excludingPaths, pass.query.sortField,
                                       pass.query.ascending, plan.cap);
}

void SearchSession::tagsWritten()
{
    if (!m_lastImagePass || !isCurrent(m_lastImagePass->generation))
        return;
    // A refresh due or running answers for these tags too.
    if (m_imageRefreshTask.isActive() && !m_imageRefreshTask.token()->isCancelled())
        return;
    const ServerTagSource server = serverTagSource();
    const ImageFuzzySearch::Plan plan =
        ImageFuzzySearch::plan(m_lastImagePass->query, m_lastImagePass->limit, server.tags != nullptr);
    const TagHitsMemo::Stores tagStores{m_context.stores().localImageTags.get(), server.tags.get()};
    const TagHitsMemo::Verdict verdict = m_tagHits.look(plan, tagStores, clock().now());
    if (verdict.hits && !verdict.refreshAt)
        return;
    startImageRefresh(*m_lastImagePass, verdict.refreshAt.value_or(clock().now()));
}

void SearchSession::startImageRefresh(const ImagePass& pass, Clock::TimePoint at)
{
    m_imageRefreshTask.cancel();
    m_imageRefreshTask = JobHandle::start();
    runImageRefresh(pass, at, m_imageRefreshTask.token());
}

QCoro::Task<> SearchSession::runImageRefresh(ImagePass pass, Clock::TimePoint at, std::shared_ptr<CancelToken> token)
{
    QPointer<SearchSession> guard(this);
    auto pausing = clock().sleepFor(std::max(at - clock().now(), Clock::Duration::zero()), token);
    const bool slept = co_await pausing;
    if (!guard || !slept || token->isCancelled() || !isCurrent(pass.generation))
        co_return;
    const std::int64_t generation = pass.generation;
    auto searching = imageFuzzySearch(std::move(pass), token);
    ItemList found = co_await searching;
    if (!guard || token->isCancelled() || !isCurrent(generation))
        co_return;
    setImageFuzzyResults(std::move(found));
    m_imageRefreshTask = JobHandle();
    // Tags written while the pass ran came after its marks: they are looked at now.
    tagsWritten();
}

void SearchSession::scheduleSKURelatedIfNeeded(const SearchQuery& query, std::int64_t generation, const ItemList& baseHits)
{
    if (SkuRelatedSearch::isWanted(query, settings()))
        m_skuRelated->schedule(baseHits, generation);
}

} // namespace pallix
