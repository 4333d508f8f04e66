// The move to the trash on a real disk: long names that leave no room for
// the record's suffix, clashes, and failures that leave nothing behind.

#include "App/Actions/Trash.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Platform/TempTree.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Names of 246 to 255 bytes, Chinese characters cut nowhere, go to the
// trash with a record that fits and names the original path; a second item
// of the same name gets a numbered one. Nothing else appears in the trash.
TEST(Trash, LongNamesGoWithARecordThatFitsAndKeepsTheirPath)
{
    test::TempTree tree;
    const std::string trash = tree.path("data/Trash");
    std::vector<std::string> names;
    for (const std::size_t bytes : {246u, 250u, 255u}) {
        // "照" is 3 bytes: a mixed name whose cut must land between characters.
        std::string name = "x";
        while (name.size() + 3 <= bytes - 4)
            name += "照";
        name += std::string(bytes - 4 - name.size(), 'a') + ".txt";
        ASSERT_EQ(name.size(), bytes);
        names.push_back(name);
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name.size());
        for (const char* folder : {"one", "two"}) {
            const std::string path = tree.file(std::string(folder) + "/" + name, folder);
            const auto trashed = Trash::moveToTrash(path, trash);
            ASSERT_TRUE(trashed.has_value()) << trashed.error().message.toStdString();
            EXPECT_FALSE(fs::exists(path));
            EXPECT_EQ(contents(*trashed), folder);
            const std::string inTrash = fs::path(*trashed).filename().string();
            EXPECT_LE(inTrash.size() + std::string(".trashinfo").size(), 255u);
            EXPECT_TRUE(QString::fromStdString(inTrash).toStdString() == inTrash);  // whole UTF-8 characters
            EXPECT_TRUE(inTrash.ends_with(".txt"));
            const std::string record = contents(trash + "/info/" + inTrash + ".trashinfo");
            EXPECT_TRUE(record.starts_with("[Trash Info]\nPath=")) << record;
            EXPECT_NE(record.find("/" + std::string(folder) + "/x%E7%85%A7"), std::string::npos) << record;
            EXPECT_NE(record.find("\nDeletionDate="), std::string::npos);
        }
    }
    // Six items, six records, each record beside its item.
    const auto files = namesIn(trash + "/files");
    const auto infos = namesIn(trash + "/info");
    ASSERT_EQ(files.size(), 6u);
    ASSERT_EQ(infos.size(), 6u);
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(files[i] + ".trashinfo", infos[i]);
}

// An item that cannot leave its folder (the folder is append-only) fails
// with the system's reason, stays, and leaves no record in the trash.
TEST(Trash, AFailedMoveLeavesNoRecordAndAMissingItemSaysSo)
{
    test::TempTree tree;
    const std::string trash = tree.path("data/Trash");
    const auto missing = Trash::moveToTrash(tree.path("gone.txt"), trash);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().code, FileActionError::Code::FileMissing);

    // An append-only folder refuses every rename out of it, also root's.
    const std::string path = tree.file("held/" + std::string(250, 'n') + ".txt", "stay");
    const int fd = ::open(tree.path("held").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    int flags = FS_APPEND_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a folder append-only here";
    }
    const auto trashed = Trash::moveToTrash(path, trash);
    flags = 0;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    ASSERT_FALSE(trashed.has_value());
    EXPECT_FALSE(trashed.error().message.isEmpty());
    EXPECT_EQ(contents(path), "stay");
    EXPECT_TRUE(namesIn(trash + "/info").empty());
}

TEST(Trash, TrashedNamesAreCutBetweenCharactersAndNumbered)
{
    EXPECT_EQ(Trash::trashedName("a.txt", 1), "a.txt");
    EXPECT_EQ(Trash::trashedName("a.txt", 2), "a 2.txt");
    EXPECT_EQ(Trash::trashedName("archive", 3), "archive 3");
    // 237 bytes of the stem fit beside " 12.jpeg": they end inside "片".
    const std::string longName = std::string(232, 'b') + "照片.jpeg";
    const std::string cut = Trash::trashedName(longName, 12);
    EXPECT_EQ(cut, std::string(232, 'b') + "照 12.jpeg");
}

// A name that is not UTF-8 goes by its bytes, with its place recorded
// percent-encoded; the same name again is numbered, never overwritten.
TEST(Trash, ANameOfAnyBytesGoesWithItsPlaceRecordedAndNothingIsOverwritten)
{
    test::TempTree tree;
    const std::string trash = tree.path("data/Trash");
    const std::string first = tree.file("a/\xB9\xFA report.txt", "one");
    const std::string second = tree.file("b/\xB9\xFA report.txt", "two");
    ASSERT_TRUE(Trash::moveToTrash(first, trash).has_value());
    const auto again = Trash::moveToTrash(second, trash);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, trash + "/files/\xB9\xFA report 2.txt");
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(contents(trash + "/files/\xB9\xFA report.txt"), "one");
    EXPECT_EQ(contents(*again), "two");
    const std::string info = contents(trash + "/info/\xB9\xFA report 2.txt.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + tree.root() + "/b/%B9%FA%20report.txt\nDeletionDate=", 0), 0u) << info;
}

} // namespace
} // namespace pallix
