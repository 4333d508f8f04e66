#include "Core/IndexDB/NameOrder.h"

#include <algorithm>
#include <atomic>

#include "Platform/Parallel.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr std::size_t kPollEvery = 4096;

// Sort keys of a run of names, in one buffer.
struct KeyBlock {
    std::string bytes;
    std::vector<std::uint32_t> ends;
};

// The first eight bytes of a key as a number that orders as the bytes do.
std::uint64_t headOf(std::string_view key)
{
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return head;
}

} // namespace

std::optional<std::vector<std::uint32_t>> nameOrdersOf(const TextList& names, unsigned threads,
                                                       const std::function<bool()>& keepGoing)
{
    const std::size_t n = names.size();
    threads = std::clamp<unsigned>(threads, 1, static_cast<unsigned>(std::max<std::size_t>(n / 65536, 1)));
    std::vector<KeyBlock> blocks(threads);
    std::atomic<bool> stopped{false};
    inSlices(n, threads, [&](unsigned t, std::size_t begin, std::size_t end) {
        KeyBlock& block = blocks[t];
        block.ends.reserve(end - begin);
        block.bytes.reserve((end - begin) * 32);
        std::string key;
        for (std::size_t i = begin; i < end; ++i) {
            if ((i - begin) % kPollEvery == 0 && (stopped.load() || !keepGoing())) {
                stopped = true;
                return;
            }
            text::zhCaseInsensitiveKey(names.at(i), key);
            block.bytes.append(key);
            block.ends.push_back(static_cast<std::uint32_t>(block.bytes.size()));
        }
    });
    if (stopped)
        return std::nullopt;

    std::vector<std::string_view> keys;
    keys.reserve(n);
    for (const KeyBlock& block : blocks)
        for (std::size_t k = 0; k < block.ends.size(); ++k) {
            const std::size_t begin = k == 0 ? 0 : block.ends[k - 1];
            keys.emplace_back(block.bytes.data() + begin, block.ends[k] - begin);
        }

    // Sorted by the keys' heads, numbers only; the rest of a key is read only
    // where heads are equal.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted(n);
    for (std::size_t i = 0; i < n; ++i)
        sorted[i] = {headOf(keys[i]), static_cast<std::uint32_t>(i)};
    std::sort(sorted.begin(), sorted.end());
    if (!keepGoing())
        return std::nullopt;
    const auto byKey = [&](const auto& a, const auto& b) { return keys[a.second] < keys[b.second]; };
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && sorted[j].first == sorted[i].first)
            ++j;
        if (j - i > 1)
            std::sort(sorted.begin() + std::ptrdiff_t(i), sorted.begin() + std::ptrdiff_t(j), byKey);
        i = j;
    }

    std::vector<std::uint32_t> orders(n);
    std::uint32_t order = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || keys[sorted[i].second] != keys[sorted[i - 1].second])
            ++order;
        orders[sorted[i].second] = order;
    }
    return orders;
}

} // namespace pallix
