#include "App/Actions/SafeMove.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/Actions/FileOperations.h"
#include "Core/Models/IndexedItem.h"
#include "Platform/FileNames.h"

namespace fs = std::filesystem;

namespace pallix {

namespace {

std::string errorText(int error)
{
    return std::system_category().message(error);
}

SafeMove::Outcome stayed(std::string error)
{
    return {false, {}, std::move(error)};
}

// The candidate names in the order they are tried: the name itself, then 2…999.
template <typename Attempt>
SafeMove::Outcome tryFreeNames(const std::string& directory, std::string_view name, Attempt attempt)
{
    const std::string prefix = directory == "/" ? "/" : directory + "/";
    for (int n = SafeMove::kFirstClashNumber - 1; n <= SafeMove::kLastClashNumber; ++n) {
        const std::string target = prefix + (n < SafeMove::kFirstClashNumber ? std::string(name)
                                                                               : SafeMove::clashName(name, n));
        const int error = attempt(target);
        if (error == 0)
            return {true, target, {}};
        if (error != EEXIST)
            return stayed(errorText(error));
    }
    return stayed(errorText(EEXIST));
}

struct TreeTotals {
    std::uintmax_t entries = 0;
    std::uintmax_t bytes = 0;
    friend bool operator==(const TreeTotals&, const TreeTotals&) = default;
};

// What a copy must hold: files with their sizes, folders and links. Sockets,
// pipes and devices hold no content and are not copied, so not counted.
TreeTotals totalsOf(const std::string& root, std::error_code& ec)
{
    TreeTotals totals;
    const auto count = [&](const fs::file_status& status, const fs::path& path) {
        if (fs::is_symlink(status) || fs::is_directory(status)) {
            ++totals.entries;
        } else if (fs::is_regular_file(status)) {
            ++totals.entries;
            totals.bytes += fs::file_size(path, ec);
        }
    };
    count(fs::symlink_status(root, ec), root);
    if (!fs::is_directory(fs::symlink_status(root, ec)))
        return totals;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        count(it->symlink_status(ec), it->path());
    return totals;
}

bool isCopyable(const fs::file_status& status)
{
    return fs::is_symlink(status) || fs::is_directory(status) || fs::is_regular_file(status);
}

// The entries at or under `root` that hold no content to copy (pipes,
// sockets, devices), relative to root's folder: a move would lose them.
std::vector<std::string> uncopyableEntries(const std::string& root)
{
    std::vector<std::string> found;
    const fs::path base = fs::path(root).parent_path();
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(root, ec);
    if (!isCopyable(status))
        found.push_back(fs::path(root).filename().string());
    if (!fs::is_directory(status))
        return found;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (!isCopyable(it->symlink_status(ec)))
            found.push_back(it->path().lexically_relative(base).string());
    return found;
}

std::string uncopyableMessage(const std::vector<std::string>& entries)
{
    constexpr std::size_t kNamed = 5;
    std::string names;
    for (std::size_t i = 0; i < entries.size() && i < kNamed; ++i)
        names += (i ? "、" : "") + entries[i];
    if (entries.size() > kNamed)
        names += " 等 " + std::to_string(entries.size()) + " 项";
    return "无法跨磁盘移动：管道、套接字或设备文件无法复制（" + names + "）";
}

// The copy's modes and times made the source's, as `mv` keeps them; the
// times last, once nothing more is created inside a folder. Best effort.
void keepModesAndTimes(const std::string& source, const std::string& target)
{
    const auto apply = [](const fs::path& from, const fs::path& to) {
        struct stat info {};
        if (::lstat(from.c_str(), &info) != 0)
            return;
        if (!S_ISLNK(info.st_mode))
            ::chmod(to.c_str(), info.st_mode & 07777);
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
    };
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(source, ec)))
        for (auto it = fs::recursive_directory_iterator(source, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            apply(it->path(), fs::path(target) / it->path().lexically_relative(source));
    apply(source, target);
}

// Copies to `target`, a name nothing holds yet, and checks the copy; a copy
// that failed or came out short is removed again.
int copyChecked(const std::string& source, const std::string& target)
{
    bool created = false;
    int error = FileOperations::copyEntry(source, target, created);
    if (error == 0) {
        std::error_code ec;
        const bool complete = totalsOf(source, ec) == totalsOf(target, ec) && !ec;
        error = complete ? 0 : (ec ? ec.value() : EIO);
    }
    if (error == 0)
        keepModesAndTimes(source, target);
    if (error != 0 && created) {
        std::error_code ignored;
        fs::remove_all(target, ignored);
    }
    return error;
}

int removeSource(const std::string& source, bool isDirectory)
{
    if (!isDirectory)
        return ::unlink(source.c_str()) == 0 ? 0 : errno;
    std::error_code ec;
    fs::remove_all(source, ec);
    return ec.value();
}

} // namespace

SafeMove::SafeMove(RenameNoReplace rename)
    : m_rename(rename ? std::move(rename) : RenameNoReplace(FileOperations::renameNoReplace))
{
}

std::string SafeMove::clashName(std::string_view name, int number)
{
    const std::string_view ext = paths::extension(name);
    std::string base(ext.empty() ? name : paths::deletingExtension(name));
    base += ' ' + std::to_string(number);
    if (!ext.empty())
        base.append(".").append(ext);
    return base;
}

SafeMove::Outcome SafeMove::moveInto(const std::string& source, const std::string& directory) const
{
    // The system's bytes from here on; the target goes back as its stored path.
    const std::string from = filenames::toFileSystem(paths::standardize(source));
    const std::string into = filenames::toFileSystem(paths::standardize(directory));
    std::error_code ec;
    // Resolved, so that a link to the folder does not hide the loop; the
    // rename would refuse it too, but the copy across disks would recurse.
    if (paths::isUnder(fs::weakly_canonical(into, ec).string(), fs::weakly_canonical(from, ec).string()))
        return stayed("不能把文件夹移到它自己里面");
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return stayed(errorText(errno));
    const std::string_view name = paths::lastComponent(from);
    Outcome outcome = renameToFreeName(from, into, name);
    if (!outcome.moved && outcome.error == errorText(EXDEV))
        outcome = copyToFreeName(from, into, name);
    if (!outcome.target.empty())
        outcome.target = filenames::fromFileSystem(outcome.target);
    return outcome;
}

SafeMove::Outcome SafeMove::renameToFreeName(const std::string& source, const std::string& directory,
                                             std::string_view name) const
{
    return tryFreeNames(directory, name, [&](const std::string& target) { return m_rename(source, target); });
}

SafeMove::Outcome SafeMove::copyToFreeName(const std::string& source, const std::string& directory,
                                           std::string_view name) const
{
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0)
        return stayed(errorText(errno));
    const bool isDirectory = S_ISDIR(info.st_mode);
    // Refused before anything is copied or removed.
    if (const auto lost = uncopyableEntries(source); !lost.empty())
        return stayed(uncopyableMessage(lost));
    Outcome outcome = tryFreeNames(directory, name,
                                   [&](const std::string& target) { return copyChecked(source, target); });
    if (!outcome.moved)
        return outcome;
    if (const int error = removeSource(source, isDirectory); error != 0) {
        // A file whose source cannot go would exist twice: take the copy back.
        // A folder may already be partly gone: its verified copy must stay.
        if (!isDirectory)
            ::unlink(outcome.target.c_str());
        return {false, isDirectory ? outcome.target : std::string(), errorText(error)};
    }
    return outcome;
}

} // namespace pallix
