#pragma once
// Searches of an index file on a read-only connection opened for the one
// search: the shared-drive index is searched so while its store may be
// writing. They touch no IndexStore and run on the calling thread.

#include <filesystem>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix {

// readOnlySearch() telling an empty answer from a read that failed (a file
// that cannot be opened or read, or stayed busy).
struct ReadOnlyAnswer {
    std::vector<IndexedItem> items;
    bool readFailed = false;
};

// Every row whose name holds the words, ranked, at most `limit`. A busy read
// is repeated `maxReadAttempts` times; `clock` (none: the system's) waits between.
std::vector<IndexedItem> readOnlySearch(const std::filesystem::path& databaseURL, const SearchQuery& query, int limit,
                                        int maxReadAttempts = 2, int searchStage = 1, Clock* clock = nullptr);
ReadOnlyAnswer readOnlySearchAnswer(const std::filesystem::path& databaseURL, const SearchQuery& query, int limit,
                                    int maxReadAttempts = 2, int searchStage = 1, Clock* clock = nullptr);
// The typing road's answer of one word from the names beginning with it.
std::vector<IndexedItem> readOnlyTypingFastPrefixSearch(const std::filesystem::path& databaseURL,
                                                        const SearchQuery& query, int limit);

} // namespace pallix
