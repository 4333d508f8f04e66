#pragma once
// Helpers of the shared-drive tests: a model harness whose shared-drive hooks
// are the model's own, share folders made in the test's folder and mounted as
// network volumes of a fixed volume list, and file times set against the fake
// clock's wall time.

#include <chrono>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <utime.h>

#include "App/SharedDrives/ServerIndexRuns.h"
#include "App/SharedDrives/ServerRoots.h"
#include "App/SharedDrives/SharedDrives.h"
#include "App/ModelTestSupport.h"

namespace pallix::testing_support {

inline MountedVolume networkVolume(std::string mountPoint, std::optional<std::string> url)
{
    MountedVolume v;
    v.mountPoint = std::move(mountPoint);
    v.fileSystemType = "cifs";
    v.kind = VolumeKind::Network;
    v.remountURL = std::move(url);
    return v;
}

// A harness whose shared-drive start-up hooks are the real ones.
inline void useRealServerServices(ModelHarness& h)
{
    auto& s = h.env.services;
    s.autoConfigureServerRootsIfNeeded = nullptr;
    s.startServerFullScanIfNeeded = nullptr;
    s.maybeRunServerIncrementalScanOnLaunch = nullptr;
    s.maybeResumeServerIndexIfInterrupted = nullptr;
}

// Sets the modification time of `path` to `secondsSince1970`.
inline void setModified(const fs::path& path, double secondsSince1970)
{
    struct utimbuf times {};
    times.actime = static_cast<time_t>(secondsSince1970);
    times.modtime = static_cast<time_t>(secondsSince1970);
    ::utime(path.c_str(), &times);
}

// The paths the shared-drive store holds of `paths` (its cache must be loaded).
inline std::vector<std::string> heldOf(IndexStore& store, const std::vector<std::string>& paths)
{
    std::vector<std::string> held;
    for (const IndexedItem& item : store.items(paths, static_cast<int>(paths.size())))
        held.emplace_back(item.path());
    return held;
}

inline std::vector<std::string> pathsOf(const ItemList& items)
{
    std::vector<std::string> out;
    for (const IndexedItem& item : items)
        out.emplace_back(item.path());
    return out;
}

} // namespace pallix::testing_support
