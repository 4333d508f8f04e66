#include "Core/Semantic/ImageSemanticStore.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <unordered_set>
#include <utility>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Platform/PrivateFiles.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr auto kBackfillPause = std::chrono::milliseconds(16);
constexpr std::size_t kMaxFullTextGroups = 2;
constexpr std::size_t kMaxFullTextWords = 24;

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS image_semantic (\n"
    "    path TEXT PRIMARY KEY,\n"
    "    tags TEXT NOT NULL,\n"
    "    updated_at REAL NOT NULL,\n"
    "    format INTEGER NOT NULL DEFAULT 0,\n"
    "    file_size INTEGER NOT NULL DEFAULT -1,\n"
    "    file_modified_at REAL NOT NULL DEFAULT 0\n"
    ");";
// Columns added after the first databases were made: their rows read as
// format 0, read from an unknown state of the file.
constexpr std::pair<const char*, const char*> kLaterColumns[] = {
    {"format", "ALTER TABLE image_semantic ADD COLUMN format INTEGER NOT NULL DEFAULT 0;"},
    {"file_size", "ALTER TABLE image_semantic ADD COLUMN file_size INTEGER NOT NULL DEFAULT -1;"},
    {"file_modified_at", "ALTER TABLE image_semantic ADD COLUMN file_modified_at REAL NOT NULL DEFAULT 0;"},
};
constexpr const char* kCreateFullText =
    "CREATE VIRTUAL TABLE IF NOT EXISTS image_semantic_fts\n"
    "USING fts5(\n"
    "    path UNINDEXED,\n"
    "    tags,\n"
    "    tokenize = 'unicode61'\n"
    ");";
bool isTagTable(std::string_view table)
{
    return table == "image_semantic" || table.starts_with("image_semantic_fts");
}

// "PXTG": the stamp of an image-tag file.
constexpr sqlite::Owner kTagOwner{0x50585447, "image_semantic", isTagTable};

// A small page cache: reads come through the memory map, and the cache holds
// little more than the pages in the log. SQLite sweeps the whole cache at
// the commit after a B-tree split has reordered its new pages, which FTS5's
// freed and reused pages make frequent: with 20 MB, at 100,000 tagged images,
// that sweep was a tenth of a write.
constexpr const char* kConnectionOptions[] = {
    "PRAGMA journal_mode=WAL;",
    "PRAGMA journal_size_limit=4194304;",
    "PRAGMA synchronous=NORMAL;",
    "PRAGMA cache_size=-2000;",
    "PRAGMA mmap_size=134217728;",
};
constexpr const char* kSelectTags = "SELECT tags FROM image_semantic WHERE path = ? LIMIT 1;";
constexpr const char* kWriteMain =
    "INSERT INTO image_semantic (path, tags, updated_at, format, file_size, file_modified_at)\n"
    "VALUES (?, ?, ?, ?, ?, ?)\n"
    "ON CONFLICT(path) DO UPDATE SET\n"
    "    tags = excluded.tags,\n"
    "    updated_at = excluded.updated_at,\n"
    "    format = excluded.format,\n"
    "    file_size = excluded.file_size,\n"
    "    file_modified_at = excluded.file_modified_at\n"
    "RETURNING rowid;";
// A mirror row shares its main row's rowid, so a write replaces it by rowid
// rather than searching the mirror's unindexed path column.
constexpr const char* kInsertFullText =
    "INSERT OR REPLACE INTO image_semantic_fts (rowid, path, tags) VALUES (?, ?, ?);";
// user_version 1: every mirror row has its main row's rowid. Mirrors of
// before kept their own rowids (and the odd second row of a path).
constexpr int kTiedMirrorVersion = 1;
// user_version 2: the mirror merges its segments 16 at a time, not 4, and
// starts as one segment. Beside a large segment of old rows, each merge of
// 4 rewrote the recent segments, swollen by the delete markers of the rows
// tagged again, so the write cost grew with the rows stored; a bulk fill
// left its own merge to the writes after it. A search reads a few more
// small segments.
constexpr int kMergedMirrorVersion = 2;
constexpr const char* kMergeMirror =
    "INSERT INTO image_semantic_fts (image_semantic_fts, rank) VALUES ('automerge', 16);\n"
    "INSERT INTO image_semantic_fts (image_semantic_fts) VALUES ('optimize');\n";

std::string normalisedTag(std::string_view tag)
{
    return text::lower(indexsql::trimmed(tag));
}

bool holdsRecognisedText(std::string_view tags)
{
    return tags.starts_with("ocr:") || tags.find(" ocr:") != std::string_view::npos;
}

// Main and mirror counts; the mirror is "clearly short" below a quarter.
bool backfillNeeded(std::int64_t main, std::int64_t fts)
{
    if (main < 1)
        return false;
    return main < 128 ? fts < 32 : fts < main / 4;
}

// Words trimmed and lower-cased, blank words and empty groups dropped.
std::vector<std::vector<std::string>> normalisedGroups(const std::vector<std::vector<std::string>>& groups)
{
    std::vector<std::vector<std::string>> out;
    for (const auto& group : groups) {
        std::vector<std::string> words;
        for (const std::string& word : group)
            if (std::string w = normalisedTag(word); !w.empty())
                words.push_back(std::move(w));
        if (!words.empty())
            out.push_back(std::move(words));
    }
    return out;
}

// Resets a kept statement when its run ends, however it ends, so that it
// holds no read or write open between runs.
class ScopedReset {
public:
    explicit ScopedReset(sqlite::Statement& statement) : m_statement(statement) {}
    ScopedReset(const ScopedReset&) = delete;
    ScopedReset& operator=(const ScopedReset&) = delete;
    ~ScopedReset() { m_statement.reset(); }

private:
    sqlite::Statement& m_statement;
};

std::string quotedPhrase(std::string_view word)
{
    std::string phrase = "\"";
    for (const char c : word)
        phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
    return phrase + "\"";
}

} // namespace

