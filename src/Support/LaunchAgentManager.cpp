#include "Support/LaunchAgentManager.h"

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/Defaults.h"

namespace pallix {

namespace {

constexpr std::string_view kApplicationName = "珀溪";

std::string errnoText(int error)
{
    return std::system_category().message(error);
}

std::optional<std::filesystem::path> homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found
        && found->pw_dir && *found->pw_dir)
        return std::filesystem::path(found->pw_dir);
    return std::nullopt;
}

std::optional<std::filesystem::path> configHome()
{
    // The base-directory rules ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg);
    if (auto home = homeFolder())
        return *home / ".config";
    return std::nullopt;
}

LaunchAgentError error(LaunchAgentError::Code code, std::string message)
{
    return {code, std::move(message)};
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Temporary file beside the target, then rename: a reader (or a crash) never
// sees half an entry.
std::optional<LaunchAgentError> writeAtomically(const std::filesystem::path& file, std::string_view contents)
{
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    const auto failure = [&](int err) {
        return error(LaunchAgentError::Code::WriteFailed,
                     "无法写入登录启动项「" + file.string() + "」：" + errnoText(err));
    };
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return failure(errno);
    const bool written = ::fchmod(fd, 0644) == 0 && writeAll(fd, contents) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const int err = written ? errno : writeErrno;
        ::unlink(temporary.c_str());
        return failure(err);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(temporary.c_str());
        return failure(err);
    }
    return std::nullopt;
}

// A link made under a temporary name, then renamed over the entry.
std::optional<LaunchAgentError> linkAtomically(const std::filesystem::path& file, const std::filesystem::path& target)
{
    const std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".link")).string();
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(temporary.c_str());
        return error(LaunchAgentError::Code::WriteFailed,
                     "无法写入登录启动项「" + file.string() + "」：" + errnoText(err));
    }
    return std::nullopt;
}

} // namespace

LaunchAgentManager::LaunchAgentManager(std::string identifier)
    : m_identifier(std::move(identifier))
{
    assert(!m_identifier.empty() && m_identifier.find('/') == std::string::npos);
}

std::optional<std::filesystem::path> LaunchAgentManager::launchAgentPath() const
{
    auto config = configHome();
    if (!config)
        return std::nullopt;
    return *config / "autostart" / (m_identifier + ".desktop");
}

std::optional<LaunchAgentError> LaunchAgentManager::sync(bool enabled, const std::string& executablePath) const
{
    const auto file = launchAgentPath();
    if (!file)
        return error(LaunchAgentError::Code::NoConfigFolder, "无法设置登录时启动：找不到用户的配置文件夹。");
    // An entry under the identifier of earlier builds would start a second copy at login.
    if (const auto earlier = Defaults::earlierIdentifier(m_identifier))
        ::unlink((file->parent_path() / (*earlier + ".desktop")).c_str());

    if (!enabled) {
        if (::unlink(file->c_str()) != 0 && errno != ENOENT)
            return error(LaunchAgentError::Code::RemoveFailed,
                         "无法删除登录启动项「" + file->string() + "」：" + errnoText(errno));
        return std::nullopt;
    }

    // A relative path (a first command-line argument such as "./pallix") would
    // be resolved against whatever folder the session starts entries in.
    if (executablePath.empty() || executablePath.front() != '/')
        return error(LaunchAgentError::Code::RelativeExecutablePath,
                     "无法设置登录时启动：程序路径「" + executablePath + "」不是绝对路径。");

    std::error_code ec;
    std::filesystem::create_directories(file->parent_path(), ec);
    if (ec)
        return error(LaunchAgentError::Code::CreateFolderFailed,
                     "无法创建文件夹「" + file->parent_path().string() + "」：" + ec.message());

    if (const auto launcher = installedLauncher(executablePath))
        return linkAtomically(*file, *launcher);
    return writeAtomically(*file, desktopEntry(executablePath));
}

std::optional<std::filesystem::path> LaunchAgentManager::installedLauncher(const std::string& executablePath) const
{
    const std::filesystem::path program(executablePath);
    if (!program.is_absolute() || program.parent_path().filename() != "bin")
        return std::nullopt;
    const auto launcher =
        program.parent_path().parent_path() / "share" / "applications" / (m_identifier + ".desktop");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(launcher, ec))
        return std::nullopt;
    return launcher;
}

std::string LaunchAgentManager::desktopEntry(const std::string& executablePath)
{
    std::string entry = "[Desktop Entry]\nType=Application\nName=";
    entry += kApplicationName;
    entry += "\nExec=" + quotedExecArgument(executablePath) + "\nTerminal=false\n";
    return entry;
}

std::string LaunchAgentManager::quotedExecArgument(std::string_view argument)
{
    // Step 1, the Exec quoting: a double-quoted argument in which a backslash
    // precedes each ", `, $ and backslash; % marks field codes and is doubled.
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';

    // Step 2, the string-value escaping the key file undoes first, so a literal
    // backslash ends up as four.
    std::string escaped;
    escaped.reserve(quoted.size());
    for (const char c : quoted) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '\n': escaped += "\\n"; break;
        case '\t': escaped += "\\t"; break;
        case '\r': escaped += "\\r"; break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

std::string LaunchAgentManager::runningExecutablePath()
{
    std::error_code ec;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec)
        return {};
    // A binary replaced on disk while running (a package upgrade) reads as
    // "<path> (deleted)"; the new file at <path> is the one to start next time.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)
        && !std::filesystem::exists(path, ec))
        path.resize(path.size() - kDeleted.size());
    return path;
}

} // namespace pallix
