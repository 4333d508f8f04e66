#include "Core/IndexDB/FolderTable.h"

#include <vector>

#include "Core/Search/TextScan.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr std::uint64_t kBase = 0x100000001b3ull;

// kBase to the powers 0 ... 255, for joining short tails without a loop.
const std::uint64_t* basePowers()
{
    static const auto table = [] {
        std::vector<std::uint64_t> t(256);
        t[0] = 1;
        for (std::size_t i = 1; i < t.size(); ++i)
            t[i] = t[i - 1] * kBase;
        return t;
    }();
    return table.data();
}

std::uint64_t basePower(std::size_t n)
{
    const std::uint64_t* table = basePowers();
    std::uint64_t p = 1;
    for (; n >= 255; n -= 255)
        p *= table[255];
    return p * table[n];
}

std::uint64_t tableHash(std::string_view path) { return PathHash::finish(PathHash::of(path)); }

} // namespace

std::uint64_t PathHash::join(std::uint64_t head, std::string_view tail)
{
    // Eight bytes a step: the products of one step do not wait on each other.
    const std::uint64_t* power = basePowers();
    const auto* b = reinterpret_cast<const unsigned char*>(tail.data());
    std::uint64_t h = 0;
    std::size_t i = 0;
    for (; i + 8 <= tail.size(); i += 8) {
        const std::uint64_t block = b[i] * power[7] + b[i + 1] * power[6] + b[i + 2] * power[5] +
                                    b[i + 3] * power[4] + b[i + 4] * power[3] + b[i + 5] * power[2] +
                                    b[i + 6] * power[1] + b[i + 7];
        h = h * power[8] + block;
    }
    for (; i < tail.size(); ++i)
        h = h * kBase + b[i];
    return head * basePower(tail.size()) + h;
}

std::uint64_t PathHash::finish(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

std::string_view FolderTable::path(std::uint32_t id) const
{
    const Record& r = m_records[id];
    return {m_text.at(r.offset), r.pathLength};
}

FolderForms FolderTable::forms(std::uint32_t id) const
{
    const Record& r = m_records[id];
    const char* at = m_text.at(r.offset);
    FolderForms f;
    f.path = {at, r.pathLength};
    at += r.pathLength;
    if (r.comparableStored) {
        f.comparable = {at, r.comparableLength};
        at += r.comparableLength;
    } else {
        f.comparable = f.path;
    }
    f.normalized = {at, r.normalizedLength};
    f.comparableCount = r.comparableCount;
    f.normalizedCount = r.normalizedCount;
    f.asciiPath = r.asciiPath;
    f.lowersToComparable = r.lowersToComparable;
    f.parent = r.parent;
    return f;
}

std::optional<std::uint32_t> FolderTable::find(std::string_view path) const
{
    if (m_slots.empty())
        return std::nullopt;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = tableHash(path) & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = m_slots[i];
        if (slot == 0)
            return std::nullopt;
        if (this->path(slot - 1) == path)
            return slot - 1;
    }
}

std::uint32_t FolderTable::add(const FolderForms& f)
{
    if ((m_records.size() + 1) * 4 > m_slots.size() * 3)
        grow();
    Record r;
    r.hash = PathHash::of(f.path);
    r.pathLength = static_cast<std::uint32_t>(f.path.size());
    r.comparableStored = f.comparable != f.path;
    r.comparableLength = static_cast<std::uint32_t>(f.comparable.size());
    r.normalizedLength = static_cast<std::uint32_t>(f.normalized.size());
    r.comparableCount = f.comparableCount;
    r.normalizedCount = f.normalizedCount;
    r.asciiPath = f.asciiPath;
    r.lowersToComparable = f.lowersToComparable;
    // A folder's parent usually comes first (it holds the folder's own item).
    if (f.path != "/" && !f.path.empty())
        r.parent = find(paths::deletingLastComponent(f.path)).value_or(ItemFacts::kNoFolder);
    const std::size_t stored = f.path.size() + (r.comparableStored ? f.comparable.size() : 0) + f.normalized.size();
    r.offset = m_text.allocate(stored);
    char* out = ByteArena::put(m_text.at(r.offset), f.path);
    if (r.comparableStored)
        out = ByteArena::put(out, f.comparable);
    ByteArena::put(out, f.normalized);
    const auto id = static_cast<std::uint32_t>(m_records.size());
    m_records.push_back(r);
    m_footprint += footprintOf(id);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = PathHash::finish(r.hash) & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = id + 1;
    return id;
}

std::uint32_t FolderTable::intern(std::string_view path)
{
    if (m_lastInterned < m_records.size() && this->path(m_lastInterned) == path)
        return m_lastInterned;
    if (std::optional<std::uint32_t> known = find(path))
        return m_lastInterned = *known;
    const auto [comparable, normalized] = FolderForms::formsOf(path);
    FolderForms f;
    f.path = path;
    f.comparable = comparable;
    f.normalized = normalized;
    f.comparableCount = static_cast<std::uint32_t>(textscan::clusterCount(comparable));
    f.normalizedCount = static_cast<std::uint32_t>(textscan::clusterCount(normalized));
    f.asciiPath = text::isAscii(path);
    f.lowersToComparable = FolderForms::pathLowersToComparable(path, comparable);
    return m_lastInterned = add(f);
}

std::uint32_t FolderTable::internFrom(const FolderTable& other, std::uint32_t id)
{
    const FolderForms f = other.forms(id);
    if (std::optional<std::uint32_t> known = find(f.path))
        return *known;
    return add(f);
}

void FolderTable::grow()
{
    const std::size_t capacity = std::max<std::size_t>(64, m_slots.size() * 2);
    m_slots.assign(capacity, 0);
    const std::size_t mask = capacity - 1;
    for (std::uint32_t id = 0; id < m_records.size(); ++id) {
        std::size_t i = PathHash::finish(m_records[id].hash) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = id + 1;
    }
}

void FolderTable::clear()
{
    m_text = ByteArena();
    m_records.clear();
    m_records.shrink_to_fit();
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_lastInterned = 0;
    m_footprint = 0;
}

std::size_t FolderTable::memoryUsage() const
{
    return m_text.heldBytes() + m_records.capacity() * sizeof(Record) + m_slots.capacity() * sizeof(std::uint32_t);
}

std::size_t FolderTable::footprintOf(std::uint32_t id) const
{
    const Record& r = m_records[id];
    const std::size_t text = r.pathLength + (r.comparableStored ? r.comparableLength : 0) + r.normalizedLength;
    // The slots are at most three quarters full, at least three eighths.
    return text + sizeof(Record) + 2 * sizeof(std::uint32_t);
}

} // namespace pallix
