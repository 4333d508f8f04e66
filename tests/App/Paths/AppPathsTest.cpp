#include "App/Paths/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/Defaults.h"
#include "Platform/PrivateFiles.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;

const char* const kMardell = "珀溪岚辰";
const char* const kQel = "珀溪qel";
const char* const kMardellFlag = "PallixMardell.didMigrateLegacyPallixDatabases";
const char* const kQelFlag = "PallixQel.didMigrateLegacyPallixDatabases";

// Runs each test with its own XDG folders and HOME; restores the environment after.
class AppPathsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::current_path() / "pallix-apppaths-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "HOME", "TMPDIR", "PALLIX_APP_ID"}) {
            const char* value = std::getenv(name);
            m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        setenv("XDG_DATA_HOME", data());
        setenv("XDG_CACHE_HOME", (m_root / "cache").string());
        setenv("HOME", (m_root / "home").string());
        ::unsetenv("PALLIX_APP_ID");
    }

    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        fs::remove_all(m_root);
    }

    static void setenv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
    static void useQel() { ::setenv("PALLIX_APP_ID", "io.pallix.QEL.desktop", 1); }

    std::string data() const { return (m_root / "data").string(); }
    fs::path legacyCopied() const { return m_root / "data" / "珀溪"; }

    static void write(const fs::path& file, const std::string& text)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    static std::string read(const fs::path& file)
    {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path m_root;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// A database in write-ahead-log mode whose rows live only in its "-wal" file
// while the returned connection stays open.
sqlite3* makeDatabaseWithUncheckpointedRows(const fs::path& file, int rows)
{
    fs::create_directories(file.parent_path());
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                               "CREATE TABLE file_index(path TEXT);", nullptr, nullptr, nullptr),
              SQLITE_OK);
    for (int i = 0; i < rows; ++i) {
        const std::string sql = "INSERT INTO file_index VALUES('/p/" + std::to_string(i) + "')";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    return db;
}

int rowCount(const fs::path& file)
{
    sqlite3* db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(db, "SELECT count(*) FROM file_index",
                     [](void* out, int, char** values, char**) {
                         *static_cast<int*>(out) = std::atoi(values[0]);
                         return 0;
                     },
                     &count, nullptr);
    }
    sqlite3_close(db);
    return count;
}

TEST_F(AppPathsTest, FoldersLieInTheXdgFoldersUnderTheEditionsName)
{
    EXPECT_EQ(AppPaths::applicationSupportAppDirectory(), m_root / "data" / kMardell);
    EXPECT_EQ(AppPaths::cachesAppDirectory(), m_root / "cache" / kMardell);
    EXPECT_TRUE(fs::is_directory(m_root / "data" / kMardell));
    EXPECT_TRUE(fs::is_directory(m_root / "cache" / kMardell));

    useQel();
    EXPECT_EQ(AppPaths::applicationSupportAppDirectory(), m_root / "data" / kQel);
    EXPECT_EQ(AppPaths::cachesAppDirectory(), m_root / "cache" / kQel);
    EXPECT_TRUE(fs::is_directory(m_root / "cache" / kQel));
}

TEST_F(AppPathsTest, WithoutXdgVariablesTheHomeFoldersAndThenTheTemporaryFolderAreUsed)
{
    ::unsetenv("XDG_DATA_HOME");
    setenv("XDG_CACHE_HOME", "relative/is/ignored");
    EXPECT_EQ(AppPaths::applicationSupportAppDirectory(), m_root / "home" / ".local/share" / kMardell);
    EXPECT_EQ(AppPaths::cachesAppDirectory(), m_root / "home" / ".cache" / kMardell);
    EXPECT_TRUE(fs::is_directory(m_root / "home" / ".cache" / kMardell));

    ::unsetenv("HOME");
    setenv("TMPDIR", (m_root / "tmp").string());
    fs::create_directories(m_root / "tmp");
    EXPECT_EQ(AppPaths::applicationSupportAppDirectory(), m_root / "tmp" / kMardell);
    EXPECT_TRUE(fs::is_directory(m_root / "tmp" / kMardell));
}

