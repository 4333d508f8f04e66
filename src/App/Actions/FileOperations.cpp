#include "App/Actions/FileOperations.h"

#include <cerrno>
#include <string_view>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "App/Paths/ShownNames.h"
#include "App/Paths/SystemPaths.h"
#include "Core/Models/IndexedItem.h"
#include "App/Preview/RegularFile.h"
#include "Platform/DirectoryWalker.h"
#include "Platform/FileNames.h"

namespace pallix::FileOperations {

namespace {

using Result = Expected<std::string, FileActionError>;

Unexpected<FileActionError> failure(FileActionError error)
{
    return Unexpected<FileActionError>(std::move(error));
}

std::string parentOf(const std::string& path)
{
    const std::string_view parent = paths::deletingLastComponent(path);
    return parent == "/" ? std::string() : std::string(parent);
}

} // namespace

int renameNoReplace(const std::string& from, const std::string& to)
{
    return renameWithoutReplacing(from, to);
}

int copyBytes(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR)
                return errno;
            done += w < 0 ? 0 : w;
        }
    }
}

int copyEntry(const std::string& from, const std::string& to, bool& created);

namespace {

int copyFile(const std::string& from, const std::string& to, mode_t mode, bool& created)
{
    // Checked again on the descriptor: an entry swapped for a pipe since it
    // was listed is refused, not waited on.
    const int in = RegularFile::openForReading(from, nullptr, RegularFile::Links::Refuse);
    if (in < 0)
        return errno;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    created = true;
    int error = copyBytes(in, out);
    if (::close(out) != 0 && !error)
        error = errno;
    ::close(in);
    return error;
}

int copyFolder(const std::string& from, const std::string& to, mode_t mode, bool& created)
{
    // A new folder only: mkdir fails on an existing name, so two folders are
    // never merged.
    if (::mkdir(to.c_str(), (mode & 07777) | S_IRWXU) != 0)
        return errno;
    created = true;
    int error = 0;
    const UniqueFd dir = openDirectory(AT_FDCWD, from.c_str(), error);
    if (!dir.valid())
        return error;
    int copyError = 0;
    const int listError = DirectoryReader(dir.get()).forEach([&](const char* name, unsigned char) {
        bool inner = false;
        if (copyError == 0)
            copyError = copyEntry(from + "/" + name, to + "/" + name, inner);
    });
    ::chmod(to.c_str(), mode & 07777);
    return copyError ? copyError : listError;
}

int copySymlink(const std::string& from, const std::string& to, bool& created)
{
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
    if (n < 0)
        return errno;
    target.resize(static_cast<size_t>(n));
    if (::symlink(target.c_str(), to.c_str()) != 0)
        return errno;
    created = true;
    return 0;
}

} // namespace

int copyEntry(const std::string& from, const std::string& to, bool& created)
{
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return copyFolder(from, to, st.st_mode, created);
    if (S_ISLNK(st.st_mode))
        return copySymlink(from, to, created);
    if (S_ISREG(st.st_mode))
        return copyFile(from, to, st.st_mode, created);
    return 0;  // inside a folder, sockets, pipes and devices are left out: they hold no content
}

Result rename(const std::string& sourcePath, const QString& newName)
{
    if (newName.isEmpty())
        return failure(FileActionError::emptyName());
    if (newName.contains(u'/') || newName.contains(QChar(0)) || newName == u"." || newName == u"..")
        return failure(FileActionError::invalidNameCharacter());
    const std::string destination = parentOf(sourcePath) + "/" + newName.toStdString();
    if (destination == sourcePath)
        return failure(FileActionError::sameName());
    const std::string from = filenames::toFileSystem(sourcePath);
    const std::string to = filenames::toFileSystem(destination);
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return failure(errno == ENOENT ? FileActionError::fileMissing() : FileActionError::fromErrno(errno));
    if (const int error = renameNoReplace(from, to)) {
        if (error == EEXIST || error == ENOTEMPTY)
            return failure(FileActionError::targetExists(shownnames::marked(newName)));
        return failure(FileActionError::fromErrno(error));
    }
    return filenames::fromFileSystem(to);
}

std::string duplicateName(const std::string& name, int n)
{
    const std::string_view extension = paths::extension(name);
    const std::string base = extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
    std::string candidate = base + " 副本";
    if (n >= 2)
        candidate += " " + std::to_string(n);
    if (!extension.empty())
        candidate += "." + std::string(extension);
    return candidate;
}

Result duplicate(const std::string& sourcePath)
{
    struct stat st {};
    const std::string source = filenames::toFileSystem(sourcePath);
    if (::lstat(source.c_str(), &st) != 0)
        return failure(errno == ENOENT ? FileActionError::fileMissing() : FileActionError::fromErrno(errno));
    const std::string folder = parentOf(sourcePath);
    const std::string name(paths::lastComponent(sourcePath));
    // A pipe, socket or device holds no content to copy: copying would
    // create nothing, and saying "done" then would be untrue.
    if (const RegularFile::Type type = RegularFile::typeOfMode(st.st_mode); RegularFile::isSpecial(type)) {
        return failure(FileActionError::underlying(QStringLiteral("「%1」是%2，没有可复制的内容。")
                                                       .arg(shownnames::shown(name), RegularFile::typeName(type))));
    }
    constexpr int kMaxAttempts = 10000;
    for (int n = 1; n <= kMaxAttempts; ++n) {
        const std::string candidate = filenames::toFileSystem(folder + "/" + duplicateName(name, n));
        bool created = false;
        const int error = copyEntry(source, candidate, created);
        if (error == 0)
            return filenames::fromFileSystem(candidate);
        if (created) {
            // Only what this call made goes: the name was free until then.
            std::error_code ignored;
            std::filesystem::remove_all(candidate, ignored);
        }
        if (created || error != EEXIST || n == kMaxAttempts)
            return failure(FileActionError::fromErrno(error));
    }
    return failure(FileActionError::fromErrno(EEXIST));
}

} // namespace pallix::FileOperations
