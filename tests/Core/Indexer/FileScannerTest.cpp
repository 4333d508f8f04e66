#include "Core/Indexer/FileScanner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <memory>
#include <set>

#include <fcntl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Platform/DeepChain.h"
#include "Platform/FileNames.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

using test::TempTree;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

FileScanner sequentialScanner(FileScanner::ListingFault fault = {})
{
    return FileScanner(FileScanner::Options{0, std::move(fault)});
}

std::vector<std::string> pathsOf(const std::vector<IndexedItem>& items)
{
    std::vector<std::string> paths;
    for (const auto& item : items)
        paths.emplace_back(item.path());
    return paths;
}

bool contains(const std::vector<std::string>& paths, const std::string& path)
{
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// A tree of 3 * (1 + 4 + 1 + 3) = 27 entries below the root.
void makeBranchyTree(const TempTree& tree)
{
    for (const char* top : {"a", "b", "c"}) {
        tree.dir(top);
        for (int i = 0; i < 4; ++i)
            tree.file(std::string(top) + "/f" + std::to_string(i) + ".txt", "x");
        for (int i = 0; i < 3; ++i)
            tree.file(std::string(top) + "/deep/g" + std::to_string(i) + ".md");
    }
}

TEST(FileScanner, WalksRootFirstThenEveryFolderBeforeItsContents)
{
    TempTree tree;
    tree.file("doc.pdf", "12345");
    tree.file(".hidden/inner.txt");
    tree.file("sub/deeper/leaf.txt");

    const ScanResult result = sequentialScanner().scan({tree.root()}, {}, false);

    const auto paths = pathsOf(result.items);
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), tree.root());
    EXPECT_THAT(paths, UnorderedElementsAreArray({tree.root(), tree.path("doc.pdf"), tree.path(".hidden"),
                                                  tree.path(".hidden/inner.txt"), tree.path("sub"),
                                                  tree.path("sub/deeper"), tree.path("sub/deeper/leaf.txt")}));
    for (std::size_t i = 1; i < result.items.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        const auto parent = std::find(paths.begin(), paths.begin() + i, result.items[i].parentPath());
        EXPECT_NE(parent, paths.begin() + i) << "parent must come first";
    }
    EXPECT_THAT(result.unreadablePaths, IsEmpty());

    const auto doc = std::find_if(result.items.begin(), result.items.end(),
                                  [](const IndexedItem& i) { return i.name() == "doc.pdf"; });
    ASSERT_NE(doc, result.items.end());
    EXPECT_EQ(doc->size(), 5);
    EXPECT_EQ(doc->fileExtension(), "pdf");
    EXPECT_EQ(doc->type(), IndexedItem::ItemType::File);
    struct stat st {};
    ASSERT_EQ(::lstat(std::string(doc->path()).c_str(), &st), 0);
    EXPECT_DOUBLE_EQ(doc->modifiedAt(), double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9);
    EXPECT_EQ(result.items.front().type(), IndexedItem::ItemType::Folder);
    EXPECT_EQ(result.items.front().size(), 0);
}

TEST(FileScanner, ReadingAheadOnHelperThreadsKeepsTheSequentialOrder)
{
    TempTree tree;
    for (int top = 0; top < 12; ++top)
        for (int mid = 0; mid < 6; ++mid)
            for (int leaf = 0; leaf < 8; ++leaf)
                tree.file("t" + std::to_string(top) + "/m" + std::to_string(mid) + "/l" + std::to_string(leaf));

    const auto expected = pathsOf(sequentialScanner().scan({tree.root()}, {}, false).items);
    ASSERT_EQ(expected.size(), 1u + 12 + 12 * 6 + 12 * 6 * 8);
    for (unsigned threads : {1u, 3u, 7u}) {
        SCOPED_TRACE(threads);
        const FileScanner scanner(FileScanner::Options{threads, {}});
        EXPECT_EQ(pathsOf(scanner.scan({tree.root()}, {}, false).items), expected);
        std::vector<std::string> batched;
        scanner.scanInBatches({tree.root()}, {}, false, 37, [&](const std::vector<IndexedItem>& batch) {
            for (const auto& item : batch)
                batched.emplace_back(item.path());
        });
        EXPECT_EQ(batched, expected);
    }
}

