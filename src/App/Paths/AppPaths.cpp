#include "App/Paths/AppPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Core/Models/AppEdition.h"
#include "Platform/Defaults.h"
#include "Platform/PrivateFiles.h"

namespace pallix {

namespace {

namespace fs = std::filesystem;

const char* const kLegacyMovedFolder = "Orvandel";
const char* const kLegacyCopiedFolder = "珀溪";
const char* const kMigrationFlag = "didMigrateLegacyPallixDatabases";

bool entryExists(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// $<variable> when it holds an absolute path (the XDG rule), else ~/<fallback>,
// else the process's temporary folder.
fs::path baseFolder(const char* variable, const char* fallbackUnderHome)
{
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return value;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return fs::path(home) / fallbackUnderHome;
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : temp;
}

fs::path dataBase()
{
    return baseFolder("XDG_DATA_HOME", ".local/share");
}

// Folders whose modes were repaired, or made private by us, in this process.
std::mutex g_repairedMutex;
std::set<fs::path> g_repaired;

fs::path appDirectory(const fs::path& base)
{
    const fs::path target = base / std::string(AppEditionInfo::folderName(AppEditionInfo::current()));
    const fs::path legacy = base / kLegacyMovedFolder;
    // NOREPLACE: an edition folder created meanwhile by another process is never clobbered.
    if (!entryExists(target) && errno == ENOENT && entryExists(legacy))
        ::renameat2(AT_FDCWD, legacy.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    // Another user's folder is left alone: the stores refuse it by name.
    if (privatefiles::foreignOwnerRefusal(target).empty()) {
        const bool absent = !entryExists(target);
        // Made private just now: nothing in it for repairModesOnce() to repair.
        if (!privatefiles::createFolder(target) && absent) {
            std::lock_guard lock(g_repairedMutex);
            g_repaired.insert(target);
        }
    }
    return target;
}

void removeWithJournal(const fs::path& database)
{
    ::unlink(database.c_str());
    ::unlink((database.string() + "-journal").c_str());
}

// Copies the database through SQLite's backup API, so that what only its
// write-ahead log holds comes along (a copy of the main file alone would lose
// it). Written under a temporary name and renamed into place when complete, so
// that a failed copy never leaves a partial database where the store looks.
void copyDatabaseIfMissing(const fs::path& source, const fs::path& destination)
{
    if (entryExists(destination) || errno != ENOENT || !entryExists(source))
        return;
    const fs::path partial = destination.string() + ".migrating";
    removeWithJournal(partial);

    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    bool copied = false;
    (void)privatefiles::createFile(partial);
    if (sqlite3_open_v2(source.c_str(), &from, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) == SQLITE_OK
        && sqlite3_open_v2(partial.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                           nullptr) == SQLITE_OK) {
        if (sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main")) {
            const int stepped = sqlite3_backup_step(backup, -1);
            copied = sqlite3_backup_finish(backup) == SQLITE_OK && stepped == SQLITE_DONE;
        }
    }
    sqlite3_close(to);
    sqlite3_close(from);
    if (!copied || ::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) != 0)
        removeWithJournal(partial);
}

} // namespace

fs::path AppPaths::applicationSupportAppDirectory()
{
    return appDirectory(dataBase());
}

fs::path AppPaths::cachesAppDirectory()
{
    return appDirectory(baseFolder("XDG_CACHE_HOME", ".cache"));
}

void AppPaths::repairModesOnce(const ModeRepair& repair)
{
    for (const fs::path& folder : {applicationSupportAppDirectory(), cachesAppDirectory()}) {
        {
            std::lock_guard lock(g_repairedMutex);
            if (!g_repaired.insert(folder).second)
                continue;
        }
        if (!privatefiles::foreignOwnerRefusal(folder).empty())
            continue;
        if (repair)
            repair(folder);
        else
            privatefiles::repairModes(folder);
    }
}

void AppPaths::migrateLegacyPallixDatabasesIfNeeded(Defaults& defaults)
{
    const AppEdition edition = AppEditionInfo::current();
    const std::string flag = std::string(AppEditionInfo::defaultsPrefix(edition)) + kMigrationFlag;
    if (defaults.boolean(flag).value_or(false))
        return;
    const fs::path legacy = dataBase() / kLegacyCopiedFolder;
    if (entryExists(legacy)) {
        const fs::path target = applicationSupportAppDirectory();
        copyDatabaseIfMissing(legacy / "index.sqlite", target / "index.sqlite");
        if (edition == AppEdition::Mardell)
            copyDatabaseIfMissing(legacy / "server_index.sqlite", target / "server_index.sqlite");
    }
    defaults.setBoolean(flag, true);
}

} // namespace pallix