std::string SemanticError::description() const
{
    switch (code) {
    case Code::OpenDatabase: return "打开图片标签数据库失败：" + message;
    case Code::Prepare: return "准备 SQLite 语句失败：" + message;
    case Code::Step: return "执行 SQLite 语句失败：" + message;
    case Code::FileSystem:
    case Code::Count: break;
    }
    return message;
}

ImageSemanticStore::ImageSemanticStore(std::filesystem::path databaseURL, std::shared_ptr<Clock> clock,
                                       FullText fullText)
    : m_databaseURL(std::move(databaseURL)),
      m_clock(clock ? std::move(clock) : Clock::system()),
      m_fullText(fullText)
{
}

ImageSemanticStore::~ImageSemanticStore()
{
    m_jobs.shutdown();
}

std::string ImageSemanticStore::connectionMessage() const
{
    return sqlite::describeLastError(m_db);
}

SemanticError ImageSemanticStore::failure(SemanticError::Code code) const
{
    return SemanticError{code, m_databaseURL.string() + "（" + connectionMessage() + "）"};
}

// ---- Opening.

SemanticResult<void> ImageSemanticStore::openDatabase()
{
    for (sqlite::Statement* kept : {&m_selectTags, &m_writeMain, &m_writeMirror})
        kept->finalize();
    const std::filesystem::path folder = m_databaseURL.parent_path();
    if (std::string refusal = privatefiles::foreignOwnerRefusal(folder); !refusal.empty())
        return Unexpected(SemanticError{SemanticError::Code::FileSystem, std::move(refusal)});
    if (const std::error_code ec = privatefiles::createFolder(folder))
        return Unexpected(SemanticError{SemanticError::Code::FileSystem, "无法创建图片标签数据库所在的文件夹 " +
                                                                             folder.string() + "（" + ec.message() + "）"});

    for (int attempt = 0; attempt < 2; ++attempt) {
        const int rc = m_db.open(m_databaseURL.string(), sqlite::Connection::Mode::ReadWriteCreate);
        // A link in the file's place, or another program's database, is not ours: set aside.
        bool foreign = sqlite::isLinkRefusal(m_db);
        // A folder the user may only read, without this file: empty, and read-only like it.
        const int primary = rc & 0xff;
        m_emptyReadOnly = !foreign && (primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY)
                          && sqlite::isAbsentFromReadOnlyFolder(m_databaseURL);
        if (m_emptyReadOnly)
            return m_db.open(":memory:", sqlite::Connection::Mode::ReadWriteCreate) == SQLITE_OK
                       ? SemanticResult<void>{}
                       : Unexpected(failure(SemanticError::Code::OpenDatabase));
        if (!foreign && (rc != SQLITE_OK || !m_db.isOpen())) {
            const SemanticError error = failure(SemanticError::Code::OpenDatabase);
            m_db.close();
            return Unexpected(error);
        }
        // Opening reads nothing; the first read of the header tells a damaged file.
        const int probe = foreign ? SQLITE_OK : sqlite::claim(m_db, kTagOwner, foreign);
        if (!foreign && !sqlite::isDamage(probe))
            break;
        const SemanticError damaged =
            foreign ? SemanticError{SemanticError::Code::OpenDatabase,
                                    m_databaseURL.string() + "（不是本程序的图片标签数据库）"}
                    : failure(SemanticError::Code::OpenDatabase);
        // Moved before the close: closing the last connection deletes the
        // log, which belongs with the damaged bytes.
        const std::string moveError = attempt == 0 ? sqlite::moveDamagedAside(m_databaseURL).error : "";
        m_db.close();
        if (attempt == 1)
            return Unexpected(damaged);
        if (!moveError.empty())
            return Unexpected(SemanticError{SemanticError::Code::OpenDatabase, damaged.message + "; " + moveError});
    }
    for (const char* pragma : kConnectionOptions)
        m_db.exec(pragma);  // a refused option leaves SQLite's default
    sqlite::truncateLog(m_db);
    return {};
}

