#pragma once
// The application model's environment over a corpus written by CorpusIndex.h:
// its index file in `work`, the corpus's top folders as local volumes and as
// the indexed roots, the search limit, no shared drives and a watcher that
// does nothing (the corpus is not on disk).
//
// A root is the shortest folder above the corpus's items that this machine
// does not have: the start's catch-up compares every present root with the
// disk, and under a present /home it would remove the whole /home/user of the
// corpus before the first keystroke.

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "App/AppModel.h"
#include "App/Context/AppContext.h"
#include "App/Indexing/LocalIndex.h"
#include "App/Search/SearchSession.h"
#include "Core/Config/SettingsStore.h"

namespace pallix::bench {

class NoWatcher final : public RootWatcher {
public:
    void start(const std::vector<std::string>&) override {}
};

inline AppModelEnvironment corpusEnvironment(const std::vector<IndexedItem>& corpus,
                                             const std::filesystem::path& work, int limit)
{
    std::set<std::string> roots;
    std::set<std::string> present;  // folders seen on this machine
    for (const IndexedItem& item : corpus) {
        const std::string_view path = item.path();
        std::size_t slash = 0;
        while (slash != std::string::npos) {
            slash = path.find('/', slash + 1);
            const std::string folder(path.substr(0, slash));
            if (roots.contains(folder))
                break;
            if (present.contains(folder))
                continue;
            std::error_code ec;
            if (!std::filesystem::exists(folder, ec)) {
                roots.insert(folder);
                break;
            }
            present.insert(folder);
        }
    }
    AppModelEnvironment env;
    // On disk as in the application, where writing the defaults is part of a keystroke's cost.
    std::filesystem::remove(work / "defaults.json");
    env.defaults = Defaults::atFile(work / "defaults.json");
    env.supportDirectory = work;
    std::vector<MountedVolume> volumes;
    for (const std::string& root : roots) {
        MountedVolume v;
        v.mountPoint = root;
        v.fileSystemType = "ext4";
        v.kind = VolumeKind::Local;
        volumes.push_back(v);
    }
    env.volumes = std::make_shared<FixedVolumeProvider>(volumes);
    env.defaults->setStringList(LocalIndex::lastIndexedRootsKey(),
                                std::vector<std::string>(roots.begin(), roots.end()));
    SettingsStore settings(env.defaults);
    AppSettings record = settings.settings();
    record.searchLimit = limit;
    record.includeServerInSearch = false;
    settings.setSettings(record);
    settings.persist();
    env.services.makeWatcher = [](FSEventWatcher::Callback, FSEventWatcher::ShortfallCallback) {
        return std::make_unique<NoWatcher>();
    };
    return env;
}

} // namespace pallix::bench
