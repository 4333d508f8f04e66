#pragma once
// StartupCatchUp: brings the index in line with what changed on disk while
// the application was not running. inotify keeps no history, so each indexed
// folder's modification time as the index stored it (its row's) is compared
// with the disk's: adding, removing or renaming an entry gives its folder a
// new one. Only those folders are listed again and their children's rows
// brought in line; a child folder the index does not hold yet is walked with
// everything under it, and a folder gone from the disk loses its rows with
// everything under them. A listed folder's own row takes the time read
// before the listing, so the next start passes it by, and a change made
// during the listing still shows then. Changes inside files (which leave
// the folder's time alone) are not looked for.
//
// A root that is missing, or that is an empty folder on the file system
// above it while the index holds rows below it (a mount point whose disk is
// absent), is left alone. Rows below a folder that has no row of its own go
// with it when it is gone; where it stands it is walked anew and its rows
// stay, searchable, until that walk's one write replaces them.
//
// The stored folders are read on a read-only connection of its own, so the
// store answers searches meanwhile; the writes go in slices.
// Threads: a blocking call for a worker thread, never the GUI thread.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Core/IndexDB/IndexStoreError.h"
#include "Core/Indexer/FileScanner.h"
#include "Platform/Clock.h"

namespace pallix {

class IndexStore;

struct CatchUpOutcome {
    std::size_t foldersChecked = 0;
    std::size_t foldersListed = 0;  // changed folders listed again
    std::size_t foldersGone = 0;    // removed with their subtrees (nested ones not counted)
    std::size_t foldersNew = 0;     // walked whole (nested ones not counted)
    bool cancelled = false;
    // The read of the stored folders or the first failed write; nothing was
    // written after it.
    std::optional<IndexStoreError> error;
    bool changedAnything() const { return foldersListed + foldersGone + foldersNew > 0; }
};

class StartupCatchUp {
public:
    struct StoredFolder {
        std::string path;
        Date modifiedAt = kDistantPast;
    };
    // The folders of the index file at or under `roots`, in byte order of
    // their paths (a folder before everything under it).
    static StoreResult<std::vector<StoredFolder>> storedFolders(const std::filesystem::path& database,
                                                                 const std::vector<std::string>& roots);

    // `onChangesFound` (may be empty) is called once, on this thread, when
    // the folders' times show changes, before any is written.
    static CatchUpOutcome run(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& roots,
                              const std::vector<std::string>& excludedPaths, bool excludeSystemJunk,
                              const CancelToken* cancel = nullptr,
                              const std::function<void()>& onChangesFound = {});
};

} // namespace pallix
