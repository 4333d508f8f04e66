#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Support/LaunchAgentManager.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;

// Reads an Exec value back the way a session's launcher does: the key file's
// string escapes first, then the double-quoted argument, then field codes.
std::optional<std::string> parseQuotedExec(const std::string& value)
{
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            unescaped += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's': unescaped += ' '; break;
        case 'n': unescaped += '\n'; break;
        case 't': unescaped += '\t'; break;
        case 'r': unescaped += '\r'; break;
        case '\\': unescaped += '\\'; break;
        default: unescaped += '\\'; unescaped += next; break;
        }
    }
    if (unescaped.size() < 2 || unescaped.front() != '"' || unescaped.back() != '"')
        return std::nullopt;
    std::string argument;
    for (std::size_t i = 1; i + 1 < unescaped.size(); ++i) {
        char c = unescaped[i];
        if (c == '\\') {
            const char next = unescaped[++i];
            if (next != '"' && next != '`' && next != '$' && next != '\\')
                return std::nullopt;
            c = next;
        } else if (c == '"' || c == '`' || c == '$') {
            return std::nullopt;  // must have been escaped
        } else if (c == '%') {
            if (unescaped[++i] != '%')
                return std::nullopt;  // a field code would be expanded
        }
        argument += c;
    }
    return argument;
}

std::string readFile(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class LaunchAgentManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pallix-autostart-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        saveEnv("XDG_CONFIG_HOME", m_savedXdg);
        saveEnv("HOME", m_savedHome);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    }
    void TearDown() override
    {
        restoreEnv("XDG_CONFIG_HOME", m_savedXdg);
        restoreEnv("HOME", m_savedHome);
        fs::remove_all(m_dir);
    }

    fs::path entryPath() const { return m_dir / "config" / "autostart" / "io.pallix.test.desktop"; }

    fs::path m_dir;
    LaunchAgentManager m_manager{"io.pallix.test"};

private:
    static void saveEnv(const char* name, std::optional<std::string>& into)
    {
        if (const char* v = std::getenv(name))
            into = v;
    }
    static void restoreEnv(const char* name, const std::optional<std::string>& value)
    {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    std::optional<std::string> m_savedXdg;
    std::optional<std::string> m_savedHome;
};

TEST_F(LaunchAgentManagerTest, OffWithoutEntryDoesNothing)
{
    EXPECT_FALSE(m_manager.sync(false, "/usr/bin/pallix").has_value());
    EXPECT_FALSE(fs::exists(m_dir / "config"));
}

TEST_F(LaunchAgentManagerTest, OnWritesOffRemoves)
{
    ASSERT_FALSE(fs::exists(m_dir / "config" / "autostart"));
    ASSERT_FALSE(m_manager.sync(true, "/usr/bin/pallix").has_value());
    EXPECT_EQ(readFile(entryPath()),
              "[Desktop Entry]\nType=Application\nName=珀溪\nExec=\"/usr/bin/pallix\"\nTerminal=false\n");
    EXPECT_EQ(m_manager.launchAgentPath(), entryPath());

    // Again: same single file; a moved program replaces the path, and no temporary file is left.
    ASSERT_FALSE(m_manager.sync(true, "/usr/bin/pallix").has_value());
    ASSERT_FALSE(m_manager.sync(true, "/opt/pallix/bin/pallix").has_value());
    EXPECT_NE(readFile(entryPath()).find("Exec=\"/opt/pallix/bin/pallix\"\n"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(entryPath().parent_path()), fs::directory_iterator()), 1);

    ASSERT_FALSE(m_manager.sync(false, "/opt/pallix/bin/pallix").has_value());
    EXPECT_FALSE(fs::exists(entryPath()));
}

// An installed program starts at login through its own launcher, so the
// entry carries the launcher's name, icon and command as installed.
TEST_F(LaunchAgentManagerTest, AnInstalledProgramsEntryIsItsLauncher)
{
    const fs::path prefix = m_dir / "prefix";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share" / "applications");
    const fs::path launcher = prefix / "share" / "applications" / "io.pallix.test.desktop";
    std::ofstream(launcher) << "[Desktop Entry]\nType=Application\nName=珀溪\nExec=\"" << (prefix / "bin" / "pallix").string()
                            << "\"\nIcon=io.pallix.test\n";
    const std::string program = (prefix / "bin" / "pallix").string();
    EXPECT_EQ(m_manager.installedLauncher(program), launcher);
    EXPECT_FALSE(m_manager.installedLauncher((prefix / "pallix").string()).has_value());  // not in a bin folder
    EXPECT_FALSE(LaunchAgentManager("io.other").installedLauncher(program).has_value());

    ASSERT_FALSE(m_manager.sync(true, program).has_value());
    ASSERT_TRUE(fs::is_symlink(entryPath()));
    EXPECT_EQ(fs::read_symlink(entryPath()), launcher);
    ASSERT_FALSE(m_manager.sync(true, program).has_value());  // again: still the one link
    EXPECT_EQ(std::distance(fs::directory_iterator(entryPath().parent_path()), fs::directory_iterator()), 1);

    // The same program run from a build folder writes its own entry over the link.
    ASSERT_FALSE(m_manager.sync(true, "/work/build/pallix").has_value());
    EXPECT_FALSE(fs::is_symlink(entryPath()));
    EXPECT_NE(readFile(entryPath()).find("Exec=\"/work/build/pallix\""), std::string::npos);
    EXPECT_NE(readFile(launcher).find("Icon=io.pallix.test"), std::string::npos);  // the launcher untouched

    ASSERT_FALSE(m_manager.sync(true, program).has_value());
    ASSERT_FALSE(m_manager.sync(false, program).has_value());
    EXPECT_FALSE(fs::exists(fs::symlink_status(entryPath())));
    EXPECT_TRUE(fs::exists(launcher));
}