SemanticResult<void> ImageSemanticStore::open()
{
    {
        std::lock_guard lock(m_mutex);
        if (auto opened = openDatabase(); !opened)
            return opened;
        if (m_db.exec(kCreateTable) != SQLITE_OK)
            return Unexpected(failure(SemanticError::Code::Step));
        if (!addMissingColumns())
            return Unexpected(failure(SemanticError::Code::Step));
        // Without FTS5 the store searches with LIKE: not an error.
        m_ftsReady = m_fullText == FullText::IfAvailable && m_db.exec(kCreateFullText) == SQLITE_OK;
        // A mirror that cannot be made again (a read-only file, a full disk)
        // is left as it is and not used: LIKE answers right, if slower.
        m_ftsReady = m_ftsReady && tieMirror();
        // Writes fail as on a read-only file, never vanish into memory.
        if (m_emptyReadOnly && m_db.exec("PRAGMA query_only = 1;") != SQLITE_OK)
            return Unexpected(failure(SemanticError::Code::Step));
    }
    scheduleFTSBackfillIfNeeded();
    return {};
}

bool ImageSemanticStore::tieMirror()
{
    const std::int64_t version = countLocked("PRAGMA user_version;");
    if (version >= kMergedMirrorVersion)
        return true;
    // Made again from the main table in one go: a few seconds' work at
    // 100,000 tagged images, once.
    const std::string remake = std::string("DROP TABLE image_semantic_fts;\n") + kCreateFullText +
                               "\nINSERT INTO image_semantic_fts (rowid, path, tags)\n"
                               "SELECT rowid, path, tags FROM image_semantic\n"
                               "WHERE path IS NOT NULL AND tags IS NOT NULL;\n";
    const std::string upgrade = std::string("BEGIN IMMEDIATE;\n") +
                                (version < kTiedMirrorVersion ? remake : std::string()) + kMergeMirror +
                                "PRAGMA user_version = " + std::to_string(kMergedMirrorVersion) + ";\nCOMMIT;";
    if (m_db.exec(upgrade.c_str()) == SQLITE_OK)
        return true;
    m_db.exec("ROLLBACK;");
    // A tied mirror that cannot be set (a read-only file) still answers right.
    return version >= kTiedMirrorVersion;
}

bool ImageSemanticStore::addMissingColumns()
{
    for (const auto& [column, add] : kLaterColumns) {
        const std::string probe = std::string("SELECT ") + column + " FROM image_semantic LIMIT 0;";
        if (sqlite::Statement select; select.prepare(m_db, probe) != SQLITE_OK && m_db.exec(add) != SQLITE_OK)
            return false;
    }
    return true;
}

