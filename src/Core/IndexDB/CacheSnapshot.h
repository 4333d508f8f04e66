#pragma once
// The snapshot of a file index that the search cache starts from: every row
// of `file_index`, read on a read-only connection of its own, made into items
// with their search forms. Runs on the calling thread (plus helper threads
// of its own) and touches no store.

#include <filesystem>

#include "Core/IndexDB/ItemTable.h"
#include "Platform/Clock.h"

namespace pallix {

struct CacheSnapshot {
    ItemTable items;
    // A read met a damaged page: `items` hold only part of the file, which the
    // store must treat as damaged rather than install.
    bool damaged = false;
};

// An index that cannot be opened or read gives an empty table, a read that
// fails part-way the rows before it (and says so when the failure was
// damage). A later row with a path already read replaces the earlier one.
// `cancel` (may be null) stops the read between batches.
CacheSnapshot loadCacheSnapshot(const std::filesystem::path& databaseURL, const CancelToken* cancel);

} // namespace pallix
