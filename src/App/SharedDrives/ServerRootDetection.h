#pragma once
// Finding the shared-drive folders on the mounted volumes: every volume is a
// candidate; a volume named like one of the default folders is a root itself,
// otherwise the default folders directly inside it are. Of several volumes
// with default folders, the one whose share URL names the configured file
// server wins, then one whose name does, then the first. Pure apart from the
// existence checks at the volumes; any thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/MountedVolumes.h"

namespace pallix::ServerRootDetection {

// In this order.
inline constexpr std::array<std::string_view, 2> kDefaultFolderNames{"青岚共享盘", "白桦素材区"};

struct VolumeCandidate {
    std::string volumePath;                 // standardized mount point
    std::optional<std::string> remountURL;  // a network volume's share URL
};

// Every listed volume, local ones too, in the provider's order; none when the
// list cannot be had.
std::vector<VolumeCandidate> volumeCandidates(const VolumeProvider& volumes);

// The winning volume's roots (its own path, or one or two default folders in
// name order); empty when no volume has any. An empty `serverAddress`
// configures nothing: the first volume with roots wins.
std::vector<std::string> defaultRoots(const std::vector<VolumeCandidate>& candidates, std::string_view serverAddress);

} // namespace pallix::ServerRootDetection