TEST(FileScanner, BatchesHaveTheConfiguredSizeWithTheRemainderLast)
{
    TempTree tree;
    makeBranchyTree(tree);  // 28 items with the root
    struct Case {
        int batchSize;
        std::vector<std::size_t> sizes;
    };
    const std::vector<Case> cases = {
        {10, {10, 10, 8}},
        {28, {28}},
        {40, {28}},
        {0, std::vector<std::size_t>(28, 1)},
        {-5, std::vector<std::size_t>(28, 1)},
    };
    const auto all = pathsOf(sequentialScanner().scan({tree.root()}, {}, false).items);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.batchSize);
        std::vector<std::size_t> sizes;
        std::vector<std::string> seen;
        const ScanReport report = FileScanner().scanInBatches(
            {tree.root()}, {}, false, c.batchSize, [&](const std::vector<IndexedItem>& batch) {
                sizes.push_back(batch.size());
                for (const auto& item : batch)
                    seen.emplace_back(item.path());
            });
        EXPECT_EQ(sizes, c.sizes);
        EXPECT_EQ(seen, all);
        EXPECT_THAT(report.unreadablePaths, IsEmpty());
    }
}

TEST(FileScanner, CancellingInsideTheCallbackEndsTheWalkWithoutAnEmptyBatch)
{
    TempTree tree;
    makeBranchyTree(tree);
    CancelToken cancel;
    std::vector<std::size_t> sizes;
    FileScanner().scanInBatches({tree.root()}, {}, false, 10,
                                [&](const std::vector<IndexedItem>& batch) {
                                    sizes.push_back(batch.size());
                                    cancel.cancel();
                                },
                                &cancel);
    EXPECT_THAT(sizes, ElementsAre(10u));
}

TEST(FileScanner, CancellingMidFolderHandsOverThePartialBatch)
{
    TempTree tree;
    makeBranchyTree(tree);
    const auto all = pathsOf(sequentialScanner().scan({tree.root()}, {}, false).items);
    // Cancel when the walk opens "b": the entries taken so far end with b itself.
    CancelToken cancel;
    const FileScanner scanner = sequentialScanner([&](const std::string& path) {
        if (path == tree.path("b"))
            cancel.cancel();
        return 0;
    });
    std::vector<std::vector<std::string>> batches;
    scanner.scanInBatches({tree.root(), tree.root()}, {}, false, 1000,
                          [&](const std::vector<IndexedItem>& batch) { batches.push_back(pathsOf(batch)); },
                          &cancel);

    const auto end = std::find(all.begin(), all.end(), tree.path("b")) + 1;
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], std::vector<std::string>(all.begin(), end));

    CancelToken again;
    const FileScanner scanAgain = sequentialScanner([&](const std::string& path) {
        if (path == tree.path("b"))
            again.cancel();
        return 0;
    });
    EXPECT_EQ(pathsOf(scanAgain.scan({tree.root()}, {}, false, &again).items),
              std::vector<std::string>(all.begin(), end));
}

TEST(FileScanner, ACancelledTokenStillYieldsTheFirstRootsOwnItem)
{
    TempTree tree;
    makeBranchyTree(tree);
    CancelToken cancel;
    cancel.cancel();
    std::vector<std::vector<std::string>> batches;
    FileScanner().scanInBatches({tree.root(), tree.path("a")}, {}, false, 5,
                                [&](const std::vector<IndexedItem>& batch) { batches.push_back(pathsOf(batch)); },
                                &cancel);
    EXPECT_THAT(batches, ElementsAre(ElementsAre(tree.root())));
}

