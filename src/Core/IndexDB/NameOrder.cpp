#include "Core/IndexDB/NameOrder.h"

#include <algorithm>
#include <atomic>

#include "Platform/Parallel.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr std::size_t kPollEvery = 4096;
constexpr std::size_t kNamesAtATime = 16384;

// A name's place while sorting: 12 bytes, not a pair's 16.
#pragma pack(push, 4)
struct Placed {
    std::uint64_t head;
    std::uint32_t index;
    bool operator<(const Placed& other) const
    {
        return head != other.head ? head < other.head : index < other.index;
    }
};
#pragma pack(pop)
static_assert(sizeof(Placed) == 12);

// The first eight bytes of a key as a number that orders as the bytes do.
std::uint64_t headOf(std::string_view key)
{
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return head;
}

} // namespace

std::optional<std::vector<std::uint32_t>> nameOrdersOf(std::size_t n, const NameTextSource& names, unsigned threads,
                                                       const std::function<bool()>& keepGoing)
{
    threads = std::clamp<unsigned>(threads, 1, static_cast<unsigned>(std::max<std::size_t>(n / 65536, 1)));
    // Thread t makes the sort keys of names [firsts[t], firsts[t + 1]), in chunks that never move.
    std::vector<TextList> keys(threads);
    std::vector<std::size_t> firsts(threads + 1, n);
    std::atomic<bool> stopped{false};
    inSlices(n, threads, [&](unsigned t, std::size_t begin, std::size_t end) {
        firsts[t] = begin;
        keys[t].reserve(end - begin, (end - begin) * 24);
        TextList slice;
        std::string key;
        for (std::size_t first = begin; first < end; first += kNamesAtATime) {
            const std::size_t last = std::min(end, first + kNamesAtATime);
            slice = TextList();
            slice.reserve(last - first, (last - first) * 24);
            if (stopped.load() || !names(first, last, slice)) {
                stopped = true;
                return;
            }
            for (std::size_t i = 0; i < slice.size(); ++i) {
                if (i % kPollEvery == 0 && (stopped.load() || !keepGoing())) {
                    stopped = true;
                    return;
                }
                text::zhCaseInsensitiveKey(slice.at(i), key);
                keys[t].append(key);
            }
        }
    });
    if (stopped)
        return std::nullopt;
    const auto keyOf = [&](std::uint32_t i) {
        const auto t = static_cast<std::size_t>(std::upper_bound(firsts.begin(), firsts.end() - 1, i) - firsts.begin() - 1);
        return keys[t].at(i - firsts[t]);
    };

    // Sorted by the keys' heads, numbers only; the rest of a key is read only
    // where heads are equal.
    std::vector<Placed> sorted(n);
    for (std::size_t i = 0; i < n; ++i)
        sorted[i] = {headOf(keyOf(static_cast<std::uint32_t>(i))), static_cast<std::uint32_t>(i)};
    std::sort(sorted.begin(), sorted.end());
    if (!keepGoing())
        return std::nullopt;
    const auto byKey = [&](const Placed& a, const Placed& b) { return keyOf(a.index) < keyOf(b.index); };
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && sorted[j].head == sorted[i].head)
            ++j;
        if (j - i > 1)
            std::sort(sorted.begin() + std::ptrdiff_t(i), sorted.begin() + std::ptrdiff_t(j), byKey);
        i = j;
    }

    std::vector<std::uint32_t> orders(n);
    std::uint32_t order = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || keyOf(sorted[i].index) != keyOf(sorted[i - 1].index))
            ++order;
        orders[sorted[i].index] = order;
    }
    return orders;
}

std::optional<std::vector<std::uint32_t>> nameOrdersOf(const TextList& names, unsigned threads,
                                                       const std::function<bool()>& keepGoing)
{
    return nameOrdersOf(
        names.size(),
        [&](std::size_t begin, std::size_t end, TextList& out) {
            for (std::size_t i = begin; i < end; ++i)
                out.append(names.at(i));
            return true;
        },
        threads, keepGoing);
}

} // namespace pallix