unsigned modeOf(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(AppPathsTest, TheFoldersAreTheUsersAloneAndLooseModesAreRepaired)
{
    const mode_t savedMask = ::umask(022);
    // As an earlier version left them under the usual umask.
    const fs::path old = m_root / "cache" / kMardell;
    write(old / "ImagePreviewCache" / "a.png", "png");
    write(old / "top.png", "png");
    fs::create_symlink(m_root / "outside.txt", old / "link");
    write(m_root / "outside.txt", "not ours to change");
    for (const fs::path& folder : {old, old / "ImagePreviewCache"})
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const unsigned outsideMode = modeOf(m_root / "outside.txt");

    const fs::path support = AppPaths::applicationSupportAppDirectory();
    const fs::path caches = AppPaths::cachesAppDirectory();
    AppPaths::repairModesOnce();
    ::umask(savedMask);

    EXPECT_EQ(modeOf(support), 0700u) << "made private";
    EXPECT_EQ(modeOf(m_root / "data"), 0700u) << "a missing base folder too";
    EXPECT_EQ(modeOf(caches), 0700u) << "repaired";
    EXPECT_EQ(modeOf(caches / "ImagePreviewCache"), 0700u);
    EXPECT_EQ(modeOf(caches / "ImagePreviewCache" / "a.png"), 0600u);
    EXPECT_EQ(modeOf(caches / "top.png"), 0600u);
    EXPECT_EQ(modeOf(m_root / "outside.txt"), outsideMode) << "a link is not followed";
    EXPECT_EQ(outsideMode & 077, 044u);

    if (::geteuid() != 0)
        return;
    // Another user's folder is neither changed nor filled.
    useQel();
    const fs::path theirs = m_root / "data" / kQel;
    fs::create_directories(theirs);
    fs::permissions(theirs, fs::perms::all);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_EQ(AppPaths::applicationSupportAppDirectory(), theirs);
    AppPaths::repairModesOnce();
    EXPECT_EQ(modeOf(theirs), 0777u);
}

// The cache folder only grows (a preview per size and modification time):
// a walk of it per lookup cost most of a second at start-up.
TEST_F(AppPathsTest, LookupsWalkNothingAndEachFolderIsRepairedOncePerProcess)
{
    const mode_t savedMask = ::umask(022);
    const fs::path preview = m_root / "cache" / kMardell / "ImagePreviewCache" / "a.png";
    write(preview, "png");
    ::umask(savedMask);
    ASSERT_EQ(modeOf(preview), 0644u);

    const fs::path caches = AppPaths::cachesAppDirectory();
    EXPECT_EQ(AppPaths::cachesAppDirectory(), caches);
    const fs::path support = AppPaths::applicationSupportAppDirectory();
    EXPECT_EQ(modeOf(preview), 0644u) << "a lookup walks nothing";

    std::vector<fs::path> walked;
    const auto walk = [&](const fs::path& folder) {
        walked.push_back(folder);
        privatefiles::repairModes(folder);
    };
    AppPaths::repairModesOnce(walk);
    EXPECT_EQ(walked, std::vector<fs::path>{caches}) << "the data folder was made just now: nothing to repair";
    EXPECT_EQ(modeOf(preview), 0600u);
    AppPaths::repairModesOnce(walk);
    EXPECT_EQ(walked.size(), 1u) << "once per process";
    EXPECT_TRUE(fs::is_directory(support));
}

TEST_F(AppPathsTest, ALegacyFolderBecomesTheEditionsFolderOnlyWhenThatIsMissing)
{
    write(m_root / "data" / "Orvandel" / "index.sqlite", "legacy");
    write(m_root / "cache" / "Orvandel" / "thumbs" / "a.png", "png");
    write(m_root / "cache" / kMardell / "own.png", "own");

    const fs::path support = AppPaths::applicationSupportAppDirectory();
    EXPECT_EQ(read(support / "index.sqlite"), "legacy");
    EXPECT_FALSE(fs::exists(m_root / "data" / "Orvandel"));

    const fs::path caches = AppPaths::cachesAppDirectory();
    EXPECT_EQ(read(caches / "own.png"), "own");
    EXPECT_FALSE(fs::exists(caches / "thumbs"));
    EXPECT_EQ(read(m_root / "cache" / "Orvandel" / "thumbs" / "a.png"), "png");

    // Whichever edition comes first takes it.
    useQel();
    EXPECT_FALSE(fs::exists(AppPaths::cachesAppDirectory() / "own.png"));
    EXPECT_EQ(read(AppPaths::cachesAppDirectory() / "thumbs" / "a.png"), "png");
}

TEST_F(AppPathsTest, MigrationCopiesWhatTheWriteAheadLogHolds)
{
    sqlite3* legacy = makeDatabaseWithUncheckpointedRows(legacyCopied() / "index.sqlite", 25);
    sqlite3* server = makeDatabaseWithUncheckpointedRows(legacyCopied() / "server_index.sqlite", 3);
    ASSERT_GT(fs::file_size(legacyCopied() / "index.sqlite-wal"), 0u);
    // A copy of the main file alone would have lost every row.
    fs::create_directories(m_root / "probe");
    fs::copy_file(legacyCopied() / "index.sqlite", m_root / "probe" / "main-only.sqlite");
    EXPECT_EQ(rowCount(m_root / "probe" / "main-only.sqlite"), -1);

    auto defaults = Defaults::inMemory();
    AppPaths::migrateLegacyPallixDatabasesIfNeeded(*defaults);
    sqlite3_close(legacy);
    sqlite3_close(server);

    const fs::path target = m_root / "data" / kMardell;
    EXPECT_EQ(rowCount(target / "index.sqlite"), 25);
    EXPECT_EQ(rowCount(target / "server_index.sqlite"), 3);
    EXPECT_FALSE(fs::exists(target / "index.sqlite.migrating"));
    EXPECT_EQ(defaults->boolean(kMardellFlag), true);
    EXPECT_EQ(rowCount(legacyCopied() / "index.sqlite"), 25) << "the legacy folder is left as it was";
}

TEST_F(AppPathsTest, MigrationNeverReplacesAndTheOtherEditionSkipsTheSharedDriveIndex)
{
    sqlite3_close(makeDatabaseWithUncheckpointedRows(legacyCopied() / "index.sqlite", 4));
    sqlite3_close(makeDatabaseWithUncheckpointedRows(legacyCopied() / "server_index.sqlite", 2));
    write(m_root / "data" / kMardell / "index.sqlite", "mine");

    auto defaults = Defaults::inMemory();
    AppPaths::migrateLegacyPallixDatabasesIfNeeded(*defaults);
    EXPECT_EQ(read(m_root / "data" / kMardell / "index.sqlite"), "mine");
    EXPECT_EQ(rowCount(m_root / "data" / kMardell / "server_index.sqlite"), 2);

    useQel();
    AppPaths::migrateLegacyPallixDatabasesIfNeeded(*defaults);
    EXPECT_EQ(rowCount(m_root / "data" / kQel / "index.sqlite"), 4);
    EXPECT_FALSE(fs::exists(m_root / "data" / kQel / "server_index.sqlite"));
    EXPECT_EQ(defaults->boolean(kQelFlag), true);
}

TEST_F(AppPathsTest, TheFlagMakesMigrationHappenOnceWhateverItAchieved)
{
    struct Case {
        const char* name;
        bool flagAlreadySet;
        bool legacyBeforeFirstRun;
        bool legacyIsGarbage;
    };
    const Case cases[] = {
        {"flag already set: legacy ignored", true, true, false},
        {"no legacy at first run: a later one is never migrated", false, false, false},
        {"failed copy: not retried", false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_root / "data");
        auto defaults = Defaults::inMemory();
        if (c.flagAlreadySet)
            defaults->setBoolean(kMardellFlag, true);
        const auto makeLegacy = [&] {
            if (c.legacyIsGarbage)
                write(legacyCopied() / "index.sqlite", std::string(4096, 'x'));
            else
                sqlite3_close(makeDatabaseWithUncheckpointedRows(legacyCopied() / "index.sqlite", 1));
        };
        if (c.legacyBeforeFirstRun)
            makeLegacy();
        AppPaths::migrateLegacyPallixDatabasesIfNeeded(*defaults);
        EXPECT_EQ(defaults->boolean(kMardellFlag), true);
        if (!c.legacyBeforeFirstRun)
            makeLegacy();
        if (c.legacyIsGarbage) {
            fs::remove(legacyCopied() / "index.sqlite");
            sqlite3_close(makeDatabaseWithUncheckpointedRows(legacyCopied() / "index.sqlite", 1));
        }
        AppPaths::migrateLegacyPallixDatabasesIfNeeded(*defaults);
        EXPECT_FALSE(fs::exists(m_root / "data" / kMardell / "index.sqlite"));
        EXPECT_FALSE(fs::exists(m_root / "data" / kMardell / "index.sqlite.migrating"));
    }
}

} // namespace
} // namespace pallix
