#include "App/Actions/FileOperations.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Platform/SpecialFiles.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using Code = FileActionError::Code;

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FileOperations, RenameRefusesBadNamesBeforeTouchingTheDisk)
{
    test::TempTree tree;
    const std::string a = tree.file("a.txt", "A");
    const struct {
        QString name;
        Code code;
        const char* text;
    } cases[] = {
        {"", Code::EmptyName, "名称不能为空。"},
        {"x/y", Code::InvalidNameCharacter, "名称不能包含 \u201C/\u201D 等非法字符。"},
        {".", Code::InvalidNameCharacter, nullptr},
        {"..", Code::InvalidNameCharacter, nullptr},
        {QString("a") + QChar(0) + "b", Code::InvalidNameCharacter, nullptr},
        {"a.txt", Code::SameName, "名称未改变。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const auto result = FileOperations::rename(a, c.name);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, c.code);
        if (c.text) {
            EXPECT_EQ(result.error().message, QString::fromUtf8(c.text));
        }
    }
    EXPECT_EQ(contents(a), "A");
}

TEST(FileOperations, RenameMovesAndNeverOverwritesAnExistingSibling)
{
    test::TempTree tree;
    const std::string a = tree.file("a.txt", "A");
    const std::string b = tree.file("b.txt", "B");
    const auto clash = FileOperations::rename(a, "b.txt");
    ASSERT_FALSE(clash);
    EXPECT_EQ(clash.error().code, Code::TargetExists);
    EXPECT_EQ(clash.error().message, QString::fromUtf8("已存在名为「b.txt」的项目。"));
    EXPECT_EQ(contents(a), "A");
    EXPECT_EQ(contents(b), "B");  // byte for byte

    tree.dir("folder/inner");
    EXPECT_EQ(FileOperations::rename(tree.path("folder"), "b.txt").error().code, Code::TargetExists);

    const auto moved = FileOperations::rename(a, "报告 c.txt");
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, tree.path("报告 c.txt"));
    EXPECT_EQ(contents(*moved), "A");
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(FileOperations::rename(a, "d.txt").error().code, Code::FileMissing);
}

TEST(FileOperations, DuplicateNamesFollowTheCopyPattern)
{
    EXPECT_EQ(FileOperations::duplicateName("报告.pdf", 1), "报告 副本.pdf");
    EXPECT_EQ(FileOperations::duplicateName("报告.pdf", 2), "报告 副本 2.pdf");
    EXPECT_EQ(FileOperations::duplicateName("a.tar.gz", 1), "a.tar 副本.gz");
    EXPECT_EQ(FileOperations::duplicateName("README", 3), "README 副本 3");
    EXPECT_EQ(FileOperations::duplicateName("照片", 1), "照片 副本");
}

TEST(FileOperations, DuplicateTakesTheNextFreeNameAndLeavesExistingCopiesAlone)
{
    test::TempTree tree;
    const std::string a = tree.file("a.txt", "original");
    const auto first = FileOperations::duplicate(a);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, tree.path("a 副本.txt"));
    EXPECT_EQ(contents(*first), "original");

    std::ofstream(*first, std::ios::trunc) << "edited copy";
    const auto second = FileOperations::duplicate(a);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, tree.path("a 副本 2.txt"));
    EXPECT_EQ(contents(*first), "edited copy");  // never overwritten
    EXPECT_EQ(contents(*second), "original");
}

TEST(FileOperations, DuplicateCopiesAFolderIntoANewNameNeverMerging)
{
    test::TempTree tree;
    tree.file("照片/1.jpg", "one");
    tree.file("照片/sub/2.jpg", "two");
    tree.symlink("照片/link", "1.jpg");
    tree.file("照片 副本/keep.txt", "someone else's");
    const auto copy = FileOperations::duplicate(tree.path("照片"));
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, tree.path("照片 副本 2"));
    EXPECT_EQ(contents(*copy + "/1.jpg"), "one");
    EXPECT_EQ(contents(*copy + "/sub/2.jpg"), "two");
    EXPECT_TRUE(fs::is_symlink(*copy + "/link"));
    EXPECT_FALSE(fs::exists(tree.path("照片 副本/1.jpg")));  // the existing folder got nothing
    EXPECT_EQ(contents(tree.path("照片 副本/keep.txt")), "someone else's");
}

TEST(FileOperations, DuplicateOfAMissingItemReportsItMissing)
{
    test::TempTree tree;
    const auto result = FileOperations::duplicate(tree.path("gone.txt"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, Code::FileMissing);
    EXPECT_EQ(result.error().message, QString::fromUtf8("找不到该项目，可能已被移动或删除。"));
}

TEST(FileOperations, AFailedFolderCopyLeavesNoPartialCopy)
{
    test::TempTree tree;
    tree.file("d/first.txt", "copied before the failure");
    // A file whose path fits, but not once the folder's name grows by " 副本".
    std::string deep = tree.path("d");
    while (deep.size() + 250 < 4080)
        deep += "/" + std::string(200, 'n');
    fs::create_directories(deep);
    const std::string leaf = deep + "/" + std::string(4094 - deep.size() - 1, 'f');
    ASSERT_EQ(leaf.size(), 4094u);
    std::ofstream(leaf) << "x";
    ASSERT_TRUE(fs::exists(leaf));
    const auto result = FileOperations::duplicate(tree.path("d"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, Code::Underlying);
    EXPECT_FALSE(fs::exists(tree.path("d 副本")));
}

TEST(FileOperations, DuplicatingAPipeOrSocketIsRefusedAndCreatesNothing)
{
    test::TempTree tree;
    const test::SpecialFiles special = test::makeSpecialFiles(tree);
    const struct {
        std::string path;
        QString message;
    } cases[] = {{special.pipes[0], "「x.jpg」是命名管道，没有可复制的内容。"},
                 {special.pipes[3], "「x」是命名管道，没有可复制的内容。"},
                 {special.socket, "「sock.png」是套接字，没有可复制的内容。"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto copy = FileOperations::duplicate(c.path);
        ASSERT_FALSE(copy.has_value());
        EXPECT_EQ(copy.error().code, Code::Underlying);
        EXPECT_EQ(copy.error().message, c.message);
    }
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(tree.root())) {
        EXPECT_EQ(entry.path().filename().string().find("副本"), std::string::npos) << entry.path();
        ++entries;
    }
    EXPECT_EQ(entries, special.all().size());
    // A link to a device is copied as the link it is, never read through.
    const auto link = FileOperations::duplicate(special.devices[0]);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(fs::read_symlink(*link), "/dev/zero");
}

} // namespace
} // namespace pallix
