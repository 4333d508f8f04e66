#include "App/SafeMove.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Core/Models/IndexedItem.h"

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

bool writeAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// Copies the bytes of `in` to `out`, then checks that both have the same size.
int copyContents(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        if (!writeAll(out, buffer, got))
            return errno ? errno : EIO;
    }
    if (::fsync(out) != 0)
        return errno;
    struct stat a {}, b {};
    if (::fstat(in, &a) != 0 || ::fstat(out, &b) != 0)
        return errno;
    return a.st_size == b.st_size ? 0 : EIO;
}

// Creates `target` exclusively and copies the file into it; a failed copy is removed.
int copyFileExclusive(const std::string& source, const std::string& target, mode_t mode)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = copyContents(in, out);
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    if (error != 0)
        ::unlink(target.c_str());
    return error;
}

struct TreeTotals {
    std::uintmax_t entries = 0;
    std::uintmax_t bytes = 0;
    friend bool operator==(const TreeTotals&, const TreeTotals&) = default;
};

TreeTotals totalsOf(const std::string& root, std::error_code& ec)
{
    TreeTotals totals;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        ++totals.entries;
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            totals.bytes += it->file_size(ec);
    }
    return totals;
}

// Creates `target` exclusively and copies the tree into it; a failed copy is removed.
int copyDirectoryExclusive(const std::string& source, const std::string& target, mode_t mode)
{
    if (::mkdir(target.c_str(), (mode & 07777) | S_IRWXU) != 0)
        return errno;
    std::error_code ec;
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    std::error_code countError;
    const bool complete = !ec && totalsOf(source, countError) == totalsOf(target, countError) && !countError;
    if (complete)
        return 0;
    std::error_code ignored;
    fs::remove_all(target, ignored);
    return ec ? ec.value() : (countError ? countError.value() : EIO);
}

int copySymlinkExclusive(const std::string& source, const std::string& target)
{
    std::error_code ec;
    const fs::path link = fs::read_symlink(source, ec);
    if (ec)
        return ec.value();
    return ::symlink(link.c_str(), target.c_str()) == 0 ? 0 : errno;
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

SafeMove::SafeMove(RenameNoReplace rename) : m_rename(rename ? std::move(rename) : RenameNoReplace(systemRenameNoReplace))
{
}

int SafeMove::systemRenameNoReplace(const std::string& from, const std::string& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
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
    const std::string from = paths::standardize(source);
    const std::string into = paths::standardize(directory);
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
        return copyToFreeName(from, into, name);
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
    Outcome outcome = tryFreeNames(directory, name, [&](const std::string& target) {
        if (S_ISLNK(info.st_mode))
            return copySymlinkExclusive(source, target);
        if (isDirectory)
            return copyDirectoryExclusive(source, target, info.st_mode);
        if (S_ISREG(info.st_mode))
            return copyFileExclusive(source, target, info.st_mode);
        return ENOTSUP;
    });
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