std::optional<std::string> ImageSemanticStore::bootstrap()
{
    if (auto opened = open(); !opened)
        return opened.error().description();
    return std::nullopt;
}

bool ImageSemanticStore::isFullTextReady() const
{
    std::lock_guard lock(m_mutex);
    return m_ftsReady;
}

int ImageSemanticStore::execForTests(const char* sql)
{
    std::lock_guard lock(m_mutex);
    return m_db.exec(sql);
}

// ---- Reads.

bool ImageSemanticStore::prepareKept(sqlite::Statement& statement, const char* sql)
{
    return m_db.isOpen() && (statement.isValid() || statement.prepare(m_db, sql) == SQLITE_OK);
}

std::optional<std::string> ImageSemanticStore::readTagsLocked(const std::string& path)
{
    if (!prepareKept(m_selectTags, kSelectTags))
        return std::nullopt;
    const ScopedReset done(m_selectTags);
    m_selectTags.bindText(1, path);
    if (m_selectTags.step() != SQLITE_ROW)
        return std::nullopt;
    return std::string(m_selectTags.columnText(0));  // a null text reads as empty
}

std::optional<std::string> ImageSemanticStore::storedTags(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    return readTagsLocked(path);
}

bool ImageSemanticStore::hasTags(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    sqlite::Statement select;
    if (!m_db.isOpen() || select.prepare(m_db, "SELECT 1 FROM image_semantic WHERE path = ? LIMIT 1;") != SQLITE_OK)
        return false;
    select.bindText(1, path);
    return select.step() == SQLITE_ROW;
}

bool ImageSemanticStore::needsReindex(const std::string& path, int format, const std::optional<ImageFileStamp>& file)
{
    std::lock_guard lock(m_mutex);
    sqlite::Statement select;
    if (!m_db.isOpen()
        || select.prepare(m_db, "SELECT tags, format, file_size, file_modified_at FROM image_semantic\n"
                                "WHERE path = ? LIMIT 1;")
               != SQLITE_OK)
        return true;
    select.bindText(1, path);
    if (select.step() != SQLITE_ROW)
        return true;
    // Tags of an older format lack what extraction finds now: read once more.
    if (select.columnInt(1) < format)
        return true;
    if (holdsRecognisedText(select.columnText(0)))
        return false;
    // The same file gives the same tags: reading it again would only burn a core.
    return !file || select.columnInt64(2) != file->size || select.columnDouble(3) != file->modifiedAt;
}

std::int64_t ImageSemanticStore::countLocked(const char* sql)
{
    sqlite::Statement count;
    if (!m_db.isOpen() || count.prepare(m_db, sql) != SQLITE_OK || count.step() != SQLITE_ROW)
        return 0;
    return count.columnInt64(0);
}

std::int64_t ImageSemanticStore::rowCount(bool fullText)
{
    std::lock_guard lock(m_mutex);
    return countLocked(fullText ? "SELECT COUNT(*) FROM image_semantic_fts;" : "SELECT COUNT(*) FROM image_semantic;");
}

// ---- Writes.

std::string ImageSemanticStore::joinTags(const std::vector<std::string>& tags)
{
    std::vector<std::string> taken;
    std::unordered_set<std::string> seen;
    for (const std::string& tag : tags) {
        if (taken.size() >= kMaxTags)
            break;
        std::string t = normalisedTag(tag);
        if (!t.empty() && seen.insert(t).second)
            taken.push_back(std::move(t));
    }
    std::string joined;
    for (const std::string& t : taken)
        joined += (joined.empty() ? "" : " ") + t;
    return joined;
}

std::vector<std::string> ImageSemanticStore::splitTags(std::string_view text)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        if (text::isWhiteSpace(text::nextCodePoint(text, i))) {
            if (!piece.empty())
                pieces.push_back(std::move(piece));
            piece.clear();
        } else {
            piece.append(text.substr(start, i - start));
        }
    }
    if (!piece.empty())
        pieces.push_back(std::move(piece));
    return pieces;
}

