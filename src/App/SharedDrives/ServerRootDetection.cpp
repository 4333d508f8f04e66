#include "App/SharedDrives/ServerRootDetection.h"

#include <algorithm>
#include <filesystem>

#include "Core/Models/IndexedItem.h"

namespace pallix::ServerRootDetection {

namespace {

struct Entry {
    const VolumeCandidate* candidate = nullptr;
    std::vector<std::string> roots;
};

std::vector<std::string> rootsOf(const VolumeCandidate& candidate)
{
    const std::string_view name = paths::lastComponent(candidate.volumePath);
    if (std::find(kDefaultFolderNames.begin(), kDefaultFolderNames.end(), name) != kDefaultFolderNames.end())
        return {candidate.volumePath};
    std::vector<std::string> roots;
    for (std::string_view folder : kDefaultFolderNames) {
        // A plain existence test: a file of that name counts too.
        const std::string path = paths::standardize(candidate.volumePath + "/" + std::string(folder));
        std::error_code ec;
        if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec)
            roots.push_back(path);
    }
    return roots;
}

} // namespace

std::vector<VolumeCandidate> volumeCandidates(const VolumeProvider& volumes)
{
    std::vector<VolumeCandidate> candidates;
    for (const MountedVolume& volume : volumes.mountedVolumes().value_or(std::vector<MountedVolume>{}))
        candidates.push_back({paths::standardize(volume.mountPoint), volume.remountURL});
    return candidates;
}

std::vector<std::string> defaultRoots(const std::vector<VolumeCandidate>& candidates, std::string_view serverAddress)
{
    std::vector<Entry> entries;
    for (const VolumeCandidate& candidate : candidates) {
        if (auto roots = rootsOf(candidate); !roots.empty())
            entries.push_back({&candidate, std::move(roots)});
    }
    if (entries.empty())
        return {};
    if (!serverAddress.empty()) {
        const auto byURL = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
            return e.candidate->remountURL && e.candidate->remountURL->find(serverAddress) != std::string::npos;
        });
        if (byURL != entries.end())
            return byURL->roots;
        const auto byName = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
            return paths::lastComponent(e.candidate->volumePath).find(serverAddress) != std::string_view::npos;
        });
        if (byName != entries.end())
            return byName->roots;
    }
    return entries.front().roots;
}

} // namespace pallix::ServerRootDetection
