#include "App/Preview/RegularFile.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

#include <gtest/gtest.h>

#include "Platform/SpecialFiles.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

using Type = RegularFile::Type;

TEST(RegularFile, OnlyRegularFilesOpenAndNoOtherEntryIsWaitedOn)
{
    test::TempTree tree;
    const test::SpecialFiles special = test::makeSpecialFiles(tree);
    const std::string text = tree.file("a.txt", "hello");
    const std::string link = tree.symlink("link.txt", text);
    const std::string folder = tree.dir("folder");
    const std::string dangling = tree.symlink("gone.jpg", tree.path("nothing"));

    const struct {
        std::string path;
        Type type;
        QString name;
    } cases[] = {
        {special.pipes[0], Type::Fifo, "命名管道"},   {special.pipes[1], Type::Fifo, "命名管道"},
        {special.pipes[2], Type::Fifo, "命名管道"},   {special.pipes[3], Type::Fifo, "命名管道"},
        {special.socket, Type::Socket, "套接字"},     {special.devices[0], Type::Device, "设备文件"},
        {special.devices[1], Type::Device, "设备文件"}, {folder, Type::Directory, ""},
        {dangling, Type::Missing, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(RegularFile::typeOf(c.path), c.type);
        EXPECT_EQ(RegularFile::typeName(c.type), c.name);
        int fd = 0;
        Type found = Type::Regular;
        // A pipe without a writer would hold a blocking open for ever.
        ASSERT_TRUE(test::returnsWithin([&] { fd = RegularFile::openForReading(c.path, &found); }));
        EXPECT_EQ(fd, -1);
        EXPECT_EQ(found, c.type);
        QFile file;
        EXPECT_FALSE(RegularFile::open(file, QString::fromStdString(c.path)));
        EXPECT_FALSE(file.isOpen());
    }

    for (const std::string& path : {text, link}) {
        SCOPED_TRACE(path);
        QFile file;
        Type found = Type::Missing;
        ASSERT_TRUE(RegularFile::open(file, QString::fromStdString(path), &found));
        EXPECT_EQ(found, Type::Regular);
        EXPECT_EQ(file.readAll(), "hello");
        EXPECT_EQ(::fcntl(file.handle(), F_GETFL) & O_NONBLOCK, 0);  // an ordinary descriptor for the reader
        EXPECT_NE(::fcntl(file.handle(), F_GETFD) & FD_CLOEXEC, 0);
    }

    // Refusing links: the link fails, its target opens.
    errno = 0;
    EXPECT_EQ(RegularFile::openForReading(link, nullptr, RegularFile::Links::Refuse), -1);
    EXPECT_EQ(errno, ELOOP);
    const int fd = RegularFile::openForReading(text, nullptr, RegularFile::Links::Refuse);
    EXPECT_GE(fd, 0);
    ::close(fd);
    errno = 0;
    EXPECT_EQ(RegularFile::openForReading(special.pipes[0], nullptr, RegularFile::Links::Refuse), -1);
    EXPECT_EQ(errno, EINVAL);
}

} // namespace
} // namespace pallix
