#include "Core/Indexer/WatchTree.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pallix {
namespace {

using Placement = WatchTree::Placement;
using testing::UnorderedElementsAre;
constexpr int kTop = WatchTree::kTop;

// /r (1) with a (2) holding b (3) holding c (4), and x (5) beside a.
WatchTree sampleTree()
{
    WatchTree tree;
    EXPECT_EQ(tree.place(1, kTop, "/r"), Placement::Added);
    EXPECT_EQ(tree.place(2, 1, "a"), Placement::Added);
    EXPECT_EQ(tree.place(3, 2, "b"), Placement::Added);
    EXPECT_EQ(tree.place(4, 3, "c"), Placement::Added);
    EXPECT_EQ(tree.place(5, 1, "x"), Placement::Added);
    return tree;
}

TEST(WatchTree, AFolderReachedTwiceNeverEndsUpInsideItself)
{
    WatchTree tree = sampleTree();
    // The folder of watch 2 met again below c (a bind mount of it there).
    EXPECT_EQ(tree.place(2, 4, "loop"), Placement::Kept);
    EXPECT_EQ(tree.place(1, 2, "up"), Placement::Kept);
    EXPECT_EQ(tree.path(4), "/r/a/b/c");
    // Met as a top entry: a placed folder keeps its place.
    EXPECT_EQ(tree.place(3, kTop, "/r/a/b"), Placement::Kept);
    EXPECT_EQ(tree.path(3), "/r/a/b");
    // Met beside its place: it moves there (a rename whose events were lost),
    // and its subtree with it.
    EXPECT_EQ(tree.place(3, 5, "b"), Placement::Moved);
    EXPECT_EQ(tree.path(4), "/r/x/b/c");
    EXPECT_EQ(tree.place(3, 5, "b"), Placement::Same);

    WatchTree slash;
    slash.place(7, kTop, "/");
    slash.place(8, 7, "home");
    EXPECT_EQ(slash.path(8), "/home");
}

TEST(WatchTree, AFolderWatchedBeforeItsParentJoinsItsPlaceAndGoesWithItsRoot)
{
    WatchTree tree;
    tree.place(10, kTop, "/r/home/user");
    tree.place(11, 10, "docs");
    tree.place(12, kTop, "/r/other/first");
    tree.place(13, kTop, "/r/elsewhere");
    tree.place(14, kTop, "/rx");
    tree.place(1, kTop, "/r");
    tree.place(2, 1, "home");
    EXPECT_EQ(tree.place(10, 2, "user"), Placement::Attached);
    EXPECT_EQ(tree.path(11), "/r/home/user/docs");
    EXPECT_FALSE(tree.find(kTop, "/r/home/user"));

    // Dropping /r takes the first folders its walk did not reach, not /rx.
    EXPECT_THAT(tree.removeTopsAt("/r"), UnorderedElementsAre(1, 2, 10, 11, 12, 13));
    EXPECT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree.path(14), "/rx");
}

TEST(WatchTree, ANewFolderUnderTheNameOfOneGoneTakesThePlace)
{
    WatchTree tree = sampleTree();
    // a was deleted and made anew before its removal was read.
    EXPECT_EQ(tree.place(20, 1, "a"), Placement::Added);
    EXPECT_EQ(tree.find(1, "a"), 20);
    EXPECT_EQ(tree.place(21, 20, "b"), Placement::Added);
    EXPECT_EQ(tree.path(21), "/r/a/b");
    EXPECT_FALSE(tree.path(4)) << "the old folder's subtree reports nothing";
    // The old one's removal, read late, takes its own entries only.
    EXPECT_THAT(tree.removeTree(2), UnorderedElementsAre(2, 3, 4));
    EXPECT_EQ(tree.path(21), "/r/a/b");
}

} // namespace
} // namespace pallix
