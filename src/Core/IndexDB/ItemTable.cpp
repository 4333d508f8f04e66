#include "Core/IndexDB/ItemTable.h"

#include <cassert>
#include <cstring>
#include <algorithm>
#include <functional>
#include <limits>
#include <unordered_set>

namespace pallix {

namespace {

enum Flag : std::uint16_t {
    Folder = 1 << 0,
    Side = 1 << 1,
    SearchNameStored = 1 << 2,
    StemStored = 1 << 3,
    NormalizedStored = 1 << 4,
    NormalizedStemStored = 1 << 5,
    ExtensionStored = 1 << 6,
};

constexpr std::size_t kMaxField = std::numeric_limits<std::uint16_t>::max();
constexpr unsigned kBlockBits = 22;  // 4 MiB arena blocks
constexpr std::size_t kBlockSize = std::size_t(1) << kBlockBits;

bool startsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }
bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::uint64_t hashPath(std::string_view path) { return PathHash::finish(PathHash::of(path)); }

// The path of an item in `folder` named `name`: the root folder takes no second "/".
std::string_view separatorAfter(std::string_view folder) { return folder == "/" ? std::string_view() : "/"; }

// The path of a stored item is its folder joined with its name; anything else is kept on the side.
bool composes(const IndexedItem& item)
{
    const std::string_view path = item.path(), parent = item.parentPath(), name = item.name();
    if (name.empty() || name.find('/') != std::string_view::npos)
        return false;
    const std::string_view separator = separatorAfter(parent);
    return path.size() == parent.size() + separator.size() + name.size() && startsWith(path, parent) &&
           path.substr(parent.size(), separator.size()) == separator && endsWith(path, name);
}

} // namespace

std::size_t ItemTable::Entry::runLength() const
{
    std::size_t n = nameLength;
    n += (flags & SearchNameStored) ? searchNameLength : 0;
    n += (flags & StemStored) ? stemLength : 0;
    n += (flags & NormalizedStored) ? normalizedLength : 0;
    n += (flags & NormalizedStemStored) ? normalizedStemLength : 0;
    n += (flags & ExtensionStored) ? extensionLength : 0;
    return n;
}

// Blocks that never move: a run stays put while the table is unchanged, and
// growing never copies what is there. Blocks start small (a table of a few
// items should not hold megabytes) and grow to 4 MiB; an offset is the block
// number above the low 22 bits.
class ItemTable::Arena {
public:
    std::uint64_t allocate(std::size_t n)
    {
        assert(n <= kBlockSize);
        if (m_blocks.empty() || m_used + n > m_blocks.back().capacity) {
            const std::size_t capacity = std::clamp<std::size_t>(m_total / 4, 64 * 1024, kBlockSize);
            m_blocks.push_back({std::make_unique_for_overwrite<char[]>(std::max(capacity, n)), std::max(capacity, n)});
            m_used = 0;
            m_held += m_blocks.back().capacity;
        }
        const std::uint64_t offset = (std::uint64_t(m_blocks.size() - 1) << kBlockBits) | m_used;
        m_used += n;
        m_total += n;
        return offset;
    }
    char* at(std::uint64_t offset) const
    {
        return m_blocks[offset >> kBlockBits].bytes.get() + (offset & (kBlockSize - 1));
    }
    std::size_t usedBytes() const { return m_total; }
    std::size_t heldBytes() const { return m_held; }
    // Gives back the unused end of the last block (a copy of its used part).
    void shrinkToFit()
    {
        if (m_blocks.empty() || m_used == m_blocks.back().capacity)
            return;
        auto exact = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(m_used, 1));
        std::memcpy(exact.get(), m_blocks.back().bytes.get(), m_used);
        m_held -= m_blocks.back().capacity - std::max<std::size_t>(m_used, 1);
        m_blocks.back() = {std::move(exact), std::max<std::size_t>(m_used, 1)};
    }
    // Takes over the blocks of `other` after its own; returns the block number
    // the first of them gets.
    std::size_t adopt(Arena&& other)
    {
        const std::size_t base = m_blocks.size();
        if (other.m_blocks.empty())
            return base;
        for (Block& b : other.m_blocks)
            m_blocks.push_back(std::move(b));
        m_used = other.m_used;
        m_total += other.m_total;
        m_held += other.m_held;
        other = Arena();
        return base;
    }

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity;
    };
    std::vector<Block> m_blocks;
    std::size_t m_used = 0;
    std::size_t m_total = 0;
    std::size_t m_held = 0;
};

ItemTable::ItemTable() : m_arena(std::make_unique<Arena>())
{
    static_assert(sizeof(Entry) == 40, "an entry should stay at 40 bytes");
    static_assert(sizeof(ItemFacts) == 16, "facts should stay at 16 bytes");
}
ItemTable::~ItemTable() = default;
ItemTable::ItemTable(ItemTable&&) noexcept = default;
ItemTable& ItemTable::operator=(ItemTable&&) noexcept = default;

