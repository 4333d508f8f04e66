#pragma once
// The application model's environment over a corpus written by CorpusIndex.h:
// its index file in `work`, the corpus's top folders as local volumes and as
// the indexed roots, the search limit, no shared drives and a watcher that
// does nothing (the corpus is not on disk).

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
    for (const IndexedItem& item : corpus) {
        const std::size_t slash = item.path().find('/', 1);
        roots.insert(item.path().substr(0, slash));
    }
    AppModelEnvironment env;
    env.defaults = Defaults::inMemory();
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
