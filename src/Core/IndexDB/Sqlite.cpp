#include "Core/IndexDB/Sqlite.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <sqlite3.h>

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

bool isDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

std::filesystem::path damagedCopyPath(const std::filesystem::path& file)
{
    return file.string() + ".corrupt";
}

std::string moveDamagedAside(const std::filesystem::path& file)
{
    const std::filesystem::path copy = damagedCopyPath(file);
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::filesystem::path from = file.string() + suffix;
        const std::filesystem::path to = copy.string() + suffix;
        std::filesystem::remove(to, ec);  // one copy kept: the older goes, with its own journal
        if (std::filesystem::exists(from, ec))
            std::filesystem::rename(from, to, ec);
        if (ec)
            return ec.message();
    }
    return {};
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

int Connection::open(const std::string& path, Mode mode)
{
    close();
    // NOMUTEX: a connection is used by one thread at a time (see the header),
    // and SQLite's own lock around every call cost more than reading a row.
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) |
                      SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    m_openSucceeded = rc == SQLITE_OK && m_db != nullptr;
    if (m_openSucceeded) {
        registerFunctions(m_db);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    }
    return rc;
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
