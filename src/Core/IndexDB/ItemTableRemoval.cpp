// Removals from the item table. A write removes a handful of items from a
// table of a million: they are found through the path map and the folder
// table, and leave the map one by one, so the cost follows what went, not
// the size of the table (bar one move of the entries after the first gone).

#include <algorithm>
#include <unordered_set>

#include "Core/IndexDB/ItemTable.h"
#include "Core/IndexDB/ItemTableArena.h"

namespace pallix {

using namespace itemtable;

namespace {

using PathSet = std::unordered_set<std::string_view>;

// Past this share of the items gone, hashing every path again costs less than
// taking each gone one out of the map.
constexpr std::size_t kRehashShare = 8;

// `path` or one of its folders is in `set`: a few hash probes, however large the set.
bool atOrUnderAny(std::string_view path, const PathSet& set)
{
    while (!path.empty()) {
        if (set.contains(path))
            return true;
        if (path == "/")
            break;
        path = paths::deletingLastComponent(path);
    }
    return false;
}

// For each folder of `folders`, whether it is at or under one of `set`: one
// probe per folder, the rest read off its parent (which has a lower number).
std::vector<char> foldersAtOrUnder(const FolderTable& folders, const PathSet& set)
{
    std::vector<char> under(folders.size(), 0);
    if (set.empty())
        return under;
    for (std::uint32_t f = 0; f < folders.size(); ++f) {
        const std::uint32_t parent = folders.parent(f);
        under[f] = parent != ItemFacts::kNoFolder ? (under[parent] || set.contains(folders.path(f)))
                                                  : atOrUnderAny(folders.path(f), set);
    }
    return under;
}

} // namespace

std::vector<std::uint32_t> ItemTable::positionsUnder(const std::vector<std::string>& gone,
                                                     const std::vector<std::string>& kept) const
{
    const PathSet goneSet(gone.begin(), gone.end()), keptSet(kept.begin(), kept.end());
    const auto isKept = [&keptSet](std::string_view path) { return !keptSet.empty() && atOrUnderAny(path, keptSet); };
    std::vector<std::uint32_t> out;
    if (m_hasRepeats) {
        // The map knows the last of each repeated path only: every path is read.
        std::string scratch;
        for (std::size_t p = 0; p < m_entries.size(); ++p)
            if (const std::string_view path = pathOf(p, scratch); atOrUnderAny(path, goneSet) && !isKept(path))
                out.push_back(static_cast<std::uint32_t>(p));
        return out;
    }
    for (const std::string& path : gone)
        if (const std::optional<std::uint32_t> p = find(path); p && !isKept(path))
            out.push_back(*p);

    // Below the gone paths, by folder. Usually the gone are files and no
    // folder lies under them: then no item is read at all.
    const std::vector<char> under = foldersAtOrUnder(m_folders, goneSet);
    const std::vector<char> spared = foldersAtOrUnder(m_folders, keptSet);
    std::vector<char> drops(m_folders.size(), 0);
    bool anyFolder = false;
    for (std::size_t f = 0; f < drops.size(); ++f) {
        drops[f] = under[f] && !spared[f];
        anyFolder = anyFolder || drops[f];
    }
    std::string scratch;
    for (std::size_t p = 0; anyFolder && p < m_facts.size(); ++p) {
        const std::uint32_t f = m_facts[p].folder;
        // A kept folder is itself an item of a folder that is not kept.
        if (f != ItemFacts::kNoFolder && drops[f] && !(m_entries[p].flags & Side) &&
            (keptSet.empty() || !keptSet.contains(pathOf(p, scratch))))
            out.push_back(static_cast<std::uint32_t>(p));
    }

    // Items kept whole have no folder number; they are few, and found back through the map.
    for (std::size_t i = 0; m_liveSideItems > 0 && i < m_sideItems.size(); ++i) {
        const std::string_view path = m_sideItems[i].path();
        if (!atOrUnderAny(path, goneSet) || isKept(path))
            continue;
        const std::optional<std::uint32_t> p = find(path);
        if (p && (m_entries[*p].flags & Side) && m_entries[*p].offsetLow == i)
            out.push_back(*p);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::size_t ItemTable::removeUnder(std::string_view prefix) { return removeUnder(prefix, {}); }

std::size_t ItemTable::removeUnder(std::string_view prefix, const std::vector<std::string>& keptFolders,
                                   std::vector<std::uint32_t>* removedPositions)
{
    return dropPositions(positionsUnder({paths::standardize(prefix)}, paths::standardizeAll(keptFolders)), removedPositions);
}

std::size_t ItemTable::removeUnderAny(const std::vector<std::string>& prefixes,
                                      std::vector<std::uint32_t>* removedPositions)
{
    return dropPositions(positionsUnder(prefixes, {}), removedPositions);
}

std::size_t ItemTable::dropPositions(const std::vector<std::uint32_t>& gone,
                                     std::vector<std::uint32_t>* removedPositions)
{
    if (gone.empty())
        return 0;
    const bool fewGone = gone.size() * kRehashShare < m_entries.size();
    // Out of the map while the positions still hold the items they name.
    if (fewGone)
        for (std::uint32_t p : gone)
            mapErase(p);
    // The runs between the gone positions move down, each in one copy.
    std::size_t kept = gone.front();
    for (std::size_t g = 0; g < gone.size(); ++g) {
        release(gone[g]);
        const std::size_t from = gone[g] + 1;
        const std::size_t to = g + 1 < gone.size() ? gone[g + 1] : m_entries.size();
        std::copy(m_entries.begin() + std::ptrdiff_t(from), m_entries.begin() + std::ptrdiff_t(to),
                  m_entries.begin() + std::ptrdiff_t(kept));
        std::copy(m_facts.begin() + std::ptrdiff_t(from), m_facts.begin() + std::ptrdiff_t(to),
                  m_facts.begin() + std::ptrdiff_t(kept));
        kept += to - from;
    }
    m_entries.resize(kept);
    m_facts.resize(kept);
    ++m_version;
    if (fewGone)
        renumberSlots(gone);
    else
        rebuildMap(kept);
    if (removedPositions)
        removedPositions->insert(removedPositions->end(), gone.begin(), gone.end());
    return gone.size();
}

void ItemTable::mapErase(std::uint32_t position)
{
    if (m_slots.empty())
        return;
    const std::size_t mask = m_slots.size() - 1;
    std::size_t hole = hashOf(position) & mask;
    for (; m_slots[hole] != position + 1; hole = (hole + 1) & mask)
        if (m_slots[hole] == 0)
            return;  // not in the map: nothing to take out
    // Linear probing without deletion markers: each entry after the hole that
    // may sit nearer its home moves back into it, so no lookup stops short.
    // Markers would have kept the erase cheaper but made every probe longer.
    for (std::size_t j = (hole + 1) & mask; m_slots[j] != 0; j = (j + 1) & mask) {
        const std::size_t home = hashOf(m_slots[j] - 1) & mask;
        const bool staysPut = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (!staysPut) {
            m_slots[hole] = m_slots[j];
            hole = j;
        }
    }
    m_slots[hole] = 0;
}

void ItemTable::renumberSlots(const std::vector<std::uint32_t>& gone)
{
    // Slots hold position + 1; the first gone position left the map, so
    // every slot above it names an item that moved down.
    const std::uint32_t first = gone.front() + 1;
    for (std::uint32_t& slot : m_slots)
        if (slot > first)
            slot -= static_cast<std::uint32_t>(std::upper_bound(gone.begin(), gone.end(), slot - 1) - gone.begin());
}

} // namespace pallix
