#include "Core/IndexDB/SearchIndexBuild.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <future>
#include <thread>

namespace pallix {

namespace {

constexpr std::uint32_t kBlockSize = 1u << PostingIndex::kChunkBits;

struct Block {
    explicit Block(std::uint32_t b) : characters(b), bigrams(b), prefixes(b) {}
    PostingIndex::BlockBuilder characters;
    PostingIndex::BlockBuilder bigrams;
    PostingIndex::BlockBuilder prefixes;
};

std::optional<Block> buildBlock(std::size_t count, const NameSource& source, std::uint32_t b,
                                const std::function<bool()>& keepGoing)
{
    const std::size_t begin = std::size_t(b) * kBlockSize;
    const std::size_t end = std::min(count, begin + kBlockSize);
    NameList names;
    if (!source(begin, end, names))
        return std::nullopt;
    assert(names.size() == end - begin);
    Block block(b);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if ((i & 4095) == 0 && keepGoing && !keepGoing())
            return std::nullopt;
        addItemKeys(names.name(i), names.normalizedName(i), names.normalizedStem(i),
                    static_cast<std::uint32_t>(begin + i), block.characters, block.bigrams, block.prefixes);
    }
    block.characters.seal();
    block.bigrams.seal();
    block.prefixes.seal();
    return block;
}

} // namespace

bool detail::sameKeys(const std::vector<std::string_view>& kept, std::string_view normalized)
{
    std::size_t at = 0;
    for (std::string_view c : kept) {
        if (normalized.substr(at, c.size()) != c)
            return false;
        at += c.size();
    }
    return at == normalized.size();
}

void addItemKeys(std::string_view name, std::string_view normalizedName, std::string_view normalizedStem,
                 std::uint32_t position,
                 PostingIndex::BlockBuilder& characters, PostingIndex::BlockBuilder& bigrams,
                 PostingIndex::BlockBuilder& prefixes)
{
    forEachItemKey(name, normalizedName, normalizedStem, [&](IndexKind kind, std::string_view key) {
        switch (kind) {
        case IndexKind::Characters: characters.add(key, position); break;
        case IndexKind::Bigrams: bigrams.add(key, position); break;
        case IndexKind::Prefixes: prefixes.add(key, position); break;
        }
    });
}

std::optional<SearchIndexes> buildSearchIndexes(std::size_t count, const NameSource& source, unsigned threads,
                                                const std::function<bool()>& keepGoing)
{
    const auto blocks = static_cast<std::uint32_t>((count + kBlockSize - 1) / kBlockSize);
    PostingIndex::Assembler characters, bigrams, prefixes;
    auto assemble = [&](Block&& block) {
        characters.addBlock(std::move(block.characters));
        bigrams.addBlock(std::move(block.bigrams));
        prefixes.addBlock(std::move(block.prefixes));
    };

    // The three indexes are independent: with workers to spare, merge each
    // block into them side by side.
    auto assembleInParallel = [&](Block&& block) {
        auto pairs = std::async(std::launch::async, [&] { bigrams.addBlock(std::move(block.bigrams)); });
        auto heads = std::async(std::launch::async, [&] { prefixes.addBlock(std::move(block.prefixes)); });
        characters.addBlock(std::move(block.characters));
        pairs.get();
        heads.get();
    };

    threads = std::clamp<unsigned>(threads, 1, std::max<std::uint32_t>(blocks, 1));
    if (threads == 1) {
        for (std::uint32_t b = 0; b < blocks; ++b) {
            std::optional<Block> block = buildBlock(count, source, b, keepGoing);
            if (!block)
                return std::nullopt;
            assemble(std::move(*block));
        }
    } else {
        // Workers take blocks in order; this thread assembles them in order as
        // they finish, releasing each block's lists as soon as it is merged.
        // A worker starts a block only within `window` blocks of the last one
        // the assembly took: finished blocks waiting their turn would otherwise
        // pile up, a whole index's worth of lists beside the assembled one.
        const std::uint32_t window = threads;
        std::mutex mutex;
        std::condition_variable ready;   // a block finished, or the build stopped
        std::condition_variable turned;  // the assembly moved on, or stopped
        std::vector<std::optional<Block>> done(blocks);
        std::vector<bool> finished(blocks, false);
        std::uint32_t taken = 0;
        std::atomic<std::uint32_t> next{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                for (std::uint32_t b = next++; b < blocks && !stop; b = next++) {
                    {
                        std::unique_lock lock(mutex);
                        turned.wait(lock, [&] { return b < taken + window || stop; });
                        if (stop)
                            break;
                    }
                    std::optional<Block> block = buildBlock(count, source, b, keepGoing);
                    std::lock_guard lock(mutex);
                    if (!block)
                        stop = true;
                    done[b] = std::move(block);
                    finished[b] = true;
                    ready.notify_all();
                    if (stop)
                        turned.notify_all();
                }
            });
        }
        for (std::uint32_t b = 0; b < blocks && !stop; ++b) {
            std::unique_lock lock(mutex);
            ready.wait(lock, [&] { return finished[b] || stop; });
            if (!done[b])
                break;
            Block block = std::move(*done[b]);
            done[b].reset();
            taken = b + 1;
            lock.unlock();
            turned.notify_all();
            assembleInParallel(std::move(block));
        }
        for (std::thread& w : workers)
            w.join();
        if (stop)
            return std::nullopt;
    }

    SearchIndexes indexes;
    indexes.characters = characters.finish();
    indexes.bigrams = bigrams.finish();
    indexes.prefixes = prefixes.finish();
    return indexes;
}

std::optional<SearchIndexes> buildSearchIndexes(const NameList& names, unsigned threads,
                                                const std::function<bool()>& keepGoing)
{
    return buildSearchIndexes(
        names.size(),
        [&](std::size_t begin, std::size_t end, NameList& out) {
            for (std::size_t p = begin; p < end; ++p)
                out.append(names.name(p), names.normalizedName(p), names.normalizedStem(p));
            return true;
        },
        threads, keepGoing);
}

} // namespace pallix