SemanticResult<void> ImageSemanticStore::writeRow(const std::string& path, const std::string& joined, double updatedAt,
                                                  int format, const std::optional<ImageFileStamp>& file)
{
    if (!prepareKept(m_writeMain, kWriteMain))
        return Unexpected(failure(SemanticError::Code::Prepare));
    const ScopedReset done(m_writeMain);
    m_writeMain.bindText(1, path);
    m_writeMain.bindText(2, joined);
    m_writeMain.bindDouble(3, updatedAt);
    m_writeMain.bindInt(4, format);
    m_writeMain.bindInt64(5, file ? file->size : -1);
    m_writeMain.bindDouble(6, file ? file->modifiedAt : 0);
    if (m_writeMain.step() != SQLITE_ROW)
        return Unexpected(failure(SemanticError::Code::Step));
    const std::int64_t rowid = m_writeMain.columnInt64(0);
    // Run to its end, so the row is written before the mirror's.
    if (m_writeMain.step() != SQLITE_DONE)
        return Unexpected(failure(SemanticError::Code::Step));
    return m_ftsReady ? upsertFTS(rowid, path, joined) : SemanticResult<void>();
}

SemanticResult<void> ImageSemanticStore::upsertFTS(std::int64_t rowid, const std::string& path,
                                                   const std::string& joined)
{
    if (!prepareKept(m_writeMirror, kInsertFullText))
        return Unexpected(failure(SemanticError::Code::Prepare));
    const ScopedReset done(m_writeMirror);
    m_writeMirror.bindInt64(1, rowid);
    m_writeMirror.bindText(2, path);
    m_writeMirror.bindText(3, joined);
    if (m_writeMirror.step() != SQLITE_DONE)
        return Unexpected(failure(SemanticError::Code::Step));
    return {};
}

SemanticResult<void> ImageSemanticStore::writeImage(const std::string& path, const std::vector<std::string>& tags,
                                                    bool merge, double updatedAt, int format,
                                                    const std::optional<ImageFileStamp>& file)
{
    // Immediate: the old tags are read under the write lock, so no other
    // writer's tags come in between the read and the write.
    if (m_db.exec("BEGIN IMMEDIATE;") != SQLITE_OK)
        return Unexpected(failure(SemanticError::Code::Step));
    std::vector<std::string> all = merge ? splitTags(readTagsLocked(path).value_or(std::string()))
                                         : std::vector<std::string>();
    all.insert(all.end(), tags.begin(), tags.end());
    SemanticResult<void> written = writeRow(path, joinTags(all), updatedAt, format, file);
    if (written && m_db.exec("COMMIT;") == SQLITE_OK)
        return written;
    if (written)
        written = Unexpected(failure(SemanticError::Code::Step));
    m_db.exec("ROLLBACK;");
    return written;
}

std::optional<std::string> ImageSemanticStore::upsert(const std::string& path, const std::vector<std::string>& tags,
                                                      double updatedAt, int format,
                                                      const std::optional<ImageFileStamp>& file)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.isOpen())
        return std::nullopt;
    if (auto written = writeImage(path, tags, false, updatedAt, format, file); !written)
        return written.error().description();
    return std::nullopt;
}

std::optional<std::string> ImageSemanticStore::mergeTags(const std::string& path,
                                                         const std::vector<std::string>& newTags, double updatedAt,
                                                         int format, const std::optional<ImageFileStamp>& file)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.isOpen())
        return std::nullopt;
    if (auto written = writeImage(path, newTags, true, updatedAt, format, file); !written)
        return written.error().description();
    return std::nullopt;
}

// ---- Backfill of the mirror.

void ImageSemanticStore::scheduleFTSBackfillIfNeeded()
{
    std::lock_guard lock(m_mutex);
    if (!m_ftsReady || m_backfillRunning)
        return;
    m_backfillRunning = true;
    m_jobs.start([this](const CancelToken& token) {
        runBackfill(token);
        std::lock_guard done(m_mutex);
        m_backfillRunning = false;
    });
}

void ImageSemanticStore::runBackfill(const CancelToken& token)
{
    std::int64_t total = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_db.isOpen() || !m_ftsReady)
            return;
        total = countLocked("SELECT COUNT(*) FROM image_semantic;");
        if (!backfillNeeded(total, countLocked("SELECT COUNT(*) FROM image_semantic_fts;")))
            return;
    }
    // One chunk at a time under the lock, with a pause between, so searches
    // and the tagger's writes get in between chunks.
    for (std::int64_t offset = 0; offset < total; offset += kBackfillChunk) {
        if (token.isCancelled())
            return;
        copyBackfillChunk(offset);
        m_clock->sleepFor(kBackfillPause, &token);
    }
}

