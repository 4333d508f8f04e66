#include <gtest/gtest.h>

#include <fstream>

#include "Platform/MountedVolumes.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;

TEST(MountInfo, DecodesOctalEscapes)
{
    const std::pair<const char*, std::string> cases[] = {
        {R"(/media/u/USB\040Stick)", "/media/u/USB Stick"},
        {R"(/a\011b\012c)", "/a\tb\nc"},
        {R"(/back\134slash)", "/back\\slash"},
        {R"(/\350\265\204\346\226\231)", "/资料"},
        // Not three octal digits: left as written.
        {R"(/a\04)", "/a\\04"},
        {R"(/a\08x)", "/a\\08x"},
        {R"(/a\)", "/a\\"},
    };
    for (const auto& [field, decoded] : cases) {
        SCOPED_TRACE(field);
        EXPECT_EQ(MountInfo::decodeField(field), decoded);
    }
}

TEST(MountInfo, ParsesLinesWithAnyNumberOfOptionalFields)
{
    const auto entries = MountInfo::parse(
        "29 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
        "88 29 8:17 /sub /media/u/My\\040Disk rw,nosuid shared:7 master:2 propagate_from:3 - vfat /dev/sdb1 rw\n"
        "90 29 0:55 / /mnt/nas rw - nfs4 server:/export\\040one rw\n"
        "garbage\n"
        "91 29 x:1 / /mnt/bad rw - ext4 /dev/sdz rw\n"
        "92 29 8:1 / /mnt/nosep rw ext4 /dev/sdz rw\n"
        "93 29 8:1 / /mnt/short rw - ext4\n"
        "\n"
        "94 29 8:1 / relative rw - ext4 /dev/sdz rw");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].mountPoint, "/");
    EXPECT_EQ(entries[0].major, 259u);
    EXPECT_EQ(entries[0].minor, 2u);
    EXPECT_EQ(entries[0].fileSystemType, "ext4");
    EXPECT_EQ(entries[0].source, "/dev/nvme0n1p2");
    EXPECT_EQ(entries[1].root, "/sub");
    EXPECT_EQ(entries[1].mountPoint, "/media/u/My Disk");
    EXPECT_EQ(entries[1].fileSystemType, "vfat");
    EXPECT_EQ(entries[2].source, "server:/export one");
}

TEST(MountInfo, KindOfFileSystem)
{
    struct Case {
        const char* type;
        const char* mountPoint;
        VolumeKind kind;
    };
    const Case cases[] = {
        {"ext4", "/", VolumeKind::Local},
        {"btrfs", "/home", VolumeKind::Local},
        {"vfat", "/run/media/u/USB", VolumeKind::Local},  // where some desktops mount disks
        {"fuseblk", "/media/u/Windows", VolumeKind::Local},
        {"overlay", "/", VolumeKind::Local},
        {"tmpfs", "/tmp", VolumeKind::Local},
        {"nfs", "/mnt/nas", VolumeKind::Network},
        {"cifs", "/mnt/share", VolumeKind::Network},
        {"fuse.sshfs", "/home/u/remote", VolumeKind::Network},
        {"proc", "/proc", VolumeKind::System},
        {"devtmpfs", "/dev", VolumeKind::System},
        {"cgroup2", "/sys/fs/cgroup", VolumeKind::System},
        {"binfmt_misc", "/proc/sys/fs/binfmt_misc", VolumeKind::System},
        {"autofs", "/mnt/auto", VolumeKind::System},
        {"tmpfs", "/run", VolumeKind::System},
        {"tmpfs", "/run/user/1000", VolumeKind::System},
        {"tmpfs", "/dev/shm", VolumeKind::System},
        {"ext4", "/dev/termination-log", VolumeKind::System},
        {"fuse.lxcfs", "/proc/cpuinfo", VolumeKind::System},
        {"fuse.gvfsd-fuse", "/run/user/1000/gvfs", VolumeKind::System},
        {"squashfs", "/snap/core22/1033", VolumeKind::System},
        {"overlay", "/var/lib/docker/overlay2/abc/merged", VolumeKind::System},
        {"fuse.pallix", "/tmp/.mount_pallix", VolumeKind::System},
        // Prefixes are whole components.
        {"ext4", "/devices", VolumeKind::Local},
        {"tmpfs", "/running", VolumeKind::Local},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " at " << c.mountPoint);
        EXPECT_EQ(MountInfo::kindOf(c.type, c.mountPoint), c.kind);
    }
}

