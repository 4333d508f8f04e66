#pragma once
// Building the search cache's three inverted indexes (kept characters, pairs
// of adjacent kept characters, prefixes of one to four kept characters) from
// the name forms of every item: `searchName` and `normalizedSearchName`, the
// extension included (a word may sit in it or across the dot), and
// `normalizedSearchNameWithoutExtension` when it is not a head of the
// normalised name (a head gives no key the name does not). Only these give keys.
//
// The build splits the positions into blocks of 65,536 and runs them on worker
// threads, assembling the blocks in order. Each block works on a copy of its
// forms (NameList), asked for when the block starts, so the build needs no lock
// on the cache while it extracts keys and holds a few blocks' forms at a time,
// never all of them. Callable from any thread.

#include <algorithm>
#include <cassert>
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

// The normalised stem that gives keys of its own: none when it is a head of
// the normalised name, as it nearly always is.
inline std::string_view stemOfItsOwn(std::string_view normalizedName, std::string_view normalizedStem)
{
    return normalizedName.starts_with(normalizedStem) ? std::string_view() : normalizedStem;
}

// The name forms of positions 0, 1, 2, ... in one list. Only the forms that
// give keys of their own are stored: a normalised name equal to the name, as
// most are, and a stem that heads the normalised name, as nearly all do, are not.
class NameList {
public:
    void reserve(std::size_t items, std::size_t bytes)
    {
        m_texts.reserve(2 * items, bytes);
        m_first.reserve(items);
    }
    void append(std::string_view name, std::string_view normalizedName, std::string_view normalizedStem = {})
    {
        std::uint32_t first = static_cast<std::uint32_t>(m_texts.size());
        assert(first <= kTextIndex);
        m_texts.append(name);
        if (normalizedName != name) {
            m_texts.append(normalizedName);
            first |= kOwnNormalized;
        }
        if (const std::string_view stem = stemOfItsOwn(normalizedName, normalizedStem); !stem.empty()) {
            m_texts.append(stem);
            first |= kOwnStem;
        }
        m_first.push_back(first);
    }
    std::size_t size() const { return m_first.size(); }
    std::string_view name(std::size_t i) const { return m_texts.at(m_first[i] & kTextIndex); }
    std::string_view normalizedName(std::size_t i) const
    {
        return m_first[i] & kOwnNormalized ? m_texts.at((m_first[i] & kTextIndex) + 1) : name(i);
    }
    // Empty unless the stem gives keys of its own.
    std::string_view normalizedStem(std::size_t i) const
    {
        const std::uint32_t first = m_first[i];
        if (!(first & kOwnStem))
            return {};
        return m_texts.at((first & kTextIndex) + 1 + (first & kOwnNormalized ? 1 : 0));
    }

private:
    static constexpr std::uint32_t kOwnNormalized = 1u << 31;
    static constexpr std::uint32_t kOwnStem = 1u << 30;
    static constexpr std::uint32_t kTextIndex = kOwnStem - 1;
    TextList m_texts;
    // Per item: the index of its name in m_texts, and which forms follow it.
    std::vector<std::uint32_t> m_first;
};

enum class IndexKind { Characters, Bigrams, Prefixes };

namespace detail {

// True when the normalised form is exactly the kept characters of the plain
// one joined, as for every ASCII name: its keys would be the same again.
bool sameKeys(const std::vector<std::string_view>& kept, std::string_view normalized);

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

// Calls sink(kind, key) for every key of one item, from its name forms (see
// NameList for the stem); a key may come more than once, and each receiver
// ignores the repeats.
template <class Sink>
void forEachItemKey(std::string_view name, std::string_view normalizedName, std::string_view normalizedStem,
                    Sink&& sink)
{
    thread_local std::vector<std::string_view> kept;
    thread_local std::string scratch;
    keptCharacters(name, kept);
    detail::forEachFormKey(kept, sink, scratch);
    if (!detail::sameKeys(kept, normalizedName)) {
        keptCharacters(normalizedName, kept);
        detail::forEachFormKey(kept, sink, scratch);
    }
    if (!stemOfItsOwn(normalizedName, normalizedStem).empty()) {
        keptCharacters(normalizedStem, kept);
        detail::forEachFormKey(kept, sink, scratch);
    }
}

// Adds the de-duplicated keys of one item to the three block builders.
void addItemKeys(std::string_view name, std::string_view normalizedName, std::string_view normalizedStem,
                 std::uint32_t position,
                 PostingIndex::BlockBuilder& characters, PostingIndex::BlockBuilder& bigrams,
                 PostingIndex::BlockBuilder& prefixes);

// Appends the forms of positions [begin, end) to `out`, one entry a position;
// false stops the build. Each range is asked for once, from the worker that
// builds it, several at a time.
using NameSource = std::function<bool(std::size_t begin, std::size_t end, NameList& out)>;

// Builds the indexes of positions [0, count) on up to `threads` threads.
// `keepGoing` is polled now and then from the workers; when it says no, the
// build stops and nothing is returned.
std::optional<SearchIndexes> buildSearchIndexes(std::size_t count, const NameSource& source, unsigned threads,
                                                const std::function<bool()>& keepGoing);
// The same over every position of `names`.
std::optional<SearchIndexes> buildSearchIndexes(const NameList& names, unsigned threads,
                                                const std::function<bool()>& keepGoing);

} // namespace pallix
