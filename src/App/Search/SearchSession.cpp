// SearchSession: its state, construction and the setters of its published
// properties. The roads of a search, publishing, the selection, the
// constraints and the history live in the SearchSession*.cpp files beside it.

#include "App/Search/SearchSession.h"

#include <QPointer>

#include "App/Search/FolderHints.h"
#include "App/Search/ServerSearchStage.h"
#include "App/Search/SkuRelatedSearch.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"

namespace pallix {

SearchSession::SearchSession(const AppContext& context, Links links, QObject* parent)
    : QObject(parent),
      m_context(context),
      m_links(std::move(links)),
      m_constraints(std::make_unique<SearchConstraints>(context)),
      m_history(std::make_unique<SearchHistory>(context)),
      m_inlineRename(std::make_unique<InlineRename>()),
      m_typingClock(context.clock()),
      m_parser(context.environment().clock),
      m_folderHints(std::make_unique<FolderHints>(
          context, [this](std::int64_t generation) { return isCurrent(generation); })),
      m_skuRelated(std::make_unique<SkuRelatedSearch>(context, *this)),
      m_serverStage(std::make_unique<ServerSearchStage>(
          context, *this, *m_folderHints, m_typingClock,
          [this] { return m_links.indexActivity && m_links.indexActivity().serverIndexing; }))
{
    connect(m_constraints.get(), &SearchConstraints::searchWanted, this, [this] { scheduleSearch(true, false); });
    connect(m_folderHints.get(), &FolderHints::learned, this, &SearchSession::reorderShownFolders);
}

SearchSession::~SearchSession()
{
    for (JobHandle* job : {&m_searchTask, &m_searchPauseCompletionTask, &m_previewBuildTask, &m_imageRefreshTask})
        job->cancel();
    m_skuRelated->cancel();
    m_serverStage->cancel();
}

void SearchSession::userTyped(const QString& text)
{
    m_typingClock.noteKeystroke();
    setSearchText(text);
    scheduleSearch(false, false);
}

void SearchSession::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_searchTextUnrecorded = true;
    emit searchTextChanged();
}

void SearchSession::setResults(ItemList items)
{
    m_results = std::move(items);
    emit resultsChanged();
}

// Every keystroke clears the two side sections; clearing an empty one is no
// news, and announcing it would rebuild and repaint the results for nothing.
void SearchSession::setImageFuzzyResults(ItemList items)
{
    if (items.isEmpty() && m_imageFuzzyResults.isEmpty())
        return;
    m_imageFuzzyResults = std::move(items);
    emit imageFuzzyResultsChanged();
}

void SearchSession::setSkuRelatedResults(ItemList items)
{
    if (items.isEmpty() && m_skuRelatedResults.isEmpty())
        return;
    m_skuRelatedResults = std::move(items);
    emit skuRelatedResultsChanged();
}

void SearchSession::setServerResults(ItemList items)
{
    m_serverResults = std::move(items);
    emit serverResultsChanged();
    // A shared drive the local index covers too: its results are listed
    // once, in their own section.
    ItemList local = withoutServerResults(m_results);
    if (local.size() != m_results.size())
        setResults(std::move(local));
}

void SearchSession::forgetServerResults()
{
    setServerResults({});
    m_serverStage->forgetShownQuery();
}

// Announced only when it changes: the views scroll to the selection on each
// announcement, and a live re-search that keeps it must leave the view
// where the user scrolled it.
void SearchSession::setSelectedItemID(const QString& id)
{
    m_selectionIsAutomatic = false;
    if (id == m_selectedItemID)
        return;
    m_selectedItemID = id;
    emit selectedItemIDChanged();
}

const std::shared_ptr<IndexStore>& SearchSession::localStore() const
{
    return m_context.stores().local;
}

QCoro::Task<> SearchSession::refreshResultsImmediately(std::optional<std::int64_t> searchGeneration)
{
    QPointer<SearchSession> guard(this);
    const SearchQuery query = currentQuerySnapshot();
    if (!TypingRoad::hasSearchIntent(query)) {
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

} // namespace pallix
