// Changes of the item table: joining loaded parts, patches and the rewrites
// that drop garbage. Removals are in ItemTableRemoval.cpp.

#include <algorithm>
#include <cassert>
#include <cstring>

#include "Core/IndexDB/ItemTable.h"
#include "Core/IndexDB/ItemTableArena.h"
#include "Platform/AllocatorArenas.h"

namespace pallix {

using namespace itemtable;

ItemTable ItemTable::concatenate(std::vector<ItemTable>&& parts)
{
    ItemTable out;
    std::size_t total = 0;
    for (const ItemTable& part : parts)
        total += part.size();
    // The parts' path maps are of no use once joined: the output builds its own.
    for (ItemTable& part : parts)
        std::vector<std::uint32_t>().swap(part.m_slots);
    out.m_entries.reserve(total);
    out.m_facts.reserve(total);
    for (ItemTable& part : parts) {
        part.m_arena->shrinkToFit();
        const std::uint64_t blockBase = std::uint64_t(out.m_arena->adopt(std::move(*part.m_arena))) << ByteArena::kBlockBits;
        const std::size_t sideBase = out.m_sideItems.size();
        for (IndexedItem& item : part.m_sideItems)
            out.m_sideItems.push_back(std::move(item));
        // Folders are interned again: two parts may hold the same folder.
        std::vector<std::uint32_t> folderIds(part.m_folders.size());
        for (std::uint32_t f = 0; f < folderIds.size(); ++f)
            folderIds[f] = out.m_folders.internFrom(part.m_folders, f);
        for (std::size_t p = 0; p < part.m_entries.size(); ++p) {
            Entry e = part.m_entries[p];
            ItemFacts facts = part.m_facts[p];
            if (e.flags & Side) {
                e.setOffset(e.offsetLow + sideBase);
            } else {
                e.setOffset(e.offset() + blockBase);
                facts.folder = folderIds[facts.folder];
            }
            out.m_entries.push_back(e);
            out.m_facts.push_back(facts);
        }
        out.m_liveArenaBytes += part.m_liveArenaBytes;
        out.m_liveSideItems += part.m_liveSideItems;
        part.clear();
        // The part's arrays came from an arena, where freed blocks stay
        // resident: handed back now, not held beside the output to the end.
        returnFreedMemory();
    }
    out.countFolderUses();
    out.rebuildMapDroppingEarlierDuplicates();
    return out;
}

void ItemTable::rebuildMapDroppingEarlierDuplicates()
{
    rebuildMap(m_entries.size());
    // Each path's slot holds its last position; any other position is a repeat.
    std::vector<bool> keep(m_entries.size(), false);
    for (std::uint32_t slot : m_slots)
        if (slot != 0)
            keep[slot - 1] = true;
    if (std::find(keep.begin(), keep.end(), false) == keep.end())
        return;
    std::size_t kept = 0;
    for (std::size_t p = 0; p < m_entries.size(); ++p) {
        if (!keep[p]) {
            release(p);
            continue;
        }
        m_entries[kept] = m_entries[p];
        m_facts[kept++] = m_facts[p];
    }
    m_entries.resize(kept);
    m_facts.resize(kept);
    ++m_version;
    rebuildMap(kept);
}

void ItemTable::replace(std::uint32_t position, const IndexedItem& item)
{
    assert(position < m_entries.size());
    release(position);
    store(position, item);
}

std::uint32_t ItemTable::append(const IndexedItem& item)
{
    assert(m_entries.size() < std::numeric_limits<std::uint32_t>::max());
    m_hasRepeats = m_hasRepeats || find(item.path()).has_value();
    store(m_entries.size(), item);
    const auto position = static_cast<std::uint32_t>(m_entries.size() - 1);
    if (m_entries.size() * 4 > m_slots.size() * 3)
        rebuildMap(m_entries.size() * 2);  // doubling keeps appends amortised
    else
        mapInsert(position);
    return position;
}

void ItemTable::patch(const IndexedItem& item)
{
    // One probe finds the item or the free slot its path goes to.
    if (m_slots.empty() || (m_entries.size() + 1) * 4 > m_slots.size() * 3)
        rebuildMap((m_entries.size() + 1) * 2);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hashPath(item.path()) & mask;; i = (i + 1) & mask) {
        std::uint32_t& slot = m_slots[i];
        if (slot == 0) {
            assert(m_entries.size() < std::numeric_limits<std::uint32_t>::max());
            store(m_entries.size(), item);
            slot = static_cast<std::uint32_t>(m_entries.size());
            return;
        }
        if (hasPath(slot - 1, item.path())) {
            replace(slot - 1, item);
            return;
        }
    }
}

