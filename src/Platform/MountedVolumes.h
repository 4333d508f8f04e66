#pragma once
// The mounted volumes, read from /proc/self/mountinfo, with statfs to skip
// local mounts that cannot be reached and sysfs to tell removable disks.
// Pseudo file systems, system mounts (under /proc, /sys and /dev, tmpfs under
// /run, an overlay anywhere but at "/"), mounts inside hidden folders and
// read-only package images are no volumes at all; network file systems are
// volumes but not local ones, and so is each share the desktop mounted under
// $XDG_RUNTIME_DIR/gvfs. Stateless; callable from any thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pallix {

enum class VolumeKind {
    Local,    // a file system on this machine's disks (also an overlay at "/", fuseblk, tmpfs outside /run)
    Network,  // nfs, cifs, sshfs and the like
    System,   // pseudo and system mounts: never listed
    Count
};

// One line of /proc/<pid>/mountinfo, octal escapes decoded.
struct MountInfoEntry {
    std::uint32_t major = 0;  // device numbers; major 0 for devices without a block device
    std::uint32_t minor = 0;
    std::string root;            // the directory of the file system that is mounted ("/" unless a bind mount)
    std::string mountPoint;      // absolute path
    std::string fileSystemType;  // "ext4", "fuse.sshfs"
    std::string source;          // "/dev/sda1", "server:/export", "//host/share", "none"
};

struct MountedVolume {
    std::string mountPoint;
    std::string fileSystemType;
    // The mount source; for a network volume the address it was mounted from.
    std::string source;
    VolumeKind kind = VolumeKind::Local;
    // The disk under it reports removable media (USB sticks, card readers);
    // always false for network volumes and devices without a disk.
    bool isRemovable = false;
    // For a network volume, the URL it would be mounted again from
    // ("smb://server/share", "nfs://server/export"); none when the source does
    // not name one, and for local volumes.
    std::optional<std::string> remountURL;

    bool isLocal() const { return kind == VolumeKind::Local; }
};

namespace MountInfo {
// Malformed lines are skipped.
std::vector<MountInfoEntry> parse(std::string_view text);
// Undoes the kernel's "\ooo" escapes (space, tab, newline, backslash).
std::string decodeField(std::string_view field);
VolumeKind kindOf(std::string_view fileSystemType, std::string_view mountPoint);
// The share URL of a network mount's source: "//srv/share" of cifs becomes
// "smb://srv/share", "srv:/export" of nfs "nfs://srv/export", "user@host:/dir"
// of sshfs "sftp://user@host/dir"; a source that is a URL already stays as it is.
std::optional<std::string> remountURL(std::string_view fileSystemType, std::string_view source);
} // namespace MountInfo

namespace GvfsMounts {
// The share URL of a desktop mount's folder name under the gvfs folder:
// "smb-share:server=srv,share=team" becomes "smb://srv/team",
// "sftp:host=h,user=u" "sftp://u@h/". None when the name names no server.
std::optional<std::string> remountURL(std::string_view folderName);
// $XDG_RUNTIME_DIR/gvfs, or /run/user/<uid>/gvfs without that variable.
std::filesystem::path defaultDirectory();
} // namespace GvfsMounts

class VolumeProvider {
public:
    virtual ~VolumeProvider() = default;
    // Local and network volumes in mount order, each mount point once (the mount
    // on top wins); nullopt when the list cannot be obtained.
    virtual std::optional<std::vector<MountedVolume>> mountedVolumes() const = 0;
};

// The running system's volumes: those of mountinfo, then one network volume
// per share folder in the gvfs folder, in name order. The file locations are
// parameters so that tests feed their own mountinfo text, sysfs tree and gvfs folder.
class SystemVolumeProvider final : public VolumeProvider {
public:
    explicit SystemVolumeProvider(std::filesystem::path mountInfoFile = "/proc/self/mountinfo",
                                  std::filesystem::path sysfsRoot = "/sys",
                                  std::filesystem::path gvfsDirectory = GvfsMounts::defaultDirectory());

    std::optional<std::vector<MountedVolume>> mountedVolumes() const override;

    // The volumes of a mountinfo text. Local mount points must be reachable
    // directories (a bind-mounted file is no volume); network ones are not
    // probed, since statfs on a dead server can block for minutes.
    std::vector<MountedVolume> volumesFrom(std::string_view mountInfoText) const;
    // Whether the block device major:minor, or the whole disk it is a partition
    // of, or a disk under it (device mapper, RAID), has removable media.
    bool isRemovableDevice(std::uint32_t major, std::uint32_t minor) const;
    // The shares in the gvfs folder; none when it cannot be listed.
    std::vector<MountedVolume> gvfsVolumes() const;

private:
    std::filesystem::path m_mountInfoFile;
    std::filesystem::path m_sysfsRoot;
    std::filesystem::path m_gvfsDirectory;
};

// A fixed answer, for tests of the code that asks for volumes.
class FixedVolumeProvider final : public VolumeProvider {
public:
    explicit FixedVolumeProvider(std::optional<std::vector<MountedVolume>> volumes)
        : m_volumes(std::move(volumes)) {}
    std::optional<std::vector<MountedVolume>> mountedVolumes() const override { return m_volumes; }

private:
    std::optional<std::vector<MountedVolume>> m_volumes;
};

} // namespace pallix
