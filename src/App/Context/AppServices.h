#pragma once
// The services the application model calls but other parts of the program
// provide: the global hot key, the menu-bar item, the shared drives, the image
// tagger and its stores, the image-content search, the keep-warm activity,
// and the file-system watcher.
// Each is a hook the model calls on the GUI thread. An empty image-tag store,
// tagging or image-search hook means the real one (the SQLite tag store, the
// process's image tagger, the model's own search) and an empty watcher hook
// the inotify watcher; any other empty hook does nothing, so the model runs
// before the parts that fill them are built. Tests fill them with fakes.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QList>
#include <QSet>
#include <QString>

#include "Core/HotKey/HotKey.h"
#include "Core/Indexer/FSEventWatcher.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"
#include "Core/Semantic/ImageTagStore.h"

namespace pallix {

class IndexStore;
class SharedDrives;

// What the model needs of a watcher over the local roots.
class RootWatcher {
public:
    virtual ~RootWatcher() = default;
    // Replaces the watched set; paths that do not exist are left out. Returns
    // at once: the watches are added off the calling (GUI) thread.
    virtual void start(const std::vector<std::string>& roots) = 0;
    // The same with the folders to leave out and to watch first.
    virtual void start(const std::vector<std::string>& roots, const FSEventWatcher::WatchRules&) { start(roots); }
};

struct AppServices {
    // Shows or hides the menu-bar item.
    std::function<void(bool visible)> menuBarVisibilityChanged;
    // Registers the global hot key in place of the previous one; none leaves no hot key.
    std::function<void(const std::optional<GlobalHotKey>& hotKey)> registerHotKey;

    // Shared drives: adopt the default roots once, start a first full scan when
    // one is due, run the daily scan at launch (awaited by the start-up), and
    // resume an interrupted run.
    std::function<void(SharedDrives&)> autoConfigureServerRootsIfNeeded;
    std::function<void(SharedDrives&)> startServerFullScanIfNeeded;
    std::function<QCoro::Task<>(SharedDrives&)> maybeRunServerIncrementalScanOnLaunch;
    std::function<void(SharedDrives&)> maybeResumeServerIndexIfInterrupted;

    // The image-tag store on a database file; none: the SQLite tag store.
    std::function<std::shared_ptr<ImageTagStore>(const std::filesystem::path& database)> makeImageTagStore;
    // Starts tagging the images of `index` into `tags` under a run key
    // ("local" or "server"), once per key for the process; none: the
    // process-wide image tagger.
    std::function<void(std::shared_ptr<IndexStore> index, std::shared_ptr<ImageTagStore> tags,
                       const std::string& sessionID)>
        startImageTagging;

    // Begins the keep-warm activity; the model holds the token while the
    // setting is on and drops it (ending the activity) when it goes off.
    std::function<std::shared_ptr<void>()> beginKeepWarmActivity;

    // The image-content search: at most `limit` images and folders for the
    // query, none of them in `excludingPaths`. None: the model's own search
    // over its tag stores and its local index.
    std::function<QCoro::Task<QList<IndexedItem>>(SearchQuery query, int limit, QSet<QString> excludingPaths)>
        imageFuzzySearch;

    // The watcher over the local roots; none: the inotify watcher. `onShortfall`
    // hears, from the watcher's thread, when a start could not cover every folder.
    std::function<std::unique_ptr<RootWatcher>(FSEventWatcher::Callback onChange,
                                               FSEventWatcher::ShortfallCallback onShortfall)>
        makeWatcher;
};

// The inotify watcher behind the RootWatcher interface; `options` carry the
// shortfall callback and the test seams.
std::unique_ptr<RootWatcher> makeFileSystemWatcher(FSEventWatcher::Callback onChange,
                                                   FSEventWatcher::Options options = {});

} // namespace pallix
