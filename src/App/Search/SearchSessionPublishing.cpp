// SearchSession: publishing local results, the one road from a ranked list
// to `results`, and the folder ordering of the published lists.

#include "App/Search/SearchSession.h"

#include <algorithm>
#include <unordered_set>

#include "Core/Config/EditionRule.h"
#include "App/Search/FolderHints.h"
#include "App/Preview/ThumbnailProvider.h"
#include "Platform/Text.h"

namespace pallix {

using namespace searchbudgets;

namespace {

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
    bool matches(std::string_view other) const
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

qsizetype indexOfID(const ItemList& items, const IdMatcher& id)
{
    const auto it =
        std::find_if(items.begin(), items.end(), [&](const IndexedItem& item) { return id.matches(item.id()); });
    return it == items.end() ? -1 : it - items.begin();
}

bool containsID(const ItemList& items, const IdMatcher& id)
{
    return indexOfID(items, id) >= 0;
}

} // namespace

ItemList SearchSession::withoutServerResults(const ItemList& items) const
{
    if (m_serverResults.isEmpty() || items.isEmpty())
        return items;
    std::unordered_set<std::string_view> listed;
    for (const IndexedItem& item : m_serverResults)
        listed.insert(item.path());
    ItemList kept;
    kept.reserve(items.size());
    for (const IndexedItem& item : items)
        if (!listed.contains(item.path()))
            kept.append(item);
    return kept;
}

void SearchSession::reorderShownFolders()
{
    const SearchQuery query = currentQuerySnapshot();
    ItemList reordered = m_folderHints->ordered(m_results, query, m_searchGeneration);
    if (ShownList::signature(reordered) != ShownList::signature(m_results))
        setResults(std::move(reordered));
    if (settings().includeServerInSearch && !m_serverResults.isEmpty()) {
        ItemList reorderedServer = m_folderHints->ordered(m_serverResults, query, m_searchGeneration);
        if (ShownList::signature(reorderedServer) != ShownList::signature(m_serverResults))
            setServerResults(std::move(reorderedServer));
    }
}

void SearchSession::applySearchResults(ItemList items, const SearchQuery& query, ListCompleteness completeness)
{
    const AppSettings& s = settings();
    if (hasSharedDriveFeatures(AppEditionInfo::current()) && s.includeLocalInSearch && !s.includeServerInSearch)
        items = withoutItemsUnder(items, standardizedRoots(s.serverIndexedRoots));
    items = withoutServerResults(items);

    const QString signature = ShownList::signature(items);
    if (signature != m_lastAppliedResultSignature) {
        m_lastAppliedResultSignature = signature;
        // A new session drops queued renders; doing that on every keystroke
        // would starve the list the user finally stops at.
        if (m_typingClock.secondsSinceLastKeystroke() >= kPreviewSessionPauseSeconds) {
            ThumbnailProvider* injected = m_context.environment().thumbnails;
            ThumbnailProvider& thumbnails = injected ? *injected : ThumbnailProvider::shared();
            thumbnails.beginNewPreviewSessionThrottled(signature, kPreviewSessionMinIntervalMs);
        }
    }
    if (m_typingClock.secondsSinceLastKeystroke() >= kFolderOrderingPauseSeconds)
        items = m_folderHints->ordered(items, query, m_searchGeneration);

    // The first result this publishing picked on a first, partial list is no
    // selection of the user's: kept while still listed, it stayed on a row
    // that the complete list ranks lower, and Return opened that one. A
    // complete list searched again (files changed) keeps it, and the view.
    const bool anotherQuery = m_lastDisplayedQuery != query;
    const bool wasPicked = m_selectionIsAutomatic;
    const bool pickReplaced = wasPicked && (anotherQuery || !m_displayedResultsComplete);
    const std::string previous = pickReplaced ? std::string() : m_selectedItemID.toStdString();
    const qsizetype renamedWas = m_renamedSelection ? indexOfID(m_results, IdMatcher(m_renamedSelection->newPath)) : -1;
    const qsizetype renamedIs = placeRenamedItem(items);
    setResults(std::move(items));
    m_lastDisplayedQuery = query;
    m_displayedResultsComplete = completeness == ListCompleteness::Complete;

    QString selection = keptSelection(previous);
    const bool picked = selection.isEmpty() && !m_results.isEmpty();
    if (picked)
        selection = QString::fromUtf8(m_results.constFirst().id());
    const bool changed = selection != m_selectedItemID;
    setSelectedItemID(selection);
    m_selectionIsAutomatic = picked || (wasPicked && !selection.isEmpty());
    // The list of another query shows its selection, kept or not; so does
    // the list that moves a renamed item to its sorted place.
    if (!changed && (anotherQuery || renamedIs != renamedWas))
        emit selectedItemIDChanged();
}

// The previous selection while a published list holds it; empty otherwise.
// A renamed item is searched for before the index holds its new path: while
// the list still shows the old one, the new path stays selected.
QString SearchSession::keptSelection(const std::string& previous)
{
    if (previous.empty())
        return {};
    const IdMatcher id(previous);
    const auto listed = [this](const IdMatcher& matcher) {
        return containsID(m_results, matcher) || containsID(m_imageFuzzyResults, matcher)
               || containsID(m_serverResults, matcher);
    };
    if (listed(id))
        return m_selectedItemID;
    if (m_renamedSelection && m_renamedSelection->newPath == previous
        && listed(IdMatcher(m_renamedSelection->oldPath)))
        return m_selectedItemID;
    m_renamedSelection.reset();
    return {};
}

// The index learns of a rename some time after it, and a list searched in
// the meantime still holds the old path: there the item takes the old path's
// place under its new name, so no row shows a name that is gone. The rename
// is followed until a list holds the new path or its item is no longer selected.
qsizetype SearchSession::placeRenamedItem(ItemList& items)
{
    if (!m_renamedSelection)
        return -1;
    const IdMatcher renamed(m_renamedSelection->newPath);
    if (!renamed.matches(m_selectedItemID.toStdString())) {
        m_renamedSelection.reset();
        return -1;
    }
    if (const qsizetype at = indexOfID(items, renamed); at >= 0) {
        m_renamedSelection.reset();
        return at;
    }
    const qsizetype old = indexOfID(items, IdMatcher(m_renamedSelection->oldPath));
    if (old < 0)
        m_renamedSelection.reset();
    if (old < 0 || !m_renamedSelection->item)
        return -1;
    items[old] = *m_renamedSelection->item;
    return old;
}

} // namespace pallix
