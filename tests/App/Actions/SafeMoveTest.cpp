// The move of dropped files: never over an existing entry, the numbered free
// names, the no-op when all are taken, and the copy across file systems.

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/Actions/SafeMove.h"
#include "App/Actions/FileOperations.h"
#include "Platform/TempTree.h"

namespace fs = std::filesystem;

namespace pallix {
namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The real rename, except that every call across the given boundary fails
// as a rename across two file systems does.
SafeMove::RenameNoReplace exdevInto(const std::string& foreignRoot)
{
    return [foreignRoot](const std::string& from, const std::string& to) {
        if (to.starts_with(foreignRoot) != from.starts_with(foreignRoot))
            return EXDEV;
        return FileOperations::renameNoReplace(from, to);
    };
}

TEST(SafeMoveTest, ClashNamesSplitOnlyTheLastExtension)
{
    EXPECT_EQ(SafeMove::clashName("a.txt", 3), "a 3.txt");
    EXPECT_EQ(SafeMove::clashName("README", 2), "README 2");
    EXPECT_EQ(SafeMove::clashName("x.tar.gz", 2), "x.tar 2.gz");
}

TEST(SafeMoveTest, AClashTakesTheNextFreeNumberAndLeavesTheExistingFilesAlone)
{
    test::TempTree tree;
    const std::string dest = tree.dir("dest");
    tree.file("dest/a.txt", "old a");
    tree.file("dest/a 2.txt", "old a2");
    const std::string source = tree.file("a.txt", "new a");
    tree.file("README", "readme");
    tree.file("x.tar.gz", "tgz");
    tree.file("dest/README");
    tree.file("dest/x.tar.gz");

    const SafeMove mover;
    const auto outcome = mover.moveInto(source, dest);
    ASSERT_TRUE(outcome.moved) << outcome.error;
    EXPECT_EQ(outcome.target, dest + "/a 3.txt");
    EXPECT_EQ(contents(dest + "/a 3.txt"), "new a");
    EXPECT_EQ(contents(dest + "/a.txt"), "old a");
    EXPECT_EQ(contents(dest + "/a 2.txt"), "old a2");
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(mover.moveInto(tree.path("README"), dest).target, dest + "/README 2");
    EXPECT_EQ(mover.moveInto(tree.path("x.tar.gz"), dest).target, dest + "/x.tar 2.gz");
}

TEST(SafeMoveTest, WhenEveryNameIsTakenTheFileStaysAndNothingIsTouched)
{
    test::TempTree tree;
    const std::string dest = tree.dir("dest");
    tree.file("dest/a.txt", "keep me");
    for (int n = SafeMove::kFirstClashNumber; n <= SafeMove::kLastClashNumber; ++n)
        tree.file("dest/" + SafeMove::clashName("a.txt", n), "taken");
    const std::string source = tree.file("a.txt", "mine");

    const auto outcome = SafeMove().moveInto(source, dest);
    EXPECT_FALSE(outcome.moved);
    EXPECT_EQ(outcome.error, std::system_category().message(EEXIST));
    EXPECT_EQ(contents(source), "mine");
    EXPECT_EQ(contents(dest + "/a.txt"), "keep me");
    EXPECT_EQ(contents(dest + "/a 999.txt"), "taken");
    EXPECT_FALSE(fs::exists(dest + "/a 1000.txt"));
}

TEST(SafeMoveTest, AFolderNeverGoesIntoItselfOrItsSubtree)
{
    test::TempTree tree;
    const std::string folder = tree.dir("f");
    const std::string inner = tree.dir("f/g/h");
    const SafeMove mover;
    for (const std::string& into : {folder, inner}) {
        const auto outcome = mover.moveInto(folder, into);
        EXPECT_FALSE(outcome.moved);
        EXPECT_FALSE(outcome.error.empty());
    }
    EXPECT_TRUE(fs::is_directory(inner));
    EXPECT_FALSE(fs::exists(inner + "/f"));
}

TEST(SafeMoveTest, AMissingSourceSaysWhy)
{
    test::TempTree tree;
    const auto outcome = SafeMove().moveInto(tree.path("nothing.txt"), tree.dir("d"));
    EXPECT_FALSE(outcome.moved);
    EXPECT_EQ(outcome.error, std::system_category().message(ENOENT));
}

// A tmpfs of 1 MiB mounted on a folder for the life of the object, where the
// test may mount one (as root).
class SmallTmpfs {
public:
    explicit SmallTmpfs(const std::string& folder) : m_folder(folder)
    {
        m_mounted = ::mount("pallix-test", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallTmpfs()
    {
        if (m_mounted)
            ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

// The other file system is a small tmpfs where one can be mounted; there the
// rename fails for real. The seam stands in on one disk.
class SafeMoveAcrossDisksTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        m_foreign = m_tree.dir("foreign");
        if (!GetParam()) {
            m_mover = SafeMove(exdevInto(m_foreign));
            return;
        }
        m_tmpfs = std::make_unique<SmallTmpfs>(m_foreign);
        if (!m_tmpfs->mounted())
            GTEST_SKIP() << "cannot mount a tmpfs here";
    }

    test::TempTree m_tree;
    std::string m_foreign;
    std::unique_ptr<SmallTmpfs> m_tmpfs;
    SafeMove m_mover;
};

TEST_P(SafeMoveAcrossDisksTest, FilesAndFoldersAreCopiedToAFreeNameThenTheSourceGoes)
{
    std::ofstream(m_foreign + "/a.txt") << "already there";
    const std::string file = m_tree.file("a.txt", std::string(300000, 'x'));
    const std::string folder = m_tree.dir("album");
    m_tree.file("album/one.jpg", "jpeg");
    m_tree.file("album/sub/two.txt", "two");

    const auto fileOutcome = m_mover.moveInto(file, m_foreign);
    ASSERT_TRUE(fileOutcome.moved) << fileOutcome.error;
    EXPECT_EQ(fileOutcome.target, m_foreign + "/a 2.txt");
    EXPECT_EQ(contents(m_foreign + "/a 2.txt"), std::string(300000, 'x'));
    EXPECT_EQ(contents(m_foreign + "/a.txt"), "already there");
    EXPECT_FALSE(fs::exists(file));

    const auto folderOutcome = m_mover.moveInto(folder, m_foreign);
    ASSERT_TRUE(folderOutcome.moved) << folderOutcome.error;
    EXPECT_EQ(contents(m_foreign + "/album/sub/two.txt"), "two");
    EXPECT_EQ(contents(m_foreign + "/album/one.jpg"), "jpeg");
    EXPECT_FALSE(fs::exists(folder));
}

// Set after everything inside is made: making an entry touches its folder.
void setTimes(const std::string& path, std::time_t seconds, long nanoseconds)
{
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// The copy keeps each entry's modes and times as `mv` does; a pipe inside a
// folder stops the move before anything is copied or removed, and is named.
TEST_P(SafeMoveAcrossDisksTest, ModesAndTimesStayAndAPipeStopsTheMoveBeforeAnythingGoes)
{
    const std::string album = m_tree.dir("album");
    const std::string photo = m_tree.file("album/sub/one.jpg", "jpeg");
    const std::string note = m_tree.file("note.txt", "n");
    ASSERT_EQ(::chmod(photo.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(note.c_str(), 0604), 0);
    ASSERT_EQ(::chmod((album + "/sub").c_str(), 0750), 0);
    setTimes(photo, 1000000000, 123456789);
    setTimes(album + "/sub", 1100000000, 5);
    setTimes(album, 1200000000, 0);
    setTimes(note, 1300000000, 7);

    for (const auto& [source, moved] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {album, {"", "/sub", "/sub/one.jpg"}}, {note, {""}}}) {
        std::vector<struct stat> before;
        for (const std::string& inner : moved) {
            struct stat info {};
            ASSERT_EQ(::lstat((source + inner).c_str(), &info), 0);
            before.push_back(info);
        }
        const auto outcome = m_mover.moveInto(source, m_foreign);
        ASSERT_TRUE(outcome.moved) << outcome.error;
        for (std::size_t i = 0; i < moved.size(); ++i) {
            SCOPED_TRACE(outcome.target + moved[i]);
            struct stat after {};
            ASSERT_EQ(::lstat((outcome.target + moved[i]).c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, before[i].st_mode);
            EXPECT_EQ(after.st_mtim.tv_sec, before[i].st_mtim.tv_sec);
            EXPECT_EQ(after.st_mtim.tv_nsec, before[i].st_mtim.tv_nsec);
        }
    }

    const std::string piped = m_tree.dir("piped");
    m_tree.file("piped/a.txt", "a");
    m_tree.dir("piped/inner");
    ASSERT_EQ(::mkfifo((piped + "/inner/queue").c_str(), 0600), 0);
    const auto refused = m_mover.moveInto(piped, m_foreign);
    EXPECT_FALSE(refused.moved);
    EXPECT_NE(refused.error.find("piped/inner/queue"), std::string::npos) << refused.error;
    EXPECT_EQ(contents(piped + "/a.txt"), "a");
    struct stat fifo {};
    ASSERT_EQ(::lstat((piped + "/inner/queue").c_str(), &fifo), 0);
    EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
    EXPECT_FALSE(fs::exists(m_foreign + "/piped"));
}

TEST_P(SafeMoveAcrossDisksTest, ASourceThatCannotBeRemovedKeepsOnlyTheSource)
{
    // An append-only folder refuses every unlink, also root's.
    const std::string dir = m_tree.dir("held");
    const std::string file = m_tree.file("held/f.txt", "data");
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    int flags = FS_APPEND_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a folder append-only here";
    }
    const auto outcome = m_mover.moveInto(file, m_foreign);
    flags = 0;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    EXPECT_FALSE(outcome.moved);
    EXPECT_EQ(outcome.error, std::system_category().message(EPERM));
    EXPECT_EQ(contents(file), "data");
    EXPECT_FALSE(fs::exists(m_foreign + "/f.txt"));
}

TEST(SafeMoveTest, ACopyThatRunsOutOfRoomLeavesTheSourceAndNoPartialFile)
{
    test::TempTree tree;
    const std::string foreign = tree.dir("foreign");
    SmallTmpfs tmpfs(foreign);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const SafeMove mover;
    const std::string big(2 * 1024 * 1024, 'b');
    const std::string file = tree.file("big.bin", big);
    const std::string folder = tree.dir("bigdir");
    tree.file("bigdir/big.bin", big);

    const auto outcome = mover.moveInto(file, foreign);
    EXPECT_FALSE(outcome.moved);
    EXPECT_EQ(outcome.error, std::system_category().message(ENOSPC));
    EXPECT_EQ(contents(file), big);
    EXPECT_FALSE(fs::exists(foreign + "/big.bin"));

    EXPECT_FALSE(mover.moveInto(folder, foreign).moved);
    EXPECT_EQ(contents(folder + "/big.bin"), big);
    EXPECT_FALSE(fs::exists(foreign + "/bigdir"));
}

INSTANTIATE_TEST_SUITE_P(FakeAndReal, SafeMoveAcrossDisksTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tmpfs" : "Seam"; });

} // namespace
} // namespace pallix
