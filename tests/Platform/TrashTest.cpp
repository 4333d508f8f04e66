#include "Platform/Trash.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "Platform/TempTree.h"

namespace pallix {
namespace {

using test::TempTree;

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The home trash inside the test's own tree, so nothing reaches the user's.
class TrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_DATA_HOME"))
            m_previous = old;
        ::setenv("XDG_DATA_HOME", m_tree.dir("data").c_str(), 1);
    }
    void TearDown() override
    {
        if (m_previous)
            ::setenv("XDG_DATA_HOME", m_previous->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }
    std::string trash(std::string_view relative) const { return m_tree.path("data/Trash/" + std::string(relative)); }

    TempTree m_tree;
    std::optional<std::string> m_previous;
};

TEST_F(TrashTest, TheEntryMovesInWithItsPlaceRecordedAndNothingIsOverwritten)
{
    const std::string first = m_tree.file("a/\xB9\xFA report.txt", "one");
    const std::string second = m_tree.file("b/\xB9\xFA report.txt", "two");
    ASSERT_EQ(trash::moveToTrash(first), 0);
    ASSERT_EQ(trash::moveToTrash(second), 0);  // the same name again: numbered
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_EQ(contents(trash("files/\xB9\xFA report.txt")), "one");
    EXPECT_EQ(contents(trash("files/\xB9\xFA report.txt.2")), "two");
    const std::string info = contents(trash("info/\xB9\xFA report.txt.2.trashinfo"));
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + m_tree.root() + "/b/%B9%FA%20report.txt\nDeletionDate=", 0), 0u) << info;
    EXPECT_EQ(info.size(), std::string("[Trash Info]\nPath=\nDeletionDate=2026-01-01T00:00:00\n").size()
                               + m_tree.root().size() + std::string("/b/%B9%FA%20report.txt").size());

    // A folder goes whole; a missing entry fails and leaves no info file behind.
    m_tree.file("c/inner/x.txt", "x");
    ASSERT_EQ(trash::moveToTrash(m_tree.path("c")), 0);
    EXPECT_EQ(contents(trash("files/c/inner/x.txt")), "x");
    EXPECT_EQ(trash::moveToTrash(m_tree.path("missing")), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(trash("info/missing.trashinfo")));
    EXPECT_EQ(trash::moveToTrash("relative/path"), EINVAL);
}

} // namespace
} // namespace pallix
