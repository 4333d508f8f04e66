#include "Platform/MountedVolumes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include <cstdlib>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace pallix {

namespace {

// Kernel and desktop plumbing: nothing a user keeps files in. squashfs is
// listed because every installed snap package is one, read-only, mount.
constexpr std::array<std::string_view, 27> kSystemTypes = {
    "proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "debugfs", "tracefs", "securityfs",
    "pstore", "bpf", "configfs", "fusectl", "mqueue", "hugetlbfs", "autofs", "binfmt_misc", "efivarfs",
    "rpc_pipefs", "nsfs", "selinuxfs", "nfsd", "squashfs", "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs",
    "fuse.snapfuse",
};

constexpr std::array<std::string_view, 18> kNetworkTypes = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs", "9p", "davfs", "lustre",
    "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs", "fuse.curlftpfs", "fuse.smbnetfs",
};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& set, std::string_view value)
{
    return std::find(set.begin(), set.end(), value) != set.end();
}

bool hasHiddenComponent(std::string_view path)
{
    return path.find("/.") != std::string_view::npos;
}

bool isUnder(std::string_view path, std::string_view folder)
{
    return path == folder || (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const auto end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool parseDevice(std::string_view field, MountInfoEntry& entry)
{
    const auto colon = field.find(':');
    if (colon == std::string_view::npos)
        return false;
    const auto* majorEnd = field.data() + colon;
    const auto* end = field.data() + field.size();
    const auto major = std::from_chars(field.data(), majorEnd, entry.major);
    const auto minor = std::from_chars(majorEnd + 1, end, entry.minor);
    return major.ec == std::errc{} && major.ptr == majorEnd && minor.ec == std::errc{} && minor.ptr == end;
}

std::optional<MountInfoEntry> parseLine(std::string_view line)
{
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    const auto fields = splitFields(line);
    const auto separator = std::find(fields.begin() + std::min<std::size_t>(6, fields.size()), fields.end(), "-");
    if (fields.size() < 6 || separator == fields.end() || fields.end() - separator < 3)
        return std::nullopt;
    MountInfoEntry entry;
    if (!parseDevice(fields[2], entry))
        return std::nullopt;
    entry.root = MountInfo::decodeField(fields[3]);
    entry.mountPoint = MountInfo::decodeField(fields[4]);
    entry.fileSystemType = MountInfo::decodeField(*(separator + 1));
    entry.source = MountInfo::decodeField(*(separator + 2));
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/' || entry.fileSystemType.empty())
        return std::nullopt;
    return entry;
}

bool isReachableDirectory(const std::string& path)
{
    struct stat st {};
    struct statfs fs {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::statfs(path.c_str(), &fs) == 0;
}

std::string readFirstLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool isRemovableDeviceFolder(std::filesystem::path device, int depth)
{
    std::error_code ec;
    // A partition's whole disk is its parent folder; the flag sits on the disk.
    if (std::filesystem::exists(device / "partition", ec))
        device = device.parent_path();
    if (readFirstLine(device / "removable") == "1")
        return true;
    // Device-mapper and RAID devices (an encrypted USB stick) name the disks they sit on.
    if (depth >= 4)
        return false;
    for (std::filesystem::directory_iterator it(device / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
        const auto lower = std::filesystem::canonical(it->path(), ec);
        if (!ec && isRemovableDeviceFolder(lower, depth + 1))
            return true;
        ec.clear();
    }
    return false;
}

// "a:/b" split at the colon that ends the host part; an IPv6 host is bracketed.
std::optional<std::pair<std::string_view, std::string_view>> splitHostPath(std::string_view source)
{
    const auto searchFrom = source.starts_with('[') ? source.find(']') : 0;
    const auto colon = searchFrom == std::string_view::npos ? searchFrom : source.find(':', searchFrom);
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    return std::pair{source.substr(0, colon), source.substr(colon + 1)};
}

std::string withLeadingSlash(std::string_view path)
{
    return path.starts_with('/') ? std::string(path) : "/" + std::string(path);
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size()
            && std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "key=value,key=value" of a gvfs folder name, values percent-decoded.
std::unordered_map<std::string, std::string> gvfsFields(std::string_view list)
{
    std::unordered_map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(',', start), list.size());
        const auto pair = list.substr(start, end - start);
        if (const auto equals = pair.find('='); equals != std::string_view::npos)
            fields[std::string(pair.substr(0, equals))] = percentDecoded(pair.substr(equals + 1));
        start = end + 1;
    }
    return fields;
}

} // namespace

namespace MountInfo {

std::string decodeField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](std::size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(static_cast<unsigned char>(value & 0xff));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<MountInfoEntry> parse(std::string_view text)
{
    std::vector<MountInfoEntry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        if (auto entry = parseLine(text.substr(start, end - start)))
            entries.push_back(std::move(*entry));
        start = end + 1;
    }
    return entries;
}

VolumeKind kindOf(std::string_view fileSystemType, std::string_view mountPoint)
{
    if (contains(kSystemTypes, fileSystemType) || isUnder(mountPoint, "/proc") || isUnder(mountPoint, "/sys")
        || isUnder(mountPoint, "/dev"))
        return VolumeKind::System;
    // /run holds the session's runtime folders, but also /run/media/<user>,
    // where some desktops mount USB disks; only its memory file systems are plumbing.
    if ((fileSystemType == "tmpfs" || fileSystemType == "ramfs") && isUnder(mountPoint, "/run"))
        return VolumeKind::System;
    // The root of a container or a live system is an overlay; anywhere else an
    // overlay is a container engine's private layer.
    if (fileSystemType == "overlay" && mountPoint != "/")
        return VolumeKind::System;
    // Hidden folders hold mounts a program made for itself (an AppImage's
    // payload under /tmp/.mount_*, the document portal under ~/.cache).
    if (hasHiddenComponent(mountPoint))
        return VolumeKind::System;
    if (contains(kNetworkTypes, fileSystemType))
        return VolumeKind::Network;
    return VolumeKind::Local;
}

std::optional<std::string> remountURL(std::string_view fileSystemType, std::string_view source)
{
    if (source.find("://") != std::string_view::npos)
        return std::string(source);
    if (fileSystemType == "cifs" || fileSystemType == "smb3" || fileSystemType == "smbfs") {
        std::string unc(source);
        std::replace(unc.begin(), unc.end(), '\\', '/');
        if (!unc.starts_with("//") || unc.size() == 2)
            return std::nullopt;
        return "smb:" + unc;
    }
    const bool nfs = fileSystemType == "nfs" || fileSystemType == "nfs4";
    if (!nfs && fileSystemType != "fuse.sshfs")
        return std::nullopt;
    const auto parts = splitHostPath(source);
    if (!parts)
        return std::nullopt;
    return (nfs ? "nfs://" : "sftp://") + std::string(parts->first) + withLeadingSlash(parts->second);
}

} // namespace MountInfo

namespace GvfsMounts {

std::optional<std::string> remountURL(std::string_view folderName)
{
    const auto colon = folderName.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view type = folderName.substr(0, colon);
    auto fields = gvfsFields(folderName.substr(colon + 1));
    const std::string host = fields.count("server") ? fields["server"] : fields["host"];
    if (host.empty())
        return std::nullopt;
    std::string scheme(type);
    if (type == "smb-share")
        scheme = "smb";
    else if (type == "afp-volume")
        scheme = "afp";
    else if (type == "dav" && fields["ssl"] == "true")
        scheme = "davs";
    std::string url = scheme + "://";
    if (!fields["user"].empty())
        url += fields["user"] + "@";
    url += host;
    if (!fields["port"].empty())
        url += ":" + fields["port"];
    const std::string& path = !fields["share"].empty() ? fields["share"] : !fields["volume"].empty() ? fields["volume"] : fields["prefix"];
    return url + withLeadingSlash(path);
}

std::filesystem::path defaultDirectory()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return std::filesystem::path(runtime) / "gvfs";
    return std::filesystem::path("/run/user") / std::to_string(::getuid()) / "gvfs";
}

} // namespace GvfsMounts

