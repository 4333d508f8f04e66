#pragma once
// TypingScan: the typing road's capped scan of the cached items, the first
// items in list order whose name or path holds every word of the query.
//
// The path is not assembled for an item whose folder the table knows: a word
// without "/" is in the path exactly when it is in the folder's path, worked
// out once per folder (from its parent's answer and its own name where the
// table knows the parent), or in the name. Chunks of the list are scanned on the
// spare cores, handed out in list order and joined in list order, so the
// answer is the one a single pass gives; none is started once the chunks
// before it hold enough.
//
// Threads: one scan runs on the calling thread and the kept slice threads;
// the table must not change meanwhile (the store's lock is held).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Core/IndexDB/ItemTable.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

class CancelToken;

// Work on each chunk's matches right after the chunk is scanned, on the
// thread that scanned it, so that it overlaps the rest of the scan. A chunk
// may still be told of when it turns out to lie past the cap: the matches
// the scan returns are the answer, what a sink kept of later ones is not.
class ScanChunkSink {
public:
    virtual ~ScanChunkSink() = default;
    // Before any chunk: the scan's slices (one thread each) and chunks.
    virtual void begin(unsigned slices, std::size_t chunks) = 0;
    // Chunk `chunk`'s matches, ascending, scanned by slice `slice`; a slice is
    // told of its chunks in list order.
    virtual void scanned(unsigned slice, std::size_t chunk, std::span<const std::uint32_t> matches) = 0;
};

// What the last scan found, kept for the next keystroke. A word typed on
// (every earlier word within one of the new ones) matches only items the
// earlier words matched, so a scan that narrows the last one reads what it
// found and the items past its cap, not the whole list again. Kept per
// table state: any change of the table's items or positions forgets it.
struct ScanMemory {
    const ItemTable* table = nullptr;  // none: nothing kept
    std::uint64_t version = 0;         // the table's when the scan ran
    bool caseSensitive = false;
    std::vector<std::string> needles;  // a Contains scan's
    std::size_t cap = 0;
    std::size_t bound = 0;
    std::vector<std::uint32_t> matches;  // the scan's answer
};

class TypingScan {
public:
    TypingScan(const ItemTable& items, const SearchQuery& query);

    // Up to `cap` positions, ascending, of the first `bound` items; a
    // cancelled scan returns what it found so far. `sink`, when given, is
    // told of every chunk scanned, on the scanning thread.
    // With `memory`, what it holds of an earlier scan this one narrows is
    // used, and it keeps this scan's answer unless the scan was cancelled.
    std::vector<std::uint32_t> collect(std::size_t cap, std::size_t bound, const CancelToken* cancel,
                                       ScanChunkSink* sink = nullptr, ScanMemory* memory = nullptr) const;
    bool hasWords() const { return !m_needles.empty(); }

    // Of `positions`, ascending, the first up to `cap` whose name (not path)
    // holds every word, in contains mode; a cancelled test returns what it
    // found so far. The items looked at may lie anywhere in the list.
    std::vector<std::uint32_t> namesHoldingEveryWord(std::span<const std::uint32_t> positions, std::size_t cap,
                                                     const CancelToken* cancel) const;

private:
    class Slice;

    // True when `memory` holds a scan of this table as it is, with this cap
    // and bound, whose every word lies within one of this scan's words.
    bool narrows(const ScanMemory& memory, std::size_t cap, std::size_t bound) const;
    void remember(ScanMemory& memory, std::size_t cap, std::size_t bound,
                  const std::vector<std::uint32_t>& matches) const;

    const ItemTable& m_items;
    const SearchMatchMode m_mode;
    const bool m_caseSensitive;
    std::vector<std::string> m_needles;  // trimmed, case-folded words
    bool m_foldersDecide = false;        // a Contains search, every needle without "/", at most 16
    // Per needle, case-insensitive only: the characterMask() bits of its ASCII
    // letters and digits and its CJK ideographs. A lower-cased name holding
    // the needle holds these characters, and its normalised form keeps every
    // one of them: a name whose facts lack a bit is turned down unread.
    std::vector<std::uint64_t> m_nameMasks;
    // Per needle, alike: the pairMask() bits of its adjacent ASCII letters and
    // digits. In an ASCII name the normalised form keeps exactly its letters
    // and digits, lower-cased, so such a pair of the name stays adjacent in it.
    std::vector<std::uint32_t> m_namePairs;
};

} // namespace pallix
