#pragma once
// ItemTable: the search cache's list of items, stored compactly, with the map
// from path to position. An item's position is its index in the list.
//
// Each item is a 40-byte entry, its facts for the search engine (ItemFacts,
// 16 bytes) and one run of bytes in a chunked arena. The path is not stored:
// an item's parent folder is kept once in a FolderTable for all the items in
// it, and the path is that folder joined with the name. The run starts with
// the name; the other text fields are stored only when they cannot be read off
// another one: the lower-cased name is often the name itself, the stems are
// heads of the full forms and the extension the tail of the lower-cased name.
// Items that do not fit (a path that is not its folder joined with its name, a
// field longer than 65,535 bytes, or searchable text) are kept whole on the
// side. Replaced runs become garbage until compactIfWasteful().
//
// Not thread-safe: the owning store serialises every call. Views (ItemRef)
// stay valid until the next change of the table, except the path of at(),
// which is assembled in a buffer of the calling thread and is valid until that
// thread's next at(). Reading from several threads at once, with no change in
// between, is safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/IndexDB/FolderTable.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/ItemFacts.h"
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
    // The item's path, assembled in `scratch` unless it is kept whole.
    std::string_view pathOf(std::size_t position, std::string& scratch) const;
    std::string_view nameAt(std::size_t position) const override;
    // The name and its lower-cased form, read without the rest of the item.
    std::pair<std::string_view, std::string_view> nameAndSearchName(std::size_t position) const;
    ItemRef atWithoutPath(std::size_t position) const override { return refWithoutPath(position); }
    ItemRef nameFormsAt(std::size_t position) const override;
    NameViews namesAt(std::size_t position) const override;
    void prefetchRecord(std::size_t position) const override;
    void prefetchNames(std::size_t position) const override;
    const ItemFacts* facts() const override { return m_facts.data(); }
    FolderForms folder(std::uint32_t id) const override { return m_folders.forms(id); }
    std::size_t folderCount() const override { return m_folders.size(); }
    // The name's collation ordinal (see NameOrder.h), 0 until one is set and
    // for an item stored since.
    std::uint32_t nameOrder(std::size_t position) const override { return m_entries[position].nameOrder; }
    // Sets every item's ordinal, in position order.
    void setNameOrders(const std::vector<std::uint32_t>& orders);
    // Every item has the ordinal set last: nothing changed since.
    bool hasNameOrders() const { return m_orderedVersion == m_version; }
    // Changes with every change of the items or their positions; no two
    // tables of the process share one.
    std::uint64_t version() const { return m_version; }
    // The item as a record; its search forms are the stored ones.
    IndexedItem materialize(std::size_t position) const;
    // The records of `positions`, in order. Ranked positions lie all over the
    // table, so each item's entry, run and folder are fetched a few records
    // ahead. Many records are made on the kept threads.
    std::vector<IndexedItem> materialize(std::span<const std::uint32_t> positions) const;

    std::optional<std::uint32_t> find(std::string_view path) const;
    // The name forms the search indexes take their keys from.
    struct KeyForms {
        std::string_view searchName;
        std::string_view normalizedSearchName;
        std::string_view normalizedStem;  // normalizedSearchNameWithoutExtension
    };
    KeyForms keyForms(std::size_t position) const;

    // The parts' items in order, as one table; the parts' storage is taken
    // over, not copied. A later item with a path already seen replaces it.
    static ItemTable concatenate(std::vector<ItemTable>&& parts);

    // Replaces the item at `position` (same path expected) without touching the map.
    void replace(std::uint32_t position, const IndexedItem& item);
    // Appends and enters the path in the map, overwriting an entry for it
    // (the earlier item then hides from the map, and removals pass over
    // every item from then on: patch() is the way to replace).
    std::uint32_t append(const IndexedItem& item);
    // The cache patch of one written item: replace where its path is, else append.
    void patch(const IndexedItem& item);
    // Drops, in place and keeping order, every item at or under `prefix` ("/"
    // reaches every absolute path) and rebuilds the map. Returns how many went.
    std::size_t removeUnder(std::string_view prefix);
    // removeUnder() that keeps every item at or under one of `keptFolders`
    // (standardised paths), and appends the positions the dropped items had,
    // ascending, to `removedPositions` when given.
    std::size_t removeUnder(std::string_view prefix, const std::vector<std::string>& keptFolders,
                            std::vector<std::uint32_t>* removedPositions = nullptr);
    // Drops every item at or under any of `prefixes` (standardised) in one
    // pass; the positions they had go to `removedPositions`, ascending.
    std::size_t removeUnderAny(const std::vector<std::string>& prefixes, std::vector<std::uint32_t>* removedPositions);

    void clear();
    void reserve(std::size_t count);
    // Gives back reserved room that is not used (after a bulk load).
    void shrinkToFit();
    // Rewrites the arena without garbage when at least half of it is garbage,
    // and the folders as compactFoldersIfWasteful() does. Positions and
    // names stay.
    void compactIfWasteful();
    // Rewrites the folders without the unused ones when these hold most of
    // the folders' bytes. Deciding costs nothing, so it may follow every
    // write: the runs' garbage grows with the changes a fold waits for, the
    // folders' does not (a deep tree made and removed leaves megabytes of
    // paths in a few thousand changes).
    void compactFoldersIfWasteful();

    // Bytes held: entries, facts, arena, folders, side items and the path map.
    std::size_t memoryUsage() const;

