#pragma once
// ImageSemanticStore: the content tags of image files in a SQLite database of
// their own ("image_semantic.sqlite"), apart from the file index. The table
// `image_semantic` holds one row per image path with its tag text; the FTS5
// table `image_semantic_fts` mirrors it for ranked search (bm25), kept in step
// on every write (both rows in one transaction) and filled by a background
// backfill when it is clearly short.
// A mirror row has its main row's rowid, so a write replaces it by rowid at
// the same cost however many images are tagged; a mirror of before, with
// rowids of its own, is made again from the main table on open.
// Without FTS5 searches fall back to LIKE on the main table.
//
// Each row also records the tag format it was written in (kTagFormat) and
// the size and modification time of the file its tags were read from
// (size -1 when unknown, as in rows written before they were kept).
//
// Tag text: tags trimmed, lower-cased, unique, first occurrence first, at most
// 220, joined by one space; read back by splitting at white space.
//
// Threading: an actor. Every public operation takes the store's mutex for its
// whole run; they block and belong on worker threads. The backfill runs on a
// thread of its own, takes the mutex one chunk at a time and sleeps on the
// injected Clock between chunks; the destructor cancels and joins it.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/IndexDB/BackgroundJobs.h"
#include "Core/IndexDB/Sqlite.h"
#include "Core/Semantic/ImageTagStore.h"
#include "Platform/Clock.h"
#include "Platform/Expected.h"

namespace pallix {

struct SemanticError {
    enum class Code { OpenDatabase, Prepare, Step, FileSystem, Count };
    Code code = Code::Step;
    // SQLite's message, "未知 SQLite 错误" without one; the system's for FileSystem.
    std::string message;

    std::string description() const;
    friend bool operator==(const SemanticError&, const SemanticError&) = default;
};

template <class T>
using SemanticResult = Expected<T, SemanticError>;

class ImageSemanticStore final : public ImageTagStore {
public:
    static constexpr std::size_t kMaxTags = 220;
    static constexpr int kBackfillChunk = 700;
    // Off: never make the full-text table, as where SQLite lacks FTS5.
    enum class FullText { IfAvailable, Off };

    // Opens nothing.
    explicit ImageSemanticStore(std::filesystem::path databaseURL, std::shared_ptr<Clock> clock = Clock::system(),
                                FullText fullText = FullText::IfAvailable);
    ImageSemanticStore(const ImageSemanticStore&) = delete;
    ImageSemanticStore& operator=(const ImageSemanticStore&) = delete;
    ~ImageSemanticStore() override;

    const std::filesystem::path& databaseURL() const { return m_databaseURL; }

    // Opens the database (a damaged file is moved aside and a fresh one made),
    // creates both tables and starts the backfill when the mirror is short.
    SemanticResult<void> open();
    std::optional<std::string> bootstrap() override;

    bool hasTags(const std::string& path) override;
    bool needsReindex(const std::string& path, int format = kTagFormat,
                      const std::optional<ImageFileStamp>& file = std::nullopt) override;
    std::optional<std::string> upsert(const std::string& path, const std::vector<std::string>& tags, double updatedAt,
                                      int format = kTagFormat,
                                      const std::optional<ImageFileStamp>& file = std::nullopt) override;
    std::optional<std::string> mergeTags(const std::string& path, const std::vector<std::string>& newTags,
                                         double updatedAt, int format = kTagFormat,
                                         const std::optional<ImageFileStamp>& file = std::nullopt) override;
    std::vector<std::string> searchPaths(const std::vector<std::vector<std::string>>& groups, int limit) override;

    // The tag-text format.
    static std::string joinTags(const std::vector<std::string>& tags);
    static std::vector<std::string> splitTags(std::string_view text);
    // The FTS5 expression of the groups: the first two, 24 words each, every
    // word as a phrase or a phrase prefix.
    static std::string matchExpression(const std::vector<std::vector<std::string>>& groups);

    // For tests and the benchmark.
    bool isFullTextReady() const;
    // The stored text of a path, nothing without a row.
    std::optional<std::string> storedTags(const std::string& path);
    std::int64_t rowCount(bool fullText);
    int runningBackgroundJobs() const { return m_jobs.running(); }
    // Runs SQL on the store's connection (tests shape the tables with it).
    int execForTests(const char* sql);
    // Starts the backfill when the mirror is short (bootstrap does it once).
    void scheduleFTSBackfillIfNeeded();

private:
    SemanticResult<void> openDatabase();
    // One image's write in one transaction: its old tags (when merging) read,
    // its main row and its mirror row written, all committed together or
    // rolled back together.
    SemanticResult<void> writeImage(const std::string& path, const std::vector<std::string>& tags, bool merge,
                                    double updatedAt, int format, const std::optional<ImageFileStamp>& file);
    // `statement`, prepared from `sql` on its first use and kept; false if it cannot be.
    bool prepareKept(sqlite::Statement& statement, const char* sql);
    SemanticResult<void> writeRow(const std::string& path, const std::string& joined, double updatedAt, int format,
                                  const std::optional<ImageFileStamp>& file);
    // Adds the columns later versions keep to a table made before them.
    bool addMissingColumns();
    // Makes the mirror again, rowid for rowid, unless the file says it is,
    // and sets its merge pace once; false if it is not fit to be searched.
    bool tieMirror();
    SemanticResult<void> upsertFTS(std::int64_t rowid, const std::string& path, const std::string& joined);
    std::optional<std::string> readTagsLocked(const std::string& path);
    std::int64_t countLocked(const char* sql);
    // Copies the rows [offset, offset + chunk) of the main table, in rowid order, into the mirror.
    void copyBackfillChunk(std::int64_t offset);
    void runBackfill(const CancelToken& token);
    std::vector<std::string> searchFullText(const std::vector<std::vector<std::string>>& groups, int limit);
    std::vector<std::string> searchLike(const std::vector<std::vector<std::string>>& groups, int limit);
    std::string connectionMessage() const;
    SemanticError failure(SemanticError::Code code) const;

    const std::filesystem::path m_databaseURL;
    const std::shared_ptr<Clock> m_clock;
    const FullText m_fullText;

    mutable std::mutex m_mutex;  // the actor
    sqlite::Connection m_db;     // under m_mutex
    // The write's statements, kept for the connection's life: preparing one
    // reads the schema, at every write. Under m_mutex; reset after each run,
    // so none holds a read open; finalised before m_db closes.
    sqlite::Statement m_selectTags;
    sqlite::Statement m_writeMain;
    sqlite::Statement m_writeMirror;
    bool m_ftsReady = false;     // under m_mutex
    bool m_emptyReadOnly = false;  // under m_mutex: open in memory, for a read-only folder without the file
    bool m_backfillRunning = false;  // under m_mutex

    BackgroundJobs m_jobs;  // last: stopped first, as the backfill uses the rest
};

} // namespace pallix