TEST(FileScanner, ExcludedFoldersArePrunedAfterStandardisation)
{
    TempTree tree;
    tree.file("Library/Caches/c.bin");
    tree.file("Library2/keep.txt");
    tree.file("docs/a.txt");
    for (const std::string& exclusion :
         {tree.path("Library"), tree.path("Library/"), tree.path("docs/../Library"), tree.path("./Library")}) {
        SCOPED_TRACE(exclusion);
        std::vector<std::string> listed;
        const FileScanner scanner = sequentialScanner([&](const std::string& path) {
            listed.push_back(path);
            return 0;
        });
        const auto paths = pathsOf(scanner.scan({tree.root()}, {exclusion}, false).items);
        EXPECT_FALSE(contains(paths, tree.path("Library")));
        EXPECT_FALSE(contains(paths, tree.path("Library/Caches")));
        EXPECT_FALSE(contains(paths, tree.path("Library/Caches/c.bin")));
        EXPECT_TRUE(contains(paths, tree.path("Library2")));
        EXPECT_TRUE(contains(paths, tree.path("Library2/keep.txt")));
        EXPECT_TRUE(contains(paths, tree.path("docs/a.txt")));
        EXPECT_FALSE(contains(listed, tree.path("Library"))) << "an excluded folder is never listed";
    }
}

TEST(FileScanner, AnExcludedRootYieldsNothingAndTheWalkGoesOn)
{
    TempTree tree;
    tree.file("one/x.txt");
    tree.file("two/y.txt");
    const auto paths = pathsOf(
        FileScanner().scan({tree.path("one"), tree.path("two")}, {tree.root() + "/one/"}, false).items);
    EXPECT_THAT(paths, ElementsAre(tree.path("two"), tree.path("two/y.txt")));
}

TEST(FileScanner, JunkIsLeftOutButDescendedInto)
{
    TempTree tree;
    tree.file("._resource/keep.txt");
    tree.file(".localized/inside.txt");
    tree.file("plain/.DS_Store");
    tree.file("plain/~$draft.docx");
    tree.file("plain/.localized");
    tree.file("plain/notes.swp");

    const auto withJunk = pathsOf(FileScanner().scan({tree.root()}, {}, false).items);
    const auto withoutJunk = pathsOf(FileScanner().scan({tree.root()}, {}, true).items);

    EXPECT_EQ(withJunk.size(), 10u);
    EXPECT_THAT(withoutJunk,
                UnorderedElementsAreArray({tree.root(), tree.path("._resource/keep.txt"),
                                           tree.path(".localized/inside.txt"), tree.path("plain"),
                                           tree.path("plain/.localized")}));
    const auto children = FileScanner().scanImmediateChildren(tree.path("plain"), {}, true);
    ASSERT_TRUE(children.has_value());
    EXPECT_THAT(pathsOf(*children), ElementsAre(tree.path("plain/.localized")));
}

TEST(FileScanner, SymbolicLinksAreEntriesAndNeverFollowed)
{
    TempTree tree;
    TempTree outside;
    outside.file("secret/inside.txt");
    tree.file("dir/file.txt");
    tree.symlink("dir/loop", tree.path("dir"));
    tree.symlink("up", "..");
    tree.symlink("away", outside.path("secret"));

    const ScanResult result = FileScanner().scan({tree.root()}, {}, false);

    const auto paths = pathsOf(result.items);
    EXPECT_THAT(paths, UnorderedElementsAreArray({tree.root(), tree.path("dir"), tree.path("dir/file.txt"),
                                                  tree.path("dir/loop"), tree.path("up"), tree.path("away")}));
    for (const auto& item : result.items) {
        if (item.name() == "loop" || item.name() == "up" || item.name() == "away") {
            SCOPED_TRACE(item.path());
            EXPECT_EQ(item.type(), IndexedItem::ItemType::File);
        }
    }
    // A root that is itself a link is an entry, not a folder to walk.
    EXPECT_THAT(pathsOf(FileScanner().scan({tree.path("away")}, {}, false).items), ElementsAre(tree.path("away")));
}