private:
    // One item: its numbers, the lengths of its text fields, which of them are
    // stored in its run (flags) and where the run starts. Its folder is in its facts.
    struct Entry {
        std::int64_t size = 0;
        double modifiedAt = 0;
        std::uint32_t offsetLow = 0;  // arena offset (low 32 bits), or the side item's index
        std::uint16_t offsetHigh = 0;
        std::uint16_t flags = 0;
        std::uint16_t nameLength = 0;
        std::uint16_t searchNameLength = 0;
        std::uint16_t stemLength = 0;
        std::uint16_t normalizedLength = 0;
        std::uint16_t normalizedStemLength = 0;
        std::uint16_t extensionLength = 0;
        std::uint32_t nameOrder = 0;

        std::uint64_t offset() const { return (std::uint64_t(offsetHigh) << 32) | offsetLow; }
        void setOffset(std::uint64_t o)
        {
            offsetLow = static_cast<std::uint32_t>(o);
            offsetHigh = static_cast<std::uint16_t>(o >> 32);
        }
        std::size_t runLength() const;  // bytes of its run in the arena
    };

    void store(std::size_t position, const IndexedItem& item);  // entry and facts of a new or replaced item
    Entry makeEntry(const IndexedItem& item, std::uint32_t& folder);
    // The entry at `position` leaves: its run becomes garbage, its folder loses a use.
    void release(std::size_t position);
    void mapInsert(std::uint32_t position);
    void mapInsert(std::uint32_t position, std::uint64_t hash);  // hash: hashOf(position), or its low 32 bits
    void rebuildMap(std::size_t expectedCount);
    // rebuildMap() that also drops every item whose path comes again later.
    void rebuildMapDroppingEarlierDuplicates();
    std::uint64_t hashOf(std::uint32_t position) const;
    bool hasPath(std::uint32_t position, std::string_view path) const;
    bool samePath(std::uint32_t a, std::uint32_t b) const;
    std::string_view nameOf(const Entry& e) const;
    // Fills `r`'s name and search forms from an entry's run (not a side
    // item's); returns where the run goes on, at the stored extension.
    const char* readNameForms(const Entry& e, ItemRef& r) const;
    ItemRef refWithoutPath(std::size_t position) const;  // at() with an empty path for stored items
    // Cache hints for materialize(), in the order the reads depend on each other.
    void prefetchEntry(std::uint32_t position) const;
    void prefetchRunAndFolder(std::uint32_t position) const;  // reads the entry and facts
    void prefetchFolderPath(std::uint32_t position) const;    // reads the folder's record
    void materializeInto(std::span<const std::uint32_t> positions, IndexedItem* records) const;
    // A table's folders are not rewritten for less garbage than this.
    static constexpr std::size_t kFolderGarbageFloor = 256 * 1024;

    void compactFolders();
    // The item at `position` takes or leaves its folder.
    void useFolder(std::uint32_t folder);
    void leaveFolder(std::size_t position);
    // Counts the uses again after the facts were made or renumbered in bulk.
    void countFolderUses();
    // The positions, ascending, of the items at or under one of `gone` and
    // neither at nor under one of `kept` nor a kept folder itself (all
    // standardised). Exact paths are looked up in the map; only when a
    // folder lies under `gone` are the items' folders read, never their paths.
    std::vector<std::uint32_t> positionsUnder(const std::vector<std::string>& gone,
                                              const std::vector<std::string>& kept) const;
    // Drops the items at the ascending `gone` positions, keeping order, and
    // appends those positions to `removedPositions` when given.
    std::size_t dropPositions(const std::vector<std::uint32_t>& gone, std::vector<std::uint32_t>* removedPositions);
    // Takes `position` out of the map, moving back the entries that probed past it.
    void mapErase(std::uint32_t position);
    // The map after the ascending `gone` positions left the list: the others move down.
    void renumberSlots(const std::vector<std::uint32_t>& gone);

    std::vector<Entry> m_entries;
    std::vector<ItemFacts> m_facts;             // per position; the folder of each composed item
    std::unique_ptr<ByteArena> m_arena;
    FolderTable m_folders;
    std::vector<IndexedItem> m_sideItems;       // items that do not fit an entry
    std::vector<std::uint32_t> m_slots;         // open addressing: position + 1, 0 = empty
    std::size_t m_liveArenaBytes = 0;          // bytes of the runs still referenced
    std::vector<std::uint32_t> m_folderUses;   // per folder, the items in it
    std::size_t m_deadFolderBytes = 0;         // footprint of the folders no item is in
    std::size_t m_liveSideItems = 0;
    // A table's own first version (from a counter of the process) in the
    // high half, its changes counted in the low half: a table moved into
    // another's place never brings a version that one had.
    std::uint64_t m_version;
    bool m_hasRepeats = false;  // append() met a path already there: an earlier item hides from the map
    std::optional<std::uint64_t> m_orderedVersion;  // m_version when the ordinals were set
};

} // namespace pallix
