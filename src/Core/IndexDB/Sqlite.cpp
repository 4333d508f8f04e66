#include "Core/IndexDB/Sqlite.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "Platform/PrivateFiles.h"
#include "Platform/SystemText.h"
#include "Platform/Text.h"

namespace pallix::sqlite {

namespace {

// SQLite's own lower() maps ASCII only, so "École" would never meet "école" in
// a LIKE on lower(name). This one is the engine's full Unicode lower-casing,
// the same the memory routes use.
void unicodeLower(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int length = sqlite3_value_bytes(argv[0]);
    if (!bytes) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string_view input(bytes, static_cast<std::size_t>(length));
    // A row scan calls this per row; spare the allocation for ASCII text.
    bool ascii = true;
    bool hasUpper = false;
    for (char c : input) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        hasUpper = hasUpper || (c >= 'A' && c <= 'Z');
    }
    if (ascii && !hasUpper) {
        sqlite3_result_text(ctx, bytes, length, SQLITE_TRANSIENT);
        return;
    }
    const std::string lowered = text::lower(input);
    sqlite3_result_text(ctx, lowered.data(), static_cast<int>(lowered.size()), SQLITE_TRANSIENT);
}

struct CompiledPattern {
    explicit CompiledPattern(std::optional<text::Regex> r) : regex(std::move(r)) {}
    std::optional<text::Regex> regex;  // nothing when the pattern does not compile
    text::RegexWatch watch;            // one statement's runs: gives a runaway expression up
};

void deleteCompiledPattern(void* p) { delete static_cast<CompiledPattern*>(p); }

// pallix_regexp(pattern, subject, caseInsensitive): the engine's first-match
// search, so a database route filters regular-expression tokens exactly as the
// ranking will. The compiled expression is kept for the whole statement.
void regexpMatch(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    auto* compiled = static_cast<CompiledPattern*>(sqlite3_get_auxdata(ctx, 0));
    if (!compiled) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        std::string_view pattern(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(argv[0])));
        const bool caseInsensitive = sqlite3_value_int(argv[2]) != 0;
        compiled = new CompiledPattern(text::Regex::compile(pattern, caseInsensitive));
        sqlite3_set_auxdata(ctx, 0, compiled, deleteCompiledPattern);
        // set_auxdata may have destroyed it already (out of memory); fetch it back.
        compiled = static_cast<CompiledPattern*>(sqlite3_get_auxdata(ctx, 0));
        if (!compiled) {
            sqlite3_result_int(ctx, 0);
            return;
        }
    }
    if (!compiled->regex) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const auto* s = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    std::string_view subject(s ? s : "", static_cast<std::size_t>(sqlite3_value_bytes(argv[1])));
    sqlite3_result_int(ctx, compiled->regex->search(subject, &compiled->watch) ? 1 : 0);
}

void registerFunctions(sqlite3* db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    sqlite3_create_function_v2(db, "lower", 1, flags, nullptr, unicodeLower, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "pallix_regexp", 3, flags, nullptr, regexpMatch, nullptr, nullptr, nullptr);
}

} // namespace

