#include "Platform/DirectoryWalker.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <set>

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Platform/DeepChain.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

using test::DeepChain;
using test::TempTree;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;

std::set<std::string> listNames(const std::string& folder)
{
    int error = 0;
    const UniqueFd fd = openDirectory(AT_FDCWD, folder.c_str(), error);
    EXPECT_TRUE(fd.valid()) << error;
    std::set<std::string> names;
    EXPECT_EQ(DirectoryReader(fd.get()).forEach([&](const char* name, unsigned char) {
        EXPECT_TRUE(names.insert(name).second) << "listed twice: " << name;
    }),
              0);
    return names;
}

TEST(DirectoryWalker, AListingSpanningManyReadsHasEveryEntryOnceWithoutDotEntries)
{
    TempTree tree;
    std::set<std::string> expected = {".hidden"};
    tree.file(".hidden");
    // Long names: far more than one 32 KiB read.
    for (int i = 0; i < 600; ++i) {
        const std::string name = std::string(100, 'n') + std::to_string(i);
        tree.file(name);
        expected.insert(name);
    }
    EXPECT_EQ(listNames(tree.root()), expected);
}

TEST(DirectoryWalker, EntryStatusDescribesALinkNotItsTarget)
{
    TempTree tree;
    tree.file("dir/file.bin", "123456");
    tree.symlink("link", tree.path("dir"));
    int error = 0;
    const UniqueFd fd = openDirectory(AT_FDCWD, tree.root().c_str(), error);
    ASSERT_TRUE(fd.valid());

    EntryStatus dir, link, file;
    ASSERT_EQ(readEntryStatus(fd.get(), "dir", dir), 0);
    ASSERT_EQ(readEntryStatus(fd.get(), "link", link), 0);
    ASSERT_EQ(readEntryStatus(AT_FDCWD, tree.path("dir/file.bin").c_str(), file), 0);
    EXPECT_TRUE(dir.isDirectory);
    EXPECT_FALSE(link.isDirectory);
    EXPECT_FALSE(link.isRegularFile);
    EXPECT_TRUE(file.isRegularFile);
    EXPECT_EQ(file.size, 6);
    struct stat st {};
    ASSERT_EQ(::stat(tree.path("dir/file.bin").c_str(), &st), 0);
    ASSERT_TRUE(file.modifiedAt.has_value());
    EXPECT_DOUBLE_EQ(*file.modifiedAt, double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9);
    EXPECT_EQ(file.device, st.st_dev);

    EXPECT_EQ(readEntryStatus(fd.get(), "missing", file), ENOENT);
    EXPECT_FALSE(openDirectory(fd.get(), "link", error).valid());
    EXPECT_TRUE(error == ENOTDIR || error == ELOOP) << error;
    EXPECT_FALSE(openDirectory(AT_FDCWD, tree.path("dir/file.bin").c_str(), error).valid());
    EXPECT_EQ(error, ENOTDIR);
}

TEST(DirectoryWalker, PseudoFileSystemsAndTmpfsUnderDevAreForeign)
{
    struct Case {
        const char* path;
        bool foreign;
    };
    for (const Case& c : {Case{"/proc", true}, Case{"/sys", true}, Case{"/dev/pts", true}, Case{"/dev/shm", true},
                          Case{"/", false}}) {
        SCOPED_TRACE(c.path);
        int error = 0;
        const UniqueFd fd = openDirectory(AT_FDCWD, c.path, error);
        if (!fd.valid())
            continue;  // not present in this environment
        EXPECT_EQ(isForeignFileSystem(fd.get(), c.path), c.foreign);
    }
    TempTree tree;
    int error = 0;
    const UniqueFd fd = openDirectory(AT_FDCWD, tree.root().c_str(), error);
    EXPECT_FALSE(isForeignFileSystem(fd.get(), tree.root()));
}

TEST(DirectoryWalker, OpensPathsPastTheLimitInPiecesAndFollowsNoLinkBelowTheStart)
{
    TempTree tree;
    const DeepChain chain(tree.root(), 3000);
    ASSERT_GT(chain.path().size(), std::size_t(PATH_MAX));
    ::close(::openat(chain.bottom(), "bottom.txt", O_CREAT | O_WRONLY, 0644));
    int error = 0;
    const UniqueFd deep = openDirectoryPath(AT_FDCWD, chain.path(), error);
    ASSERT_TRUE(deep.valid()) << error;
    EXPECT_EQ(listNames(chain.path().substr(0, 100)), std::set<std::string>{"d"});
    EntryStatus status;
    EXPECT_EQ(readEntryStatus(deep.get(), "bottom.txt", status), 0);

    // Relative to an open folder, over many levels at once.
    const UniqueFd top = openDirectoryPath(AT_FDCWD, tree.root(), error);
    std::string relative = "d";
    for (int i = 1; i < 2500; ++i)
        relative += "/d";
    const UniqueFd below = openDirectoryPath(top.get(), relative, error);
    ASSERT_TRUE(below.valid()) << error;
    EXPECT_EQ(readEntryStatus(below.get(), "d", status), 0);
    EXPECT_TRUE(status.isDirectory);

    // A link at any level below the start is refused, not followed.
    TempTree outside;
    outside.dir("target/inner");
    tree.dir("real");
    tree.symlink("real/link", outside.path("target"));
    for (const char* path : {"real/link", "real/link/inner"}) {
        EXPECT_FALSE(openDirectoryPath(top.get(), path, error).valid()) << path;
        EXPECT_TRUE(error == ELOOP || error == ENOTDIR || error == EXDEV) << path << " " << error;
    }
    EXPECT_TRUE(openDirectoryPath(top.get(), "real", error).valid());
    EXPECT_FALSE(openDirectoryPath(top.get(), "", error).valid());
}

TEST(DirectoryWalker, JoinPathAddsOneSlash)
{
    EXPECT_EQ(joinPath("/", "etc"), "/etc");
    EXPECT_EQ(joinPath("/home/a", "b.txt"), "/home/a/b.txt");
}

} // namespace
} // namespace pallix
