#pragma once
// LaunchAgentManager: carries out "launch at login" with the user's XDG
// autostart entry, "$XDG_CONFIG_HOME/autostart/<identifier>.desktop". On, for
// an installed program (its launcher in <prefix>/share/applications beside
// <prefix>/bin), the entry is a link to that launcher; otherwise it writes an
// entry of its own. Either replaces an older entry atomically, so each
// start-up brings it up to date; off removes it. Nothing is started or
// stopped now: the session reads the entry at the next login. Failures come
// back as values with a message for the status line. Called on the GUI thread;
// the file operations are small and synchronous.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pallix {

struct LaunchAgentError {
    enum class Code { RelativeExecutablePath, NoConfigFolder, CreateFolderFailed, WriteFailed, RemoveFailed, Count };
    Code code;
    std::string message;  // Chinese, for the user
};

class LaunchAgentManager {
public:
    // `identifier`: the application's reverse-DNS identifier, the entry's file name.
    explicit LaunchAgentManager(std::string identifier);

    const std::string& identifier() const { return m_identifier; }

    // Writes (enabled) or removes (not enabled) the entry. `executablePath` must
    // be absolute: the session starts the entry from an unknown folder. It goes
    // into the entry as given, unresolved and untested. nullopt on success;
    // on an error the steps after the failed one do not run.
    std::optional<LaunchAgentError> sync(bool enabled, const std::string& executablePath) const;

    // Where the entry lives, from the environment at the time of the call;
    // nullopt when neither XDG_CONFIG_HOME nor a home folder is known.
    std::optional<std::filesystem::path> launchAgentPath() const;

    // The whole entry for `executablePath`.
    static std::string desktopEntry(const std::string& executablePath);
    // The launcher `make install` put beside an installed `executablePath`
    // (<prefix>/bin/x gives <prefix>/share/applications/<identifier>.desktop);
    // nullopt when there is none.
    std::optional<std::filesystem::path> installedLauncher(const std::string& executablePath) const;
    // One Exec argument, quoted by the Desktop Entry rules and then escaped as a
    // string value, so that the session's launcher reads back exactly `argument`.
    static std::string quotedExecArgument(std::string_view argument);
    // The running program's absolute path (/proc/self/exe); empty when unreadable.
    static std::string runningExecutablePath();

private:
    std::string m_identifier;
};

} // namespace pallix