void ItemTable::shrinkToFit()
{
    m_entries.shrink_to_fit();
    m_facts.shrink_to_fit();
    m_arena->shrinkToFit();
}

void ItemTable::clear()
{
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_facts.clear();
    m_facts.shrink_to_fit();
    m_arena = std::make_unique<ByteArena>();
    m_folders.clear();
    std::vector<std::uint32_t>().swap(m_folderUses);
    m_deadFolderBytes = 0;
    m_sideItems.clear();
    m_slots.clear();
    m_liveArenaBytes = 0;
    m_liveSideItems = 0;
    m_hasRepeats = false;
    ++m_version;
}

void ItemTable::reserve(std::size_t count)
{
    m_entries.reserve(count);
    m_facts.reserve(count);
    if (count * 4 > m_slots.size() * 3)
        rebuildMap(count);
}

void ItemTable::compactFoldersIfWasteful()
{
    // Weighed by bytes, not counted: one deep folder's path weighs as much as
    // a thousand short ones.
    const std::size_t liveFolderBytes = m_folders.footprint() - m_deadFolderBytes;
    if (m_deadFolderBytes > liveFolderBytes && m_deadFolderBytes >= kFolderGarbageFloor)
        compactFolders();
}

void ItemTable::compactIfWasteful()
{
    compactFoldersIfWasteful();
    // At least half garbage (and enough of it to matter): amortised over the
    // writes that made it, a rewrite costs little.
    const std::size_t garbage = m_arena->usedBytes() - m_liveArenaBytes;
    const bool arenaWaste = garbage > m_liveArenaBytes && garbage > 64 * 1024;
    const bool sideWaste = m_sideItems.size() > 2 * m_liveSideItems + 64;
    if (!arenaWaste && !sideWaste)
        return;
    auto fresh = std::make_unique<ByteArena>();
    std::vector<IndexedItem> side;
    for (Entry& e : m_entries) {
        if (e.flags & Side) {
            side.push_back(std::move(m_sideItems[e.offsetLow]));
            e.setOffset(side.size() - 1);
            continue;
        }
        const std::size_t run = e.runLength();
        const std::uint64_t offset = fresh->allocate(run);
        if (run)
            std::memcpy(fresh->at(offset), m_arena->at(e.offset()), run);
        e.setOffset(offset);
    }
    m_arena = std::move(fresh);
    m_sideItems = std::move(side);
}

void ItemTable::compactFolders()
{
    FolderTable fresh;
    std::vector<std::uint32_t> ids(m_folders.size(), ItemFacts::kNoFolder);
    for (ItemFacts& f : m_facts) {
        if (f.folder == ItemFacts::kNoFolder)
            continue;
        if (ids[f.folder] == ItemFacts::kNoFolder)
            ids[f.folder] = fresh.internFrom(m_folders, f.folder);
        f.folder = ids[f.folder];
    }
    m_folders = std::move(fresh);
    countFolderUses();
}

std::size_t ItemTable::memoryUsage() const
{
    std::size_t bytes = m_entries.capacity() * sizeof(Entry) + m_facts.capacity() * sizeof(ItemFacts) +
                        (m_slots.capacity() + m_folderUses.capacity()) * sizeof(std::uint32_t);
    bytes += m_arena->heldBytes() + m_folders.memoryUsage();
    for (const IndexedItem& item : m_sideItems)
        bytes += sizeof(IndexedItem) + item.path().size() * 3 + item.searchableText().size() + 64;
    return bytes;
}

} // namespace pallix

