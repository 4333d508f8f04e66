#pragma once
// Thin RAII wrappers over the SQLite C API: one connection, one prepared
// statement. They translate nothing into errors: callers read the result codes
// and the connection's message and decide. Every connection opened here gets
// the Unicode-aware `lower()` (ICU, in place of SQLite's ASCII-only one) and
// `pallix_regexp(pattern, text, caseInsensitive)`.
//
// Not thread-safe by themselves: a connection and its statements are used by
// one thread at a time (the owning store serialises them).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>

struct sqlite3;
struct sqlite3_stmt;

namespace pallix::sqlite {

// A value bound to one statement parameter. Text is always copied by SQLite.
struct Binding {
    std::variant<std::int32_t, std::int64_t, double, std::string> value;

    static Binding integer(std::int32_t v) { return {v}; }
    static Binding integer64(std::int64_t v) { return {v}; }
    static Binding real(double v) { return {v}; }
    static Binding text(std::string v) { return {std::move(v)}; }
    friend bool operator==(const Binding&, const Binding&) = default;
};

class Connection {
public:
    enum class Mode { ReadWriteCreate, ReadOnly };

    Connection() = default;
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    // Opens `path`; returns SQLite's result code. On failure the message stays
    // readable through errorMessage() until close() or the next open(). A
    // symbolic link at `path` is refused (SQLITE_CANTOPEN_SYMLINK). A file
    // created here is private to the user (see privatefiles::createFile()).
    // A read-only file whose folder the user cannot write is read as it is.
    int open(const std::string& path, Mode mode);
    void close();
    bool isOpen() const { return m_db != nullptr && m_openSucceeded; }
    // Open, and SQLite could open the file for reading only.
    bool isReadOnly() const;

    // One-shot execution of SQL without result rows; returns SQLite's code.
    int exec(const char* sql);
    // The connection's last message; empty without a connection or message.
    std::string errorMessage() const;
    int errorCode() const;
    sqlite3* handle() const { return m_db; }

private:
    int openWith(const std::string& name, int flags);

    sqlite3* m_db = nullptr;
    bool m_openSucceeded = false;
};

class Statement {
public:
    Statement() = default;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { finalize(); }

    // Prepares the whole text. Returns SQLite's code; on failure no statement is held.
    int prepare(const Connection& db, std::string_view sql);
    bool isValid() const { return m_stmt != nullptr; }

    void bind(int index, const Binding& binding);
    // Binds parameters 1, 2, ... in order.
    void bindAll(std::span<const Binding> bindings);
    void bindInt(int index, std::int32_t v);
    void bindInt64(int index, std::int64_t v);
    void bindDouble(int index, double v);
    void bindText(int index, std::string_view v);

    int step();
    void reset();
    void clearBindings();
    void finalize();

    std::int32_t columnInt(int column) const;
    std::int64_t columnInt64(int column) const;
    double columnDouble(int column) const;
    // A NULL column reads as "". Valid until the next step, reset or finalize.
    std::string_view columnText(int column) const;
    bool columnIsNull(int column) const;

    // The expanded SQL text (with bound values), for diagnostics and tests.
    std::string sql() const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// True for SQLITE_BUSY and SQLITE_LOCKED (and their extended codes).
bool isTransient(int code);

// SQLite's failure as the user reads it: what went wrong in Chinese, then
// SQLite's own `message` in parentheses ("数据库正被其他程序占用（database is
// locked）"). Only the primary part of `code` counts.
std::string describe(int code, std::string_view message);
// describe() of the connection's last failure; "未知 SQLite 错误" without one.
std::string describeLastError(const Connection& db);

// How long a connection waits for another one's lock before answering busy:
// a second process (a backup, the sqlite3 shell) holds it for moments, and
// failing every write at once lost whole scans.
inline constexpr int kBusyTimeoutMs = 3000;

// ---- The rule for a damaged database file, shared by every store of ours.
// A file SQLite calls corrupt or "not a database" is never repaired in place:
// it is moved aside with its -wal and -shm beside it, under a name of its own
// ("<file>.corrupt", then "<file>.corrupt-2", "-3"...: an earlier copy is
// never replaced nor deleted), and the store starts over with a fresh file,
// which its owner fills again. Anything else (no permission, a folder in the
// file's place) is left untouched and reported.

// True for SQLITE_CORRUPT and SQLITE_NOTADB (and their extended codes).
bool isDamage(int code);
// "<file>.corrupt": the name of the first copy moveDamagedAside() makes.
std::filesystem::path damagedCopyPath(const std::filesystem::path& file);
struct SetAside {
    std::filesystem::path copy;  // where the file went (its -wal and -shm beside it)
    std::string error;           // empty on success, else the system's failure (systemtext::describeErrno)
};
// Moves `file` and its "-wal" and "-shm" to the first copy name none of them
// takes. A connection still open on it keeps working on the moved file.
SetAside moveDamagedAside(const std::filesystem::path& file);
// "PRAGMA quick_check" for at most `budget`: SQLITE_OK when the file is sound
// or the check ran out of time (a large file is checked in part), the damage
// code when it found damage, else the code of the failure.
int quickCheck(const Connection& db, std::chrono::milliseconds budget);

// ---- Which database files are ours. Each kind of database of ours is
// stamped in its header ("PRAGMA application_id"), so that a store never runs
// its schema on another program's file put in the place of its own. A file
// that is not ours is left untouched and set aside as a damaged one is.

struct Owner {
    std::int32_t applicationId = 0;
    std::string_view mainTable;
    bool (*isOwnTable)(std::string_view name) = nullptr;
};
// Whether the file open on `db` is the owner's: stamped with its id, or
// unstamped and holding nothing or only the owner's tables (with their
// indexes and triggers), the main one among them (an older file of ours: adopted, and stamped when writable).
// SQLITE_OK with `foreign` set accordingly, else the code of the failed read.
int claim(Connection& db, const Owner& owner, bool& foreign);
// True when nothing is at `file` and its folder is one the user may not
// write: a store then opens empty and read-only, as the folder's other files
// are read, rather than failing the start.
bool isAbsentFromReadOnlyFolder(const std::filesystem::path& file);
// True when the last open of `db` was refused for a symbolic link in the file's place.
bool isLinkRefusal(const Connection& db);

// ---- The write-ahead log stays small: "PRAGMA journal_size_limit" of this
// size on every writing connection, and the log truncated after a write that
// grew it past the size and when a store opens.
inline constexpr std::uintmax_t kLogSizeLimit = 4u << 20;
// True when the log of `file` is larger than kLogSizeLimit.
bool logIsLarge(const std::filesystem::path& file);
// Writes the log into the file and truncates it, unless a reader holds it:
// then it is left for the next time rather than waited for.
void truncateLog(Connection& db);

// Hands the connection's page cache back to the heap's owner when it holds
// more than `bytes`; a smaller cache is kept warm for the next statement.
void releaseCacheAbove(Connection& db, std::int64_t bytes);

// Turns off SQLite's allocation counts, which take one process-wide lock on
// every allocation: the cache load's reading threads took turns at it, and
// nothing here reads the counts. Call it first thing in main(), before any
// thread uses SQLite; later it does nothing. False when SQLite refused.
bool configureProcess();

// Opens `file` read-only on `db`: true when it is open. For reads beside a
// store's own connection (WAL lets them run while it writes).
bool openReadOnly(Connection& db, const std::filesystem::path& file);

} // namespace pallix::sqlite
