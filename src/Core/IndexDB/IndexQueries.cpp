// Fixed questions that other parts ask the store: image paths page by page,
// folders by name, the folders and images inside one folder, whether roots
// already have rows, which paths are indexed folders, whether a path lies
// under a root.

#include <algorithm>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"

namespace pallix {

std::vector<std::string> IndexStore::imagePathsFromDatabase(int limit, const std::string& after)
{
    std::vector<std::string> paths;
    {
        std::lock_guard lock(m_mutex);
        if (!m_db.isOpen() || limit < 1)
            return paths;
    }
    // Read beside the store's lock, which every search takes. Paged by the
    // last path on the path index: an offset, or the extension index with a
    // sort, costs every page the whole table (1,000,000 rows: 0.3 to 0.7 s a
    // page, for 800 pages a pass; by the path, 1 s a pass).
    sqlite::Connection db;
    if (!sqlite::openReadOnly(db, m_databaseURL))
        return paths;
    const std::string sql = "SELECT path\nFROM file_index\nWHERE is_directory = 0 AND +extension IN (" +
                            indexsql::imageExtensionListLiteral() + ")\n  AND path > ?\nORDER BY path\nLIMIT ?;";
    sqlite::Statement statement;
    if (statement.prepare(db, sql) != SQLITE_OK)
        return paths;
    statement.bindText(1, after);
    statement.bindInt(2, limit);
    paths.reserve(static_cast<std::size_t>(std::min(limit, 2000)));
    // No retry: a busy database ends the page early, and the tagger asks again.
    while (statement.step() == SQLITE_ROW)
        paths.emplace_back(statement.columnText(0));
    return paths;
}

std::vector<std::string> IndexStore::folderPathsMatchingNameTokens(const std::vector<std::string>& tokens,
                                                                   bool caseSensitive, int limit,
                                                                   const CancelToken* cancel)
{
    std::vector<std::string> words;
    for (const std::string& token : tokens)
        if (const std::string_view w = indexsql::trimmed(token); !w.empty())
            words.push_back(indexsql::caseFolded(w, caseSensitive));
    if (words.empty() || limit < 1)
        return {};
    {
        std::lock_guard lock(m_mutex);
        if (!m_db.isOpen())
            return {};
        if (m_cacheReady)
            return cachedFoldersHoldingWords(words, caseSensitive, limit, cancel);
    }
    return databaseFoldersHoldingWords(words, caseSensitive, limit, cancel);
}

std::vector<std::string> IndexStore::cachedFoldersHoldingWords(const std::vector<std::string>& words,
                                                               bool caseSensitive, int limit,
                                                               const CancelToken* cancel) const
{
    // Every folder's name is read, but from memory: a few milliseconds at a
    // million items, where the database takes half a second.
    constexpr std::size_t kCancelStride = 1 << 16;
    const ItemFacts* facts = m_items.facts();
    std::vector<std::string> paths;
    std::string scratch;
    for (std::size_t p = 0; p < m_items.size(); ++p) {
        if (cancel && p % kCancelStride == 0 && cancel->isCancelled())
            break;
        if (!(facts[p].bits & ItemFacts::Folder))
            continue;
        const auto [name, searchName] = m_items.nameAndSearchName(p);
        const std::string_view folded = caseSensitive ? name : searchName;
        if (std::all_of(words.begin(), words.end(),
                        [&](const std::string& word) { return folded.find(word) != std::string_view::npos; }))
            paths.emplace_back(m_items.pathOf(p, scratch));
    }
    // The first `limit` in byte order, as the database's ORDER BY path gives them.
    const std::size_t kept = std::min(paths.size(), static_cast<std::size_t>(limit));
    std::partial_sort(paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(kept), paths.end());
    paths.resize(kept);
    return paths;
}

std::vector<std::string> IndexStore::databaseFoldersHoldingWords(const std::vector<std::string>& words,
                                                                 bool caseSensitive, int limit,
                                                                 const CancelToken* cancel) const
{
    std::vector<std::string> paths;
    // instr() rather than LIKE: a word is found as typed, "%" and "_" are no
    // wildcards, and case counts when asked to, as in the cache's road.
    std::string sql = "SELECT path\nFROM file_index\nWHERE is_directory = 1";
    for (std::size_t i = 0; i < words.size(); ++i)
        sql += caseSensitive ? " AND instr(name, ?) > 0" : " AND instr(lower(name), ?) > 0";
    sql += " ORDER BY path LIMIT ?;";
    // Read beside the store's lock, which every search takes: every folder's
    // name is read, half a second at a million rows.
    sqlite::Connection db;
    if (!sqlite::openReadOnly(db, m_databaseURL))
        return paths;
    if (cancel) {
        // A newer keystroke's search does not wait for this one's scan to end.
        sqlite3_progress_handler(
            db.handle(), 4000,
            [](void* token) { return static_cast<const CancelToken*>(token)->isCancelled() ? 1 : 0; },
            const_cast<CancelToken*>(cancel));
    }
    sqlite::Statement statement;
    if (statement.prepare(db, sql) != SQLITE_OK)
        return paths;
    int index = 1;
    for (const std::string& word : words)
        statement.bindText(index++, word);
    statement.bindInt(index, limit);
    paths.reserve(static_cast<std::size_t>(std::min(limit, 400)));
    while (statement.step() == SQLITE_ROW)
        paths.emplace_back(statement.columnText(0));
    return paths;
}

std::vector<IndexedItem> IndexStore::relatedItemsInFolder(const std::string& parentPath, int limit)
{
    std::lock_guard lock(m_mutex);
    if (limit < 1)
        return {};
    if (m_db.isOpen()) {
        const std::string sql = std::string(indexsql::kSelectItemColumns) +
                                "\nWHERE parent_path = ?\n  AND (is_directory = 1 OR extension IN (" +
                                indexsql::imageExtensionListLiteral() + "))\nLIMIT ?;";
        return fetchItems(sql, {SQLBinding::text(parentPath), SQLBinding::integer(limit)}, 3).items;
    }
    std::vector<IndexedItem> related;
    if (!m_cacheReady)
        return related;
    related.reserve(static_cast<std::size_t>(std::min(limit, 200)));
    for (std::size_t p = 0; p < m_items.size() && related.size() < static_cast<std::size_t>(limit); ++p) {
        const ItemRef item = m_items.atWithoutPath(p);  // the path itself is not needed
        if (item.parentPath == parentPath && (item.isFolder || kinds::isImageExtension(item.fileExtension)))
            related.push_back(m_items.materialize(p));
    }
    return related;
}

bool IndexStore::hasIndexedItems(const std::vector<std::string>& roots)
{
    std::vector<std::string> standardRoots;
    for (const std::string& root : roots)
        standardRoots.push_back(paths::standardize(root));
    if (standardRoots.empty())
        return false;

    std::lock_guard lock(m_mutex);
    if (!m_db.isOpen())
        return false;
    // Every root needs a row at or under it, compared exactly: "/a/B" holds
    // no row of "/a/b", "/a/my_x" none of "/a/myAx".
    for (const std::string& root : standardRoots) {
        sqlite::Statement statement;
        if (root == "/") {
            if (statement.prepare(m_db, "SELECT 1 FROM file_index LIMIT 1;") != SQLITE_OK)
                return false;
        } else {
            const std::string sql =
                "SELECT 1 FROM file_index\nWHERE " + std::string(indexsql::kUnderFolderCondition) + "\nLIMIT 1;";
            if (statement.prepare(m_db, sql) != SQLITE_OK)
                return false;
            statement.bindAll(indexsql::underFolderBindings(root));
        }
        if (statement.step() != SQLITE_ROW)
            return false;
    }
    return true;
}

std::vector<std::string> IndexStore::indexedFoldersAmong(const std::vector<std::string>& paths)
{
    std::vector<std::string> folders;
    std::lock_guard lock(m_mutex);
    sqlite::Statement statement;
    if (paths.empty() || !m_db.isOpen()
        || statement.prepare(m_db, "SELECT 1 FROM file_index WHERE path = ? AND is_directory = 1;") != SQLITE_OK)
        return folders;
    // One point read on the path index each: a batch asks of the folders it
    // met, never of the rows around them.
    for (const std::string& path : paths) {
        statement.bindText(1, path);
        if (statement.step() == SQLITE_ROW)
            folders.push_back(path);
        statement.reset();
    }
    return folders;
}

bool indexedRootsContain(std::string_view path, const std::vector<std::string>& roots)
{
    const std::string standardPath = paths::standardize(path);
    return std::any_of(roots.begin(), roots.end(), [&](const std::string& root) {
        return paths::isUnder(standardPath, paths::standardize(root));
    });
}

} // namespace pallix