void ImageSemanticStore::copyBackfillChunk(std::int64_t offset)
{
    std::lock_guard lock(m_mutex);
    sqlite::Statement select;
    sqlite::Statement insert;
    if (select.prepare(m_db, "SELECT rowid, path, tags FROM image_semantic ORDER BY rowid LIMIT ? OFFSET ?;")
            != SQLITE_OK
        || insert.prepare(m_db, kInsertFullText) != SQLITE_OK)
        return;
    select.bindInt(1, kBackfillChunk);
    select.bindInt64(2, offset);
    while (select.step() == SQLITE_ROW) {
        if (select.columnIsNull(1) || select.columnIsNull(2))
            continue;
        insert.reset();
        insert.clearBindings();
        insert.bindInt64(1, select.columnInt64(0));
        insert.bindText(2, select.columnText(1));
        insert.bindText(3, select.columnText(2));
        insert.step();
    }
}

// ---- Search.

std::string ImageSemanticStore::matchExpression(const std::vector<std::vector<std::string>>& groups)
{
    std::string expression;
    for (std::size_t g = 0; g < std::min(groups.size(), kMaxFullTextGroups); ++g) {
        std::string alternatives;
        for (std::size_t w = 0; w < std::min(groups[g].size(), kMaxFullTextWords); ++w) {
            const std::string phrase = quotedPhrase(groups[g][w]);
            alternatives += (alternatives.empty() ? "" : " OR ") + phrase + " OR " + phrase + "*";
        }
        expression += (expression.empty() ? "(" : " AND (") + alternatives + ")";
    }
    return expression;
}

std::vector<std::string> ImageSemanticStore::searchPaths(const std::vector<std::vector<std::string>>& groups, int limit)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.isOpen() || limit < 1)
        return {};
    const auto normalised = normalisedGroups(groups);
    if (normalised.empty())
        return {};
    return m_ftsReady ? searchFullText(normalised, limit) : searchLike(normalised, limit);
}

std::vector<std::string> ImageSemanticStore::searchFullText(const std::vector<std::vector<std::string>>& groups,
                                                            int limit)
{
    std::vector<std::string> paths;
    sqlite::Statement select;
    if (select.prepare(m_db, "SELECT path\nFROM image_semantic_fts\nWHERE tags MATCH ?\n"
                             "ORDER BY bm25(image_semantic_fts) ASC\nLIMIT ?;")
        != SQLITE_OK)
        return paths;
    select.bindText(1, matchExpression(groups));
    select.bindInt(2, limit);
    paths.reserve(static_cast<std::size_t>(std::min(limit, 600)));
    // A path is answered once, however the mirror came to hold it.
    std::unordered_set<std::string> seen;
    // An expression SQLite rejects ends the loop with what was read so far.
    while (select.step() == SQLITE_ROW)
        if (!select.columnIsNull(0) && seen.emplace(select.columnText(0)).second)
            paths.emplace_back(select.columnText(0));
    return paths;
}

std::vector<std::string> ImageSemanticStore::searchLike(const std::vector<std::vector<std::string>>& groups, int limit)
{
    std::string sql = "SELECT path FROM image_semantic WHERE 1 = 1";
    for (const auto& group : groups) {
        sql += " AND (";
        for (std::size_t w = 0; w < group.size(); ++w)
            sql += w ? " OR tags LIKE ?" : "tags LIKE ?";
        sql += ")";
    }
    sql += " LIMIT ?;";
    std::vector<std::string> paths;
    sqlite::Statement select;
    if (select.prepare(m_db, sql) != SQLITE_OK)
        return paths;
    int index = 1;
    for (const auto& group : groups)
        for (const std::string& word : group)
            select.bindText(index++, "%" + word + "%");
    select.bindInt(index, limit);
    paths.reserve(static_cast<std::size_t>(std::min(limit, 400)));
    while (select.step() == SQLITE_ROW)
        if (!select.columnIsNull(0))
            paths.emplace_back(select.columnText(0));
    return paths;
}

} // namespace pallix