SystemVolumeProvider::SystemVolumeProvider(std::filesystem::path mountInfoFile, std::filesystem::path sysfsRoot,
                                           std::filesystem::path gvfsDirectory)
    : m_mountInfoFile(std::move(mountInfoFile))
    , m_sysfsRoot(std::move(sysfsRoot))
    , m_gvfsDirectory(std::move(gvfsDirectory))
{
}

std::optional<std::vector<MountedVolume>> SystemVolumeProvider::mountedVolumes() const
{
    std::ifstream in(m_mountInfoFile);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    auto volumes = volumesFrom(text.str());
    auto shares = gvfsVolumes();
    volumes.insert(volumes.end(), std::make_move_iterator(shares.begin()), std::make_move_iterator(shares.end()));
    return volumes;
}

std::vector<MountedVolume> SystemVolumeProvider::gvfsVolumes() const
{
    // Only the folder is listed: a stat inside a share would go to its server.
    std::vector<MountedVolume> volumes;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(m_gvfsDirectory, ec), end; !ec && it != end; it.increment(ec)) {
        MountedVolume volume;
        volume.mountPoint = it->path().string();
        volume.fileSystemType = "fuse.gvfsd-fuse";
        volume.source = it->path().filename().string();
        volume.kind = VolumeKind::Network;
        volume.remountURL = GvfsMounts::remountURL(volume.source);
        volumes.push_back(std::move(volume));
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const MountedVolume& a, const MountedVolume& b) { return a.mountPoint < b.mountPoint; });
    return volumes;
}

std::vector<MountedVolume> SystemVolumeProvider::volumesFrom(std::string_view mountInfoText) const
{
    // Later lines are mounted later: a mount over an earlier one at the same
    // point hides it, whatever kind either of them is.
    auto entries = MountInfo::parse(mountInfoText);
    std::unordered_map<std::string, std::size_t> lastAt;
    for (std::size_t i = 0; i < entries.size(); ++i)
        lastAt[entries[i].mountPoint] = i;

    std::vector<MountedVolume> volumes;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto& entry = entries[i];
        if (lastAt[entry.mountPoint] != i)
            continue;
        const auto kind = MountInfo::kindOf(entry.fileSystemType, entry.mountPoint);
        if (kind == VolumeKind::System)
            continue;
        if (kind == VolumeKind::Local && !isReachableDirectory(entry.mountPoint))
            continue;
        MountedVolume volume;
        volume.kind = kind;
        volume.isRemovable = kind == VolumeKind::Local && isRemovableDevice(entry.major, entry.minor);
        volume.mountPoint = std::move(entry.mountPoint);
        volume.fileSystemType = std::move(entry.fileSystemType);
        volume.source = std::move(entry.source);
        if (kind == VolumeKind::Network)
            volume.remountURL = MountInfo::remountURL(volume.fileSystemType, volume.source);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

bool SystemVolumeProvider::isRemovableDevice(std::uint32_t major, std::uint32_t minor) const
{
    // Major 0 is an anonymous device (overlay, tmpfs, btrfs subvolumes): no disk to ask.
    if (major == 0)
        return false;
    std::error_code ec;
    const auto link = m_sysfsRoot / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    const auto device = std::filesystem::canonical(link, ec);
    return !ec && isRemovableDeviceFolder(device, 0);
}

} // namespace pallix