TEST(FileScanner, AFolderThatCannotBeListedIsReportedAndTheRestIsWalked)
{
    TempTree tree;
    makeBranchyTree(tree);
    for (int error : {EIO, EMFILE, EACCES}) {
        SCOPED_TRACE(error);
        for (unsigned threads : {0u, 3u}) {
            const FileScanner scanner(FileScanner::Options{threads, [&](const std::string& path) {
                                                               return path == tree.path("b") ? error : 0;
                                                           }});
            const ScanResult result = scanner.scan({tree.root()}, {}, false);
            const auto paths = pathsOf(result.items);
            EXPECT_TRUE(contains(paths, tree.path("b")));
            EXPECT_FALSE(contains(paths, tree.path("b/f0.txt")));
            EXPECT_FALSE(contains(paths, tree.path("b/deep")));
            EXPECT_TRUE(contains(paths, tree.path("c/deep/g2.md")));
            EXPECT_EQ(paths.size(), 28u - 8u);
            EXPECT_THAT(result.unreadablePaths, ElementsAre(tree.path("b")));

            const ScanReport report =
                scanner.scanInBatches({tree.root()}, {}, false, 7, [](const std::vector<IndexedItem>&) {});
            EXPECT_THAT(report.unreadablePaths, ElementsAre(tree.path("b")));
        }
    }
}

// A folder deleted and made again while the walk passed it: its entry could
// not be read, although its listing could be. Nothing below it comes without
// its own row.
TEST(FileScanner, AnEntryWhoseMetadataCannotBeReadIsNotEntered)
{
    TempTree tree;
    makeBranchyTree(tree);
    for (int error : {ENOENT, EIO}) {
        SCOPED_TRACE(error);
        for (unsigned threads : {0u, 3u}) {
            FileScanner::Options options{threads, {}};
            options.statusFault = [&](const std::string& path, EntryStatus&) {
                return path == tree.path("b") ? error : 0;
            };
            const ScanResult result = FileScanner(options).scan({tree.root()}, {}, false);
            const auto paths = pathsOf(result.items);
            EXPECT_FALSE(contains(paths, tree.path("b")));
            EXPECT_FALSE(contains(paths, tree.path("b/f0.txt")));
            EXPECT_FALSE(contains(paths, tree.path("b/deep/g1.md")));
            EXPECT_TRUE(contains(paths, tree.path("c/deep/g2.md")));
            EXPECT_EQ(paths.size(), 28u - 9u);
            // Gone says nothing was missed; a failed read keeps the rows below it.
            if (error == ENOENT)
                EXPECT_THAT(result.unreadablePaths, IsEmpty());
            else
                EXPECT_THAT(result.unreadablePaths, ElementsAre(tree.path("b")));
        }
    }
}

EntryStatus statusOf(const std::string& path)
{
    EntryStatus status;
    EXPECT_EQ(readEntryStatus(AT_FDCWD, path.c_str(), status), 0);
    return status;
}

// A folder bind-mounted inside itself shows the same device and inode at two
// places; the seam gives a folder an identity as such a mount would.
TEST(FileScanner, AFolderThatIsOneOfTheFoldersAboveItIsNotEnteredAgain)
{
    TempTree tree;
    tree.file("a/x.txt");
    tree.file("a/loop/inner.txt");
    tree.file("twin/y.txt");
    const EntryStatus root = statusOf(tree.root());
    const EntryStatus a = statusOf(tree.path("a"));
    for (unsigned threads : {0u, 3u}) {
        SCOPED_TRACE(threads);
        FileScanner::Options options{threads, {}};
        options.statusFault = [&](const std::string& path, EntryStatus& status) {
            const EntryStatus* as = path == tree.path("a/loop") ? &root : path == tree.path("twin") ? &a : nullptr;
            if (as) {
                status.device = as->device;
                status.inode = as->inode;
                status.mayBeMountRoot = true;
            }
            return 0;
        };
        const ScanResult result = FileScanner(options).scan({tree.root()}, {}, false);
        // The loop's own entry is a row; what lies in it is not walked again.
        // A second place of a folder that is not above it is walked as usual.
        EXPECT_THAT(pathsOf(result.items),
                    UnorderedElementsAreArray({tree.root(), tree.path("a"), tree.path("a/x.txt"), tree.path("a/loop"),
                                               tree.path("twin"), tree.path("twin/y.txt")}));
        EXPECT_THAT(result.unreadablePaths, IsEmpty());
    }
}