bool isTransient(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

namespace {

const char* chineseFor(int primary)
{
    switch (primary) {
    case SQLITE_ERROR: return "SQL 出错";
    case SQLITE_INTERNAL: return "SQLite 内部出错";
    case SQLITE_PERM: return "没有访问权限";
    case SQLITE_ABORT: return "操作已中止";
    case SQLITE_BUSY: return "数据库正被其他程序占用";
    case SQLITE_LOCKED: return "数据库的表被锁定";
    case SQLITE_NOMEM: return "内存不足";
    case SQLITE_READONLY: return "数据库只能读取";
    case SQLITE_INTERRUPT: return "操作被中断";
    case SQLITE_IOERR: return "磁盘读写出错";
    case SQLITE_CORRUPT: return "数据库文件已损坏";
    case SQLITE_FULL: return "磁盘空间不足";
    case SQLITE_CANTOPEN: return "无法打开数据库文件";
    case SQLITE_PROTOCOL: return "数据库加锁出错";
    case SQLITE_SCHEMA: return "数据库结构已改变";
    case SQLITE_TOOBIG: return "数据过大";
    case SQLITE_CONSTRAINT: return "违反数据约束";
    case SQLITE_MISMATCH: return "数据类型不符";
    case SQLITE_MISUSE: return "SQLite 调用有误";
    case SQLITE_NOLFS: return "系统不支持大文件";
    case SQLITE_AUTH: return "未获授权";
    case SQLITE_RANGE: return "参数序号超出范围";
    case SQLITE_NOTADB: return "不是数据库文件";
    default: return nullptr;
    }
}

} // namespace

std::string describe(int code, std::string_view message)
{
    const char* chinese = chineseFor(code & 0xff);
    std::string text = chinese ? chinese : "SQLite 错误 " + std::to_string(code);
    if (!message.empty())
        text += "（" + std::string(message) + "）";
    return text;
}

std::string describeLastError(const Connection& db)
{
    const std::string message = db.errorMessage();
    return message.empty() || !db.handle() ? std::string("未知 SQLite 错误") : describe(db.errorCode(), message);
}

bool isDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

std::filesystem::path damagedCopyPath(const std::filesystem::path& file)
{
    return file.string() + ".corrupt";
}

namespace {

bool anyEntryAt(const std::filesystem::path& name)
{
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"})
        if (std::filesystem::exists(std::filesystem::symlink_status(name.string() + suffix, ec)))
            return true;
    return false;
}

// rename() that never replaces what is at `to`: another process may set a
// file aside under the same name between our look and our move.
std::error_code renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    const int error = errno;
    // A file system without the flag: the look before is all there is.
    if (error != EINVAL && error != ENOSYS)
        return std::error_code(error, std::generic_category());
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return ec;
}

} // namespace

SetAside moveDamagedAside(const std::filesystem::path& file)
{
    const std::filesystem::path first = damagedCopyPath(file);
    for (int number = 1;; ++number) {
        const std::filesystem::path copy =
            number == 1 ? first : std::filesystem::path(first.string() + "-" + std::to_string(number));
        // Never replaced: each copy may be the only one of someone's data.
        if (anyEntryAt(copy))
            continue;
        std::error_code absent;
        if (std::filesystem::exists(std::filesystem::symlink_status(file, absent))) {
            // A link is moved itself, never what it points at.
            const std::error_code ec = renameWithoutReplacing(file, copy);
            if (ec == std::errc::file_exists)
                continue;
            if (ec)
                return {{}, systemtext::describeErrno(ec.value())};
        }
        // The log and the shared memory belong to the old bytes: left in
        // place they would be replayed into the fresh file. Beside the copy,
        // it opens with them.
        for (const char* suffix : {"-wal", "-shm"}) {
            const std::filesystem::path from = file.string() + suffix;
            if (!std::filesystem::exists(std::filesystem::symlink_status(from, absent)))
                continue;
            if (const std::error_code ec = renameWithoutReplacing(from, copy.string() + suffix); ec) {
                std::error_code removed;
                if (!std::filesystem::remove(from, removed))
                    return {copy, systemtext::describeErrno(ec.value())};
            }
        }
        return {copy, {}};
    }
}

bool logIsLarge(const std::filesystem::path& file)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file.string() + "-wal", ec);
    return !ec && size > kLogSizeLimit;
}

void truncateLog(Connection& db)
{
    if (!db.isOpen())
        return;
    sqlite3_busy_timeout(db.handle(), 0);
    db.exec("PRAGMA wal_checkpoint(TRUNCATE);");
    sqlite3_busy_timeout(db.handle(), kBusyTimeoutMs);
}

void releaseCacheAbove(Connection& db, std::int64_t bytes)
{
    if (!db.isOpen())
        return;
    int used = 0;
    int highest = 0;
    if (sqlite3_db_status(db.handle(), SQLITE_DBSTATUS_CACHE_USED, &used, &highest, 0) == SQLITE_OK && used > bytes)
        sqlite3_db_release_memory(db.handle());
}

