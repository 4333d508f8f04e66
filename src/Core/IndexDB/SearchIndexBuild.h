#pragma once
// Building the search cache's three inverted indexes (kept characters, pairs
// of adjacent kept characters, prefixes of one to four kept characters) from
// the two name stems of every item: `searchNameWithoutExtension` and
// `normalizedSearchNameWithoutExtension`. Only these stems give keys.
//
// The build works on a copy of the stems (StemList), so it needs no lock on the
// cache; it splits the positions into blocks of 65,536 and runs them on worker
// threads, assembling the blocks in order. Callable from any thread.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/IndexDB/PostingIndex.h"
#include "Core/IndexDB/SearchKeys.h"
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

enum class IndexKind { Characters, Bigrams, Prefixes };

namespace detail {

// True when the normalised stem is exactly the kept characters of the plain
// stem joined, as for every ASCII name: its keys would be the same again.
bool sameKeys(const std::vector<std::string_view>& kept, std::string_view normalizedStem);

template <class Sink>
void forEachFormKey(const std::vector<std::string_view>& kept, Sink& sink, std::string& scratch)
{
    for (std::size_t i = 0; i < kept.size(); ++i) {
        sink(IndexKind::Characters, kept[i]);
        if (i + 1 < kept.size()) {
            scratch.assign(kept[i]).append(kept[i + 1]);
            sink(IndexKind::Bigrams, std::string_view(scratch));
        }
    }
    scratch.clear();
    for (std::size_t k = 0; k < std::min<std::size_t>(4, kept.size()); ++k) {
        scratch.append(kept[k]);
        sink(IndexKind::Prefixes, std::string_view(scratch));
    }
}

} // namespace detail

// Calls sink(kind, key) for every key of one item, from both stems; a key
// may come more than once, and each receiver ignores the repeats.
template <class Sink>
void forEachItemKey(std::string_view stem, std::string_view normalizedStem, Sink&& sink)
{
    thread_local std::vector<std::string_view> kept;
    thread_local std::string scratch;
    keptCharacters(stem, kept);
    detail::forEachFormKey(kept, sink, scratch);
    if (detail::sameKeys(kept, normalizedStem))
        return;
    keptCharacters(normalizedStem, kept);
    detail::forEachFormKey(kept, sink, scratch);
}

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
