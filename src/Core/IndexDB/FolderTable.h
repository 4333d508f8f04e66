#pragma once
// FolderTable: the folders the search cache's items sit in, each path kept
// once with the forms ranking composes item paths from (lower-cased,
// normalised, their lengths in characters). A folder's number stays valid for
// the table's life; folders are only added (a rewrite drops the unused ones).
// The forms lie in an arena: a table of deep paths grows without a copy.
//
// Not thread-safe: the owning item table serialises changes. Views stay valid
// until the next change; reading from several threads at once is safe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/IndexDB/ByteArena.h"
#include "Core/Search/ItemFacts.h"

namespace pallix {

// A polynomial hash of byte strings that joins: of(a + b) equals
// join(of(a), b), so an item's path hashes from its folder's hash and its name.
struct PathHash {
    static std::uint64_t of(std::string_view s) { return join(0, s); }
    static std::uint64_t join(std::uint64_t head, std::string_view tail);
    // Spreads the bits for a table index.
    static std::uint64_t finish(std::uint64_t h);
};

class FolderTable {
public:
    std::size_t size() const { return m_records.size(); }
    // The number of `path`, added (with its forms worked out) when new.
    std::uint32_t intern(std::string_view path);
    std::optional<std::uint32_t> find(std::string_view path) const;
    std::string_view path(std::uint32_t id) const;
    // Cache hints for a reader about to take many paths: the record, then (once
    // the record is at hand) the path's bytes.
    void prefetch(std::uint32_t id) const { __builtin_prefetch(&m_records[id]); }
    void prefetchPath(std::uint32_t id) const { __builtin_prefetch(m_text.at(m_records[id].offset)); }
    // The folder holding folder `id` when it was known as `id` came (a lower
    // number), else ItemFacts::kNoFolder.
    std::uint32_t parent(std::uint32_t id) const { return m_records[id].parent; }
    FolderForms forms(std::uint32_t id) const;
    // Adds the folder `id` of `other` with its forms, which are not worked out again.
    std::uint32_t internFrom(const FolderTable& other, std::uint32_t id);

    void clear();
    std::size_t memoryUsage() const;
    // What folder `id` adds to memoryUsage(): its forms, its record, its
    // slots; and the sum of that over every folder.
    std::size_t footprintOf(std::uint32_t id) const;
    std::size_t footprint() const { return m_footprint; }

    // The PathHash::of() of folder `id`'s path, kept so that item paths hash
    // without reading the folder again.
    std::uint64_t pathHash(std::uint32_t id) const { return m_records[id].hash; }

private:
    struct Record {
        std::uint64_t hash = 0;    // PathHash::of(path)
        std::uint64_t offset = 0;  // into m_text: path, then comparable unless equal, then normalised
        std::uint32_t pathLength = 0;
        std::uint32_t comparableLength = 0;
        std::uint32_t normalizedLength = 0;
        std::uint32_t comparableCount = 0;
        std::uint32_t normalizedCount = 0;
        std::uint32_t parent = ItemFacts::kNoFolder;  // the folder holding this one, when known
        bool comparableStored = false;  // else the path is its own comparable form
        bool asciiPath = false;
        bool lowersToComparable = false;  // in the record's padding: no bytes more per folder
    };

    // Adds `f`'s path with its forms; its parent is looked up here.
    std::uint32_t add(const FolderForms& f);
    void grow();

    ByteArena m_text;
    std::vector<Record> m_records;
    std::vector<std::uint32_t> m_slots;  // open addressing: id + 1, 0 = empty
    std::uint32_t m_lastInterned = 0;    // items arrive grouped by folder: tried first
    std::size_t m_footprint = 0;
};

} // namespace pallix
