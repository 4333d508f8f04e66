#pragma once
// FSEventWatcher: reports changes under the indexed local folders, on inotify.
// One watch per folder under the roots (no link followed, no pseudo or network
// file system entered, excluded and junk trees left out), added breadth-first
// with the folders the user cares most about first; folders created or moved
// in later are watched as they appear, and a folder moved within the tree
// keeps its watches. The watches are kept as a tree of names (`WatchTree`),
// a path put together per event, so memory grows with the number of folders,
// not with their depth times their number. Changed paths are gathered for
// `latency` after the first of them and handed to the callback as one list of
// standardised paths, in arrival order.
// Paths in and out are in the stored form of Platform/FileNames.h, so a
// folder whose name is not UTF-8 is watched and reported like any other.
// The receiver checks the file system itself: event kinds are not passed on.
// When the kernel's queue overflowed, the roots themselves are reported, so the
// receiver resynchronises them, and a thread of its own walks the roots again
// for folders that came meanwhile (one walk for overflows that come while one
// waits), so that reading goes on during it.
// A new start with the same exclusions keeps the watches of the roots it
// still has: only the roots added are walked and only the roots dropped
// unwatched, and changes under the others go on being reported throughout.
//
// Threads: start(), the status queries and the destructor belong to the owner's
// thread. The callback runs on the watcher's own delivery thread, never on the
// caller's; it must move the list to its owner's thread itself, and must not
// call start() or destroy the watcher (both join the thread it runs on). The
// destructor and start() stop and join the watcher's threads before they return.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Clock.h"

namespace pallix {

class FSEventWatcher {
public:
    using Callback = std::function<void(std::vector<std::string> paths)>;

    // What a start could not cover: sent once per start, from the thread that
    // added the watches, when the kernel's limit stopped it or some folder
    // could not be watched (a path too long, a folder gone meanwhile).
    struct Shortfall {
        std::size_t watched = 0;      // folders (and file roots) under watch
        bool limitReached = false;    // the per-user watch limit was met
        std::size_t unwatchable = 0;  // folders refused for another reason
    };
    using ShortfallCallback = std::function<void(const Shortfall&)>;

    // Which folders get no watch, and which are watched first.
    struct WatchRules {
        // No watch at or under these (standardised), and no change reported there.
        std::vector<std::string> excludedPaths;
        // Nor in the trees the junk rule leaves out of the index (caches, the
        // trash, the system's own state), which change all the time.
        bool skipSystemJunk = false;
        // Watched before everything else under the roots, each breadth-first,
        // so that a low watch limit leaves these covered: the user's home and
        // the folders the user chose.
        std::vector<std::string> firstFolders;
    };

    struct Options {
        std::shared_ptr<Clock> clock = Clock::system();
        std::chrono::nanoseconds latency = std::chrono::milliseconds(700);
        // Test seam: act as if the kernel refused watches beyond this many (0: no such limit).
        std::size_t watchLimit = 0;
        // Test seam: called on the reading thread before each read of the event queue.
        std::function<void()> beforeRead;
        // Test seam: called with each folder listed to add watches, on the thread listing it.
        std::function<void(const std::string& folder)> onListFolder;
        // Test seam: called on the re-watching thread when an overflow woke it, before its pass.
        std::function<void()> beforeRewatch;
        ShortfallCallback onShortfall;
    };

    explicit FSEventWatcher(Callback callback);
    FSEventWatcher(Callback callback, Options options);
    ~FSEventWatcher();

    FSEventWatcher(const FSEventWatcher&) = delete;
    FSEventWatcher& operator=(const FSEventWatcher&) = delete;

    // Watches the given paths (standardised; those that do not exist now are
    // left out) in place of the previous ones. Changes made after it returns
    // are reported; under roots kept from the previous start, so are those
    // made while it ran. With other exclusions, or after the watch limit was
    // met, every watch is made anew. With no existing path the watcher stays idle.
    // Adds every new folder's watch before returning, so it takes time in
    // proportion to the folders under the new roots: call it off the GUI thread.
    void start(const std::vector<std::string>& paths);
    void start(const std::vector<std::string>& paths, const WatchRules& rules);

    bool isWatching() const;
    // Folders (and file roots) under watch right now.
    std::size_t watchCount() const;
    // True once the kernel's watch limit stopped the watcher from covering every
    // folder; changes in the uncovered ones go unreported until the next start.
    bool watchLimitReached() const;

private:
    class Session;

    Callback m_callback;
    Options m_options;
    std::unique_ptr<Session> m_session;
};

} // namespace pallix
