// SearchSession: the chips' searches and the result summary.

#include "App/Search/SearchSession.h"

#include "App/Search/ResultSummary.h"
#include "Core/IndexDB/TypingRoad.h"

namespace pallix {

void SearchSession::searchForTerm(const QString& text)
{
    m_typingClock.noteKeystroke();
    setSearchText(text);
    m_searchTextUnrecorded = true;
    scheduleSearch(false, false);
}

QString SearchSession::resultSummaryText() const
{
    const IndexActivity activity = m_links.indexActivity ? m_links.indexActivity() : IndexActivity{};
    ResultSummary::State state;
    state.localHits = m_results.size();
    state.localItems = activity.localItems;
    state.serverHits = m_serverResults.size();
    state.serverItems = activity.serverItems;
    state.localInScope = settings().includeLocalInSearch;
    state.serverInScope = settings().includeServerInSearch;
    state.localIndexing = activity.localIndexing;
    state.serverIndexing = activity.serverIndexing;
    state.limit = settings().searchLimit;
    return ResultSummary::text(state, [this] { return TypingRoad::hasSearchIntent(currentQuerySnapshot()); });
}

} // namespace pallix
