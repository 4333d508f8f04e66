#pragma once
// LiveChanges: writes the paths the watcher reported into the index at a cost
// in proportion to what changed, not to the tree around it. Each path is
// looked at as it is now: one that is gone loses its row and everything under
// it; a file is one upsert; a folder the index already holds has its children
// compared, by their parent, with a listing of it; a folder the index does
// not hold yet is walked whole. The folder holding each path is listed once,
// and a child folder such a listing meets for the first time is walked whole.
// A listed folder's own row takes the time read before its listing, as the
// start-up catch-up leaves it, so that a later catch-up passes it by.
//
// A reported root means its events were lost (the kernel's queue overflowed):
// it is brought in line as the start-up catch-up does, by the folders' times.
//
// When the watcher has fallen behind, relist() takes the backlog's road: the
// paths are not looked at one by one; the folders holding them are listed
// once each, as the catch-up lists the folders that changed.
//
// Threads: blocking calls for a worker thread, never the GUI thread.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/IndexDB/IndexStoreError.h"
#include "Core/Indexer/FileScanner.h"
#include "Platform/Clock.h"

namespace pallix {

class IndexStore;

struct LiveScope {
    std::vector<std::string> roots;
    std::vector<std::string> excludedPaths;
    bool excludeSystemJunk = true;
};

struct LiveOutcome {
    std::size_t foldersListed = 0;  // listed one level deep
    std::size_t foldersWalked = 0;  // walked whole: new, or their events lost
    bool cancelled = false;
    // The first failed write; nothing was written after it.
    std::optional<IndexStoreError> error;
    // Stopped between two folders because a newer batch waited: what was
    // done is whole, the rest not begun; written again, whole, it loses nothing.
    bool gaveWay = false;
};

class LiveChanges {
public:
    // The watcher's receiver hands its paths over once the disk has been
    // quiet for a while, and under constant churn at the latest this long
    // after the first: longer than its longest quiet wait (1.8 s), short
    // enough that a change made during a burst is not held for long.
    static constexpr Clock::Duration kHandOverAtMost = std::chrono::seconds(2);
    // A batch is behind, and takes the backlog's road, when its oldest change
    // waited longer than this or when this many folders hold its changes.
    static constexpr Clock::Duration kBehindAfter = std::chrono::seconds(6);
    static constexpr std::size_t kManyFolders = 256;
    static bool isBehind(const std::vector<std::string>& paths, const std::vector<std::string>& roots,
                         Clock::Duration waited);
    // A batch is written a slice at a time, so that a change handed over
    // meanwhile gets in between its slices; and a folder holding this many
    // of its changes is busy (a burst): the quiet folders' paths come first,
    // in slices of their own. A folder's paths stay together, so that a
    // slice lists few folders.
    static constexpr std::size_t kSlicePaths = 2000;
    static constexpr std::size_t kBusyFolder = 64;
    static std::vector<std::vector<std::string>> slices(std::vector<std::string> paths,
                                                        const std::vector<std::string>& roots);
    // Asked between folders: true when a newer batch waits and this one
    // should give way (a slice's cost follows the folders it meets, not its
    // paths: one listing can meet a thousand new folders to walk).
    using GiveWay = std::function<bool()>;
    // isBehind() ? relist() : apply().
    static LiveOutcome write(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                             const LiveScope& scope, bool behind, const CancelToken* cancel = nullptr,
                             const GiveWay& giveWay = {});

    // The removals and the files' upserts always run whole, so a file made
    // elsewhere is in the index before its batch may give way.
    static LiveOutcome apply(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                             const LiveScope& scope, const CancelToken* cancel = nullptr, const GiveWay& giveWay = {});
    static LiveOutcome relist(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                              const LiveScope& scope, const CancelToken* cancel = nullptr,
                              const GiveWay& giveWay = {});
    // The folders whose listing brings `paths` in line: the folder holding
    // each, when it lies under a root (the folder holding a root is not
    // indexed: listing it would add the root's siblings), once each.
    static std::vector<std::string> foldersHolding(const std::vector<std::string>& paths,
                                                   const std::vector<std::string>& roots);
};

} // namespace pallix