bool isAbsentFromReadOnlyFolder(const std::filesystem::path& file)
{
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
        return false;
    return ::access(file.parent_path().c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}

bool isLinkRefusal(const Connection& db)
{
    return db.handle() && sqlite3_extended_errcode(db.handle()) == SQLITE_CANTOPEN_SYMLINK;
}

namespace {

// Every entry of the file's schema belongs to the owner's tables, and the main table is there.
// Triggers count with their table: the stores make their own on their tables,
// and a trigger always names the table it fires on.
bool holdsOnlyOwnTables(const Connection& db, const Owner& owner, bool& own)
{
    Statement entries;
    if (entries.prepare(db, "SELECT type, tbl_name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\';")
        != SQLITE_OK)
        return false;
    bool any = false;
    bool main = false;
    own = true;
    int rc = SQLITE_ROW;
    while ((rc = entries.step()) == SQLITE_ROW) {
        const std::string_view type = entries.columnText(0);
        const std::string_view table = entries.columnText(1);
        any = true;
        main = main || table == owner.mainTable;
        own = own && (type == "table" || type == "index" || type == "trigger") && owner.isOwnTable(table);
    }
    own = own && (!any || main);
    return rc == SQLITE_DONE;
}

} // namespace

int claim(Connection& db, const Owner& owner, bool& foreign)
{
    foreign = false;
    // Closing the last connection of a log-mode file writes the log into it:
    // never into a file that turns out not to be ours.
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Statement stamp;
    if (stamp.prepare(db, "PRAGMA application_id;") != SQLITE_OK || stamp.step() != SQLITE_ROW)
        return db.errorCode();
    const std::int32_t id = stamp.columnInt(0);
    stamp.finalize();
    bool own = id == owner.applicationId;
    if (id == 0 && !holdsOnlyOwnTables(db, owner, own))
        return db.errorCode();
    foreign = !own;
    if (foreign)
        return SQLITE_OK;
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    if (id == 0 && !db.isReadOnly()) {
        const std::string set = "PRAGMA application_id = " + std::to_string(owner.applicationId) + ";";
        const int rc = db.exec(set.c_str());
        return (rc & 0xff) == SQLITE_READONLY ? SQLITE_OK : rc;
    }
    return SQLITE_OK;
}

bool openReadOnly(Connection& db, const std::filesystem::path& file)
{
    return db.open(file.string(), Connection::Mode::ReadOnly) == SQLITE_OK && db.isOpen();
}

bool configureProcess()
{
    return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
}

int quickCheck(const Connection& db, std::chrono::milliseconds budget)
{
    Statement check;
    int rc = check.prepare(db, "PRAGMA quick_check;");
    if (rc != SQLITE_OK)
        return db.errorCode();
    // The check of one tree is a single step of the statement, which a
    // progress handler does not see into (on a cold file it reads the whole
    // file from disk): an interrupt from beside it keeps the budget.
    const auto end = std::chrono::steady_clock::now() + budget;
    std::mutex mutex;
    std::condition_variable stepped;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!stepped.wait_until(lock, end, [&] { return done; }))
            sqlite3_interrupt(db.handle());
    });
    rc = check.step();
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    stepped.notify_one();
    watchdog.join();
    const bool sound = rc == SQLITE_ROW && check.columnText(0) == "ok";
    const int code = rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : db.errorCode();
    check.finalize();
    if (sound || (code & 0xff) == SQLITE_INTERRUPT)
        return SQLITE_OK;
    // quick_check reports damage as rows of text, not as an error code.
    return code == SQLITE_OK ? SQLITE_CORRUPT : code;
}

Connection::Connection(Connection&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_openSucceeded(std::exchange(other.m_openSucceeded, false))
{
}

Connection& Connection::operator=(Connection&& other) noexcept
{
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_openSucceeded = std::exchange(other.m_openSucceeded, false);
    }
    return *this;
}

Connection::~Connection() { close(); }

namespace {

bool isFilePath(const std::string& path)
{
    return !path.empty() && path.front() != ':' && !path.starts_with("file:");
}

// "file:" followed by the path, with the characters a URI gives meaning to escaped.
std::string immutableUri(const std::string& path)
{
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            constexpr char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[(static_cast<unsigned char>(c) >> 4) & 0xf];
            uri += kHex[static_cast<unsigned char>(c) & 0xf];
        } else {
            uri += c;
        }
    }
    return uri + "?mode=ro&immutable=1";
}

} // namespace