// Builds before the identifier lost its doubled ".desktop" left their entry
// under the earlier name: it goes, or login would start a second copy.
TEST_F(LaunchAgentManagerTest, TheEntryOfTheEarlierIdentifierIsRemoved)
{
    const fs::path autostart = m_dir / "config" / "autostart";
    fs::create_directories(autostart);
    const LaunchAgentManager manager("io.pallix.Pallix");
    for (const bool enabled : {true, false}) {
        std::ofstream(autostart / "io.pallix.desktop.desktop") << "[Desktop Entry]\n";
        std::ofstream(autostart / "other.desktop") << "[Desktop Entry]\n";
        ASSERT_FALSE(manager.sync(enabled, "/usr/bin/pallix").has_value());
        EXPECT_FALSE(fs::exists(autostart / "io.pallix.desktop.desktop"));
        EXPECT_TRUE(fs::exists(autostart / "other.desktop"));
        EXPECT_EQ(fs::exists(autostart / "io.pallix.Pallix.desktop"), enabled);
    }
}

TEST_F(LaunchAgentManagerTest, ExecReadsBackExactlyThePath)
{
    const char* paths[] = {
        "/opt/My Apps/pallix",
        "/opt/say \"hi\"/pallix",
        "/opt/back\\slash/pallix",
        "/opt/$HOME/pallix",
        "/opt/`id`/pallix",
        "/opt/100%/pallix %f",
        "/opt/tab\tnew\nline/pallix",
        "/opt/'single' & ; | < > ~ * ? # ( )/pallix",
        "/opt/珀溪 应用/pallix",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        ASSERT_FALSE(m_manager.sync(true, path).has_value());
        const auto text = readFile(entryPath());
        const auto start = text.find("\nExec=");
        ASSERT_NE(start, std::string::npos);
        const auto end = text.find('\n', start + 1);
        EXPECT_EQ(parseQuotedExec(text.substr(start + 6, end - start - 6)), path);
    }
    // Four backslashes for one, as the entry rules want for an unambiguous backslash.
    EXPECT_EQ(LaunchAgentManager::quotedExecArgument("/a\\b$c"), "\"/a\\\\\\\\b\\\\$c\"");
}

TEST_F(LaunchAgentManagerTest, RelativePathIsRefused)
{
    for (const char* path : {"./pallix", "pallix", ""}) {
        SCOPED_TRACE(path);
        const auto error = m_manager.sync(true, path);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code, LaunchAgentError::Code::RelativeExecutablePath);
        EXPECT_FALSE(error->message.empty());
        EXPECT_FALSE(fs::exists(entryPath()));
    }
}

TEST_F(LaunchAgentManagerTest, FailuresAreErrorValues)
{
    // The config folder is a file: the folder cannot be made and nothing is written.
    { std::ofstream(m_dir / "config") << "x"; }
    auto error = m_manager.sync(true, "/usr/bin/pallix");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, LaunchAgentError::Code::CreateFolderFailed);
    EXPECT_NE(error->message.find("无法创建文件夹"), std::string::npos);
    fs::remove(m_dir / "config");

    // A folder in the entry's place: neither written over nor removed.
    fs::create_directories(entryPath() / "keep");
    error = m_manager.sync(true, "/usr/bin/pallix");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, LaunchAgentError::Code::WriteFailed);
    EXPECT_NE(error->message.find(entryPath().string()), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(entryPath().parent_path()), fs::directory_iterator()), 1);
    error = m_manager.sync(false, "/usr/bin/pallix");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, LaunchAgentError::Code::RemoveFailed);
    EXPECT_TRUE(fs::exists(entryPath() / "keep"));
}

TEST_F(LaunchAgentManagerTest, ConfigFolderFallsBackToHome)
{
    setenv("HOME", (m_dir / "home").c_str(), 1);
    for (const char* xdg : {"", "relative/config"}) {
        SCOPED_TRACE(xdg);
        setenv("XDG_CONFIG_HOME", xdg, 1);
        EXPECT_EQ(m_manager.launchAgentPath(), m_dir / "home" / ".config" / "autostart" / "io.pallix.test.desktop");
    }
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_FALSE(m_manager.sync(true, "/usr/bin/pallix").has_value());
    EXPECT_TRUE(fs::exists(m_dir / "home" / ".config" / "autostart" / "io.pallix.test.desktop"));
}

TEST(LaunchAgentManager, RunningExecutableIsAbsolute)
{
    const auto path = LaunchAgentManager::runningExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(fs::exists(path));
}

} // namespace
} // namespace pallix
