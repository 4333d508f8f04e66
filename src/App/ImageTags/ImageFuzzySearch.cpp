#include "App/ImageTags/ImageFuzzySearch.h"

#include <algorithm>
#include <map>
#include <utility>
#include <unordered_set>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr std::size_t kMaxTerms = 2;
constexpr const char* kOcrPrefix = "ocr:";

// Chinese keywords and the English classifier labels that stand for them.
const std::map<std::string, std::vector<std::string>>& keywordLabels()
{
    static const std::map<std::string, std::vector<std::string>> table{
        {"蜡烛", {"candle", "candlestick", "flame"}},
        {"杯子", {"cup", "mug", "glass", "bottle"}},
        {"花", {"flower", "plant", "tree", "leaf", "leaves"}},
        {"草", {"grass", "plant"}},
        {"树", {"tree", "plant"}},
        {"猫", {"cat"}},
        {"狗", {"dog"}},
        {"鸟", {"bird"}},
        {"水果", {"fruit"}},
        {"食物", {"food"}},
        {"车", {"car"}},
        {"自行车", {"bicycle"}},
        {"书", {"book"}},
        {"画", {"painting", "art", "drawing"}},
        {"人物", {"person", "people", "portrait"}},
        {"海", {"ocean", "beach"}},
        {"山", {"mountain"}},
        {"云", {"cloud", "sky"}},
        {"雨", {"rain"}},
        {"雪", {"snow"}},
        {"建筑", {"building", "house", "city"}},
        {"电脑", {"computer", "laptop"}},
        {"手机", {"phone"}},
        {"相机", {"camera"}},
        {"鞋", {"shoe"}},
        {"包", {"bag"}},
        {"帽子", {"hat"}},
        {"眼镜", {"glasses"}},
    };
    return table;
}

void appendUnique(std::vector<std::string>& out, std::unordered_set<std::string>& seen, std::string value)
{
    if (seen.insert(value).second)
        out.push_back(std::move(value));
}

int compareTexts(std::string_view a, std::string_view b)
{
    return text::compareZhCaseInsensitive(a, b);
}

// <0, 0, >0 by the sort field alone.
int compareByField(const IndexedItem& a, const IndexedItem& b, SearchSortField field)
{
    switch (field) {
    case SearchSortField::Name: return compareTexts(a.name(), b.name());
    case SearchSortField::Path: return compareTexts(a.path(), b.path());
    case SearchSortField::Size: return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    case SearchSortField::ModifiedAt:
        return a.modifiedAt() < b.modifiedAt() ? -1 : a.modifiedAt() > b.modifiedAt() ? 1 : 0;
    }
    return 0;
}

} // namespace

std::vector<std::string> ImageFuzzySearch::expandFuzzyTokens(const std::string& term)
{
    const std::string trimmed(indexsql::trimmed(term));
    if (trimmed.empty())
        return {};
    std::vector<std::string> tokens;
    std::unordered_set<std::string> seen;
    const std::string lowered = text::lower(trimmed);
    appendUnique(tokens, seen, lowered);
    appendUnique(tokens, seen, kOcrPrefix + lowered);
    // The keys are compared as typed: they are Chinese, case does not arise.
    if (const auto row = keywordLabels().find(trimmed); row != keywordLabels().end()) {
        for (const std::string& label : row->second)
            appendUnique(tokens, seen, label);
        for (const std::string& label : row->second)
            appendUnique(tokens, seen, kOcrPrefix + label);
    }
    return tokens;
}

ImageFuzzySearch::Plan ImageFuzzySearch::plan(const SearchQuery& query, int limit, bool withServer)
{
    Plan plan;
    for (std::size_t i = 0; i < std::min(query.tokens.size(), kMaxTerms); ++i)
        if (std::vector<std::string> group = expandFuzzyTokens(query.tokens[i]); !group.empty())
            plan.groups.push_back(std::move(group));
    for (const auto& group : plan.groups)
        for (const std::string& token : group)
            if (!token.starts_with(kOcrPrefix))
                plan.nameTokens.push_back(token);
    plan.caseSensitive = query.caseSensitive;
    plan.cap = std::min(limit, kMaxItems);
    // Widened before the clamps so that a huge limit cannot overflow.
    const long long wide = limit;
    plan.localTagLimit = static_cast<int>(std::clamp(wide * 8, 1800LL, 6000LL));
    plan.serverTagLimit = withServer ? static_cast<int>(std::min(wide * 3, 2200LL)) : 0;
    plan.folderLimit = std::min(limit, 240);
    plan.candidateLimit = std::clamp(plan.cap * 10, 2200, 8000);
    return plan;
}

