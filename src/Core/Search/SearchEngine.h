#pragma once
// SearchEngine: filters, ranks and orders candidate items for a query.
// Stateless and pure: any number of searches may run at once on any threads.
// A search over many candidates filters them on a few more threads of its
// own, and returns once they are done.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/ItemFacts.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Text.h"

namespace pallix {

// Where the engine reads candidates from: a list of items, or the store's
// compact cache. Its items must not change during a call, and it is read
// from several threads at once.
class ItemSource {
public:
    virtual ~ItemSource() = default;
    virtual std::size_t size() const = 0;
    // The item's fields. A source that keeps facts may assemble the path in a
    // buffer of the calling thread (valid until the thread's next at()); the
    // engine then reads paths through atWithoutPath() only. Every other view,
    // and every path of a source without facts, stays valid for the whole call.
    virtual ItemRef at(std::size_t index) const = 0;
    // The item's name, and with its two normalised forms (normalizedSearchName
    // and its stem), without the rest of it.
    struct NameViews {
        std::string_view name;
        std::string_view normalized;
        std::string_view normalizedStem;
    };
    virtual std::string_view nameAt(std::size_t index) const { return at(index).name; }
    // Hints that namesAt(index) or nameFormsAt(index) comes soon, in two steps some work apart:
    // first where the item's record is, then (with the record at hand) its
    // name. Reading names of items far apart waits on memory; a source that
    // keeps them in memory starts fetching, others do nothing.
    virtual void prefetchRecord(std::size_t) const {}
    virtual void prefetchNames(std::size_t) const {}
    virtual NameViews namesAt(std::size_t index) const;
    // at() without the path (an empty view) when the item's facts name its
    // folder: its path is that folder's joined with its name.
    virtual ItemRef atWithoutPath(std::size_t index) const { return at(index); }
    // The item's name and its search forms (searchName, the normalised name,
    // each with its stem) and maybe nothing else: what ranking a name reads,
    // without the folder's path, which is another read far away.
    virtual ItemRef nameFormsAt(std::size_t index) const { return atWithoutPath(index); }
    // Facts of every item, in index order, naming folders 0 ... folderCount() - 1;
    // null when the source keeps none (the engine then reads every candidate).
    virtual const ItemFacts* facts() const { return nullptr; }
    virtual FolderForms folder(std::uint32_t id) const;
    virtual std::size_t folderCount() const { return 0; }
    // A number that orders names as the result order compares them, equal for
    // names that compare equal; 0 when the source knows none for the item.
    virtual std::uint32_t nameOrder(std::size_t) const { return 0; }
};

class SearchEngine {
public:
    // User-provided, so that const engines need no initialiser.
    constexpr SearchEngine() noexcept {}

    // Rank constants.
    static constexpr std::int64_t kPatternRank = 500;     // regular expression or wildcard
    static constexpr std::int64_t kFilterOnlyRank = 900;  // no tokens, some filter
    static constexpr std::size_t kTopKMinCandidates = 3000;
    static constexpr std::size_t kTopKLimitSlack = 512;

    // At most `limit` results in result order; empty for limit < 1.
    std::vector<IndexedItem> search(const std::vector<IndexedItem>& items, const SearchQuery& query,
                                    int limit) const;

    // The same over a source: `candidates` are indices into it, in input order
    // (all of the source when nullopt). Returns indices into the source.
    // `regexWatch` (may be null) bounds what the query's expressions may cost
    // and tells the caller when some match ran out of its budget.
    std::vector<std::uint32_t> searchIndices(const ItemSource& source,
                                             std::optional<std::span<const std::uint32_t>> candidates,
                                             const SearchQuery& query, int limit,
                                             text::RegexWatch* regexWatch = nullptr) const;

    // True when `candidates` items are many enough, for `limit`, to keep only the
    // best `limit` in a bounded heap instead of sorting every result.
    static bool takesTopKPath(std::size_t candidates, int limit);

    // Filters, wildcard, ranking: exposed for tests and for the model's narrowing.
    static bool passesFilters(const ItemRef& item, const SearchQuery& query);
    static bool matchesContentFilters(const ItemRef& item, const SearchQuery& query);
    static bool matchesWildcard(const ItemRef& item, const std::string& pattern, bool caseSensitive);
    static std::optional<std::int64_t> nameMatchRank(const ItemRef& item, const SearchQuery& query);

    // Fold (zh_CN; case, diacritics, width) and keep letters, marks and numbers.
    static std::string normalized(std::string_view s);
    static bool isSubsequence(std::string_view needle, std::string_view haystack);
    static std::optional<std::size_t> boundaryPrefixIndex(std::string_view text, std::string_view token);
};

} // namespace pallix