// A sysfs tree and mount points in a temporary folder.
class SystemVolumeProviderTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pallix-volumes-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_sys = m_dir / "sys";
        disk("devices/pci0/nvme/block/nvme0n1", "0", {"nvme0n1p2"});
        disk("devices/pci0/usb1/block/sdb", "1", {"sdb1", "sdb2"});
        disk("devices/pci0/ata1/block/sdc", "0", {"sdc1"});
        disk("devices/virtual/block/dm-0", "0", {});
        fs::create_directories(m_sys / "devices/virtual/block/dm-0/slaves");
        fs::create_directory_symlink(m_sys / "devices/pci0/usb1/block/sdb/sdb2",
                                     m_sys / "devices/virtual/block/dm-0/slaves/sdb2");
        disk("devices/virtual/block/dm-1", "0", {});
        fs::create_directories(m_sys / "devices/virtual/block/dm-1/slaves");
        fs::create_directory_symlink(m_sys / "devices/pci0/ata1/block/sdc/sdc1",
                                     m_sys / "devices/virtual/block/dm-1/slaves/sdc1");
        fs::create_directories(m_sys / "dev/block");
        link("259:2", "devices/pci0/nvme/block/nvme0n1/nvme0n1p2");
        link("8:16", "devices/pci0/usb1/block/sdb");
        link("8:17", "devices/pci0/usb1/block/sdb/sdb1");
        link("8:33", "devices/pci0/ata1/block/sdc/sdc1");
        link("254:0", "devices/virtual/block/dm-0");
        link("254:1", "devices/virtual/block/dm-1");
        for (const char* folder : {"mnt/usb stick", "mnt/disk", "mnt/crypt", "mnt/data"})
            fs::create_directories(m_dir / folder);
        std::ofstream(m_dir / "hosts") << "127.0.0.1 localhost\n";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void disk(const std::string& path, const char* removable, std::initializer_list<const char*> partitions)
    {
        fs::create_directories(m_sys / path);
        std::ofstream(m_sys / path / "removable") << removable << "\n";
        for (const char* p : partitions) {
            fs::create_directories(m_sys / path / p);
            std::ofstream(m_sys / path / p / "partition") << "1\n";
            // A partition's own flag is always 0; only the disk's counts.
            std::ofstream(m_sys / path / p / "removable") << "0\n";
        }
    }
    void link(const std::string& device, const std::string& target)
    {
        fs::create_directory_symlink(m_sys / target, m_sys / "dev/block" / device);
    }
    // A mountinfo line; spaces in the mount point are escaped like the kernel does.
    std::string line(const char* device, const std::string& mountPoint, const char* type,
                     const char* source = "/dev/x", const char* root = "/") const
    {
        std::string escaped;
        for (char c : mountPoint)
            escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
        return std::string("40 1 ") + device + " " + root + " " + escaped + " rw,relatime shared:1 - " + type
               + " " + source + " rw\n";
    }
    std::string at(const char* relative) const { return (m_dir / relative).string(); }

    fs::path m_dir;
    fs::path m_sys;
};

