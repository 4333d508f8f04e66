#include "Core/IndexDB/ItemTable.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <limits>

#include "Core/IndexDB/ItemTableArena.h"
#include "Platform/Parallel.h"

namespace pallix {

using namespace itemtable;

namespace {

// Below this many items one thread hashes the paths quickly enough.
constexpr std::size_t kParallelHashing = std::size_t(1) << 17;

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

ItemTable::ItemTable() : m_arena(std::make_unique<ByteArena>())
{
    static std::atomic<std::uint64_t> tables{0};
    m_version = (tables.fetch_add(1, std::memory_order_relaxed) + 1) << 32;
    static_assert(sizeof(Entry) == 40, "an entry should stay at 40 bytes");
    static_assert(sizeof(ItemFacts) == 24, "facts should stay at 24 bytes");
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
    char* out = ByteArena::put(m_arena->at(offset), name);
    if (e.flags & SearchNameStored) out = ByteArena::put(out, searchName);
    if (e.flags & StemStored) out = ByteArena::put(out, stem);
    if (e.flags & NormalizedStored) out = ByteArena::put(out, normalized);
    if (e.flags & NormalizedStemStored) out = ByteArena::put(out, normalizedStem);
    if (e.flags & ExtensionStored) ByteArena::put(out, extension);
    m_liveArenaBytes += run;
    folder = m_folders.intern(item.parentPath());
    return e;
}

void ItemTable::store(std::size_t position, const IndexedItem& item)
{
    static_assert(sizeof(Entry) <= 40, "the name ordinal lives in what was padding");
    ++m_version;
    std::uint32_t folder = ItemFacts::kNoFolder;
    const Entry e = makeEntry(item, folder);
    ItemFacts facts = ItemFacts::of(item.ref(), folder != ItemFacts::kNoFolder);
    facts.folder = folder;
    useFolder(folder);
    if (position == m_entries.size()) {
        m_entries.push_back(e);
        m_facts.push_back(facts);
    } else {
        m_entries[position] = e;
        m_facts[position] = facts;
    }
}

void ItemTable::setNameOrders(const std::vector<std::uint32_t>& orders)
{
    assert(orders.size() == m_entries.size());
    for (std::size_t p = 0; p < m_entries.size(); ++p)
        m_entries[p].nameOrder = orders[p];
    m_orderedVersion = m_version;
}

void ItemTable::release(std::size_t position)
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        --m_liveSideItems;
    else
        m_liveArenaBytes -= e.runLength();
    leaveFolder(position);
}

void ItemTable::useFolder(std::uint32_t folder)
{
    if (folder == ItemFacts::kNoFolder)
        return;
    if (folder >= m_folderUses.size())
        m_folderUses.resize(m_folders.size(), 0);  // new: never counted as dead
    else if (m_folderUses[folder] == 0)
        m_deadFolderBytes -= m_folders.footprintOf(folder);
    ++m_folderUses[folder];
}

void ItemTable::leaveFolder(std::size_t position)
{
    const std::uint32_t folder = m_facts[position].folder;
    if (folder != ItemFacts::kNoFolder && --m_folderUses[folder] == 0)
        m_deadFolderBytes += m_folders.footprintOf(folder);
}

void ItemTable::countFolderUses()
{
    m_folderUses.assign(m_folders.size(), 0);
    for (const ItemFacts& f : m_facts)
        if (f.folder != ItemFacts::kNoFolder)
            ++m_folderUses[f.folder];
    m_deadFolderBytes = 0;
    for (std::uint32_t id = 0; id < m_folderUses.size(); ++id)
        if (m_folderUses[id] == 0)
            m_deadFolderBytes += m_folders.footprintOf(id);
}

ItemTable::KeyForms ItemTable::keyForms(std::size_t position) const
{
    const ItemRef r = nameFormsAt(position);
    return {r.searchName, r.normalizedSearchName, r.normalizedSearchNameWithoutExtension};
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

    ItemRef r;
    const char* extension = readNameForms(e, r);
    r.parentPath = m_folders.path(m_facts[position].folder);
    r.fileExtension = (e.flags & ExtensionStored) ? std::string_view(extension, e.extensionLength)
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

std::pair<std::string_view, std::string_view> ItemTable::nameAndSearchName(std::size_t position) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side) {
        const IndexedItem& item = m_sideItems[e.offsetLow];
        return {item.name(), item.searchName()};
    }
    const char* run = m_arena->at(e.offset());
    const std::string_view name(run, e.nameLength);
    return {name, (e.flags & SearchNameStored) ? std::string_view(run + e.nameLength, e.searchNameLength) : name};
}

ItemSource::NameViews ItemTable::namesAt(std::size_t position) const
{
    const ItemRef r = nameFormsAt(position);
    return {r.name, r.normalizedSearchName, r.normalizedSearchNameWithoutExtension};
}

ItemRef ItemTable::nameFormsAt(std::size_t position) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return m_sideItems[e.offsetLow].ref();
    ItemRef r;
    readNameForms(e, r);
    return r;
}

