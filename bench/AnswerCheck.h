#pragma once
// AnswerCheck: works out, the long way, what each search route of the store
// must answer, and compares. It reads every row of the database on a
// connection of its own (in row order, the order in which the store's cache
// holds them) and keeps them as plain records, so nothing of the store's
// compact table, inverted indexes or SQL is trusted:
//  - complete indexes: the candidate set of a one-word query is recomputed from
//    the kept characters of every name form (every item holding all the word's
//    pairs, or its one character, wherever in the name, the extension
//    included; nothing is cut before ranking), the store's candidates must be exactly that set, and the answer
//    must equal a ranking of those candidates (or of every item, when there
//    are none or they rank to nothing);
//  - scan: the linear scan of the cached list is replayed with its caps, and
//    the names past its reach that hold every word join its best, up to the
//    limit, unless names fill its answer (then only those beginning with the
//    first word, unless they rank below the word starts);
//  - database: the prefix rows are picked by a LIKE matcher of our own.
// Single-threaded; holds a few hundred bytes per row, so it is dropped before timing.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/Search/SearchEngine.h"

namespace pallix::bench {

class AnswerCheck {
public:
    // Reads every row of `db`. Throws std::runtime_error when it cannot.
    explicit AnswerCheck(const std::filesystem::path& db);

    std::size_t itemCount() const { return m_items.size(); }

    // Each returns nothing when `answer` is right, else what is wrong.
    std::optional<std::string> checkComplete(const IndexStoreProbe& store, const SearchQuery& query, int limit,
                                             const std::vector<IndexedItem>& answer) const;
    std::optional<std::string> checkScan(const SearchQuery& query, int limit, int hardCap,
                                         const std::vector<IndexedItem>& answer) const;
    std::optional<std::string> checkDatabase(const SearchQuery& query, int limit,
                                             const std::vector<IndexedItem>& answer) const;

    // How the last checkComplete() chose its reference: "index candidates",
    // "index candidates, then all items" or "all items".
    const std::string& lastCompleteRoute() const { return m_lastRoute; }

private:
    // Kept characters of a name form, each followed by '\x1f', with one '\x1f'
    // in front: the lower-cased name, the normalised name, and the normalised
    // stem when it is not a head of the normalised name (else empty).
    struct NameKeys {
        std::string plain;
        std::string normalized;
        std::string stem;
    };

    // The index candidates of a one-word query before the cap; nothing when the
    // store must rank every item instead.
    std::optional<std::vector<std::uint32_t>> candidatePositions(const SearchQuery& query) const;
    // The word's pairs (or its one kept character) as needles in the key strings.
    static std::vector<std::string> keyNeedlesOf(const std::string& token);
    bool holds(std::size_t position, const std::string& needle) const;
    std::vector<IndexedItem> rankAll(const SearchQuery& query, int limit) const;
    std::vector<IndexedItem> itemsAt(const std::vector<std::uint32_t>& positions) const;

    std::vector<IndexedItem> m_items;
    std::vector<NameKeys> m_keys;
    SearchEngine m_engine;
    mutable std::string m_lastRoute;
};

} // namespace pallix::bench