TEST_F(SystemVolumeProviderTest, ListsLocalAndNetworkVolumesWithRemovableFlag)
{
    const std::string text = line("0:21", "/proc", "proc", "proc")
                             + line("259:2", "/", "ext4", "/dev/nvme0n1p2")
                             + line("0:25", "/run", "tmpfs", "tmpfs")
                             + line("8:17", at("mnt/usb stick"), "vfat", "/dev/sdb1")
                             + line("8:33", at("mnt/disk"), "ext4", "/dev/sdc1")
                             + line("254:0", at("mnt/crypt"), "ext4", "/dev/mapper/usbcrypt")
                             + line("254:1", at("mnt/data"), "xfs", "/dev/mapper/data")
                             + line("0:50", at("mnt/nas"), "nfs4", "nas.local:/export")
                             + line("0:51", at("mnt/share"), "cifs", "//filer/青岚共享盘")
                             // A bind-mounted file, a vanished mount point, a snap image.
                             + line("8:33", at("hosts"), "ext4", "/dev/sdc1", "/etc/hosts")
                             + line("8:33", at("mnt/gone"), "ext4", "/dev/sdc1")
                             + line("7:1", at("snap/core/1"), "squashfs", "/dev/loop1");
    const SystemVolumeProvider provider(m_dir / "none", m_sys);
    const auto volumes = provider.volumesFrom(text);

    struct Expected {
        std::string mountPoint;
        VolumeKind kind;
        bool removable;
        std::string source;
    };
    const std::vector<Expected> expected = {
        {"/", VolumeKind::Local, false, "/dev/nvme0n1p2"},
        {at("mnt/usb stick"), VolumeKind::Local, true, "/dev/sdb1"},
        {at("mnt/disk"), VolumeKind::Local, false, "/dev/sdc1"},
        {at("mnt/crypt"), VolumeKind::Local, true, "/dev/mapper/usbcrypt"},  // on a removable disk
        {at("mnt/data"), VolumeKind::Local, false, "/dev/mapper/data"},
        {at("mnt/nas"), VolumeKind::Network, false, "nas.local:/export"},    // not probed
        {at("mnt/share"), VolumeKind::Network, false, "//filer/青岚共享盘"},
    };
    ASSERT_EQ(volumes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].mountPoint);
        EXPECT_EQ(volumes[i].mountPoint, expected[i].mountPoint);
        EXPECT_EQ(volumes[i].kind, expected[i].kind);
        EXPECT_EQ(volumes[i].isLocal(), expected[i].kind == VolumeKind::Local);
        EXPECT_EQ(volumes[i].isRemovable, expected[i].removable);
        EXPECT_EQ(volumes[i].source, expected[i].source);
    }
}

TEST_F(SystemVolumeProviderTest, MountOnTopHidesTheOneBelow)
{
    const std::string text = line("259:2", "/", "ext4") + line("8:33", at("mnt/disk"), "ext4")
                             + line("8:17", at("mnt/usb stick"), "vfat")
                             + line("0:30", at("mnt/disk"), "proc", "proc")  // system mount over a disk
                             + line("8:33", at("mnt/usb stick"), "ext4");  // a fixed disk over the stick
    const auto volumes = SystemVolumeProvider(m_dir / "none", m_sys).volumesFrom(text);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].mountPoint, "/");
    EXPECT_EQ(volumes[1].mountPoint, at("mnt/usb stick"));
    EXPECT_FALSE(volumes[1].isRemovable);
    EXPECT_EQ(volumes[1].fileSystemType, "ext4");
}

TEST_F(SystemVolumeProviderTest, RemovableFlagComesFromTheWholeDisk)
{
    const SystemVolumeProvider provider(m_dir / "none", m_sys);
    EXPECT_TRUE(provider.isRemovableDevice(8, 16));   // the whole disk
    EXPECT_TRUE(provider.isRemovableDevice(8, 17));   // its partition
    EXPECT_FALSE(provider.isRemovableDevice(8, 33));
    EXPECT_FALSE(provider.isRemovableDevice(0, 42));  // anonymous device
    EXPECT_FALSE(provider.isRemovableDevice(9, 9));   // unknown to sysfs
}

TEST_F(SystemVolumeProviderTest, ReadsTheMountInfoFile)
{
    std::ofstream(m_dir / "mountinfo") << line("259:2", "/", "ext4") << line("8:17", at("mnt/usb stick"), "vfat");
    const auto volumes = SystemVolumeProvider(m_dir / "mountinfo", m_sys, m_dir / "no-gvfs").mountedVolumes();
    ASSERT_TRUE(volumes.has_value());
    ASSERT_EQ(volumes->size(), 2u);
    EXPECT_TRUE((*volumes)[1].isRemovable);

    EXPECT_FALSE(SystemVolumeProvider(m_dir / "missing", m_sys).mountedVolumes().has_value());
}

TEST(SystemVolumeProvider, RunningSystemHasALocalVolume)
{
    const auto volumes = SystemVolumeProvider().mountedVolumes();
    ASSERT_TRUE(volumes.has_value());
    EXPECT_TRUE(std::any_of(volumes->begin(), volumes->end(), [](const MountedVolume& v) { return v.isLocal(); }));
    for (const auto& v : *volumes) {
        if (v.fileSystemType != "fuse.gvfsd-fuse") {  // a desktop share, listed from the gvfs folder
            EXPECT_NE(MountInfo::kindOf(v.fileSystemType, v.mountPoint), VolumeKind::System) << v.mountPoint;
        }
    }
}