ItemTable::Entry ItemTable::makeEntry(const IndexedItem& item, std::uint32_t& folder)
{
    Entry e;
    e.size = item.size();
    e.modifiedAt = item.modifiedAt();
    e.flags = item.isDirectory() ? Folder : 0;
    folder = ItemFacts::kNoFolder;

    const std::string_view fields[] = {item.name(), item.searchName(), item.searchNameWithoutExtension(),
                                       item.normalizedSearchName(), item.normalizedSearchNameWithoutExtension(),
                                       item.fileExtension()};
    bool fits = item.searchableText().empty() && composes(item) &&
                item.parentPath().size() < std::numeric_limits<std::uint32_t>::max() / 4;
    for (std::string_view f : fields)
        fits = fits && f.size() <= kMaxField;
    if (!fits) {
        e.flags |= Side;
        e.setOffset(m_sideItems.size());
        m_sideItems.push_back(item);
        ++m_liveSideItems;
        return e;
    }

    const std::string_view name = item.name(), searchName = item.searchName();
    const std::string_view stem = item.searchNameWithoutExtension();
    const std::string_view normalized = item.normalizedSearchName();
    const std::string_view normalizedStem = item.normalizedSearchNameWithoutExtension();
    const std::string_view extension = item.fileExtension();

    e.nameLength = static_cast<std::uint16_t>(name.size());
    e.searchNameLength = static_cast<std::uint16_t>(searchName.size());
    e.stemLength = static_cast<std::uint16_t>(stem.size());
    e.normalizedLength = static_cast<std::uint16_t>(normalized.size());
    e.normalizedStemLength = static_cast<std::uint16_t>(normalizedStem.size());
    e.extensionLength = static_cast<std::uint16_t>(extension.size());
    if (searchName != name)
        e.flags |= SearchNameStored;
    if (!startsWith(searchName, stem))
        e.flags |= StemStored;
    if (normalized != searchName)
        e.flags |= NormalizedStored;
    if (!startsWith(normalized, normalizedStem))
        e.flags |= NormalizedStemStored;
    if (!endsWith(searchName, extension))
        e.flags |= ExtensionStored;

    const std::size_t run = e.runLength();
    const std::uint64_t offset = m_arena->allocate(run);
    e.setOffset(offset);
    char* out = m_arena->at(offset);
    auto put = [&out](std::string_view s) {
        if (!s.empty())
            std::memcpy(out, s.data(), s.size());
        out += s.size();
    };
    put(name);
    if (e.flags & SearchNameStored) put(searchName);
    if (e.flags & StemStored) put(stem);
    if (e.flags & NormalizedStored) put(normalized);
    if (e.flags & NormalizedStemStored) put(normalizedStem);
    if (e.flags & ExtensionStored) put(extension);
    m_liveArenaBytes += run;
    folder = m_folders.intern(item.parentPath());
    return e;
}

void ItemTable::store(std::size_t position, const IndexedItem& item)
{
    std::uint32_t folder = ItemFacts::kNoFolder;
    const Entry e = makeEntry(item, folder);
    ItemFacts facts = ItemFacts::of(item.ref(), folder != ItemFacts::kNoFolder);
    facts.folder = folder;
    if (position == m_entries.size()) {
        m_entries.push_back(e);
        m_facts.push_back(facts);
    } else {
        m_entries[position] = e;
        m_facts[position] = facts;
    }
}

void ItemTable::releaseRun(const Entry& e)
{
    if (e.flags & Side)
        --m_liveSideItems;
    else
        m_liveArenaBytes -= e.runLength();
}

std::pair<std::string_view, std::string_view> ItemTable::stems(std::size_t position) const
{
    const ItemRef r = refWithoutPath(position);
    return {r.searchNameWithoutExtension, r.normalizedSearchNameWithoutExtension};
}

ItemTable ItemTable::concatenate(std::vector<ItemTable>&& parts)
{
    ItemTable out;
    std::size_t total = 0;
    for (const ItemTable& part : parts)
        total += part.size();
    out.m_entries.reserve(total);
    out.m_facts.reserve(total);
    for (ItemTable& part : parts) {
        part.m_arena->shrinkToFit();
        const std::uint64_t blockBase = std::uint64_t(out.m_arena->adopt(std::move(*part.m_arena))) << kBlockBits;
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
    }
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
            releaseRun(m_entries[p]);
            continue;
        }
        m_entries[kept] = m_entries[p];
        m_facts[kept++] = m_facts[p];
    }
    m_entries.resize(kept);
    m_facts.resize(kept);
    rebuildMap(kept);
}

std::string_view ItemTable::nameOf(const Entry& e) const { return {m_arena->at(e.offset()), e.nameLength}; }

