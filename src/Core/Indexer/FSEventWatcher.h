#pragma once
// FSEventWatcher: reports changes under the indexed local folders, on inotify.
// One watch per folder under the roots (no link followed, no pseudo or network
// file system entered); folders created or moved in later are watched as they
// appear. Changed paths are gathered for `latency` after the first of them and
// handed to the callback as one list of standardised paths, in arrival order.
// The receiver checks the file system itself: event kinds are not passed on.
// When the kernel's queue overflowed, the roots themselves are reported, so the
// receiver resynchronises them.
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

    struct Options {
        std::shared_ptr<Clock> clock = Clock::system();
        std::chrono::nanoseconds latency = std::chrono::milliseconds(700);
        // Test seam: act as if the kernel refused watches beyond this many (0: no such limit).
        std::size_t watchLimit = 0;
        // Test seam: called on the reading thread before each read of the event queue.
        std::function<void()> beforeRead;
    };

    explicit FSEventWatcher(Callback callback);
    FSEventWatcher(Callback callback, Options options);
    ~FSEventWatcher();

    FSEventWatcher(const FSEventWatcher&) = delete;
    FSEventWatcher& operator=(const FSEventWatcher&) = delete;

    // Stops any running watch, then watches the given paths (standardised;
    // those that do not exist now are left out). Changes made after it returns
    // are reported; nothing earlier is. With no existing path the watcher stays idle.
    // Adds every folder's watch before returning, so it takes time in proportion
    // to the folders under the roots: call it off the GUI thread.
    void start(const std::vector<std::string>& paths);

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