TEST_F(SystemVolumeProviderTest, NetworkVolumesOfMountInfoAndTheGvfsFolderCarryTheirShareURLs)
{
    std::ofstream(m_dir / "mountinfo") << line("259:2", "/", "ext4", "/dev/nvme0n1p2")
                                       << line("0:50", at("mnt/nas"), "nfs4", "nas.local:/export/team")
                                       << line("0:51", at("mnt/share"), "cifs", "//filer/青岚共享盘")
                                       << line("0:52", at("mnt/ssh"), "fuse.sshfs", "me@box:/srv/files")
                                       << line("0:53", "/run/user/1000/gvfs", "fuse.gvfsd-fuse", "gvfsd-fuse");
    const fs::path gvfs = m_dir / "gvfs";
    fs::create_directories(gvfs / "smb-share:server=srv,share=team");
    fs::create_directories(gvfs / "nfs:host=nas2,prefix=%2Fexport%2Fart");
    const auto volumes = SystemVolumeProvider(m_dir / "mountinfo", m_sys, gvfs).mountedVolumes();
    ASSERT_TRUE(volumes.has_value());

    const std::vector<std::pair<std::string, std::optional<std::string>>> expected = {
        {"/", std::nullopt},
        {at("mnt/nas"), "nfs://nas.local/export/team"},
        {at("mnt/share"), "smb://filer/青岚共享盘"},
        {at("mnt/ssh"), "sftp://me@box/srv/files"},
        // The gvfs mount itself is plumbing; each share in it is a volume, in name order.
        {(gvfs / "nfs:host=nas2,prefix=%2Fexport%2Fart").string(), "nfs://nas2/export/art"},
        {(gvfs / "smb-share:server=srv,share=team").string(), "smb://srv/team"},
    };
    ASSERT_EQ(volumes->size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ((*volumes)[i].mountPoint, expected[i].first);
        EXPECT_EQ((*volumes)[i].remountURL, expected[i].second);
        EXPECT_EQ((*volumes)[i].isLocal(), i == 0);
    }
}

TEST(MountInfo, ShareURLOfAMountSource)
{
    struct Case {
        const char* type;
        const char* source;
        std::optional<std::string> url;
    };
    const Case cases[] = {
        {"cifs", "//filer/share", "smb://filer/share"},
        {"smb3", "//10.0.0.5/素材/2024", "smb://10.0.0.5/素材/2024"},
        {"cifs", R"(\\filer\share)", "smb://filer/share"},
        {"cifs", "filer/share", std::nullopt},
        {"cifs", "//", std::nullopt},
        {"nfs", "nas:/export", "nfs://nas/export"},
        {"nfs4", "nas:export", "nfs://nas/export"},
        {"nfs4", "[fd00::1]:/export", "nfs://[fd00::1]/export"},
        {"nfs", "no-colon", std::nullopt},
        {"fuse.sshfs", "me@box:", "sftp://me@box/"},
        {"davfs", "https://dav.example/remote.php", "https://dav.example/remote.php"},
        {"fuse.rclone", "gdrive:", std::nullopt},
        {"ext4", "/dev/sda1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.source);
        EXPECT_EQ(MountInfo::remountURL(c.type, c.source), c.url);
    }
}

TEST(GvfsMounts, ShareURLOfAFolderName)
{
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"smb-share:server=srv,share=team", "smb://srv/team"},
        {"smb-share:domain=CORP,server=srv,share=%E7%B4%A0%E6%9D%90,user=li", "smb://li@srv/素材"},
        {"sftp:host=box,port=2222,user=me", "sftp://me@box:2222/"},
        {"dav:host=dav.example,ssl=true,prefix=%2Ffiles", "davs://dav.example/files"},
        {"afp-volume:host=mac,volume=Team", "afp://mac/Team"},
        {"ftp:host=ftp.example", "ftp://ftp.example/"},
        {"smb-share:share=team", std::nullopt},  // no server
        {"no-colon-here", std::nullopt},
    };
    for (const auto& [name, url] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(GvfsMounts::remountURL(name), url);
    }
}

} // namespace
} // namespace pallix