const char* ItemTable::readNameForms(const Entry& e, ItemRef& r) const
{
    // The run: name, then the stored ones of searchName, its stem, the normalised name, its stem.
    const char* p = m_arena->at(e.offset());
    auto take = [&p](std::size_t n) {
        std::string_view s(p, n);
        p += n;
        return s;
    };
    r.name = take(e.nameLength);
    r.searchName = (e.flags & SearchNameStored) ? take(e.searchNameLength) : r.name;
    r.searchNameWithoutExtension = (e.flags & StemStored) ? take(e.stemLength) : r.searchName.substr(0, e.stemLength);
    r.normalizedSearchName = (e.flags & NormalizedStored) ? take(e.normalizedLength) : r.searchName;
    r.normalizedSearchNameWithoutExtension = (e.flags & NormalizedStemStored)
                                                 ? take(e.normalizedStemLength)
                                                 : r.normalizedSearchName.substr(0, e.normalizedStemLength);
    return p;
}

void ItemTable::prefetchRecord(std::size_t position) const
{
    // namesAt() reads the entry's offset, flags and lengths.
    const Entry& e = m_entries[position];
    __builtin_prefetch(&e.offsetLow);
    __builtin_prefetch(&e.normalizedStemLength);
}

void ItemTable::prefetchNames(std::size_t position) const
{
    const Entry& e = m_entries[position];
    if (e.flags & Side)
        return;
    // The run holds the name and its forms, rarely more than two lines.
    const char* run = m_arena->at(e.offset());
    __builtin_prefetch(run);
    __builtin_prefetch(run + 64);
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
    const ItemRef r = refWithoutPath(position);
    return IndexedItem({r, separatorAfter(r.parentPath)});
}

std::vector<IndexedItem> ItemTable::materialize(std::span<const std::uint32_t> positions) const
{
    // A complete answer of thousands of records, each a few string copies, is
    // worth the kept threads, a slice each. A typing answer (1,280 at most)
    // is not: they have mostly gone to sleep while the walk ran alone, and
    // waking them took longer than making the records here.
    constexpr std::size_t kOnCallerUpTo = 2048;
    constexpr std::size_t kRecordsPerSlice = 256;
    const std::size_t n = positions.size();
    std::vector<IndexedItem> records(n);
    const auto slices = n <= kOnCallerUpTo ? 1u
                                           : static_cast<unsigned>(std::clamp<std::size_t>(
                                                 n / kRecordsPerSlice, 1, spareThreads()));
    inPooledSlices(n, slices, [&](unsigned, std::size_t begin, std::size_t end) {
        materializeInto(positions.subspan(begin, end - begin), records.data() + begin);
    });
    return records;
}

void ItemTable::materializeInto(std::span<const std::uint32_t> positions, IndexedItem* records) const
{
    // Each stage reads what the one before fetched: entry and facts, then the
    // run and the folder's record, then the folder's path.
    constexpr std::size_t kAhead = 4;
    const std::size_t n = positions.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 3 * kAhead < n)
            prefetchEntry(positions[i + 3 * kAhead]);
        if (i + 2 * kAhead < n)
            prefetchRunAndFolder(positions[i + 2 * kAhead]);
        if (i + kAhead < n)
            prefetchFolderPath(positions[i + kAhead]);
        const Entry& e = m_entries[positions[i]];
        if (e.flags & Side) {
            records[i] = m_sideItems[e.offsetLow];
            continue;
        }
        const ItemRef r = refWithoutPath(positions[i]);
        records[i] = IndexedItem(IndexedItem::JoinedFields{r, separatorAfter(r.parentPath)});
    }
}

void ItemTable::prefetchEntry(std::uint32_t position) const
{
    prefetchRecord(position);
    __builtin_prefetch(&m_facts[position]);
}

void ItemTable::prefetchRunAndFolder(std::uint32_t position) const
{
    if (m_entries[position].flags & Side)
        return;
    prefetchNames(position);
    m_folders.prefetch(m_facts[position].folder);
}

void ItemTable::prefetchFolderPath(std::uint32_t position) const
{
    if (!(m_entries[position].flags & Side))
        m_folders.prefetchPath(m_facts[position].folder);
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

void ItemTable::mapInsert(std::uint32_t position) { mapInsert(position, hashOf(position)); }

void ItemTable::mapInsert(std::uint32_t position, std::uint64_t hash)
{
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
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
    // Hashing reads every name: a large table is hashed on several threads.
    // The slots take the hashes' low bits only.
    const std::size_t count = m_entries.size();
    std::vector<std::uint32_t> hashes(count);
    inSlices(count, count >= kParallelHashing ? spareThreads() : 1, [&](unsigned, std::size_t begin, std::size_t end) {
        for (std::size_t p = begin; p < end; ++p)
            hashes[p] = static_cast<std::uint32_t>(hashOf(static_cast<std::uint32_t>(p)));
    });
    for (std::uint32_t p = 0; p < count; ++p)
        mapInsert(p, hashes[p]);
}

} // namespace pallix