ItemRef ItemTable::at(std::size_t position) const
{
    ItemRef r = refWithoutPath(position);
    if (m_entries[position].flags & Side)
        return r;
    thread_local std::string pathBuffer;
    pathBuffer.assign(r.parentPath).append(separatorAfter(r.parentPath)).append(r.name);
    r.path = pathBuffer;
    return r;
}

ItemRef ItemTable::refWithoutPath(std::size_t position) const
{
    assert(position < m_entries.size());
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return m_sideItems[e.offsetLow].ref();

    const char* p = m_arena->at(e.offset());
    auto take = [&p](std::size_t n) {
        std::string_view s(p, n);
        p += n;
        return s;
    };
    ItemRef r;
    r.name = take(e.nameLength);
    r.parentPath = m_folders.path(m_facts[position].folder);
    r.searchName = (e.flags & SearchNameStored) ? take(e.searchNameLength) : r.name;
    r.searchNameWithoutExtension = (e.flags & StemStored) ? take(e.stemLength) : r.searchName.substr(0, e.stemLength);
    r.normalizedSearchName = (e.flags & NormalizedStored) ? take(e.normalizedLength) : r.searchName;
    r.normalizedSearchNameWithoutExtension = (e.flags & NormalizedStemStored)
                                                 ? take(e.normalizedStemLength)
                                                 : r.normalizedSearchName.substr(0, e.normalizedStemLength);
    r.fileExtension = (e.flags & ExtensionStored) ? take(e.extensionLength)
                                                  : r.searchName.substr(r.searchName.size() - e.extensionLength);
    r.size = e.size;
    r.modifiedAt = e.modifiedAt;
    r.isFolder = (e.flags & Folder) != 0;
    return r;
}

std::string_view ItemTable::nameAt(std::size_t position) const
{
    const Entry& e = m_entries[position];
    return (e.flags & Side) ? std::string_view(m_sideItems[e.offsetLow].name()) : nameOf(e);
}

std::string_view ItemTable::pathOf(std::size_t position, std::string& scratch) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return m_sideItems[e.offsetLow].path();
    const std::string_view folder = m_folders.path(m_facts[position].folder);
    scratch.assign(folder).append(separatorAfter(folder)).append(nameOf(e));
    return scratch;
}

IndexedItem ItemTable::materialize(std::size_t position) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return m_sideItems[e.offsetLow];
    // The stored forms were derived from this very name on entry; deriving
    // them again costs a microsecond per result.
    return IndexedItem::withSearchForms(at(position));
}

std::uint64_t ItemTable::hashOf(std::uint32_t position) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return hashPath(m_sideItems[e.offsetLow].path());
    const std::uint32_t folder = m_facts[position].folder;
    const std::uint64_t head = PathHash::join(m_folders.pathHash(folder), separatorAfter(m_folders.path(folder)));
    return PathHash::finish(PathHash::join(head, nameOf(e)));
}

bool ItemTable::hasPath(std::uint32_t position, std::string_view path) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return m_sideItems[e.offsetLow].path() == path;
    const std::string_view folder = m_folders.path(m_facts[position].folder);
    const std::string_view separator = separatorAfter(folder);
    const std::string_view name = nameOf(e);
    return path.size() == folder.size() + separator.size() + name.size() && endsWith(path, name) &&
           startsWith(path, folder) && path.substr(folder.size(), separator.size()) == separator;
}

std::optional<std::uint32_t> ItemTable::find(std::string_view path) const
{
    if (m_slots.empty())
        return std::nullopt;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hashPath(path) & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = m_slots[i];
        if (slot == 0)
            return std::nullopt;
        if (hasPath(slot - 1, path))
            return slot - 1;
    }
}

bool ItemTable::samePath(std::uint32_t a, std::uint32_t b) const
{
    const Entry& ea = m_entries[a];
    const Entry& eb = m_entries[b];
    if (!(ea.flags & Side) && !(eb.flags & Side))
        return m_facts[a].folder == m_facts[b].folder && nameOf(ea) == nameOf(eb);
    std::string scratch;
    return hasPath(a, pathOf(b, scratch));
}

void ItemTable::mapInsert(std::uint32_t position)
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hashOf(position) & mask;; i = (i + 1) & mask) {
        std::uint32_t& slot = m_slots[i];
        if (slot == 0 || samePath(slot - 1, position)) {
            slot = position + 1;
            return;
        }
    }
}

void ItemTable::rebuildMap(std::size_t expectedCount)
{
    // At most three quarters full, so probes stay short.
    std::size_t capacity = 16;
    while (std::max(expectedCount, m_entries.size()) * 4 > capacity * 3)
        capacity *= 2;
    if (m_slots.size() != capacity)
        m_slots = std::vector<std::uint32_t>(capacity, 0);
    else
        std::fill(m_slots.begin(), m_slots.end(), 0);
    for (std::uint32_t p = 0; p < m_entries.size(); ++p)
        mapInsert(p);
}

