#include "Platform/PrivateFiles.h"

#include <cerrno>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pallix::privatefiles {

namespace fs = std::filesystem;

std::error_code createFolder(const fs::path& folder)
{
    if (folder.empty())
        return {};
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? std::error_code() : std::make_error_code(std::errc::not_a_directory);
    if (folder.has_parent_path() && folder.parent_path() != folder)
        if (std::error_code ec = createFolder(folder.parent_path()))
            return ec;
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST)
        return {errno, std::generic_category()};
    return {};
}

std::error_code createFile(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0)
        return errno == EEXIST ? std::error_code() : std::error_code(errno, std::generic_category());
    ::close(fd);
    return {};
}

std::string foreignOwnerRefusal(const fs::path& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || st.st_uid == ::geteuid())
        return {};
    return "文件夹 " + folder.string() + " 属于其他用户（uid " + std::to_string(st.st_uid) +
           "），为防他人读取或替换其中的文件，已拒绝使用";
}

namespace {

int repairEntry(const char* path, const struct stat* st, int type, struct FTW*)
{
    if (st->st_uid != ::geteuid() || (st->st_mode & 077) == 0)
        return 0;
    if (type == FTW_D || type == FTW_DNR)
        ::chmod(path, kFolderMode);
    else if (type == FTW_F && S_ISREG(st->st_mode))
        ::chmod(path, kFileMode);
    return 0;
}

} // namespace

void repairModes(const fs::path& folder)
{
    // Folders come before what they hold, so each is closed before its files are seen.
    ::nftw(folder.c_str(), repairEntry, 16, FTW_PHYS);
}

} // namespace pallix::privatefiles
