#pragma once
// The rule for a database file SQLite reports as damaged: it is moved aside
// with its write-ahead log and shared-memory files ("<name>.corrupt",
// "<name>.corrupt-wal", "<name>.corrupt-shm", replacing an older copy), so
// that a fresh database can be made in its place and the old bytes stay for
// inspection. Plain functions on the caller's thread. Move before closing
// the connection that found the damage: SQLite deletes the log at the close.

#include <filesystem>
#include <string>

namespace pallix {

// SQLITE_NOTADB or SQLITE_CORRUPT, extended codes included.
bool isDamagedDatabaseCode(int sqliteCode);

// Moves the file and its companions aside; the error text when the main file
// could not be moved, empty on success.
std::string moveDamagedDatabaseAside(const std::filesystem::path& database);

} // namespace pallix