ImageFuzzySearch::TagHits ImageFuzzySearch::tagHits(const Plan& plan, ImageTagStore& localTags,
                                                    ImageTagStore* serverTags)
{
    TagHits hits;
    if (plan.groups.empty())
        return hits;
    hits.local = localTags.searchPaths(plan.groups, plan.localTagLimit);
    if (serverTags && plan.serverTagLimit > 0)
        hits.server = serverTags->searchPaths(plan.groups, plan.serverTagLimit);
    return hits;
}

std::vector<IndexedItem> ImageFuzzySearch::gather(const Plan& plan, IndexStore& index, const TagHits& hits,
                                                  IndexStore* serverIndex, const CancelToken* cancel)
{
    if (plan.groups.empty())
        return {};
    const std::vector<std::string> folders =
        index.folderPathsMatchingNameTokens(plan.nameTokens, plan.caseSensitive, plan.folderLimit, cancel);

    // Each index holds its own side's paths: the local one the folders and
    // local images, the shared-drive one the shared-drive images.
    std::vector<std::string> localCandidates;
    std::vector<std::string> serverCandidates;
    std::unordered_set<std::string> seen;
    const std::size_t most = static_cast<std::size_t>(plan.candidateLimit);
    for (const std::vector<std::string>* list : {&folders, &hits.local})
        for (const std::string& path : *list)
            if (localCandidates.size() < most)
                appendUnique(localCandidates, seen, path);
    for (const std::string& path : hits.server)
        if (localCandidates.size() + serverCandidates.size() < most)
            appendUnique(serverCandidates, seen, path);
    const std::size_t candidates = localCandidates.size() + serverCandidates.size();
    if (candidates == 0)
        return {};
    const int lookups = std::min(std::max(plan.cap * 6, 1200), static_cast<int>(candidates));
    // The caches only: paths an index does not hold (or an index whose cache
    // is not loaded yet) give no item.
    std::vector<IndexedItem> items = index.items(localCandidates, lookups);
    const int left = lookups - static_cast<int>(items.size());
    if (serverIndex && left > 0) {
        std::vector<IndexedItem> shared = serverIndex->items(serverCandidates, left);
        items.insert(items.end(), std::make_move_iterator(shared.begin()), std::make_move_iterator(shared.end()));
    }
    return items;
}

QList<IndexedItem> ImageFuzzySearch::finish(std::vector<IndexedItem> items, const QSet<QString>& excludingPaths,
                                            SearchSortField sortField, bool ascending, int cap)
{
    QList<IndexedItem> kept;
    for (IndexedItem& item : items)
        if (!excludingPaths.contains(QString::fromUtf8(item.path())))
            kept.append(std::move(item));
    kept = sortedFuzzyResults(std::move(kept), sortField, ascending);
    if (kept.size() > cap)
        kept.resize(std::max(cap, 0));
    return kept;
}

int ImageFuzzySearch::fuzzyKindOrder(const IndexedItem& item)
{
    if (item.isDirectory())
        return 0;
    if (kinds::isImageExtension(item.fileExtension()))
        return 1;
    // Every file with an extension that is not an image is document-like, so
    // the video, audio, archive and executable ranks (3 to 6) never arise:
    // what is left has no extension at all.
    return item.isDocumentLike() ? 2 : 7;
}

QList<IndexedItem> ImageFuzzySearch::sortedFuzzyResults(QList<IndexedItem> items, SearchSortField sortField,
                                                        bool ascending)
{
    std::stable_sort(items.begin(), items.end(), [&](const IndexedItem& a, const IndexedItem& b) {
        const int kindA = fuzzyKindOrder(a), kindB = fuzzyKindOrder(b);
        if (kindA != kindB)
            return kindA < kindB;
        if (const int byField = compareByField(a, b, sortField); byField != 0)
            return ascending ? byField < 0 : byField > 0;
        return compareTexts(a.path(), b.path()) < 0;
    });
    return items;
}

} // namespace pallix
