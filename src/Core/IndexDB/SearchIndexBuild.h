#pragma once
// Building the search cache's three inverted indexes (kept characters, pairs
// of adjacent kept characters, prefixes of one to four kept characters) from
// the two name stems of every item: `searchNameWithoutExtension` and
// `normalizedSearchNameWithoutExtension`. Only these stems give keys.
//
// The build works on a copy of the stems (StemList), so it needs no lock on the
// cache; it splits the positions into blocks of 65,536 and runs them on worker
// threads, assembling the blocks in order. Callable from any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "Core/IndexDB/PostingIndex.h"
#include "Core/IndexDB/TextList.h"

namespace pallix {

struct SearchIndexes {
    PostingIndex characters;  // one kept character -> positions
    PostingIndex bigrams;     // two adjacent kept characters -> positions
    PostingIndex prefixes;    // the first one to four kept characters -> positions

    std::size_t memoryUsage() const
    {
        return characters.memoryUsage() + bigrams.memoryUsage() + prefixes.memoryUsage();
    }
};

// The stems of positions 0, 1, 2, ... in one buffer.
class StemList {
public:
    void reserve(std::size_t items, std::size_t bytes) { m_texts.reserve(2 * items, bytes); }
    void append(std::string_view stem, std::string_view normalizedStem)
    {
        m_texts.append(stem);
        m_texts.append(normalizedStem);
    }
    std::size_t size() const { return m_texts.size() / 2; }
    std::string_view stem(std::size_t i) const { return m_texts.at(2 * i); }
    std::string_view normalizedStem(std::size_t i) const { return m_texts.at(2 * i + 1); }

private:
    TextList m_texts;
};

// Adds the de-duplicated keys of one item to the three block builders.
void addItemKeys(std::string_view stem, std::string_view normalizedStem, std::uint32_t position,
                 PostingIndex::BlockBuilder& characters, PostingIndex::BlockBuilder& bigrams,
                 PostingIndex::BlockBuilder& prefixes);

// Builds the indexes of every position of `stems` on up to `threads` threads.
// `keepGoing` is polled now and then from the workers; when it says no, the
// build stops and nothing is returned.
std::optional<SearchIndexes> buildSearchIndexes(const StemList& stems, unsigned threads,
                                                const std::function<bool()>& keepGoing);

} // namespace pallix