TEST(FileScanner, RootsAreWalkedInOrderEvenWhenOneIsMissingUnlistableOrRepeated)
{
    TempTree tree;
    tree.file("one/x.txt");
    tree.file("two/y.txt");
    tree.file("plain.txt");
    const FileScanner scanner = sequentialScanner([&](const std::string& path) {
        return path == tree.path("one") ? EIO : 0;
    });
    const ScanResult result = scanner.scan(
        {tree.path("missing"), tree.path("one"), tree.path("plain.txt"), tree.path("two"), tree.path("two")}, {},
        false);
    EXPECT_THAT(pathsOf(result.items),
                ElementsAre(tree.path("one"), tree.path("plain.txt"), tree.path("two"), tree.path("two/y.txt"),
                            tree.path("two"), tree.path("two/y.txt")));
    EXPECT_THAT(result.unreadablePaths, ElementsAre(tree.path("one")));
}

TEST(FileScanner, PseudoFileSystemsBelowARootAreNotEntered)
{
    struct stat dev {}, pts {};
    if (::stat("/dev", &dev) != 0 || ::stat("/dev/pts/ptmx", &pts) != 0 || dev.st_dev == pts.st_dev)
        GTEST_SKIP() << "no devpts mounted on /dev/pts here";
    const auto paths = pathsOf(FileScanner().scan({"/dev"}, {}, false).items);
    EXPECT_TRUE(contains(paths, "/dev/pts"));
    EXPECT_FALSE(contains(paths, "/dev/pts/ptmx"));
    // A root on such a file system is walked.
    EXPECT_TRUE(contains(pathsOf(FileScanner().scan({"/dev/pts"}, {}, false).items), "/dev/pts/ptmx"));
}

