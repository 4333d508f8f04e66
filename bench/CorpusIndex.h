#pragma once
// The benches that run the application model over a generated corpus
// (gen_corpus.py: path, is_dir, size, mtime a line) read it and write it into
// an index file once; a marker beside the file says which corpus it holds.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Core/IndexDB/IndexStore.h"

namespace pallix::bench {

inline std::vector<IndexedItem> readCorpus(const std::string& file)
{
    std::vector<IndexedItem> items;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto t1 = line.find('\t');
        const auto t2 = line.find('\t', t1 + 1);
        const auto t3 = line.find('\t', t2 + 1);
        if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos)
            continue;
        FileMetadata meta;
        meta.isDirectory = line.compare(t1 + 1, t2 - t1 - 1, "1") == 0;
        meta.contentModifiedAt = std::stod(line.substr(t3 + 1));
        if (!*meta.isDirectory)
            meta.fileSize = std::stoll(line.substr(t2 + 1, t3 - t2 - 1));
        if (auto item = IndexedItem::from(line.substr(0, t1), meta))
            items.push_back(std::move(*item));
    }
    return items;
}

// The corpus in the index file, written once.
inline bool prepareIndex(const std::filesystem::path& database, const std::vector<IndexedItem>& items)
{
    // The marker names the corpus the file was written from.
    const std::filesystem::path marker = database.string() + ".corpus";
    const std::string stamp = std::to_string(items.size());
    {
        std::ifstream in(marker);
        std::string written;
        if (std::getline(in, written) && written == stamp && std::filesystem::exists(database))
            return true;
    }
    std::filesystem::remove(database);
    IndexStore store(database);
    if (!store.bootstrap())
        return false;
    std::fprintf(stderr, "writing %zu items into %s\n", items.size(), database.c_str());
    for (std::size_t begin = 0; begin < items.size(); begin += 20000) {
        const std::vector<IndexedItem> batch(items.begin() + begin,
                                             items.begin() + std::min(items.size(), begin + 20000));
        if (!store.upsert(batch))
            return false;
    }
    std::ofstream(marker) << stamp << "\n";
    return true;
}

} // namespace pallix::bench
