#pragma once
// FolderReconciler: brings the index's rows at and below one folder in line
// with the disk when changes there went unreported (the kernel's event queue
// overflowed) or the folder itself is new: walks it, writes what exists and
// removes the rows of what is gone, compared exactly. Rows under what the walk
// could not read stay: it says nothing of what lies there now. The writes go
// in slices, each a short hold of the store, so that searches and other
// writes get in between even when the folder is "/". The slices are written
// as the walk hands them over: the walk keeps a hash per path, not the records.
//
// Threads: a blocking call for a worker thread, never the GUI thread.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Core/IndexDB/IndexStoreError.h"
#include "Core/Indexer/FileScanner.h"
#include "Platform/Clock.h"

namespace pallix {

class IndexStore;

struct ReconcileOutcome {
    std::size_t written = 0;  // rows written from the walk
    std::size_t removed = 0;  // rows of paths no longer there, subtrees not counted
    bool cancelled = false;   // stopped early: what was written stays, nothing was removed
    std::optional<IndexStoreError> error;  // the first failed write; nothing was written or removed after it
};

class FolderReconciler {
public:
    // Items per write, and rows read per page.
    static constexpr std::size_t kSlice = 2000;

    // Hands `all` to `write` kSlice at a time, so that each write holds the
    // store only briefly; stops at the first write that answers false.
    template <typename T, typename Write>
    static void inSlices(const std::vector<T>& all, Write write)
    {
        for (std::size_t begin = 0; begin < all.size(); begin += kSlice) {
            const std::size_t end = std::min(all.size(), begin + kSlice);
            if (!write(std::vector<T>(all.begin() + std::ptrdiff_t(begin), all.begin() + std::ptrdiff_t(end))))
                return;
        }
    }

    // The folders none of the others holds, each once, sorted: a walk of
    // those covers the rest.
    static std::vector<std::string> outermost(std::vector<std::string> folders);

    static ReconcileOutcome reconcile(IndexStore& store, const FileScanner& scanner, const std::string& folder,
                                      const std::vector<std::string>& excludedPaths, bool excludeSystemJunk,
                                      const CancelToken* cancel = nullptr);
};

} // namespace pallix