// A memory file system mounted for one test; unmounted with the object.
class ScopedTmpfs {
public:
    explicit ScopedTmpfs(std::string at) : m_at(std::move(at))
    {
        m_mounted = ::mount("pallix-test", m_at.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~ScopedTmpfs()
    {
        if (m_mounted)
            ::umount2(m_at.c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    std::string m_at;
    bool m_mounted = false;
};

TEST(FileScanner, AShareWalkDoesNotEnterAnotherMountBelowItsRoot)
{
    TempTree tree;
    tree.file("share/a.jpg");
    const std::string inner = tree.dir("share/mounted");
    const ScopedTmpfs tmpfs(inner);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (errno " << errno << ")";
    std::ofstream(inner + "/b.jpg") << "x";
    tree.file("share/after/c.jpg");

    // A local tmpfs is entered by an ordinary walk, as a local disk would be...
    const auto everything = pathsOf(sequentialScanner().scan({tree.path("share")}, {}, false).items);
    EXPECT_TRUE(contains(everything, inner + "/b.jpg"));

    // ...but not by one that stays on the root's file system: the mount point
    // itself is an entry of the share, what lies on the other mount is not.
    FileScanner::Options options{0, {}};
    options.stayOnRootFileSystem = true;
    const auto shareOnly = pathsOf(FileScanner(options).scan({tree.path("share")}, {}, false).items);
    EXPECT_TRUE(contains(shareOnly, inner));
    EXPECT_FALSE(contains(shareOnly, inner + "/b.jpg"));
    EXPECT_TRUE(contains(shareOnly, tree.path("share/after/c.jpg")));
    // A root on the other mount is walked.
    EXPECT_TRUE(contains(pathsOf(FileScanner(options).scan({inner}, {}, false).items), inner + "/b.jpg"));
}

TEST(FileScanner, ABindMountOfAFolderInsideItselfIsWalkedOnce)
{
    TempTree tree;
    tree.file("top/a.txt");
    const std::string loop = tree.dir("top/sub/loop");
    if (::mount(tree.path("top").c_str(), loop.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here (errno " << errno << ")";
    // Undone however the walk ends: a mount left behind outlives the test.
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        loop.c_str(), [](const char* at) { ::umount2(at, MNT_DETACH); });
    const auto paths = pathsOf(sequentialScanner().scan({tree.path("top")}, {}, false).items);
    EXPECT_THAT(paths, UnorderedElementsAreArray({tree.path("top"), tree.path("top/a.txt"), tree.path("top/sub"), loop}));
}

std::size_t openDescriptors()
{
    return std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                     std::filesystem::directory_iterator()));
}

// Counts, on whichever thread lists a folder, the most descriptors open at once.
struct DescriptorWatch {
    std::atomic<std::size_t> most{0};
    FileScanner::ListingFault fault()
    {
        return [this](const std::string&) {
            const std::size_t now = openDescriptors();
            std::size_t seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            return 0;
        };
    }
};

TEST(FileScanner, AChainPastThePathLimitIsWalkedWithFewDescriptorsInBoundedBatches)
{
    TempTree tree;
    const test::DeepChain chain(tree.root(), 5000);
    ::close(::openat(chain.bottom(), "bottom.txt", O_CREAT | O_WRONLY, 0644));
    {
        const unsigned threads = 3;
        DescriptorWatch watch;
        const std::size_t before = openDescriptors();
        FileScanner::Options options{threads, watch.fault()};
        std::size_t count = 0;
        std::size_t largestBatch = 0;
        std::string expected = tree.root();
        bool inOrder = true;
        const ScanReport report = FileScanner(options).scanInBatches(
            {tree.root()}, {}, false, 100, [&](const std::vector<IndexedItem>& batch) {
                largestBatch = std::max(largestBatch, batch.size());
                for (const IndexedItem& item : batch) {
                    if (++count == 5002)
                        expected = chain.path() + "/bottom.txt";
                    inOrder = inOrder && item.path() == expected;
                    expected += "/d";
                }
            });
        EXPECT_TRUE(report.unreadablePaths.empty());
        EXPECT_TRUE(inOrder);
        EXPECT_EQ(count, 5002u);  // the root, 5000 folders, the file at the bottom
        EXPECT_EQ(largestBatch, 100u);
        EXPECT_LE(watch.most.load(), before + threads + 8);
    }
    // One folder's children, past the path limit too.
    const auto children = FileScanner().scanImmediateChildren(chain.path(), {}, true);
    ASSERT_TRUE(children.has_value());
    EXPECT_THAT(pathsOf(*children), ElementsAre(chain.path() + "/bottom.txt"));

    // A walk cancelled while helpers read far ahead drops what they read.
    CancelToken cancel;
    std::size_t handed = 0;
    FileScanner().scanInBatches({tree.root()}, {}, false, 10, [&](const std::vector<IndexedItem>& batch) {
        handed += batch.size();
        cancel.cancel();
    }, &cancel);
    EXPECT_EQ(handed, 10u);
}

TEST(FileScanner, PastTheKeptFolderLimitFoldersOpenBelowAKeptOneWithTheSameItems)
{
    // A comb: every level has a side folder, listed before or after the way
    // down, so every level waits with a folder still to open.
    TempTree tree;
    std::string level;
    for (int i = 0; i < 120; ++i) {
        tree.file(level + "side" + std::to_string(i) + "/f.txt");
        level += "down/";
    }
    tree.file(level + "last.txt");
    const auto walk = [&](std::size_t kept, unsigned threads, DescriptorWatch& watch) {
        FileScanner::Options options{threads, watch.fault()};
        options.keptFolderLimit = kept;
        return pathsOf(FileScanner(options).scan({tree.root()}, {}, true).items);
    };
    DescriptorWatch unbounded;
    const std::size_t atStart = openDescriptors();
    const auto reference = walk(10000, 0, unbounded);
    ASSERT_EQ(reference.size(), 1u + 120 * 3 + 1);
    for (unsigned threads : {0u, 3u}) {
        DescriptorWatch few;
        const std::size_t before = openDescriptors();
        EXPECT_EQ(walk(4, threads, few), reference) << threads;
        EXPECT_LE(few.most.load(), before + 4 + threads + 2) << threads;
    }
    // Unbounded, the same walk holds a descriptor for each level whose side
    // folder comes after the way down: what the limit prevents.
    EXPECT_GT(unbounded.most.load(), atStart + 30);
}

TEST(FileScanner, ImmediateChildrenTellAFailedListingFromAnEmptyFolder)
{
    TempTree tree;
    tree.file("top/a.txt");
    tree.file("top/skip/deep.txt");
    tree.file("top/sub/nested.txt");
    tree.dir("empty");

    const auto children = FileScanner().scanImmediateChildren(tree.path("top"), {tree.path("top/skip")}, false);
    ASSERT_TRUE(children.has_value());
    EXPECT_THAT(pathsOf(*children), UnorderedElementsAreArray({tree.path("top/a.txt"), tree.path("top/sub")}));

    const auto empty = FileScanner().scanImmediateChildren(tree.path("empty"), {}, false);
    ASSERT_TRUE(empty.has_value());
    EXPECT_THAT(*empty, IsEmpty());

    const auto excluded = FileScanner().scanImmediateChildren(tree.path("top"), {tree.path("top")}, false);
    ASSERT_TRUE(excluded.has_value());
    EXPECT_THAT(*excluded, IsEmpty());

    EXPECT_FALSE(FileScanner().scanImmediateChildren(tree.path("missing"), {}, false).has_value());
    const FileScanner failing = sequentialScanner([](const std::string&) { return EIO; });
    EXPECT_FALSE(failing.scanImmediateChildren(tree.path("top"), {}, false).has_value());
}

// The scanner feeding a real index store, as the application model uses the two.
class ScannedIntoIndexStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store = std::make_unique<IndexStore>(m_database.path("index.sqlite"), Clock::system(), m_probe);
        ASSERT_TRUE(m_store->bootstrap());
        m_store->waitForSearchCacheReady();
    }

    std::vector<std::string> found(const std::string& word)
    {
        SearchQuery query;
        query.rawText = word;
        query.tokens = {word};
        query.excludeSystemJunk = false;
        auto paths = pathsOf(m_store->search(query, 100));
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // A full rescan replaces the rows under the root, unless the walk could not
    // read everything: then nothing is deleted, as it cannot tell gone from unseen.
    void rescan(const FileScanner& scanner)
    {
        const ScanResult result = scanner.scan({m_tree.root()}, {}, true);
        if (result.unreadablePaths.empty()) {
            ASSERT_TRUE(m_store->applyFullRescan({m_tree.root()}, result.items));
        } else {
            ASSERT_TRUE(m_store->upsert(result.items));
        }
    }

    // The one-level synchronisation after file events; a failed listing is skipped.
    void synchronize(const FileScanner& scanner, const std::string& folder)
    {
        if (const auto children = scanner.scanImmediateChildren(folder, {}, true)) {
            ASSERT_TRUE(m_store->synchronizeFolders({{folder, *children}}));
        }
    }

    TempTree m_tree;
    TempTree m_database;
    std::shared_ptr<IndexStoreProbe> m_probe = std::make_shared<IndexStoreProbe>();
    std::unique_ptr<IndexStore> m_store;
};

TEST_F(ScannedIntoIndexStore, AScannedTreeIsFoundAndDeletedFilesAreGoneAfterARescan)
{
    const auto alpha = m_tree.file("alpha/report-alpha.txt");
    const auto beta = m_tree.file("beta/report-beta.txt");
    const auto deep = m_tree.file("beta/deep/report-deep.md");
    m_tree.file("beta/.DS_Store");

    FileScanner().scanInBatches({m_tree.root()}, {}, true, 2, [&](const std::vector<IndexedItem>& batch) {
        ASSERT_TRUE(m_store->upsert(batch));
    });
    m_probe->rebuildSearchCache();
    EXPECT_EQ(found("report"), (std::vector<std::string>{alpha, deep, beta}));
    EXPECT_EQ(m_store->indexedCount(), 7);

    std::filesystem::remove_all(m_tree.path("beta/deep"));
    rescan(FileScanner());
    EXPECT_EQ(found("report"), (std::vector<std::string>{alpha, beta}));
    EXPECT_EQ(m_store->indexedCount(), 5) << "the deleted folder went with its file";
}

TEST_F(ScannedIntoIndexStore, AFolderThatCannotBeReadKeepsItsRows)
{
    const auto alpha = m_tree.file("alpha/report-alpha.txt");
    const auto beta = m_tree.file("beta/report-beta.txt");
    rescan(FileScanner());
    ASSERT_EQ(found("report"), (std::vector<std::string>{alpha, beta}));

    const FileScanner failingBeta = sequentialScanner([&](const std::string& path) {
        return path == m_tree.path("beta") ? EIO : 0;
    });
    rescan(failingBeta);
    EXPECT_EQ(found("report"), (std::vector<std::string>{alpha, beta}));

    // One level: an emptied folder loses its rows, an unreadable one keeps them.
    std::filesystem::remove(alpha);
    synchronize(failingBeta, m_tree.path("alpha"));
    synchronize(failingBeta, m_tree.path("beta"));
    EXPECT_EQ(found("report"), (std::vector<std::string>{beta}));
}

} // namespace
} // namespace pallix

