#include "Core/Semantic/DamagedDatabase.h"

#include <system_error>

#include <sqlite3.h>

namespace pallix {

bool isDamagedDatabaseCode(int sqliteCode)
{
    const int primary = sqliteCode & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

std::string moveDamagedDatabaseAside(const std::filesystem::path& database)
{
    namespace fs = std::filesystem;
    const std::string base = database.string();
    std::error_code ec;
    for (const char* suffix : {"-wal", "-shm"})
        fs::remove(base + ".corrupt" + suffix, ec);  // an older copy's companions
    fs::rename(base, base + ".corrupt", ec);
    if (ec)
        return ec.message();
    // The log and the shared memory belong to the old bytes: left in place they
    // would be replayed into the fresh file. Kept beside the copy so that it
    // can still be opened with them.
    for (const char* suffix : {"-wal", "-shm"}) {
        std::error_code ignored;
        if (fs::exists(base + suffix, ignored))
            fs::rename(base + suffix, base + ".corrupt" + suffix, ignored);
        if (ignored)
            fs::remove(base + suffix, ignored);
    }
    return {};
}

} // namespace pallix
