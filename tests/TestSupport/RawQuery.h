#pragma once
// SQL run on a connection of the test's own, as another program or the
// sqlite3 shell would run it on a store's file.

#include <filesystem>
#include <string>

#include <sqlite3.h>

namespace pallix::test {

// Runs `sql`; returns the first column of the last row, "<failed>" when the
// file does not open.
inline std::string rawQuery(const std::filesystem::path& db, const std::string& sql)
{
    sqlite3* handle = nullptr;
    std::string value = "<failed>";
    if (sqlite3_open(db.c_str(), &handle) == SQLITE_OK)
        sqlite3_exec(
            handle, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] ? values[0] : "";
                return 0;
            },
            &value, nullptr);
    sqlite3_close(handle);
    return value;
}

} // namespace pallix::test