namespace pallix {
namespace {

// Names unpacked from an archive made elsewhere: GBK bytes, not UTF-8.
constexpr const char* kGbkContract = "\xBA\xCF\xCD\xAC";         // 合同
constexpr const char* kGbkInvoice = "report-\xB7\xA2\xC6\xB1.pdf";  // report-发票.pdf

TEST_F(ScannedIntoIndexStore, AFolderNamedInAnotherEncodingIsIndexedWithEverythingInIt)
{
    const std::string folder = m_tree.dir(kGbkContract);
    const std::string inner = m_tree.file(std::string(kGbkContract) + "/report-inner.txt");
    const std::string deeper = m_tree.file(std::string(kGbkContract) + "/deep/report-deeper.md");
    const std::string invoice = m_tree.file(kGbkInvoice);
    const auto stored = [](const std::string& bytes) { return filenames::fromFileSystem(bytes); };

    for (const FileScanner& scanner : {sequentialScanner(), FileScanner()}) {
        const ScanResult result = scanner.scan({m_tree.root()}, {}, true);
        EXPECT_THAT(result.unreadablePaths, IsEmpty());
        EXPECT_THAT(pathsOf(result.items),
                    UnorderedElementsAreArray({m_tree.root(), stored(folder), stored(inner), stored(folder + "/deep"),
                                               stored(deeper), stored(invoice)}));
    }
    rescan(FileScanner());
    std::vector<std::string> reports{stored(inner), stored(deeper), stored(invoice)};
    std::sort(reports.begin(), reports.end());
    EXPECT_EQ(found("report"), reports);
    const auto items = FileScanner().scanImmediateChildren(stored(folder), {}, true);
    ASSERT_TRUE(items.has_value());
    EXPECT_THAT(pathsOf(*items), UnorderedElementsAreArray({stored(inner), stored(folder + "/deep")}));
    // The record shows each byte outside UTF-8 as a replacement character
    // (CD AC happens to be UTF-8 for U+036C); its path gives the system the bytes back.
    const auto record = std::find_if(items->begin(), items->end(), [](const IndexedItem& i) { return i.isDirectory(); });
    ASSERT_NE(record, items->end());
    EXPECT_EQ(filenames::displayForm(record->parentPath()), m_tree.root() + "/\uFFFD\uFFFD\u036C");
    EXPECT_EQ(filenames::toFileSystem(record->path()), folder + "/deep");

    // Excluded and unreadable by their stored paths, as settings and the index hold them.
    const ScanResult excluded = FileScanner().scan({m_tree.root()}, {stored(folder)}, true);
    EXPECT_THAT(pathsOf(excluded.items), UnorderedElementsAreArray({m_tree.root(), stored(invoice)}));
    const FileScanner failing = sequentialScanner([&](const std::string& path) { return path == folder ? EIO : 0; });
    EXPECT_THAT(failing.scan({m_tree.root()}, {}, true).unreadablePaths, ElementsAre(stored(folder)));
}

} // namespace
} // namespace pallix
