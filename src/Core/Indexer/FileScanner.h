#pragma once
// FileScanner: turns folders on disk into IndexedItem records for the index.
// Stateless between calls; any number of calls may run at once. Every call runs
// on the calling thread (a worker, never the GUI thread), which it blocks until
// the walk ends; the batch callback is called on that thread. The recursive
// walks read folders ahead on helper threads of their own, but hand items over
// in one fixed order: each root, then pre-order below it (a folder before its
// contents), entries of a folder in the file system's listing order.
//
// No symbolic link is ever followed (a link is an entry like any other), and
// below a root no pseudo or network file system is entered. An entry whose
// metadata cannot be read is not entered, and neither is a folder that is
// one of the folders above it (a bind mount of a folder inside itself).
//
// Roots and excluded paths come in, and records and unreadable paths go out,
// in the stored form of Platform/FileNames.h: a name whose bytes are not
// UTF-8 is indexed with its bytes escaped, and so is everything below it. The
// walk itself, and the listing fault seam, see the system's bytes.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Platform/Clock.h"
#include "Platform/DirectoryWalker.h"

namespace pallix {

// What a recursive walk could not read. The index must keep its rows under
// these paths: the walk does not know what lies there now.
struct ScanReport {
    // Folders whose listing failed (not vanished ones), and entries whose
    // metadata could not be read although they exist, in walk order.
    std::vector<std::string> unreadablePaths;
};

struct ScanResult {
    std::vector<IndexedItem> items;  // in walk order
    std::vector<std::string> unreadablePaths;
};

class FileScanner {
public:
    // Receives each full batch, and the remainder last; never an empty one.
    using BatchCallback = std::function<void(const std::vector<IndexedItem>& batch)>;
    // Test seam: returns the errno with which listing the folder at `path` fails, or 0.
    using ListingFault = std::function<int(const std::string& path)>;
    // Test seam: sees the metadata read for the entry at `path` and may change
    // it; a nonzero errno it returns makes the read fail with that error.
    using StatusFault = std::function<int(const std::string& path, EntryStatus& status)>;

    struct Options {
        // Helper threads that read folders ahead of the walk; 0 reads on the calling thread only.
        unsigned readAheadThreads = defaultReadAheadThreads();
        ListingFault listingFault;
        // Enter no folder on another file system than its parent's, whatever
        // kind: below a network share another mount is another share or a
        // local folder, neither of which belongs to the share's index.
        bool stayOnRootFileSystem = false;
        // Open folders a walk keeps for opening their subfolders (at least
        // one); past that many a folder opens below the nearest kept one.
        std::size_t keptFolderLimit = 64;
        StatusFault statusFault = {};
    };

    static unsigned defaultReadAheadThreads();

    FileScanner();
    explicit FileScanner(Options options);

    // Walks `roots` in order. A root equal to or under an excluded path is
    // skipped; an excluded folder below a root is left out with its subtree;
    // junk (when `excludeSystemJunkFromIndex`) is left out but descended into.
    // Hands over every `batchSize` items (every item when below 1) and the
    // remainder at the end, waiting for `onBatch` before walking on. When
    // `cancel` fires the partial batch is handed over and the walk returns normally.
    ScanReport scanInBatches(const std::vector<std::string>& roots, const std::vector<std::string>& excludedPaths,
                             bool excludeSystemJunkFromIndex, int batchSize, const BatchCallback& onBatch,
                             const CancelToken* cancel = nullptr) const;

    // The same walk, returning every item at once (the items so far when cancelled).
    ScanResult scan(const std::vector<std::string>& roots, const std::vector<std::string>& excludedPaths,
                    bool excludeSystemJunkFromIndex, const CancelToken* cancel = nullptr) const;

    // The items of the direct children of `folder`, with the same exclusions.
    // Nothing when the folder could not be listed, which the caller must not
    // take for an empty folder.
    std::optional<std::vector<IndexedItem>> scanImmediateChildren(const std::string& folder,
                                                                  const std::vector<std::string>& excludedPaths,
                                                                  bool excludeSystemJunkFromIndex) const;

private:
    Options m_options;
};

} // namespace pallix
