// AppModel: the road of one search. scheduleSearch() makes the newest request
// win and answers from memory when it can; the search job answers from the
// local index while the user types and completes the answer once they pause;
// the shared-drive and image stages follow a complete answer.

#include "App/AppModel.h"
#include "App/ServerSearchStage.h"
#include "App/TypingPause.h"

#include <algorithm>

#include <QPointer>

#include "App/ImageFuzzySearch.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"
#include "Platform/Text.h"

namespace pallix {

using namespace std::chrono_literals;

namespace {

constexpr qsizetype kMaxNarrowedInMemory = 900;
constexpr auto kRequestPause = 4ms;
constexpr auto kImageSecondPassDelay = 55ms;
constexpr int kImageFirstPassLimit = 180;

int typingLimit(int limit) { return std::min(limit, 1280); }
int typingCandidateCap(int limit) { return std::max(typingLimit(limit) * 18, 12000); }
int previewLimit(int limit) { return std::min(limit, 1200); }
int previewCandidateCap(int limit) { return std::clamp(limit * 18, 12000, 36000); }
int pauseCompletionCandidateCap(int limit) { return std::clamp(limit * 26, 22000, 78000); }
int imageSecondPassLimit(int limit) { return std::clamp(2 * limit, 1200, 1500); }
int imageFollowUpLimit(int limit) { return std::clamp(limit, 320, 800); }

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

bool isBlank(const std::string& text)
{
    return QString::fromStdString(text).trimmed().isEmpty();
}

// The text a search reads: cut to its first kMaxSearchTextLength units,
// never inside a surrogate pair.
QString searchedText(const QString& text)
{
    if (text.size() <= AppModel::kMaxSearchTextLength)
        return text;
    qsizetype end = AppModel::kMaxSearchTextLength;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

} // namespace

SearchQuery AppModel::currentQuerySnapshot() const
{
    SearchQuery query = m_parser.parse(searchedText(m_searchText).toStdString(), m_contentFilters, m_caseSensitive, m_matchMode,
                                       m_sortField, m_sortAscending, m_settings.excludeSystemJunkFromIndex);
    if (!m_scopedPath.isEmpty())
        query.pathFilter = m_scopedPath.toStdString();
    return query;
}

bool AppModel::hasSearchIntent(const SearchQuery& query)
{
    const bool allKinds = query.contentFilters == std::set<SearchContentFilter>{SearchContentFilter::All};
    return !isBlank(query.rawText) || query.pathFilter || query.extensionFilter || query.typeFilter || !allKinds
           || query.modifiedAfter || query.useRegularExpression || query.wildcardPattern;
}

bool AppModel::canNarrow(const SearchQuery& query, const ItemList& shown, const std::optional<SearchQuery>& shownQuery)
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

bool AppModel::canNarrowImmediately(const SearchQuery& query) const
{
    return canNarrow(query, m_results, m_lastDisplayedQuery);
}

bool AppModel::canBroadenWithFastPreview(const SearchQuery& query) const
{
    if (!m_lastDisplayedQuery)
        return false;
    const std::string& previous = m_lastDisplayedQuery->rawText;
    return !previous.empty() && !query.rawText.empty() && query.rawText.size() < previous.size()
           && previous.starts_with(query.rawText) && sameConstraints(query, *m_lastDisplayedQuery);
}

QString AppModel::refreshSearchHint() const
{
    QString hint = QStringLiteral("正在重新搜索");
    hint += m_settings.autoIndexExternalVolumes ? QStringLiteral("（范围：本机 + 外接硬盘）")
                                                : QStringLiteral("（范围：本机）");
    if (!m_settings.indexedRoots.empty())
        hint += QStringLiteral("（含手动添加目录）");
    return hint;
}

AppModel::LocalAnswer AppModel::completeLocalSearch(IndexStore& store, const SearchQuery& query, int limit,
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

void AppModel::reportAnswerNotes(const LocalAnswer& answer)
{
    if (answer.expressionTooComplex)
        setStatusMessage(QStringLiteral("正则表达式过于复杂，部分结果可能缺失"));
}

AppModel::LocalAnswer AppModel::localAnswer(std::vector<IndexedItem> items, ListCompleteness completeness)
{
    // Made here, on the worker: for 10,000 items these copies would cost the
    // GUI thread a good part of a frame.
    LocalAnswer answer;
    answer.items = toList(std::move(items));
    answer.paths = pathsOf(answer.items);
    answer.completeness = completeness;
    return answer;
}

bool AppModel::isUserTyping() const
{
    return m_lastUserSearchInputAt && m_clock.now() - *m_lastUserSearchInputAt < kTypingThreshold;
}

void AppModel::setIsSearching(bool searching)
{
    if (searching == m_isSearching)
        return;
    m_isSearching = searching;
    emit isSearchingChanged();
}

void AppModel::setSearchingHint(const QString& hint)
{
    if (hint == m_searchingHint)
        return;
    m_searchingHint = hint;
    emit searchingHintChanged();
}

void AppModel::clearProgress(const SearchRequest& request)
{
    // A request without progress that replaced one with it answers for it too:
    // the older one will never publish, and the window would spin on.
    if (!request.progressToken || m_activeManualSearchToken == request.progressToken)
        setIsSearching(false);
}

void AppModel::scheduleSearch(bool immediate, bool showProgress)
{
    m_searchTask.cancel();
    SearchRequest request;
    request.immediate = immediate;
    request.generation = ++m_searchGeneration;
    request.query = currentQuerySnapshot();
    if (m_searchText.size() > kMaxSearchTextLength)
        setStatusMessage(QStringLiteral("搜索内容过长，只按前 %1 个字符搜索").arg(kMaxSearchTextLength));
    request.limit = static_cast<int>(m_settings.searchLimit);
    request.includeLocal = m_settings.includeLocalInSearch;
    request.includeServer = m_settings.includeServerInSearch;
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

QCoro::Task<> AppModel::runSearchTask(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<AppModel> guard(this);
    if (!request.immediate && !request.broadening) {
        // A request replaced within this pause never reaches a store.
        auto pausing = m_clock.sleepFor(kRequestPause, token);
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
        auto searching = onPool([store = m_indexStore, query = request.query, limit = typingLimit(request.limit),
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
        auto searching = onPool([store = m_indexStore, query = request.query, limit = request.limit, token] {
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

void AppModel::afterLocalAnswer(const SearchRequest& request, ItemList answer, ListCompleteness completeness,
                                bool recordHistory)
{
    applySearchResults(answer, request.query, completeness);
    scheduleSKURelatedIfNeeded(request.query, request.generation, answer);
    if (recordHistory) {
        recordSearchHistoryIfNeeded(QString::fromStdString(request.query.rawText));
        clearProgress(request);
    }
}

QCoro::Task<> AppModel::runFastPreview(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<AppModel> guard(this);
    auto previewing = onPool([store = m_indexStore, query = request.query, limit = previewLimit(request.limit),
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

QCoro::Task<> AppModel::runLocalPauseCompletion(SearchRequest request, std::shared_ptr<CancelToken> token)
{
    QPointer<AppModel> guard(this);
    // Waits for the pause itself: the keystroke was stamped right before the
    // request, so a fixed short wait would always find the user still typing
    // and leave the capped typing answer on screen for good.
    do {
        const std::optional<Clock::Duration> sinceInput =
            m_lastUserSearchInputAt ? std::optional(m_clock.now() - *m_lastUserSearchInputAt) : std::nullopt;
        auto pausing = m_clock.sleepFor(untilTypingEnds(sinceInput), token);
        const bool slept = co_await pausing;
        if (!guard || !slept || token->isCancelled() || !isCurrent(request.generation))
            co_return;
    } while (isUserTyping());

    auto searching = onPool([store = m_indexStore, query = request.query, limit = request.limit, token] {
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

QCoro::Task<> AppModel::runSideStages(SearchRequest request, QSet<QString> localPaths, bool typing,
                                      std::shared_ptr<CancelToken> token)
{
    QPointer<AppModel> guard(this);
    if (request.includeServer) {
        auto serverStage = runServerSearchStage(request, typing, token);
        const bool goOn = co_await serverStage;
        if (!guard || !goOn || token->isCancelled())
            co_return;
    } else if (isCurrent(request.generation)) {
        setServerResults({});
        m_lastServerDisplayedQuery.reset();
    }
    auto imageStage = runImageStage(request, std::move(localPaths), token);
    co_await imageStage;
}

QCoro::Task<bool> AppModel::runServerSearchStage(SearchRequest request, bool typing, std::shared_ptr<CancelToken> token)
{
    auto stage = m_serverSearchStage->run(std::move(request.query), request.limit, request.generation, typing,
                                          std::move(token));
    const bool goOn = co_await stage;
    co_return goOn;
}

QCoro::Task<> AppModel::runImageStage(SearchRequest request, QSet<QString> localPaths,
                                      std::shared_ptr<CancelToken> token)
{
    QPointer<AppModel> guard(this);
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

    auto pausing = m_clock.sleepFor(kImageSecondPassDelay, token);
    const bool slept = co_await pausing;
    if (!guard || !slept || token->isCancelled())
        co_return;
    auto secondPass = imageFuzzySearch(request.query, imageSecondPassLimit(request.limit), std::move(localPaths));
    ItemList second = co_await secondPass;
    if (guard && isCurrent(request.generation))
        setImageFuzzyResults(std::move(second));
}

QCoro::Task<> AppModel::runImageFollowUp(SearchQuery query, int limit, QSet<QString> narrowedPaths,
                                         std::int64_t generation)
{
    QPointer<AppModel> guard(this);
    auto searching = imageFuzzySearch(std::move(query), imageFollowUpLimit(limit), std::move(narrowedPaths));
    ItemList found = co_await searching;
    if (guard && isCurrent(generation))
        setImageFuzzyResults(std::move(found));
}

bool AppModel::shouldRunImageFuzzySearch(const SearchQuery& query) const
{
    return m_settings.enableImageFuzzySearch && !query.useRegularExpression && !query.wildcardPattern
           && !query.extensionFilter && !query.typeFilter && !query.modifiedAfter && !query.pathFilter
           && !query.tokens.empty()
           && query.contentFilters != std::set<SearchContentFilter>{SearchContentFilter::Folders};
}

QCoro::Task<ItemList> AppModel::imageFuzzySearch(SearchQuery query, int limit, QSet<QString> excludingPaths)
{
    if (m_env.services.imageFuzzySearch) {
        auto searching = m_env.services.imageFuzzySearch(std::move(query), limit, std::move(excludingPaths));
        ItemList found = co_await searching;
        co_return found;
    }
    std::shared_ptr<ImageTagStore> server;
    if (hasSharedDriveFeatures(AppEditionInfo::current()) && m_settings.includeServerInSearch)
        server = m_serverImageSemanticStore;
    const ImageFuzzySearch::Plan plan = ImageFuzzySearch::plan(query, limit, server != nullptr);
    if (plan.groups.empty())
        co_return ItemList();
    // Only values and shared stores cross to the worker; the model may be gone
    // when it answers, and finish() does not need it.
    auto gathering = onPool([plan, index = m_indexStore, local = m_imageSemanticStore, server,
                             serverIndex = server ? m_serverIndexStore : nullptr] {
        return ImageFuzzySearch::gather(plan, *index, *local, server.get(), serverIndex.get());
    });
    std::vector<IndexedItem> items = co_await gathering;
    co_return ImageFuzzySearch::finish(std::move(items), excludingPaths, query.sortField, query.ascending, plan.cap);
}

void AppModel::startImageTagging()
{
    const AppServices& services = m_env.services;
    if (!services.startImageTagging)
        return;
    services.startImageTagging(m_indexStore, m_imageSemanticStore, "local");
    if (m_serverImageSemanticStore && hasSharedDriveFeatures(AppEditionInfo::current())
        && m_settings.enableServerIndexing && serverIndexedCount() >= 1)
        services.startImageTagging(m_serverIndexStore, m_serverImageSemanticStore, "server");
}

bool AppModel::shouldRunSKURelated(const SearchQuery& query) const
{
    if (!m_settings.includeLocalInSearch || query.useRegularExpression || query.wildcardPattern || query.pathFilter
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

void AppModel::scheduleSKURelatedIfNeeded(const SearchQuery& query, std::int64_t generation, const ItemList& baseHits)
{
    if (shouldRunSKURelated(query))
        m_skuRelated->schedule(baseHits, generation);
}

} // namespace pallix