int Connection::open(const std::string& path, Mode mode)
{
    close();
    // Made private before SQLite sees it: its log and shared memory take the
    // file's mode, and SQLite alone would create it readable by all.
    if (mode == Mode::ReadWriteCreate && isFilePath(path))
        (void)privatefiles::createFile(path);
    // NOMUTEX: a connection is used by one thread at a time (see the header),
    // and SQLite's own lock around every call cost more than reading a row.
    // NOFOLLOW: a link in the file's place would have us write into its target.
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    int rc = openWith(path, flags);
    // A log-mode file in a folder the user cannot write has no shared memory
    // to read through: it is read as it stands on the disk.
    if (mode == Mode::ReadOnly && rc == SQLITE_OK && isFilePath(path)) {
        const int primary = exec("SELECT count(*) FROM sqlite_master;") & 0xff;
        if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN)
            rc = openWith(immutableUri(path), flags | SQLITE_OPEN_URI);
    }
    return rc;
}

int Connection::openWith(const std::string& name, int flags)
{
    close();
    const int rc = sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr);
    m_openSucceeded = rc == SQLITE_OK && m_db != nullptr;
    if (m_openSucceeded) {
        registerFunctions(m_db);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    }
    return rc;
}

bool Connection::isReadOnly() const
{
    return isOpen() && sqlite3_db_readonly(m_db, "main") == 1;
}

void Connection::close()
{
    if (m_db) {
        // Statements are finalised by their owners before; v2 defers the close if not.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_openSucceeded = false;
}

int Connection::exec(const char* sql)
{
    if (!isOpen())
        return SQLITE_MISUSE;
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

std::string Connection::errorMessage() const
{
    if (!m_db)
        return {};
    const char* msg = sqlite3_errmsg(m_db);
    return msg ? std::string(msg) : std::string();
}

int Connection::errorCode() const { return m_db ? sqlite3_errcode(m_db) : SQLITE_MISUSE; }

Statement::Statement(Statement&& other) noexcept : m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        finalize();
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

int Statement::prepare(const Connection& db, std::string_view sql)
{
    finalize();
    if (!db.isOpen())
        return SQLITE_MISUSE;
    const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        finalize();
    return rc;
}

void Statement::bind(int index, const Binding& binding)
{
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::int32_t>)
                bindInt(index, v);
            else if constexpr (std::is_same_v<V, std::int64_t>)
                bindInt64(index, v);
            else if constexpr (std::is_same_v<V, double>)
                bindDouble(index, v);
            else
                bindText(index, v);
        },
        binding.value);
}

void Statement::bindAll(std::span<const Binding> bindings)
{
    int index = 1;
    for (const Binding& b : bindings)
        bind(index++, b);
}

void Statement::bindInt(int index, std::int32_t v) { sqlite3_bind_int(m_stmt, index, v); }
void Statement::bindInt64(int index, std::int64_t v) { sqlite3_bind_int64(m_stmt, index, v); }
void Statement::bindDouble(int index, double v) { sqlite3_bind_double(m_stmt, index, v); }

void Statement::bindText(int index, std::string_view v)
{
    sqlite3_bind_text(m_stmt, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

int Statement::step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }

void Statement::reset()
{
    if (m_stmt)
        sqlite3_reset(m_stmt);
}

void Statement::clearBindings()
{
    if (m_stmt)
        sqlite3_clear_bindings(m_stmt);
}

void Statement::finalize()
{
    if (m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

std::int32_t Statement::columnInt(int column) const { return sqlite3_column_int(m_stmt, column); }
std::int64_t Statement::columnInt64(int column) const { return sqlite3_column_int64(m_stmt, column); }
double Statement::columnDouble(int column) const { return sqlite3_column_double(m_stmt, column); }

std::string_view Statement::columnText(int column) const
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    if (!p)
        return {};
    return {p, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column))};
}

bool Statement::columnIsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

std::string Statement::sql() const
{
    if (!m_stmt)
        return {};
    char* expanded = sqlite3_expanded_sql(m_stmt);
    std::string out = expanded ? expanded : "";
    sqlite3_free(expanded);
    return out;
}

} // namespace pallix::sqlite