void ItemTable::replace(std::uint32_t position, const IndexedItem& item)
{
    assert(position < m_entries.size());
    releaseRun(m_entries[position]);
    store(position, item);
}

std::uint32_t ItemTable::append(const IndexedItem& item)
{
    assert(m_entries.size() < std::numeric_limits<std::uint32_t>::max());
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

std::size_t ItemTable::removeUnder(std::string_view prefix) { return removeUnder(prefix, {}); }

std::size_t ItemTable::removeUnder(std::string_view prefix, const std::vector<std::string>& keptFolders)
{
    const std::unordered_set<std::string_view> keptSet(keptFolders.begin(), keptFolders.end());
    // Walks up the folders of `path`: a few hash probes, however many are kept.
    const auto isKept = [&keptSet](std::string_view path) {
        while (!path.empty()) {
            if (keptSet.contains(path))
                return true;
            if (path == "/")
                break;
            path = paths::deletingLastComponent(path);
        }
        return false;
    };
    // The folder answers for all its items: an item lies under the prefix when
    // its folder does or when it is the prefix itself, and is kept when its
    // folder is or when it is a kept folder itself.
    enum : char { Unknown, No, Yes };
    std::vector<char> folderUnder(m_folders.size(), Unknown), folderKept(m_folders.size(), Unknown);
    const auto memo = [](char& slot, auto&& compute) {
        if (slot == Unknown)
            slot = compute() ? Yes : No;
        return slot == Yes;
    };
    std::string scratch;
    std::size_t kept = 0;
    for (std::size_t p = 0; p < m_entries.size(); ++p) {
        const Entry& e = m_entries[p];
        const std::string_view path = pathOf(p, scratch);
        bool under, spared = false;
        if (e.flags & Side) {
            under = paths::isUnder(path, prefix);
            spared = under && !keptSet.empty() && isKept(path);
        } else {
            const std::uint32_t f = m_facts[p].folder;
            const std::string_view folder = m_folders.path(f);
            under = memo(folderUnder[f], [&] { return paths::isUnder(folder, prefix); }) ||
                    paths::isUnder(path, prefix);
            spared = under && !keptSet.empty() &&
                     (memo(folderKept[f], [&] { return isKept(folder); }) || keptSet.contains(path));
        }
        if (under && !spared) {
            releaseRun(e);
            continue;
        }
        if (kept != p) {
            m_entries[kept] = e;
            m_facts[kept] = m_facts[p];
        }
        ++kept;
    }
    const std::size_t removed = m_entries.size() - kept;
    // Nothing gone: the map is already right, and rebuilding it costs a pass over every path.
    if (removed == 0)
        return 0;
    m_entries.resize(kept);
    m_facts.resize(kept);
    rebuildMap(kept);
    return removed;
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
    m_arena = std::make_unique<Arena>();
    m_folders.clear();
    m_sideItems.clear();
    m_slots.clear();
    m_liveArenaBytes = 0;
    m_liveSideItems = 0;
}

void ItemTable::reserve(std::size_t count)
{
    m_entries.reserve(count);
    m_facts.reserve(count);
    if (count * 4 > m_slots.size() * 3)
        rebuildMap(count);
}

void ItemTable::compactIfWasteful()
{
    compactFolders();
    // At least half garbage (and enough of it to matter): amortised over the
    // writes that made it, a rewrite costs little.
    const std::size_t garbage = m_arena->usedBytes() - m_liveArenaBytes;
    const bool arenaWaste = garbage > m_liveArenaBytes && garbage > 64 * 1024;
    const bool sideWaste = m_sideItems.size() > 2 * m_liveSideItems + 64;
    if (!arenaWaste && !sideWaste)
        return;
    auto fresh = std::make_unique<Arena>();
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
    std::vector<char> used(m_folders.size(), 0);
    std::size_t live = 0;
    for (const ItemFacts& f : m_facts)
        if (f.folder != ItemFacts::kNoFolder && !used[f.folder]) {
            used[f.folder] = 1;
            ++live;
        }
    if (m_folders.size() <= 2 * live + 1024)
        return;
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
}

std::size_t ItemTable::memoryUsage() const
{
    std::size_t bytes = m_entries.capacity() * sizeof(Entry) + m_facts.capacity() * sizeof(ItemFacts) +
                        m_slots.capacity() * sizeof(std::uint32_t);
    bytes += m_arena->heldBytes() + m_folders.memoryUsage();
    for (const IndexedItem& item : m_sideItems)
        bytes += sizeof(IndexedItem) + item.path().size() * 3 + item.searchableText().size() + 64;
    return bytes;
}

} // namespace pallix
