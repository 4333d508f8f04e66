#pragma once
// ItemTable: the search cache's list of items, stored compactly, with the map
// from path to position. An item's position is its index in the list.
//
// Each item is a 40-byte entry plus one run of bytes in a chunked arena. The
// run starts with the path; the other text fields are stored only when they
// cannot be read off another one: the name is the path's tail, the parent
// folder its head, the lower-cased name is often the name itself, the stems are
// heads of the full forms and the extension the tail of the lower-cased name.
// Items that do not fit (a field longer than 65,535 bytes, or searchable text)
// are kept whole on the side. Replaced runs become garbage until compact().
//
// Not thread-safe: the owning store serialises every call. Views (ItemRef)
// stay valid until the next change of the table; reading from several threads
// at once, with no change in between, is safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchEngine.h"

namespace pallix {

class ItemTable final : public ItemSource {
public:
    ItemTable();
    ~ItemTable() override;
    ItemTable(ItemTable&&) noexcept;
    ItemTable& operator=(ItemTable&&) noexcept;

    std::size_t size() const override { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    ItemRef at(std::size_t position) const override;
    // The item as a record; its search forms are the stored ones.
    IndexedItem materialize(std::size_t position) const;

    std::optional<std::uint32_t> find(std::string_view path) const;
    // The two name stems (searchNameWithoutExtension and its normalised form).
    std::pair<std::string_view, std::string_view> stems(std::size_t position) const;

    // The parts' items in order, as one table; the parts' storage is taken
    // over, not copied. A later item with a path already seen replaces it.
    static ItemTable concatenate(std::vector<ItemTable>&& parts);

    // Replaces the item at `position` (same path expected) without touching the map.
    void replace(std::uint32_t position, const IndexedItem& item);
    // Appends and enters the path in the map, overwriting an entry for it.
    std::uint32_t append(const IndexedItem& item);
    // The cache patch of one written item: replace where its path is, else append.
    void patch(const IndexedItem& item);
    // Drops, in place and keeping order, every item at or under `prefix` ("/"
    // reaches every absolute path) and rebuilds the map. Returns how many went.
    std::size_t removeUnder(std::string_view prefix);

    void clear();
    void reserve(std::size_t count);
    // Gives back reserved room that is not used (after a bulk load).
    void shrinkToFit();
    // Rewrites the arena without garbage when at least half of it is garbage.
    void compactIfWasteful();

    // Bytes held: entries, arena, side items and the path map.
    std::size_t memoryUsage() const;

private:
    // One item: its numbers, the lengths of its text fields, which of them are
    // stored in its run (flags) and where the run starts.
    struct Entry {
        std::int64_t size = 0;
        double modifiedAt = 0;
        std::uint32_t offsetLow = 0;  // arena offset (low 32 bits), or the side item's index
        std::uint16_t offsetHigh = 0;
        std::uint16_t flags = 0;
        std::uint16_t pathLength = 0;
        std::uint16_t nameLength = 0;
        std::uint16_t parentLength = 0;
        std::uint16_t searchNameLength = 0;
        std::uint16_t stemLength = 0;
        std::uint16_t normalizedLength = 0;
        std::uint16_t normalizedStemLength = 0;
        std::uint16_t extensionLength = 0;

        std::uint64_t offset() const { return (std::uint64_t(offsetHigh) << 32) | offsetLow; }
        void setOffset(std::uint64_t o)
        {
            offsetLow = static_cast<std::uint32_t>(o);
            offsetHigh = static_cast<std::uint16_t>(o >> 32);
        }
        std::size_t runLength() const;  // bytes of its run in the arena
    };
    class Arena;

    std::uint32_t insertEntry(const IndexedItem& item, std::uint32_t position, bool appendNew);
    Entry makeEntry(const IndexedItem& item);
    void mapInsert(std::uint32_t position);
    void rebuildMap(std::size_t expectedCount);
    // rebuildMap() that also drops every item whose path comes again later.
    void rebuildMapDroppingEarlierDuplicates();
    std::string_view pathOf(std::uint32_t position) const;

    std::vector<Entry> m_entries;
    std::unique_ptr<Arena> m_arena;
    std::vector<IndexedItem> m_sideItems;       // items that do not fit an entry
    std::vector<std::uint32_t> m_slots;         // open addressing: position + 1, 0 = empty
    std::size_t m_liveArenaBytes = 0;          // bytes of the runs still referenced
    std::size_t m_liveSideItems = 0;
};

} // namespace pallix
